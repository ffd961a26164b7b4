#include "installer/driver/InstallationThread.h"
#include "installer/driver/bg_self_upgrade_task.h"

#include "common/packages/PkgManager.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/driver/SystemExit.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

class BackgroundJobsTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(dir.file("installer.log")); }
    std::string logText() const { return testsupport::readFile(dir.file("installer.log")); }

    testsupport::TempDir dir;
};

// Only an exit and a user's cancel are kept for the main thread; every outcome ends finished.
TEST_F(BackgroundJobsTest, InstallationOutcomesAreRecordedAndOnlyExitsAreKept) {
    struct Case {
        const char* name;
        std::function<void()> installation;
        bool completed;
        bool kept;
        const char* logged;
    };
    const Case cases[] = {
        {"normal end", [] {}, true, false, "do_job() entry"},
        {"expected stop",
         [] { throw error(2, 1, 1, 1).setFlag(error::flag_expected_stop) << "nothing to do"; }, false, false,
         "Error: nothing to do"},
        {"exit", [] { throw driver::SystemExit(3); }, false, true, "terminated by SystemExit"},
        {"cancel", [] { throw Progress::Interrupted(2); }, false, true, "cancelled by user"},
        {"unhappy", [] { throw PkgManager::unhappy(); }, false, false,
         "Unexpected 'unhappy' exception caught"},
        {"std", [] { throw std::runtime_error("bad thing"); }, false, false,
         "Unexpected exception: bad thing"},
        {"other", [] { throw 7; }, false, false, "Unexpected exception caught"},
    };
    for (const Case& c : cases) {
        driver::InstallationThread job(c.installation);
        EXPECT_FALSE(job.finished());
        driver::startInstallationThread(job);
        while (!job.finished())
            std::this_thread::yield();
        EXPECT_EQ(job.completed(), c.completed) << c.name;
        EXPECT_EQ(job.savedException() != nullptr, c.kept) << c.name;
        EXPECT_NE(logText().find(c.logged), std::string::npos) << c.name;
    }
}

TEST_F(BackgroundJobsTest, KeptExitCarriesItsCode) {
    driver::InstallationThread job([] { throw driver::SystemExit(5); });
    job.do_job();
    try {
        std::rethrow_exception(job.savedException());
    } catch (const driver::SystemExit& exit) {
        EXPECT_EQ(exit.code, 5);
    }
}

TEST_F(BackgroundJobsTest, DestroyingAJobWaitsForItsEnd) {
    bool ended = false;
    {
        driver::InstallationThread job([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ended = true;
        });
        job.start();
    }
    EXPECT_TRUE(ended);
}

TEST_F(BackgroundJobsTest, SelfUpgradeDownloadEndsDoneOrFailedWhateverItThrows) {
    struct Case {
        std::function<void()> download;
        int state;
        std::string message;
        std::string className;
    };
    const Case cases[] = {
        {[] {}, driver::bg_self_upgrade_task::done, "", ""},
        {[] { throw error(error::repository, 1, 1, 1) << "no such file"; },
         driver::bg_self_upgrade_task::failed, "no such file\n", "repository"},
        {[] { throw std::bad_alloc(); }, driver::bg_self_upgrade_task::failed, "std::bad_alloc", "internal"},
        {[] { throw 1; }, driver::bg_self_upgrade_task::failed,
         "unexpected exception while downloading the new installer", "internal"},
    };
    for (const Case& c : cases) {
        driver::bg_self_upgrade_task task(c.download);
        EXPECT_EQ(task.state(), driver::bg_self_upgrade_task::downloading);
        driver::startSelfUpgradeThread(task);
        while (task.state() == driver::bg_self_upgrade_task::downloading)
            std::this_thread::yield();
        EXPECT_EQ(task.state(), c.state) << c.message;
        EXPECT_EQ(task.message(), c.message);
        EXPECT_EQ(task.errorClass(), c.className);
    }
}

} // namespace
