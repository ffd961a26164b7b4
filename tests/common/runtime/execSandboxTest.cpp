#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::readFile;

namespace {

class execSandboxTest : public runtimetest::LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        Log::setFileThreshold(3);
    }

    // A private, empty stand-in for the control-group tree of this test's mount namespace.
    static void fakeCgroupTree() {
        ASSERT_EQ(mount("tmpfs", "/sys/fs/cgroup", "tmpfs", 0, "mode=0755"), 0) << strerror(errno);
    }
};

TEST_F(execSandboxTest, UserCancelStopsTheCommandOnce) {
    const std::string marks = dir.file("marks");
    struct sigaction action = {};
    action.sa_handler = Progress::setTermination;
    sigaction(SIGTERM, &action, nullptr);
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < 3; ++i) {
            kill(getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const std::string command = "trap 'echo term >> " + util::shell_quote(marks) +
                                "; sleep 0.4; exit 0' TERM; while :; do sleep 0.05; done";
    const auto started = std::chrono::steady_clock::now();
    int signal = -1;
    try {
        exec::run_command(command, false, true, nullptr, nullptr);
    } catch (const Progress::Interrupted& interrupted) {
        signal = interrupted.signal;
    }
    canceller.join();
    EXPECT_EQ(signal, SIGTERM);
    // The child ended by its own trap, after the signal, not by being abandoned.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(600));
    EXPECT_EQ(readFile(marks), "term\n");
    EXPECT_THAT(logText(), HasSubstr("because Moxel Installer was canceled by user."));
}

TEST_F(execSandboxTest, DetachFromCgroupsWithoutSystemdTreeDoesNothing) {
    fakeCgroupTree();
    exec::detach_from_cgroups();
    EXPECT_THAT(logText(), Not(HasSubstr("cgroup")));
}

TEST_F(execSandboxTest, DetachFromCgroupsWritesEachTasksFile) {
    fakeCgroupTree();
    for (const char* directory :
         {"/sys/fs/cgroup/systemd/user/root", "/sys/fs/cgroup/systemd/system.slice", "/sys/fs/cgroup/cpu"})
        ASSERT_EQ(system(("mkdir -p " + std::string(directory)).c_str()), 0);
    for (const char* file : {"/sys/fs/cgroup/systemd/user/root/tasks",
                             "/sys/fs/cgroup/systemd/system.slice/tasks", "/sys/fs/cgroup/cpu/tasks"})
        testsupport::writeFile(file, "1234\n");

    exec::detach_from_cgroups();
    for (const char* file : {"/sys/fs/cgroup/systemd/user/root/tasks",
                             "/sys/fs/cgroup/systemd/system.slice/tasks", "/sys/fs/cgroup/cpu/tasks"})
        EXPECT_EQ(readFile(file), "0\n") << file;
    EXPECT_THAT(logText(), HasSubstr("DEBUG: detaching from current cgroups (systemd, cpu, cpuacct)\n"));
    EXPECT_THAT(logText(),
                HasSubstr("Warning: Failed to attach to cgroup /sys/fs/cgroup/cpuacct/tasks, installer "
                          "might be unexpectedly killed later by the system\n"));
    EXPECT_THAT(logText(), Not(HasSubstr("attach to cgroup /sys/fs/cgroup/cpu/tasks")));
}

TEST_F(execSandboxTest, DetachedCommandLeavesTheCgroups) {
    fakeCgroupTree();
    ASSERT_EQ(system("mkdir -p /sys/fs/cgroup/systemd/user/root /sys/fs/cgroup/systemd/system.slice "
                     "/sys/fs/cgroup/cpu"),
              0);
    for (const char* file : {"/sys/fs/cgroup/systemd/user/root/tasks",
                             "/sys/fs/cgroup/systemd/system.slice/tasks", "/sys/fs/cgroup/cpu/tasks"})
        testsupport::writeFile(file, "1234\n");
    const std::string done = dir.file("done");
    exec::run_detached("echo started > " + util::shell_quote(done), nullptr);
    for (int i = 0; i < 500 && readFile(done).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(readFile(done), "started\n");
    // Written by the command's process before it started the command.
    EXPECT_EQ(readFile("/sys/fs/cgroup/cpu/tasks"), "0\n");
    EXPECT_THAT(logText(), HasSubstr("DEBUG: detaching from current cgroups (systemd, cpu, cpuacct)\n"));
    EXPECT_THAT(logText(), HasSubstr("Warning: Failed to attach to cgroup /sys/fs/cgroup/cpuacct/tasks"));
}

} // namespace
