#include "common/runtime/ChildExec.h"

#include "common/runtime/Progress.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

extern char** environ;

namespace {

const char* const shell_path = "/bin/sh";

bool isLocaleEntry(const char* entry) {
    return strncmp(entry, "LC_ALL=", 7) == 0 || strncmp(entry, "LANG=", 5) == 0;
}

// Moves a new descriptor above 2 when the standard descriptors were closed when it was made.
int raiseAboveStd(int fd) {
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

// Libraries open descriptors without the close-on-exec flag (libcurl's wake-up socket pair) while other
// threads may start commands: nothing above the standard three is handed to a command.
void closeAboveStdOnExec() noexcept {
    if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (int fd = 3; fd < 4096; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags != -1 && !(flags & FD_CLOEXEC))
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

} // namespace

ChildExec::ChildExec(const std::string& command, const std::string& argv0, bool c_locale)
    : arg_texts{argv0, "-c", command}, ignore_hangup(Progress::inUnsafePhase()) {
    for (char** entry = environ; entry && *entry; ++entry)
        if (!c_locale || !isLocaleEntry(*entry))
            env_texts.emplace_back(*entry);
    if (c_locale) {
        env_texts.emplace_back("LC_ALL=C");
        env_texts.emplace_back("LANG=C");
    }
    for (std::string& text : arg_texts)
        argv.push_back(&text[0]);
    argv.push_back(nullptr);
    for (std::string& text : env_texts)
        envp.push_back(&text[0]);
    envp.push_back(nullptr);
}

ChildExec::~ChildExec() {
    closeFd(channel[0]);
    closeFd(channel[1]);
}

bool ChildExec::openChannel() {
    return createPipe(channel) == 0;
}

void ChildExec::execShell() noexcept {
    // Ignored signals would stay ignored in the command (a pipeline reader that stops early must
    // still end its writer), and a blocked mask would be inherited too.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
    if (ignore_hangup) {
        action.sa_handler = SIG_IGN;
        sigaction(SIGHUP, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (channel[0] != -1)
        close(channel[0]);
    closeAboveStdOnExec();
    execve(shell_path, argv.data(), envp.data());
    report('E', errno);
}

void ChildExec::report(char tag, int value) noexcept {
    if (channel[1] == -1)
        return;
    char record[1 + sizeof value];
    record[0] = tag;
    memcpy(record + 1, &value, sizeof value);
    ssize_t written;
    do {
        written = write(channel[1], record, sizeof record);
    } while (written < 0 && errno == EINTR);
}

std::vector<std::pair<char, int>> ChildExec::collect() {
    closeFd(channel[1]);
    std::string data;
    char buffer[256];
    while (channel[0] != -1) {
        const ssize_t got = read(channel[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(buffer, static_cast<size_t>(got));
    }
    closeFd(channel[0]);

    std::vector<std::pair<char, int>> reports;
    const size_t record = 1 + sizeof(int);
    for (size_t at = 0; at + record <= data.size(); at += record) {
        int value;
        memcpy(&value, data.data() + at + 1, sizeof value);
        reports.emplace_back(data[at], value);
    }
    return reports;
}

int ChildExec::execErrno(const std::vector<std::pair<char, int>>& reports) {
    for (const auto& entry : reports)
        if (entry.first == 'E')
            return entry.second != 0 ? entry.second : EIO;
    return 0;
}

int ChildExec::createPipe(int fds[2]) {
    int made[2];
    if (pipe2(made, O_CLOEXEC) != 0)
        return -1;
    for (int end = 0; end < 2; ++end) {
        made[end] = raiseAboveStd(made[end]);
        if (made[end] == -1) {
            const int saved = errno;
            close(made[1 - end]);
            errno = saved;
            return -1;
        }
    }
    fds[0] = made[0];
    fds[1] = made[1];
    return 0;
}

bool ChildExec::moveTo(int fd, int target) noexcept {
    if (fd == target)
        return fcntl(fd, F_SETFD, 0) == 0;
    int result;
    do {
        result = dup2(fd, target);
    } while (result < 0 && errno == EINTR);
    return result == target;
}

void ChildExec::closeFd(int& fd) noexcept {
    if (fd != -1)
        close(fd);
    fd = -1;
}

void ChildExec::ignoreSigpipe() {
    static std::once_flag once;
    std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

int ChildExec::waitFor(int pid) {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -1 : status;
}
