#pragma once

#include <string>
#include <utility>
#include <vector>

// Everything a forked child needs to run "/bin/sh -c command", built before the fork, so that the
// child only makes async-signal-safe calls between fork and exec. A close-on-exec pipe carries what the
// child has to tell the parent (a failed exec with its errno, other small reports) and closes by
// itself when the exec succeeds.
class ChildExec {
public:
    // `argv0` is the name the shell is given; with `c_locale`, LC_ALL and LANG are "C" in its environment.
    ChildExec(const std::string& command, const std::string& argv0, bool c_locale);
    ChildExec(const ChildExec&) = delete;
    ChildExec& operator=(const ChildExec&) = delete;
    ~ChildExec();

    // Parent, before the fork: opens the report channel; false with errno set when no pipe was made.
    bool openChannel();

    // Child only, async-signal-safe: restores the default signal handling (but for SIGHUP, ignored by
    // commands started in an unsafe phase), executes the shell and, when that fails, reports its errno
    // (tag 'E'). Returns only on failure.
    void execShell() noexcept;
    // Child only, async-signal-safe.
    void report(char tag, int value) noexcept;

    // Parent, after the fork: closes the parent's copy of the channel and reads the child's reports
    // until the exec or the exit of the child (and of its descendants that share it) closes it.
    std::vector<std::pair<char, int>> collect();
    // errno of a failed exec among the reports; 0 when the exec succeeded.
    static int execErrno(const std::vector<std::pair<char, int>>& reports);

    // A close-on-exec pipe whose ends are above the standard descriptors, so that moving a child's ends
    // onto 0, 1 and 2 can never overwrite another of them. -1 with errno set on failure.
    static int createPipe(int fds[2]);
    // Child only, async-signal-safe: makes `fd` the descriptor `target`, kept open across exec.
    static bool moveTo(int fd, int target) noexcept;
    // Closes a descriptor that is not -1 and sets it to -1; errors are ignored.
    static void closeFd(int& fd) noexcept;
    // A write to a pipe whose reader has gone must fail with EPIPE, not end the installer.
    static void ignoreSigpipe();
    // Waits for the child, repeating on interruption; the wait status, or -1 when waitpid fails.
    static int waitFor(int pid);

private:
    std::vector<std::string> arg_texts;
    std::vector<std::string> env_texts;
    std::vector<char*> argv;
    std::vector<char*> envp;
    int channel[2] = {-1, -1};
    // A hangup of the session must not cut a package transaction short.
    bool ignore_hangup;
};
