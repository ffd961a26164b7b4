#include "tests/support/ProcessStart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testsupport {

ProcessStart::ProcessStart() : actions(NSIG) {
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd))
        workingDirectory = cwd;
    // Signals the C library keeps for itself or that cannot be caught fail here and are left alone.
    for (int signal = 1; signal < NSIG; ++signal)
        sigaction(signal, nullptr, &actions[signal]);
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    fileMask = umask(0);
    umask(fileMask);
}

std::string ProcessStart::restore() const {
    clearenv();
    for (const std::string& variable : environment) {
        const size_t equals = variable.find('=');
        if (equals != std::string::npos)
            setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
    for (int signal = 1; signal < NSIG; ++signal)
        sigaction(signal, &actions[signal], nullptr);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    umask(fileMask);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
        return "cannot go back to " + workingDirectory + ": " + std::strerror(errno);
    return "";
}

} // namespace testsupport
