#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>

namespace testsupport {

// A second real process running `body`; its return value is the child's exit code (an escaping
// exception gives 99). Two pipes let the processes wait for each other at chosen points.
class ForkedChild {
public:
    explicit ForkedChild(const std::function<int(ForkedChild&)>& body) {
        if (pipe2(to_parent, O_CLOEXEC) != 0 || pipe2(to_child, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        child = fork();
        if (child == -1)
            throw std::runtime_error("fork failed");
        if (child == 0) {
            close(to_parent[0]);
            close(to_child[1]);
            int code = 99;
            try {
                code = body(*this);
            } catch (...) {
            }
            _exit(code);
        }
        close(to_parent[1]);
        close(to_child[0]);
    }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;
    ~ForkedChild() {
        if (child > 0 && !reaped) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        close(to_parent[0]);
        close(to_child[1]);
    }

    pid_t pid() const { return child; }

    // Child side.
    void tellParent() { (void)!write(to_parent[1], "x", 1); }
    void waitForParent() {
        char c;
        (void)!read(to_child[0], &c, 1);
    }

    // Parent side. False when the child ended without telling.
    bool waitForChild() {
        char c;
        return read(to_parent[0], &c, 1) == 1;
    }
    void tellChild() { (void)!write(to_child[1], "x", 1); }

    // The exit code, or 128 + the signal that ended the child.
    int wait() {
        int status = 0;
        waitpid(child, &status, 0);
        reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    int to_parent[2] = {-1, -1};
    int to_child[2] = {-1, -1};
    pid_t child = -1;
    bool reaped = false;
};

} // namespace testsupport
