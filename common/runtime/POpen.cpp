#include "common/runtime/POpen.h"

#include "common/runtime/ChildExec.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const int exec_failed_code = 251;

const int cancel_check_ms = 100;

// A descriptor that becomes readable when the child ends; -1 when the kernel has none to give.
class ChildWatch {
public:
    explicit ChildWatch(pid_t pid) : descriptor(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))) {}
    ChildWatch(const ChildWatch&) = delete;
    ChildWatch& operator=(const ChildWatch&) = delete;
    ~ChildWatch() { ChildExec::closeFd(descriptor); }
    int fd() const { return descriptor; }

private:
    int descriptor;
};

error execError(const char* key, const std::string& command) {
    Messages messages;
    return error(4, 1, 0, 2) << messages.getMessage(key) << messages.format("err_exec_cmd", command);
}

} // namespace

POpen::POpen(std::istream* input, std::ostream* output, std::ostream* errors)
    : input(input), output(output), errors(errors) {}

POpen::~POpen() {
    ChildExec::closeFd(stderrPipe[0]);
    ChildExec::closeFd(stderrPipe[1]);
    ChildExec::closeFd(stdoutPipe[0]);
    ChildExec::closeFd(stdoutPipe[1]);
    ChildExec::closeFd(stdinPipe[0]);
    ChildExec::closeFd(stdinPipe[1]);
}

std::unique_ptr<POpen> POpen::start(const std::string& command, std::istream* input, std::ostream* output,
                                    std::ostream* errors) {
    return startIn(command, input, output, errors, "");
}

std::unique_ptr<POpen> POpen::startIn(const std::string& command, std::istream* input, std::ostream* output,
                                      std::ostream* errors, const std::string& directory) {
    std::unique_ptr<POpen> child(new POpen(input, output, errors));
    child->run(command, directory);
    return child;
}

void POpen::run(const std::string& command, const std::string& directory) {
    ChildExec::ignoreSigpipe();
    ChildExec shell(command, "sh", true);
    if (ChildExec::createPipe(stdinPipe) != 0 || ChildExec::createPipe(stdoutPipe) != 0 ||
        ChildExec::createPipe(stderrPipe) != 0 || !shell.openChannel()) {
        for (int* fds : {stdinPipe, stdoutPipe, stderrPipe}) {
            ChildExec::closeFd(fds[0]);
            ChildExec::closeFd(fds[1]);
        }
        throw execError("err_exec_pipefail", command);
    }
    // Only our end is non-blocking, so a child that reads slowly cannot stall the pump.
    fcntl(stdinPipe[1], F_SETFL, fcntl(stdinPipe[1], F_GETFL) | O_NONBLOCK);
    const char* const chdir_to = directory.empty() ? nullptr : directory.c_str();

    pid = fork();
    if (pid == -1) {
        const int saved = errno;
        Log::stream(1, true) << Messages().getMessage("err_exec_forkfail") << " (" << strerror(saved) << ").";
        throw execError("err_exec_forkfail", command);
    }
    if (pid == 0) {
        if (ChildExec::moveTo(stdinPipe[0], 0) && ChildExec::moveTo(stdoutPipe[1], 1) &&
            ChildExec::moveTo(stderrPipe[1], 2)) {
            if (chdir_to && chdir(chdir_to) != 0) {
                // The command runs where it is; it reports its own failures.
            }
            shell.execShell();
        } else {
            shell.report('E', errno);
        }
        _exit(exec_failed_code);
    }

    // The child's ends are the child's: with our copies closed, its exit shows as the end of its output.
    ChildExec::closeFd(stdinPipe[0]);
    ChildExec::closeFd(stdoutPipe[1]);
    ChildExec::closeFd(stderrPipe[1]);
    const int exec_errno = ChildExec::execErrno(shell.collect());
    Log::stream(3, true) << "POpen (child pid=" << pid << "): " << command;
    if (exec_errno != 0 && errors)
        *errors << "execl: " << strerror(exec_errno) << "\n";
}

void POpen::closeInput() {
    ChildExec::closeFd(stdinPipe[1]);
}

bool POpen::pumpOutput(int& fd, std::ostream* to, bool echo) {
    char buffer[8192];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        if (to)
            to->write(buffer, got);
        if (echo)
            Log::stream(0, Log::no_newline).write(buffer, static_cast<int>(got));
        return true;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    ChildExec::closeFd(fd);
    return false;
}

int POpen::wait(bool echo) {
    char buffer[4096];
    size_t fill = 0;
    size_t position = 0;
    int status = 0;

    // The pump sleeps until a pipe is ready or the child ends; a recorded cancel is looked at a few
    // times a second. Without a process descriptor (old kernels) the exit is polled for as often.
    ChildWatch child(pid);
    const int timeout = child.fd() == -1 || cancellable ? cancel_check_ms : -1;
    for (;;) {
        pollfd entries[4] = {{stdinPipe[1], POLLOUT, 0},
                             {stdoutPipe[0], POLLIN, 0},
                             {stderrPipe[0], POLLIN, 0},
                             {child.fd(), POLLIN, 0}};
        poll(entries, 4, timeout);

        if (stdinPipe[1] != -1 && (entries[0].revents & POLLOUT)) {
            if (position == fill) {
                fill = 0;
                position = 0;
                if (input && input->good()) {
                    input->read(buffer, sizeof buffer);
                    fill = static_cast<size_t>(input->gcount());
                }
                if (fill == 0 && !(input && input->good()))
                    closeInput();
            }
            if (stdinPipe[1] != -1 && position < fill) {
                const ssize_t written = write(stdinPipe[1], buffer + position, fill - position);
                if (written < 0) {
                    if (errno != EAGAIN && errno != EINTR)
                        closeInput();
                } else {
                    if (echo) {
                        ssize_t done = 0;
                        while (done < written) {
                            const ssize_t put = ::write(2, buffer + position + done, written - done);
                            if (put <= 0)
                                break;
                            done += put;
                        }
                    }
                    position += static_cast<size_t>(written);
                }
            }
        }
        if (stdinPipe[1] != -1 && (entries[0].revents & (POLLHUP | POLLERR)))
            closeInput();

        if (stdoutPipe[0] != -1 && (entries[1].revents & (POLLIN | POLLHUP | POLLERR)))
            pumpOutput(stdoutPipe[0], output, echo);
        if (stderrPipe[0] != -1 && (entries[2].revents & (POLLIN | POLLHUP | POLLERR)))
            pumpOutput(stderrPipe[0], errors, echo);

        if (cancellable && Progress::requestCancel()) {
            Log::stream(3, true) << "DEBUG: send SIGTERM to child process " << pid
                                 << " because Moxel Installer was canceled by user.";
            kill(pid, SIGTERM);
        }

        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR) {
            // Not a status a command can end with: never taken for success.
            status = -1;
            break;
        }
    }

    // What the child wrote just before it ended is still in the pipes. Descendants that keep the pipes
    // open are not waited for: only what is there now is taken.
    closeInput();
    for (int* fd : {&stdoutPipe[0], &stderrPipe[0]}) {
        std::ostream* to = fd == &stdoutPipe[0] ? output : errors;
        while (*fd != -1) {
            pollfd entry = {*fd, POLLIN, 0};
            if (poll(&entry, 1, 0) <= 0 || !(entry.revents & (POLLIN | POLLHUP | POLLERR)))
                break;
            if (!pumpOutput(*fd, to, echo))
                break;
        }
    }

    if (cancellable)
        Progress::checkTermination();
    return status;
}
