#include "common/runtime/Lock.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

using testsupport::ForkedChild;

namespace {

// Exit codes of the child processes.
const int child_ok = 0;
const int child_locked_out = 10;
const int child_other_error = 11;

class LockSandboxTest : public ::testing::Test {
protected:
    void SetUp() override { Messages::getLocale(); }

    // Whether this process has the lock file open.
    static bool lockFileOpen() {
        for (int fd = 0; fd < 1024; ++fd) {
            char target[256] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target) == Lock::file_name)
                return true;
        }
        return false;
    }

    // A second process that holds `semnum` until told to let go.
    static std::unique_ptr<ForkedChild> holder(unsigned semnum) {
        auto child = std::make_unique<ForkedChild>([semnum](ForkedChild& self) {
            Lock lock(semnum, false);
            self.tellParent();
            self.waitForParent();
            return child_ok;
        });
        EXPECT_TRUE(child->waitForChild());
        return child;
    }

    static int tryInChild(unsigned semnum) {
        ForkedChild child([semnum](ForkedChild&) {
            try {
                Lock lock(semnum, false);
                return child_ok;
            } catch (const error& e) {
                const bool locked = e.getText() == Messages().getMessage("err_lock_locked") + "\n" &&
                                    e.getClass() == 4 && e.getRepeat() == 2 && e.getSystemState() == 1 &&
                                    e.getSupport() == 1;
                return locked ? child_locked_out : child_other_error;
            }
        });
        return child.wait();
    }
};

TEST_F(LockSandboxTest, SecondProcessCannotTakeTheInstanceLock) {
    auto first = holder(0);
    try {
        Lock second(0, false);
        FAIL() << "the lock was taken twice";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), Messages().getMessage("err_lock_locked") + "\n");
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 2);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 1);
    }
    // Other bytes stay free.
    EXPECT_NO_THROW(Lock(2, false));
    first->tellChild();
    EXPECT_EQ(first->wait(), child_ok);
    EXPECT_NO_THROW(Lock(0, false));
}

// A lock file that another user made, or that others may open, is replaced: whoever holds a byte
// of it no longer stops the installer.
TEST_F(LockSandboxTest, SquattedLockFileIsReplaced) {
    struct Case {
        uid_t owner;
        mode_t mode;
    };
    const Case cases[] = {{65534, 0600}, {65534, 0644}, {0, 0644}, {0, 0666}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.owner) + " " + std::to_string(c.mode));
        unlink(Lock::file_name);
        const int fd = open(Lock::file_name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_NE(fd, -1);
        ASSERT_EQ(fchown(fd, c.owner, c.owner), 0);
        ASSERT_EQ(fchmod(fd, c.mode), 0);
        ForkedChild squatter([fd](ForkedChild& self) {
            struct flock byte0 = {};
            byte0.l_type = F_RDLCK;
            byte0.l_whence = SEEK_SET;
            byte0.l_len = 1;
            if (fcntl(fd, F_SETLK, &byte0) != 0)
                return child_other_error;
            self.tellParent();
            self.waitForParent();
            return child_ok;
        });
        close(fd);
        ASSERT_TRUE(squatter.waitForChild());
        EXPECT_NO_THROW(Lock(0, false));
        struct stat info;
        ASSERT_EQ(stat(Lock::file_name, &info), 0);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        squatter.tellChild();
        EXPECT_EQ(squatter.wait(), child_ok);
    }
}

TEST_F(LockSandboxTest, TestReportsTheHolder) {
    EXPECT_EQ(Lock::test(0), 0);
    auto first = holder(0);
    EXPECT_EQ(Lock::test(0), first->pid());
    EXPECT_EQ(Lock::test(1), 0);
    first->tellChild();
    first->wait();
    EXPECT_EQ(Lock::test(0), 0);
}

