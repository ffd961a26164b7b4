#include "common/runtime/SystemCmd.h"

#include "common/runtime/ChildExec.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const int child_failed_code = 127;

} // namespace

SystemCmd::StderrLogger::StderrLogger(int fd, std::shared_ptr<std::atomic<bool>> child_ended)
    : fd(fd), child_ended(std::move(child_ended)) {}

void SystemCmd::StderrLogger::operator()() {
    char buffer[4096];
    for (;;) {
        const bool draining = child_ended->load();
        pollfd entry = {fd, POLLIN, 0};
        const int ready = poll(&entry, 1, draining ? 0 : 100);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0) {
            if (draining)
                return;
            continue;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            Log::stream(0, Log::no_newline).write(buffer, static_cast<int>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return;
    }
}

SystemCmd::SystemCmd(const std::string& command, open_mode_t mode) : command(command) {
    Log::stream(2, true) << "dizadizezeroz: read output of " << command;
    ChildExec::ignoreSigpipe();
    ChildExec shell(command, "sh", true);
    if (!shell.openChannel())
        throw error(4, 2, 1, 1) << "Pipe: Can't create pipe: " << strerror(errno);
    const bool reading = mode == mode_read;
    const int child_end = reading ? dataPipe.in() : dataPipe.out();
    const int child_target = reading ? 1 : 0;
    const int child_err = errPipe.in();

    Log::flush();

    pid = fork();
    if (pid == -1) {
        pid = 0;
        Messages messages;
        throw error(4, 2, 1, 1) << messages.getMessage("err_exec_forkfail")
                                << messages.format("err_exec_cmd", command);
    }
    if (pid == 0) {
        if (ChildExec::moveTo(child_err, 2) && ChildExec::moveTo(child_end, child_target))
            shell.execShell();
        else
            shell.report('E', errno);
        _exit(child_failed_code);
    }

    errPipe.closeIn();
    const int exec_errno = ChildExec::execErrno(shell.collect());
    if (exec_errno != 0)
        Log::stream(1, true) << Messages().getMessage("err_exec_execfail") << " (" << strerror(exec_errno)
                             << ")";
    try {
        if (reading) {
            dataPipe.closeIn();
            stream = fdopen(dataPipe.out(), "r");
        } else {
            dataPipe.closeOut();
            stream = fdopen(dataPipe.in(), "w");
        }
        if (!stream)
            throw error(4, 2, 1, 1) << "SystemCmd: Can't create FILE from FD: " << strerror(errno);
        // The stream owns the descriptor from now on.
        if (reading)
            dataPipe.releaseOut();
        else
            dataPipe.releaseIn();
        logger = std::make_unique<std::thread>(StderrLogger(errPipe.out(), child_ended));
    } catch (...) {
        // Nobody will read the child or wait for it otherwise.
        if (stream) {
            fclose(stream);
            stream = nullptr;
        }
        kill(pid, SIGKILL);
        ChildExec::waitFor(pid);
        pid = 0;
        exitChecked = true;
        throw;
    }
}

SystemCmd::~SystemCmd() {
    Log::stream(3, true) << "SystemCmd::~SystemCmd() entry";
    if (!exitChecked) {
        Log::stream(2, true) << "Warning: SystemCmd exit code was not checked. "
                             << "(Command was: '" << command << "').";
        const int result = close();
        if (result != 0)
            Log::stream(1, true) << "Warning: unhandled error in execution of command (" << result
                                 << ") : " << command;
    }
    if (logger) {
        child_ended->store(true);
        logger->join();
        try {
            errPipe.closeOut();
        } catch (const error&) {
            // Nothing left to lose on a descriptor only read from.
        }
    }
    Log::stream(3, true) << "SystemCmd::~SystemCmd() out";
}

int SystemCmd::close() {
    exitChecked = true;
    if (stream) {
        fclose(stream);
        stream = nullptr;
    }
    if (pid != 0) {
        status = ChildExec::waitFor(pid);
        pid = 0;
        child_ended->store(true);
    }
    if ((status & 0x7f) != 0)
        return child_failed_code;
    return (status >> 8) & 0xff;
}

void SystemCmd::check() {
    const int result = close();
    if (result != 0)
        throw error(4, 2, 2, 2) << "Error " << result << " in execution of " << exec::command_name(command);
}
