#include "common/runtime/Lock.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/ProgressShm.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/TempDir.h"

#include <boost/exception_ptr.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::ForkedChild;

namespace {

class ProgressSandboxTest : public runtimetest::LoggingTest {
protected:
    // Each case starts without a status segment, as the first one in a new sandbox does.
    void SetUp() override {
        LoggingTest::SetUp();
        Log::setFileThreshold(3);
        const int left = shmget(ProgressShm::key, 0, 0);
        if (left != -1) {
            ASSERT_EQ(shmctl(left, IPC_RMID, nullptr), 0);
        }
    }

    // A copy of the record as another reader would see it now.
    static std::unique_ptr<ProgressStatus> snapshot() {
        auto copy = std::make_unique<ProgressStatus>();
        ProgressShm shm;
        *copy = *shm.data();
        return copy;
    }

    static int caughtSignal(const std::function<void()>& action) {
        try {
            action();
        } catch (const Progress::Interrupted& interrupted) {
            return interrupted.signal;
        }
        return -1;
    }
};

TEST_F(ProgressSandboxTest, StagesAndSteps) {
    const char* const ids[] = {"init", "prep", "resolv", "download", "inst"};
    const char* const keys[] = {"progress_stage_init", "progress_stage_prep", "progress_stage_resolv",
                                "progress_stage_download", "install_start"};
    for (uint32_t n = 0; n <= 4; ++n) {
        Progress::stage(n, 0);
        auto record = snapshot();
        EXPECT_EQ(record->stage, n);
        EXPECT_EQ(record->stage_n, 4u);
        EXPECT_STREQ(record->stage_id, ids[n]);
        EXPECT_EQ(record->stage_title, Messages().getMessage(keys[n]));
    }

    Progress::stage(1, 3);
    for (int i = 1; i <= 5; ++i)
        Progress::step("id" + std::to_string(i), "text" + std::to_string(i));
    auto record = snapshot();
    EXPECT_EQ(record->step, 5u);
    EXPECT_EQ(record->step_n, 5u);
    EXPECT_STREQ(record->step_id, "id5");
    EXPECT_STREQ(record->step_title, "text5");
    EXPECT_THAT(logText(), HasSubstr("Progress::stage: --- 1/4 (3 steps) " +
                                     Messages().getMessage("progress_stage_prep") + "\n"));
    EXPECT_THAT(logText(), HasSubstr("Progress::step: 3/3 text3\n"));
    EXPECT_THAT(logText(), HasSubstr("Progress::step: 5/5 text5\n"));
}

TEST_F(ProgressSandboxTest, UnknownStageKeepsTheLastIdentifierButClearsTheMarks) {
    Progress::stage(3, 2);
    Progress::step("fetch", "Downloading");
    Progress::fail("it broke");
    Progress::stage(7, 1);
    auto record = snapshot();
    EXPECT_EQ(record->stage, 7u);
    EXPECT_STREQ(record->stage_id, "download");
    EXPECT_EQ(record->stage_title, Messages().getMessage("progress_stage_download"));
    EXPECT_EQ(record->step, 0u);
    EXPECT_EQ(record->step_n, 1u);
    EXPECT_STREQ(record->step_id, "");
    EXPECT_STREQ(record->step_title, "");
    EXPECT_EQ(record->finished, 0);
    EXPECT_EQ(record->failed, 0);
    EXPECT_STREQ(record->error_text, "it broke");
}

TEST_F(ProgressSandboxTest, FailAndFinish) {
    Progress::fail(std::string(10000, 'e'));
    auto record = snapshot();
    EXPECT_EQ(record->finished, 1);
    EXPECT_EQ(record->failed, 1);
    EXPECT_EQ(std::string(record->error_text), std::string(8095, 'e'));

    Progress::finish();
    record = snapshot();
    EXPECT_EQ(record->finished, 1);
    EXPECT_EQ(record->failed, 0);

    // Long step texts are cut the same way.
    Progress::stage(0, 1);
    Progress::step(std::string(200, 'i'), std::string(5000, 't'));
    record = snapshot();
    EXPECT_EQ(std::string(record->step_id), std::string(79, 'i'));
    EXPECT_EQ(std::string(record->step_title), std::string(4095, 't'));
}

// Another installer process (the status query) reads the record by key and offsets alone.
TEST_F(ProgressSandboxTest, RecordWrittenByOneProcessIsReadByAnother) {
    ForkedChild writer([](ForkedChild&) {
        Progress::stage(2, 10);
        Progress::step("resolve", "Resolving dependencies");
        Progress::fail("boom");
        return 0;
    });
    ASSERT_EQ(writer.wait(), 0);

    ForkedChild reader([](ForkedChild&) {
        const int id = shmget(ProgressShm::key, 20564, 0);
        if (id == -1)
            return 1;
        const char* raw = static_cast<const char*>(shmat(id, nullptr, SHM_RDONLY));
        if (raw == reinterpret_cast<const char*>(-1))
            return 2;
        auto u32 = [raw](size_t offset) {
            uint32_t value;
            memcpy(&value, raw + offset, sizeof value);
            return value;
        };
        const bool ok = u32(0) == 2 && u32(4) == 4 && std::string(raw + 8) == "resolv" && u32(4184) == 1 &&
                        u32(4188) == 10 && std::string(raw + 4192) == "resolve" &&
                        std::string(raw + 4272) == "Resolving dependencies" && raw[8368] == 1 &&
                        raw[8369] == 1 && std::string(raw + 8370) == "boom" && raw[16466] == 0;
        return ok ? 0 : 3;
    });
    EXPECT_EQ(reader.wait(), 0);

    // The segment outlives its writers, with the key, size and permissions other tools expect.
    bool found = false;
    for (const std::string& line : exec::get_output_lines("ipcs", "-m")) {
        std::istringstream words(line);
        std::string key, id, owner, perms, bytes;
        words >> key >> id >> owner >> perms >> bytes;
        if (key == "0x0004e7b0") {
            found = true;
            EXPECT_EQ(perms, "600");
            EXPECT_EQ(bytes, "20564");
        }
    }
    EXPECT_TRUE(found);
}

// A status query holding the record makes the writer wait, not skip or tear the record.
TEST_F(ProgressSandboxTest, WriterWaitsForAReaderInAnotherProcess) {
    Progress::stage(0, 1);
    ForkedChild reader([](ForkedChild& self) {
        ProgressShm shm;
        self.tellParent();
        self.waitForParent();
        return 0;
    });
    ASSERT_TRUE(reader.waitForChild());
    std::thread release([&reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reader.tellChild();
    });
    const auto started = std::chrono::steady_clock::now();
    Progress::step("s", "waited");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
    release.join();
    EXPECT_EQ(reader.wait(), 0);
    EXPECT_STREQ(snapshot()->step_title, "waited");
}

// A segment under the key that another user made, or that others may attach, is neither read nor
// written: another one of our own takes its place.
TEST_F(ProgressSandboxTest, ForeignSegmentIsReplaced) {
    const int foreign = shmget(ProgressShm::key, sizeof(ProgressStatus), IPC_CREAT | 0666);
    ASSERT_NE(foreign, -1);
    shmid_ds info;
    ASSERT_EQ(shmctl(foreign, IPC_STAT, &info), 0);
    info.shm_perm.uid = 65534;
    ASSERT_EQ(shmctl(foreign, IPC_SET, &info), 0);
    auto* seen = static_cast<ProgressStatus*>(shmat(foreign, nullptr, 0));
    ASSERT_NE(seen, reinterpret_cast<ProgressStatus*>(-1));
    ProgressShm::setText(seen->step_title, "forged");

    Progress::stage(1, 1);
    Progress::step("s", "written by the installer");
    EXPECT_STREQ(seen->step_title, "forged");
    EXPECT_STREQ(snapshot()->step_title, "written by the installer");
    const int own = shmget(ProgressShm::key, 0, 0);
    ASSERT_NE(own, -1);
    EXPECT_NE(own, foreign);
    ASSERT_EQ(shmctl(own, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_perm.uid, 0u);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0600u);
    shmdt(seen);
}

TEST_F(ProgressSandboxTest, WithoutSharedMemoryProgressStaysInTheProcess) {
    // A segment of another size under the key makes the record unavailable.
    const int foreign = shmget(ProgressShm::key, 100, IPC_CREAT | 0600);
    ASSERT_NE(foreign, -1);
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(Progress::stage(2, 1));
    EXPECT_NO_THROW(Progress::step("s", "local"));
    Progress::finish();
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_THAT(console, HasSubstr("Error: Can't create/access to shm segment: "));
    EXPECT_THAT(console, HasSubstr("Remove status reporter feature will unavailable.\n"));
    auto record = snapshot();
    EXPECT_EQ(record->stage, 2u);
    EXPECT_STREQ(record->step_title, "local");
    EXPECT_EQ(record->finished, 1);
    shmid_ds info;
    ASSERT_EQ(shmctl(foreign, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, 100u);
}

TEST_F(ProgressSandboxTest, HangupWaitsForTheEndOfAnUnsafePhase) {
    Progress::markUnsafe();
    Progress::setTermination(SIGHUP);
    EXPECT_NO_THROW(Progress::checkTermination());
    EXPECT_FALSE(Progress::requestCancel());
    Progress::markSafe();
    EXPECT_EQ(caughtSignal(Progress::checkTermination), SIGHUP);
    EXPECT_TRUE(Progress::wasInterrupted());
    EXPECT_THAT(logText(), HasSubstr("DEBUG: Mark cancel/stop operation as unsafe\n"));
}

TEST_F(ProgressSandboxTest, CommandsStartedInAnUnsafePhaseOutliveAHangup) {
    const std::string hangUpOnItself = "kill -HUP $$; echo survived";
    EXPECT_THROW(exec::get_output_lines(hangUpOnItself, ""), error);
    Progress::markUnsafe();
    EXPECT_THAT(exec::get_output_lines(hangUpOnItself, ""), ElementsAre("survived"));
    Progress::markSafe();
    EXPECT_THROW(exec::get_output_lines(hangUpOnItself, ""), error);
}

TEST_F(ProgressSandboxTest, TerminationStopsAnUnsafePhase) {
    Progress::stage(4, 3);
    Progress::markUnsafe();
    Progress::setTermination(SIGTERM);
    EXPECT_EQ(caughtSignal(Progress::checkTermination), SIGTERM);
    auto record = snapshot();
    EXPECT_EQ(record->finished, 1);
    EXPECT_EQ(record->failed, 1);
    EXPECT_EQ(record->error_text, Progress::getCanceledMessage());
    EXPECT_EQ(Progress::getCanceledMessage(), Messages().getMessage("user_canceled"));
    EXPECT_THAT(logText(), HasSubstr(Messages().getMessage("Dizadizezeroz") +
                                     " process has received termination signal and will stop working "
                                     "(signal number 15).\n"));
    // Nothing more to stop.
    EXPECT_NO_THROW(Progress::checkTermination());
}

TEST_F(ProgressSandboxTest, MarkUnsafeTwiceIsAnInternalError) {
    Progress::markUnsafe();
    try {
        Progress::markUnsafe();
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), 3);
        EXPECT_THAT(e.getText(), HasSubstr("common/Progress, line 328"));
    }
}

