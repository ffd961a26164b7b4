#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace driver {

// The download of the newer installer that the catalogue demands, on a thread of its own; the web
// back end answers every request from its state until it can restart into the new installer.
class bg_self_upgrade_task {
public:
    enum { downloading = 0, done = 1, failed = 2 };

    explicit bg_self_upgrade_task(std::function<void()> download);
    bg_self_upgrade_task(const bg_self_upgrade_task&) = delete;
    bg_self_upgrade_task& operator=(const bg_self_upgrade_task&) = delete;
    ~bg_self_upgrade_task();

    // Runs the download; every failure ends in state failed.
    void operator()();
    void start();

    int state() const { return currentState.load(std::memory_order_acquire); }
    // The failure, once state() is failed.
    std::string message() const;
    std::string errorClass() const;

private:
    void fail(const std::string& text, const std::string& className);

    std::function<void()> download;
    std::atomic<int> currentState{downloading};
    mutable std::mutex failureLock;
    std::string failureText;
    std::string failureClass;
    std::thread thread;
};

void startSelfUpgradeThread(bg_self_upgrade_task& task);

} // namespace driver
