#pragma once

#include "common/runtime/Pipe.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

// One /bin/sh command line in a child process, with a stdio stream on its standard output (read mode)
// or its standard input (write mode). Its standard error goes to the log, copied by a thread of its own.
class SystemCmd {
public:
    enum open_mode_t { mode_read = 0, mode_write = 1 };

    // Copies the child's standard error into the log at level 0 as it arrives.
    class StderrLogger {
    public:
        StderrLogger(int fd, std::shared_ptr<std::atomic<bool>> child_ended);
        void operator()();

    private:
        int fd;
        // Set once the child has been waited for: from then on only what is already in the pipe is
        // logged, so that a descendant that keeps the pipe open cannot hold us.
        std::shared_ptr<std::atomic<bool>> child_ended;
    };

    SystemCmd(const std::string& command, open_mode_t mode);
    SystemCmd(const SystemCmd&) = delete;
    SystemCmd& operator=(const SystemCmd&) = delete;
    virtual ~SystemCmd();

    // Closes the stream and waits for the child: its exit code, or 127 when it did not exit normally.
    // Later calls return the same value.
    int close();
    // close(), raising (4, 2, 2, 2) when the result is not 0.
    void check();

    // The caller's stream; null after close().
    FILE* stream = nullptr;

private:
    std::string command;
    int pid = 0;
    int status = 0;
    bool exitChecked = false;
    Pipe dataPipe;
    Pipe errPipe;
    std::shared_ptr<std::atomic<bool>> child_ended = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<std::thread> logger;
};
