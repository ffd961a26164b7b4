#include "common/runtime/exec.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::readFile;

namespace {

class execTest : public runtimetest::LoggingTest {
protected:
    // The detached command runs on its own; wait for the file it writes last.
    static std::string waitForFile(const std::string& path) {
        for (int i = 0; i < 500; ++i) {
            const std::string text = readFile(path);
            if (!text.empty() && text.back() == '\n')
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "";
    }
};

TEST_F(execTest, RunCommandMapsExitCodes) {
    struct Case {
        const char* command;
        bool check;
        int result;
    };
    const Case cases[] = {
        {"true", false, 0},
        {"true", true, 0},
        {"exit 5", false, 5},
        {"moxel-no-such-program-xyz", false, 127},
    };
    for (const Case& c : cases)
        EXPECT_EQ(exec::run_command(c.command, false, c.check, nullptr, nullptr), c.result) << c.command;
}

TEST_F(execTest, RunCommandRaisesOnFailures) {
    Messages messages;
    struct Case {
        const char* command;
        bool check;
        int classification[4];
        std::string text; // before the full command
    };
    const Case cases[] = {
        {"exit 5", true, {0, 0, 0, 0}, messages.format("err_exec_non_zero", "exit", "5")},
        {"moxel-no-such-program-xyz --flag",
         true,
         {4, 1, 0, 3},
         messages.format("err_exec_cmd_not_found", "moxel-no-such-program-xyz")},
        {"kill -9 $$", false, {4, 2, 0, 2}, messages.getMessage("err_exec_signal")},
        {"kill -9 $$", true, {4, 2, 0, 2}, messages.getMessage("err_exec_signal")},
    };
    for (const Case& c : cases) {
        try {
            exec::run_command(c.command, false, c.check, nullptr, nullptr);
            ADD_FAILURE() << c.command << " did not raise";
        } catch (const error& e) {
            EXPECT_EQ(e.getClass(), c.classification[0]) << c.command;
            EXPECT_EQ(e.getRepeat(), c.classification[1]) << c.command;
            EXPECT_EQ(e.getSystemState(), c.classification[2]) << c.command;
            EXPECT_EQ(e.getSupport(), c.classification[3]) << c.command;
            EXPECT_EQ(e.getText(), c.text + messages.format("err_exec_cmd", c.command) + "\n");
        }
    }
    EXPECT_THAT(logText(), HasSubstr(messages.getMessage("err_exec_signal") + " (9)\n"));
}

TEST_F(execTest, RunCommandCapturesBothStreams) {
    std::ostringstream output, errors;
    EXPECT_EQ(exec::run_command("echo out; echo err >&2; read x || echo eof", false, true, &output, &errors),
              0);
    EXPECT_EQ(output.str(), "out\neof\n");
    EXPECT_EQ(errors.str(), "err\n");
}

TEST_F(execTest, GetOutputLinesTrimsEachLine) {
    EXPECT_THAT(exec::get_output_lines("printf", "'a\\n\\n  b \\t\\nlast'"),
                ElementsAre("a", "", "b", "last"));
    const std::string long_line(10000, 'y');
    EXPECT_THAT(exec::get_output_lines("echo", long_line), ElementsAre(long_line));
}

TEST_F(execTest, GetOutputReturnsTheFirstLine) {
    EXPECT_EQ(exec::get_output("echo", util::shell_quote("  padded  ") + "; echo second"), "padded");
}

TEST_F(execTest, GetOutputKeepsTheEnvironment) {
    setenv("MOXEL_TEST_VALUE", "kept", 1);
    setenv("LC_ALL", "POSIX", 1);
    EXPECT_EQ(exec::get_output("echo \"$MOXEL_TEST_VALUE $LC_ALL\"", ""), "kept POSIX");
}

TEST_F(execTest, GetOutputErrors) {
    try {
        exec::get_output("true", "");
        FAIL() << "no error for empty output";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), 0);
        EXPECT_EQ(e.getText(), Messages().format("err_empty_output", "true") +
                                   Messages().format("err_exec_cmd", "true") + "\n");
    }
    try {
        exec::get_output_lines("LC_ALL=C exit", "2");
        FAIL() << "no error for a failed command";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Error in execution of 'exit'\n");
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 2);
        EXPECT_EQ(e.getSystemState(), 2);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

TEST_F(execTest, CommandName) {
    struct Case {
        const char* command;
        const char* name;
    };
    const Case cases[] = {
        {"LC_ALL=C rpm -qa", "rpm"},
        {"env sh", "env sh"},
        {"env A=1 sh -c x", "-c"},
        {"  apt-get   -y install", "apt-get"},
        {"/usr/bin/dpkg-query -W", "/usr/bin/dpkg-query"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(exec::command_name(c.command), c.name) << "'" << c.command << "'";
}

TEST_F(execTest, RunDetachedFeedsInputAndLeavesNoChild) {
    const std::string target = dir.file("copy");
    const std::string input = "first\nsecond\n";
    exec::run_detached("cat > " + util::shell_quote(target), &input);
    // The command is not our child, and the helper between us and it has been waited for.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(waitForFile(target), input);
}

// A program that never reads its input must not hold the caller for its whole life.
TEST_F(execTest, RunDetachedDoesNotWaitForAProgramThatNeverReads) {
    const std::string pid_file = dir.file("pid");
    const std::string ended = dir.file("ended");
    const std::string input(1 << 20, 'x');
    exec::run_detached("echo $$ > " + util::shell_quote(pid_file) + "; sleep 20; echo > " +
                           util::shell_quote(ended),
                       &input);
    EXPECT_NE(access(ended.c_str(), F_OK), 0) << "the call waited for the program to end";
    const std::string pid_text = waitForFile(pid_file);
    ASSERT_FALSE(pid_text.empty());
    kill(std::stoi(pid_text), SIGKILL);
}

// A failure while watching the command (here the caller's output stream) is never a success.
TEST_F(execTest, RunCommandPassesOnAFailureWhileWaitingWithoutCheck) {
    struct FailingBuffer : std::streambuf {
        int overflow(int) override { throw error(4, 1, 1, 2) << "output lost"; }
    } failing;
    std::ostream output(&failing);
    output.exceptions(std::ios::badbit);
    EXPECT_THROW(exec::run_command("echo text", false, false, &output, nullptr), error);
}

// Output of a detached command is discarded, but writing it must succeed: a script that stops on
// its first failed command would otherwise never get to its work.
TEST_F(execTest, RunDetachedOutputWritesSucceed) {
    const std::string target = dir.file("done");
    setenv("MOXEL_TEST_VALUE", "kept", 1);
    exec::run_detached("set -e; echo to-stdout; echo to-stderr >&2; echo \"$MOXEL_TEST_VALUE\" > " +
                           util::shell_quote(target),
                       nullptr);
    EXPECT_EQ(waitForFile(target), "kept\n");
    EXPECT_THAT(logText(), HasSubstr("Execute command set -e;"));
}

} // namespace