TEST_F(ProgressSandboxTest, RequestCancelAnswersOncePerSignal) {
    EXPECT_FALSE(Progress::requestCancel());
    Progress::setTermination(SIGINT);
    EXPECT_TRUE(Progress::requestCancel());
    EXPECT_FALSE(Progress::requestCancel());
    Progress::setTermination(SIGINT);
    EXPECT_FALSE(Progress::requestCancel());
    EXPECT_EQ(caughtSignal(Progress::checkTermination), SIGINT);
    EXPECT_FALSE(Progress::requestCancel());
    Progress::setTermination(SIGTERM);
    EXPECT_FALSE(Progress::wasInterrupted());
    EXPECT_TRUE(Progress::requestCancel());
}

// A signal arriving while the cancel itself unwinds the stack is not a new request.
TEST_F(ProgressSandboxTest, SignalDuringTheCancelsUnwindingIsIgnored) {
    struct SignalOnUnwind {
        ~SignalOnUnwind() { Progress::setTermination(SIGTERM); }
    };
    Progress::setTermination(SIGINT);
    EXPECT_EQ(caughtSignal([] {
                  SignalOnUnwind guard;
                  Progress::checkTermination();
              }),
              SIGINT);
    EXPECT_TRUE(Progress::wasInterrupted());
    Progress::setTermination(SIGTERM);
    EXPECT_FALSE(Progress::wasInterrupted());
    EXPECT_EQ(caughtSignal(Progress::checkTermination), SIGTERM);
}

// The web mode runs the installation on a worker thread and rethrows its cancel on the main thread.
TEST_F(ProgressSandboxTest, InterruptedCanBeCarriedToAnotherThread) {
    Progress::setTermination(SIGTERM);
    boost::exception_ptr carried;
    std::thread worker([&carried] {
        try {
            Progress::checkTermination();
        } catch (...) {
            carried = boost::current_exception();
        }
    });
    worker.join();
    ASSERT_TRUE(carried);
    EXPECT_EQ(caughtSignal([&carried] { boost::rethrow_exception(carried); }), SIGTERM);
}

// A real signal through a handler that does nothing but record it.
TEST_F(ProgressSandboxTest, HandlerRecordsARealSignal) {
    struct sigaction action = {};
    action.sa_handler = Progress::setTermination;
    sigaction(SIGTERM, &action, nullptr);
    raise(SIGTERM);
    EXPECT_EQ(caughtSignal(Progress::checkTermination), SIGTERM);
}

} // namespace
