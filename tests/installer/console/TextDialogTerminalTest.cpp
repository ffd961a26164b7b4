// The console dialogs on a real terminal: tmux runs this test binary again as the child that shows the
// dialog, types into it with send-keys and reads the screen with capture-pane.

#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "installer/console/DlgHello.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/TextDialog.h"
#include "installer/driver/Options.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/Terminal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::Terminal;

namespace {

const char* const childVariable = "MOXEL_TERMINAL_CHILD";
const std::string userLost = "You have just finished your session by pressing Ctrl + D.";

class PasswordAsker : public TextDialog {
public:
    static std::string ask() { return readNewPassword("Password", ""); }
};

std::string selfPath() {
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<size_t>(length)) : std::string();
}

// Runs this test again as the child inside a new terminal. After the child the shell prints its exit
// status and whether the terminal echoes input again, then waits.
void startChild(Terminal& terminal, const std::string& page, const std::string& resultFile) {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() +
                             std::string(".") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string child =
        std::string(childVariable) + "=" + page + " MOXEL_TERMINAL_RESULT=" + util::shell_quote(resultFile) +
        " " + util::shell_quote(selfPath()) + " --gtest_filter=" + test +
        " >/dev/null; echo; echo EXIT:$?; "
        "stty -a | tr ' ;' '\\n\\n' | grep -x -e echo -e -echo; echo END; exec sleep 600";
    // The child's test output goes away; the dialog writes to the terminal itself.
    ASSERT_EQ(terminal.run(child), 0);
}

// The child's side: the dialog on the terminal's standard input and output.
void runChild(const std::string& page) {
    testsupport::TempDir logs;
    testsupport::openDebugLog(logs.file("installer.log"));
    noClearScreen = true;
    // The child's test report goes to /dev/null; the dialog needs the terminal.
    std::ofstream terminal("/dev/tty");
    std::streambuf* report = std::cout.rdbuf(terminal.rdbuf());
    std::ofstream result(std::getenv("MOXEL_TERMINAL_RESULT"));
    try {
        if (page == "password")
            result << PasswordAsker::ask();
        else
            result << DlgMaker::create()->hello()->run();
    } catch (const error& e) {
        std::cout << "error: " << e.getText();
    }
    std::cout.flush();
    std::cout.rdbuf(report);
}

class TerminalTest : public ::testing::Test {
protected:
    // True in the child, which has run the page by then.
    static bool isChild() {
        const char* page = std::getenv(childVariable);
        if (page)
            runChild(page);
        return page != nullptr;
    }

    testsupport::TempDir work;
    const std::string resultFile = work.file("result");
};

TEST_F(TerminalTest, PasswordIsNotEchoed) {
    if (isChild())
        return;
    Terminal terminal;
    startChild(terminal, "password", resultFile);
    EXPECT_THAT(terminal.waitFor("Password: "), HasSubstr("Password: "));
    terminal.sendKeys("-l S3cret-word");
    terminal.sendKeys("Enter");
    EXPECT_THAT(terminal.waitFor("Retype password: "), HasSubstr("Retype password: "));
    terminal.sendKeys("-l S3cret-word");
    terminal.sendKeys("Enter");
    const std::string screen = terminal.waitFor("END");
    EXPECT_THAT(screen, HasSubstr("Password: \nRetype password: \n"));
    EXPECT_THAT(screen, Not(HasSubstr("S3cret")));
    EXPECT_THAT(screen, HasSubstr("EXIT:0\necho\nEND\n"));
    EXPECT_EQ(testsupport::readFile(resultFile), "S3cret-word");
}

TEST_F(TerminalTest, EndOfInputEndsThePage) {
    if (isChild())
        return;
    struct Case {
        const char* page;
        const char* prompt;
    };
    const Case cases[] = {{"hello", "[F/q]: "}, {"password", "Password: "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        Terminal terminal;
        startChild(terminal, c.page, resultFile);
        EXPECT_THAT(terminal.waitFor(c.prompt), HasSubstr(c.prompt));
        terminal.sendKeys("C-d");
        const std::string screen = terminal.waitFor("END");
        EXPECT_THAT(screen, HasSubstr("error: " + userLost + "\n"));
        // The terminal echoes again after the password prompt is left.
        EXPECT_THAT(screen, HasSubstr("EXIT:0\necho\nEND\n"));
    }
}

} // namespace
