#include "installer/driver/bg_self_upgrade_task.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <exception>

namespace driver {

bg_self_upgrade_task::bg_self_upgrade_task(std::function<void()> download) : download(std::move(download)) {}

bg_self_upgrade_task::~bg_self_upgrade_task() {
    if (thread.joinable())
        thread.join();
}

void bg_self_upgrade_task::start() {
    thread = std::thread([this] { (*this)(); });
}

// An escaping exception would end the process; whatever the download throws becomes a failure.
void bg_self_upgrade_task::operator()() {
    try {
        download();
        currentState.store(done, std::memory_order_release);
    } catch (const error& failure) {
        Log::stream(2, true) << "Error: " << failure.getText();
        fail(failure.getText(), failure.getClassName());
    } catch (const std::exception& unexpected) {
        Log::stream(2, true) << "Error: " << unexpected.what();
        fail(unexpected.what(), "internal");
    } catch (...) {
        Log::stream(2, true) << "Error: unexpected exception while downloading the new installer";
        fail("unexpected exception while downloading the new installer", "internal");
    }
}

void bg_self_upgrade_task::fail(const std::string& text, const std::string& className) {
    {
        std::lock_guard<std::mutex> hold(failureLock);
        failureText += text;
        failureClass = className;
    }
    currentState.store(failed, std::memory_order_release);
}

std::string bg_self_upgrade_task::message() const {
    std::lock_guard<std::mutex> hold(failureLock);
    return failureText;
}

std::string bg_self_upgrade_task::errorClass() const {
    std::lock_guard<std::mutex> hold(failureLock);
    return failureClass;
}

void startSelfUpgradeThread(bg_self_upgrade_task& task) {
    task.start();
}

} // namespace driver
