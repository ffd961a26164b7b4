#include "common/runtime/SystemCmd.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::readFile;

namespace {

class SystemCmdTest : public runtimetest::LoggingTest {
protected:
    static std::string readAll(FILE* stream) {
        std::string text;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0)
            text.append(buffer, got);
        return text;
    }
};

TEST_F(SystemCmdTest, ReadsTheOutputOfACheckedCommand) {
    {
        SystemCmd cmd("echo hello", SystemCmd::mode_read);
        char line[64] = {};
        ASSERT_NE(fgets(line, sizeof line, cmd.stream), nullptr);
        EXPECT_STREQ(line, "hello\n");
        EXPECT_NO_THROW(cmd.check());
        EXPECT_EQ(cmd.stream, nullptr);
    }
    EXPECT_THAT(logText(), HasSubstr("dizadizezeroz: read output of echo hello\n"));
    EXPECT_THAT(logText(), Not(HasSubstr("SystemCmd exit code was not checked")));
}

TEST_F(SystemCmdTest, StandardErrorGoesToTheLogNotTheStream) {
    testing::internal::CaptureStderr();
    {
        SystemCmd cmd("echo oops >&2; echo late-line >&2", SystemCmd::mode_read);
        EXPECT_EQ(readAll(cmd.stream), "");
        cmd.check();
    }
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_THAT(logText(), HasSubstr("oops\nlate-line\n"));
    EXPECT_THAT(console, HasSubstr("oops\nlate-line\n"));
}

TEST_F(SystemCmdTest, CloseMapsTheWayTheChildEnded) {
    struct Case {
        const char* command;
        int result;
    };
    const Case cases[] = {
        {"true", 0},
        {"exit 3", 3},
        {"kill -9 $$", 127},
        {"moxel-no-such-program-xyz 2>/dev/null", 127},
    };
    for (const Case& c : cases) {
        SystemCmd cmd(c.command, SystemCmd::mode_read);
        EXPECT_EQ(cmd.close(), c.result) << c.command;
        EXPECT_EQ(cmd.close(), c.result) << c.command << " (second close)";
    }
}

TEST_F(SystemCmdTest, CheckRaisesForANonZeroExit) {
    SystemCmd cmd("LC_ALL=C ls /moxel-missing-dir 2>/dev/null", SystemCmd::mode_read);
    try {
        cmd.check();
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Error 2 in execution of ls\n");
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 2);
        EXPECT_EQ(e.getSystemState(), 2);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

TEST_F(SystemCmdTest, UncheckedCommandIsClosedAndReportedOnDestruction) {
    { SystemCmd cmd("exit 4", SystemCmd::mode_read); }
    EXPECT_THAT(logText(),
                HasSubstr("Warning: SystemCmd exit code was not checked. (Command was: 'exit 4')."));
    EXPECT_THAT(logText(), HasSubstr("Warning: unhandled error in execution of command (4) : exit 4"));
}

TEST_F(SystemCmdTest, ChildRunsInTheCLocale) {
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    SystemCmd cmd("echo \"$LC_ALL $LANG\"; env | grep -c '^LC_ALL='", SystemCmd::mode_read);
    EXPECT_EQ(readAll(cmd.stream), "C C\n1\n");
    cmd.check();
}

TEST_F(SystemCmdTest, WriteModeFeedsTheStandardInput) {
    const std::string target = dir.file("out");
    SystemCmd cmd("cat > '" + target + "'", SystemCmd::mode_write);
    const std::string data(100000, 'x');
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), cmd.stream), data.size());
    cmd.check();
    EXPECT_EQ(readFile(target), data);
}

// None of the descriptors behind a command reaches it (nor any other command's): only the standard ones,
// and what this process itself inherited open across exec.
TEST_F(SystemCmdTest, NoOtherDescriptorReachesTheChild) {
    // As a library makes them: without close-on-exec (libcurl's wake-up pair).
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    SystemCmd other("sleep 1", SystemCmd::mode_read);
    SystemCmd cmd("ls /proc/$$/fd", SystemCmd::mode_read);
    const std::string listed = readAll(cmd.stream);
    EXPECT_EQ(listed, "0\n1\n2\n");
    cmd.check();
    other.close();
    close(pair[0]);
    close(pair[1]);
}

// A background process that keeps the standard error open must not hold the installer.
TEST_F(SystemCmdTest, DescendantHoldingStandardErrorDoesNotBlockDestruction) {
    const auto started = std::chrono::steady_clock::now();
    {
        SystemCmd cmd("sleep 5 >/dev/null & echo done", SystemCmd::mode_read);
        EXPECT_EQ(readAll(cmd.stream), "done\n");
        cmd.check();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

} // namespace
