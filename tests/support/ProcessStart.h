#pragma once

#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// What a test case may change of its process that a new process would have as it started: the
// environment, the working directory, the signal dispositions and mask, and the umask. Taken when
// made, put back by restore(), which returns what failed, empty when all went well.
class ProcessStart {
public:
    ProcessStart();

    std::string restore() const;

private:
    std::vector<std::string> environment;
    std::string workingDirectory;
    std::vector<struct sigaction> actions;
    sigset_t mask;
    mode_t fileMask;
};

} // namespace testsupport
