#include "installer/driver/InstallationThread.h"

#include "common/packages/PkgManager.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/SystemExit.h"
#include "installer/sources/http_error.h"

namespace driver {

namespace {

void reportFailure(error& failure) {
    ReportError::sendFailure(failure);
    logSelinuxMode();
    const http_error* http = dynamic_cast<const http_error*>(&failure);
    if (http && http->getCode() == 404 && http->getUrl().rfind(Options::defaultSource, 0) == 0)
        failure.setSupport(3);
    if (!failure.hasFlag(error::flag_report_logged))
        Log::stream(0, true) << "Error: " << failure.getReport();
}

} // namespace

InstallationThread::InstallationThread(std::function<void()> installation)
    : installation(std::move(installation)) {}

InstallationThread::~InstallationThread() {
    if (thread.joinable())
        thread.join();
    Log::stream(3, true) << "DEBUG: ~InstallationThread(), after join";
}

void InstallationThread::start() {
    thread = std::thread([this] { do_job(); });
}

void InstallationThread::runInstallation() {
    Log::stream(3, true) << "DEBUG: InstallationThread: do_job() entry.";
    installation();
    completedFlag.store(true, std::memory_order_release);
    Progress::checkTermination();
}

void InstallationThread::do_job() {
    try {
        runInstallation();
    } catch (error& failure) {
        reportFailure(failure);
    } catch (const PkgManager::unhappy&) {
        Log::stream(1, true) << "Unexpected 'unhappy' exception caught";
    } catch (const SystemExit&) {
        Log::stream(2, true) << "Background installation job was terminated by SystemExit exception";
        saved = std::current_exception();
    } catch (const Progress::Interrupted&) {
        Log::stream(1, true) << "Background installation job was cancelled by user";
        saved = std::current_exception();
    } catch (const std::exception& unexpected) {
        Log::stream(1, true) << "Unexpected exception: " << unexpected.what();
    } catch (...) {
        Log::stream(1, true) << "Unexpected exception caught";
    }
    if (saved)
        Log::stream(3, true)
            << "The exception from background installation thread was saved to be re-thrown into main";
    // Written last: whoever sees it also sees the saved exception.
    finishedFlag.store(true, std::memory_order_release);
}

void startInstallationThread(InstallationThread& job) {
    job.start();
}

} // namespace driver
