#include "installer/console/TextDialog.h"

#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "tests/installer/console/ConsoleTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/ForkedChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>
#include <streambuf>
#include <string>

using consoletest::Console;
using testsupport::caught;
using testsupport::ErrorFacts;

namespace {

// The protected operations, for the tests.
class Probe : public TextDialog {
public:
    using TextDialog::numberLegend;
    using TextDialog::pressEnter;
    using TextDialog::readChoice;
    using TextDialog::readNewPassword;
    using TextDialog::readString;
    using TextDialog::showTitle;
};

class TextDialogTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(logs.file("installer.log")); }

    static void expectUserLost(const ErrorFacts& raised) {
        EXPECT_EQ(raised.text, "You have just finished your session by pressing Ctrl + D.\n");
        EXPECT_EQ(raised.e_class, 4);
        EXPECT_EQ(raised.repeat, 2);
        EXPECT_EQ(raised.system_state, 1);
        EXPECT_EQ(raised.support, 1);
    }

    testsupport::TempDir logs;
};

TEST_F(TextDialogTest, ChoiceParsesLettersAndNumbers) {
    struct Case {
        const char* line;
        int isNumber;
        int number;
        unsigned letter;
    };
    const Case cases[] = {
        {"", 0, 0, 'F'}, {"q", 0, 0, 'Q'}, {"Q", 0, 0, 'Q'},  {"quit", 0, 0, 255},
        {"3", 1, 3, 0},  {"  7", 1, 7, 0}, {"x3", 0, 0, 255}, {"-2", 1, -2, 0},
        {"5x", 1, 5, 0}, {"?", 1, 0, 0},   {"12", 1, 12, 0},  {" q", 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Console console(std::string(c.line) + "\n");
        const TextDialog::Choice choice = Probe::readChoice("F/q", 'F');
        EXPECT_EQ(choice.isNumber, c.isNumber);
        EXPECT_EQ(choice.number, c.number);
        EXPECT_EQ(choice.letter, c.letter);
        EXPECT_EQ(console.screen(), " [F/q]: ");
    }
}

TEST_F(TextDialogTest, ChoiceWithoutHintWritesNothing) {
    Console console("b\n");
    EXPECT_EQ(Probe::readChoice("", 'F').letter, 'B');
    EXPECT_EQ(console.screen(), "");
}

TEST_F(TextDialogTest, StringShowsItsDefaultOnlyWhenThereIsOne) {
    struct Case {
        const char* input;
        const char* defaultValue;
        std::string answer;
        std::string screen;
    };
    const Case cases[] = {
        {"\n", "", "", "Name: "},
        {"\n", "admin", "admin", "Name [admin]: "},
        {"root\n", "admin", "root", "Name [admin]: "},
        {"last line without its end", "", "last line without its end", "Name: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Console console(c.input);
        EXPECT_EQ(Probe::readString("Name", c.defaultValue), c.answer);
        EXPECT_EQ(console.screen(), c.screen);
    }
}

// Without a terminal the entries come from the input as they are.
TEST_F(TextDialogTest, NewPasswordIsTypedTwice) {
    struct Case {
        const char* what;
        const char* input;
        const char* current;
        std::string result;
        std::string screen;
    };
    const Case cases[] = {
        {"matching entries", "s3cret\ns3cret\n", "", "s3cret", "Password: Retype password: "},
        {"the current one kept", "\n", "abcd", "abcd", "Password [****]: "},
        {"an empty entry without current one asks again", "\nnew\nnew\n", "", "new",
         "Password: Password: Retype password: "},
        {"a mismatch asks from the start", "one\ntwo\nthree\nthree\n", "xy", "three",
         "Password [**]: Retype password: The specified passwords do not match\n"
         "Password [**]: Retype password: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Console console(c.input);
        EXPECT_EQ(Probe::readNewPassword("Password", c.current), c.result);
        EXPECT_EQ(console.screen(), c.screen);
    }
}

TEST_F(TextDialogTest, EndOfInputEndsEveryKindOfQuestion) {
    struct Case {
        const char* what;
        const char* input;
        std::function<void()> ask;
    };
    const Case cases[] = {
        {"key", "", [] { Probe::readChoice("F/q", 'F'); }},
        {"text", "", [] { Probe::readString("Name", "admin"); }},
        {"Enter", "", [] { Probe::pressEnter("Note"); }},
        {"Enter after typed text", "abc", [] { Probe::pressEnter("Note"); }},
        {"first password", "", [] { Probe::readNewPassword("Password", ""); }},
        {"password retyped", "pw\n", [] { Probe::readNewPassword("Password", ""); }},
        {"password kept at end of input", "", [] { Probe::readNewPassword("Password", "old"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Console console(c.input);
        expectUserLost(caught(c.ask));
    }
}

// Input that ends because a termination signal arrived while the line was read.
class SignalledInput : public std::streambuf {
protected:
    int_type underflow() override {
        Progress::setTermination(SIGTERM);
        return traits_type::eof();
    }
};

TEST_F(TextDialogTest, TerminationWinsOverLostInput) {
    // The recorded signal stays with the process: a child of its own takes it.
    testsupport::ForkedChild child([](testsupport::ForkedChild&) {
        Console console;
        SignalledInput input;
        std::streambuf* saved = std::cin.rdbuf(&input);
        int outcome = 3;
        try {
            Probe::readChoice("F/q", 'F');
        } catch (const Progress::Interrupted& interrupted) {
            outcome = interrupted.signal == SIGTERM ? 0 : 1;
        } catch (const error&) {
            outcome = 2;
        }
        std::cin.rdbuf(saved);
        return outcome;
    });
    EXPECT_EQ(child.wait(), 0);
}

TEST_F(TextDialogTest, EnterWaitsForOneLineAndLogsTheText) {
    Console console("ignored words\nnext\n");
    Probe::pressEnter("");
    Probe::pressEnter("Read this");
    EXPECT_EQ(console.screen(), "\n\n\n(press Enter to continue) \n\nRead this\n(press Enter to continue) ");
    const std::string log = testsupport::readFile(logs.file("installer.log"));
    EXPECT_NE(log.find("Read this"), std::string::npos);
}

TEST_F(TextDialogTest, TitleWithoutClearingStartsWithFiveLineFeeds) {
    Console console;
    Probe::showTitle("Title");
    EXPECT_EQ(console.screen(), "\n\n\n\n\nTitle\n" + std::string(79, '=') + "\n\n");
}

TEST_F(TextDialogTest, NumberLegendNamesTheRange) {
    EXPECT_EQ(Probe::numberLegend("F/b/q", 0), "b/q");
    EXPECT_EQ(Probe::numberLegend("F/b/q/s", 0), "b/q");
    EXPECT_EQ(Probe::numberLegend("F/b/q", 1), "F/b/q/1");
    EXPECT_EQ(Probe::numberLegend("F/b/q", 12), "F/b/q/1-12");
}

} // namespace