TEST_F(LockSandboxTest, LockFileIsPrivateAndKeptEmpty) {
    umask(022);
    Lock lock(0, false);
    struct stat info;
    ASSERT_EQ(stat(Lock::file_name, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 0);
}

TEST_F(LockSandboxTest, ByteNumberOutOfRangeIsAnInternalError) {
    auto expectBadSemnum = [](const std::function<void()>& action, const char* what) {
        try {
            action();
            ADD_FAILURE() << what << " did not raise";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), Messages().getMessage("err_bad_semnum") + "\n") << what;
            EXPECT_EQ(e.getClass(), 3);
            EXPECT_EQ(e.getRepeat(), 1);
            EXPECT_EQ(e.getSystemState(), 1);
            EXPECT_EQ(e.getSupport(), 3);
        }
    };
    expectBadSemnum([] { Lock lock(3, false); }, "Lock(3, false)");
    expectBadSemnum([] { Lock lock(3, true); }, "Lock(3, true)");
    expectBadSemnum([] { Lock::test(3); }, "Lock::test(3)");
}

TEST_F(LockSandboxTest, FileClosesWithTheLastHolder) {
    auto both = std::make_unique<Lock>(0, false);
    auto status = std::make_unique<Lock>(2, true);
    EXPECT_TRUE(lockFileOpen());
    both.reset();
    EXPECT_TRUE(lockFileOpen());
    EXPECT_EQ(tryInChild(2), child_locked_out);
    status.reset();
    EXPECT_FALSE(lockFileOpen());
    EXPECT_EQ(tryInChild(2), child_ok);
}

// Two holders of one byte in this process: the first to go must not drop the lock of the other.
TEST_F(LockSandboxTest, ByteStaysLockedUntilItsLastHolderGoes) {
    auto outer = std::make_unique<Lock>(0, false);
    auto inner = std::make_unique<Lock>(0, false);
    inner.reset();
    EXPECT_EQ(Lock::test(0), 0); // our own lock does not show to us
    EXPECT_EQ(tryInChild(0), child_locked_out);
    outer.reset();
    EXPECT_EQ(tryInChild(0), child_ok);
}

// A forked child does not inherit record locks; it must not believe it holds them.
TEST_F(LockSandboxTest, ForkedChildDoesNotInheritTheLock) {
    Lock lock(0, false);
    EXPECT_EQ(tryInChild(0), child_locked_out);
}

void noteSignal(int) {}

TEST_F(LockSandboxTest, WaitingLockSurvivesASignal) {
    auto first = holder(2);
    struct sigaction action = {};
    action.sa_handler = noteSignal; // no SA_RESTART: the wait is interrupted
    sigaction(SIGUSR1, &action, nullptr);
    const pthread_t waiter = pthread_self();
    std::thread helper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(waiter, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first->tellChild();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(Lock(2, true));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    helper.join();
    EXPECT_EQ(first->wait(), child_ok);
}

// The lock file lives in a world-writable directory: whatever someone put there in its place is
// refused instead of followed or waited on.
TEST_F(LockSandboxTest, ForeignFileInPlaceOfTheLockFileIsRefused) {
    testsupport::TempDir dir;
    const std::string target = dir.file("target");
    testsupport::writeFile(target, "keep");
    struct Case {
        const char* what;
        std::function<int()> make;
    };
    const Case cases[] = {
        {"symbolic link", [&] { return symlink(target.c_str(), Lock::file_name); }},
        {"fifo", [] { return mkfifo(Lock::file_name, 0600); }},
    };
    for (const Case& c : cases) {
        unlink(Lock::file_name);
        ASSERT_EQ(c.make(), 0) << c.what;
        try {
            Lock lock(0, false);
            ADD_FAILURE() << c.what << " accepted";
        } catch (const error& e) {
            EXPECT_EQ(e.getClass(), 4) << c.what;
            EXPECT_EQ(e.getRepeat(), 1);
            EXPECT_EQ(e.getSystemState(), 1);
            EXPECT_EQ(e.getSupport(), 2);
        }
    }
    EXPECT_EQ(testsupport::readFile(target), "keep");
    unlink(Lock::file_name);
    EXPECT_NO_THROW(Lock(0, false));
}

} // namespace
