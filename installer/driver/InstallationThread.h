#pragma once

#include "common/runtime/Log.h"

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

namespace driver {

// The installation of the web wizard, run on a thread of its own while the back end keeps answering
// the browser. The back end reads the flags and the console capture; an exit or a user's cancel
// thrown by the installation is kept for the back end to rethrow once the browser knows the outcome.
class InstallationThread {
public:
    explicit InstallationThread(std::function<void()> installation);
    InstallationThread(const InstallationThread&) = delete;
    InstallationThread& operator=(const InstallationThread&) = delete;
    // Waits for the installation to end.
    ~InstallationThread();

    // Runs the installation; lets no exception escape.
    void do_job();
    void start();

    bool finished() const { return finishedFlag.load(std::memory_order_acquire); }
    bool completed() const { return completedFlag.load(std::memory_order_acquire); }
    bool finalStatusAsked() const { return finalStatusAskedFlag.load(std::memory_order_acquire); }
    void setFinalStatusAsked() { finalStatusAskedFlag.store(true, std::memory_order_release); }
    // Meaningful once finished() is true.
    std::exception_ptr savedException() const { return saved; }

    Log::ConsoleMessages console;

private:
    void runInstallation();

    std::function<void()> installation;
    std::thread thread;
    std::atomic<bool> finishedFlag{false};
    std::atomic<bool> completedFlag{false};
    std::atomic<bool> finalStatusAskedFlag{false};
    std::exception_ptr saved;
};

// Starts the job's thread.
void startInstallationThread(InstallationThread& job);

} // namespace driver
