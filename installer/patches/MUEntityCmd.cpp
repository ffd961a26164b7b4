#include "installer/patches/MUEntityCmd.h"

#include "common/runtime/Log.h"
#include "common/runtime/POpen.h"
#include "common/runtime/error.h"

#include <sys/wait.h>

#include <sstream>

MUEntityCmd::MUEntityCmd(const counter_ptr& steps, const std::string& command)
    : MUEntity(steps), command(command) {}

void MUEntityCmd::check() {
    steps->incTotal();
    state = state_checked;
}

void MUEntityCmd::prepare() {
    state = state_prepared;
}

void MUEntityCmd::apply() {
    steps->step(stepText("mu_executing", command));
    std::ostringstream output;
    std::ostringstream errors;
    const int status = POpen::start(command, nullptr, &output, &errors)->wait(false);
    state = errors.str().empty() ? state_applied : state_failed;
    Log::stream(3, true) << output.str() << errors.str();

    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    state = state_failed;
    error failure(4, 2, 2, 2);
    if (WIFSIGNALED(status))
        failure << "Command killed by signal " << WTERMSIG(status) << ": " << command;
    else
        failure << "Command exited with code " << WEXITSTATUS(status) << ": " << command;
    throw failure;
}
