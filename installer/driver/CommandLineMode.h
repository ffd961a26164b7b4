#pragma once

class Options;

namespace driver {

// The unattended run: feedback switches, listings and installation commands, all taken from the
// settings. Listings and feedback commands end the process; a change command returns when done.
void runCommandLine(const Options& options);

} // namespace driver
