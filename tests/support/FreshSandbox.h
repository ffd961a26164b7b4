#pragma once

#include <string>

namespace testsupport {

// Inside tests/sandbox/run, makes the sandbox as new, as a test case run in a sandbox of its own finds
// it: undoes the mounts made since the sandbox began, mounts its private paths afresh (the overlays
// with no changes) and gives it back its host name. Outside the sandbox does nothing. Returns what
// failed, empty when all went well.
std::string freshSandbox();

} // namespace testsupport
