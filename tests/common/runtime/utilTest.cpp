#include "common/runtime/util.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>
#include <boost/tokenizer.hpp>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

typedef std::vector<std::string> words;

class UtilTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }

    // Opens the log file; the message table's own start-up line is kept out of it.
    void openLog() {
        Log::setFileThreshold(1);
        Messages::getLocale();
        Log::setFileThreshold(2);
        Log::open_file(dir.file("installer.log"), true);
    }
    std::string logText() const { return readFile(dir.file("installer.log")); }

    // What /bin/sh makes of a command line.
    static std::string shellOutput(const std::string& command) {
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[256];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, got);
        pclose(pipe);
        return out;
    }

    TempDir dir;
};

TEST_F(UtilTest, ToBoolKnowsItsWordsOnly) {
    struct Case {
        const char* text;
        bool value;
    };
    const Case cases[] = {{"true", true},   {"1", true},   {"yes", true}, {"on", true},      {"", false},
                          {"false", false}, {"0", false},  {"no", false}, {"off", false},    {"TRUE", false},
                          {"Yes", false},   {" 1", false}, {"2", false},  {"enabled", false}};
    for (const Case& c : cases)
        EXPECT_EQ(util::to_bool(std::string(c.text)), c.value) << '"' << c.text << '"';
    EXPECT_FALSE(util::to_bool(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(util::to_bool("yes"));
}

TEST_F(UtilTest, ToBoolLogsOnlyUnknownWords) {
    openLog();
    util::to_bool(std::string("TRUE"));
    util::to_bool(std::string(""));
    util::to_bool(std::string("off"));
    std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Converting to boolean: 'TRUE' has been converted to 'false'\n"));
    EXPECT_THAT(log, Not(HasSubstr("''")));
    EXPECT_THAT(log, Not(HasSubstr("'off'")));
}

TEST_F(UtilTest, ToLong) {
    struct Case {
        const char* text;
        long value;
    };
    const Case cases[] = {{"12", 12}, {"-12", -12}, {"+7", 7}, {"007", 7}, {"+-3", 0}, {"", 0}, {"1-2", 1}};
    for (const Case& c : cases)
        EXPECT_EQ(util::to_long(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(UtilTest, ToLongRefusesOtherCharactersWithoutClassifying) {
    for (const char* text : {"12a", " 1", "1.5", "0x10", "1 "}) {
        try {
            util::to_long(text);
            ADD_FAILURE() << '"' << text << "\" accepted";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), Messages().getMessage("err_non_digit") + "\n");
            EXPECT_EQ(e.getClass() + e.getRepeat() + e.getSystemState() + e.getSupport(), 0);
        }
    }
}

TEST_F(UtilTest, MajorVersion) {
    EXPECT_EQ(util::major_version("3.24.1"), "3");
    EXPECT_EQ(util::major_version("17"), "17");
    EXPECT_EQ(util::major_version(".5"), "");
    EXPECT_EQ(util::major_version(""), "");
}

TEST_F(UtilTest, TrimsOfStrings) {
    struct Case {
        const char* text;
        const char* trimmed;
        const char* right_trimmed;
    };
    const Case cases[] = {
        {" \t \t", "", ""},
        {"", "", ""},
        {"a \r\n", "a", "a"},
        {"\v\f a b \t", "a b", "\v\f a b"},
        {"x", "x", "x"},
        {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"}, // only the six ASCII blanks
    };
    for (const Case& c : cases) {
        EXPECT_EQ(util::trim(std::string(c.text)), c.trimmed) << '"' << c.text << '"';
        EXPECT_EQ(util::rtrim(c.text), c.right_trimmed) << '"' << c.text << '"';
    }
}

TEST_F(UtilTest, TrimsOfCStringsInPlace) {
    struct Case {
        const char* text;
        const char* trimmed;
    };
    const Case cases[] = {{"  x y \n", "x y"}, {" \t\n", ""}, {"", ""}, {"x", "x"}};
    for (const Case& c : cases) {
        std::string buffer = c.text;
        util::trim(&buffer[0]);
        EXPECT_STREQ(buffer.c_str(), c.trimmed) << '"' << c.text << '"';
    }
    util::trim(static_cast<char*>(nullptr));

    char once[] = "a\n\n";
    util::chomp(once);
    EXPECT_STREQ(once, "a\n");
    char none[] = "a";
    util::chomp(none);
    EXPECT_STREQ(none, "a");
    char empty[] = "";
    util::chomp(empty);
    EXPECT_STREQ(empty, "");
}

TEST_F(UtilTest, CaseAndSuffix) {
    std::string text = "MiXed-1.RPM";
    util::to_lower(text);
    EXPECT_EQ(text, "mixed-1.rpm");

    EXPECT_FALSE(util::ends_with("a", "ab"));
    EXPECT_TRUE(util::ends_with("x.rpm", ".rpm"));
    EXPECT_FALSE(util::ends_with("rpm", ".rpm"));
    EXPECT_TRUE(util::ends_with("", ""));
    EXPECT_TRUE(util::ends_with("abc", ""));
}

TEST_F(UtilTest, SplitQuoted) {
    struct Case {
        const char* text;
        words expected;
    };
    const Case cases[] = {
        {R"(word 'a b' "say \"hi\"")", {"word", "a b", "say \"hi\""}},
        {R"("")", {""}},
        {R"('')", {""}},
        {R"(a "" b)", {"a", "", "b"}},
        {"", {}},
        {" \t\n ", {}},
        {"a\tb\nc", {"a", "b", "c"}},
        {R"(a"b c'd)", {"a\"b", "c'd"}}, // quotes inside bare words are plain
        {R"('a\b')", {"a\\b"}},          // no escapes between single quotes
        {R"("a\\b\'")", {"a\\b'"}},      // a backslash takes any next character
        {R"("unclosed a)", {"unclosed a"}},
        {R"('unclosed)", {"unclosed"}},
        {R"("a\)", {"a"}}, // backslash at the end ends the word
        {R"('x' 'y')", {"x", "y"}},
        {"'x'\t\"y\"", {"x", "y"}},
        {"--opt=value  second", {"--opt=value", "second"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(util::split_quoted(c.text), c.expected) << c.text;
}

TEST_F(UtilTest, SplitQuotedWantsWhiteSpaceAfterAClosingQuote) {
    for (const char* text : {"'a'b", R"("a"b)", R"(""x)", "ok 'a''b'"}) {
        try {
            util::split_quoted(text);
            ADD_FAILURE() << text << " accepted";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), Messages().format("err_spsepval", text) + "\n");
            EXPECT_EQ(e.getClass(), 0);
            EXPECT_EQ(e.getRepeat(), 1);
            EXPECT_EQ(e.getSystemState(), 1);
            EXPECT_EQ(e.getSupport(), 2);
        }
    }
}

TEST_F(UtilTest, SplitEscapedList) {
    struct Case {
        const char* text;
        words expected;
    };
    const Case cases[] = {
        {",a,,b,", {"a", "", "b"}},
        {",,a,,,b,,", {"a", "", "", "b"}},
        {" a , b ", {"a", "b"}},
        {" ", {}},
        {"", {}},
        {",,,", {}},
        {"a,b,", {"a", "b"}},
        {R"("x,y",z)", {"x,y", "z"}},
        {R"(" a ")", {"a"}},
        {R"(a\,b)", {"a,b"}},
        {R"(a\nb)", {"a\nb"}},
        {R"(a\\b)", {"a\\b"}},
        {R"(a\"b)", {"a\"b"}},
        {"single", {"single"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(util::split_escaped_list(c.text), c.expected) << c.text;
}

TEST_F(UtilTest, SplitEscapedListRefusesBadEscapes) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {{R"(a\qb)", "unknown escape sequence"}, {R"(a,b\)", "cannot end with escape"}};
    for (const Case& c : cases) {
        try {
            util::split_escaped_list(c.text);
            ADD_FAILURE() << c.text << " accepted";
        } catch (const boost::escaped_list_error& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.reason)) << c.text;
        }
    }
}

TEST_F(UtilTest, EscapeCString) {
    struct Case {
        std::string text;
        const char* escaped;
    };
    const Case cases[] = {
        {"abc", R"("abc")"},
        {"", R"("")"},
        {"\n", R"("\x0a")"},
        {"\xC3\xA9", R"("\xc3\xa9")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\t\x7f", R"("\x09\x7f")"},
        {std::string("a\0b", 3), R"("a\x00b")"},
        {"it's ok", R"("it's ok")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(util::escape_c_string(c.text), c.escaped);
        EXPECT_EQ(util::printable(c.text), c.escaped);
    }
}

TEST_F(UtilTest, JsString) {
    struct Case {
        const char* text;
        const char* literal;
    };
    const Case cases[] = {
        {"<b>", R"("&lt;b&gt;")"},
        {"a\nb", R"("a<br>\nb")"},
        {"a\r\nb", R"("a<br>\nb")"},
        {"\t\f", R"("\t\f")"},
        {"\"&'", R"("&quot;&amp;&apos;")"},
        {"</script>", R"("&lt;\/script&gt;")"},
        {"\\", R"("\\")"},
        {"\x01\x1f", R"("")"},
        {"\xC3\xA9\xFF", "\"\xC3\xA9\xFF\""},
        {"", R"("")"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(util::js_string(c.text), c.literal) << c.text;
}

TEST_F(UtilTest, Nl2brAndRegexEscape) {
    EXPECT_EQ(util::nl2br("a\r\nb\nc"), "a<br />\nb<br />\nc");
    EXPECT_EQ(util::nl2br(""), "");
    EXPECT_EQ(util::nl2br("<p>"), "<p>");

    EXPECT_EQ(util::regex_escape("1.2+3"), "1\\.2\\+3");
    EXPECT_EQ(util::regex_escape("^$|()[]{}*+?.\\"), "\\^\\$\\|\\(\\)\\[\\]\\{\\}\\*\\+\\?\\.\\\\");
    EXPECT_EQ(util::regex_escape("plain-text_09"), "plain-text_09");
}

TEST_F(UtilTest, ShellQuoteGivesTheShellTheTextBack) {
    const std::string texts[] = {
        "",   "plain", "it's", "a b", "$(touch pwned)", "`id`",     "\"", "\\", "new\nline", "'",
        "''", "-n",    "*",    "~",   "a;b&c|d>e<f",    "\xC3\xA9",
    };
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    for (const std::string& text : texts)
        EXPECT_EQ(shellOutput("printf %s " + util::shell_quote(text)), text) << text;
    EXPECT_FALSE(access("pwned", F_OK) == 0);
    EXPECT_EQ(util::shell_quote("it's"), R"('it'\''s')");
    EXPECT_EQ(util::shell_quote(""), "''");
}

TEST_F(UtilTest, Environment) {
    util::set_env("MOXEL_UTIL_TEST", "first");
    util::set_env("MOXEL_UTIL_TEST", "second");
    EXPECT_EQ(util::get_env("MOXEL_UTIL_TEST"), "second");
    util::unset_env("MOXEL_UTIL_TEST");
    EXPECT_EQ(util::get_env("MOXEL_UTIL_TEST"), "");
    EXPECT_EQ(getenv("MOXEL_UTIL_TEST"), nullptr);
}

TEST_F(UtilTest, TimerRightAfterStartIsZero) {
    // Start just after a second begins, so the reading cannot cross into the next one.
    time_t now = time(nullptr);
    while (time(nullptr) == now)
        usleep(1000);
    Timer timer;
    timer.start();
    EXPECT_EQ(timer.elapsed(), 0.0);
}

TEST_F(UtilTest, SleepIsAThreadInterruptionPoint) {
    std::atomic<bool> go{false};
    std::atomic<bool> interrupted{false};
    auto started = std::chrono::steady_clock::now();
    boost::thread sleeper([&] {
        while (!go)
            usleep(1000);
        try {
            util::sleep_seconds(30);
        } catch (const boost::thread_interrupted&) {
            interrupted = true;
        }
    });
    sleeper.interrupt();
    go = true;
    sleeper.join();
    EXPECT_TRUE(interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(UtilTest, SleepMs) {
    auto started = std::chrono::steady_clock::now();
    util::sleep_ms(30);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(30));
}

TEST_F(UtilTest, TerminalSizeOfStandardOutput) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_NE(master, -1);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_NE(slave, -1);
    struct winsize size = {};
    size.ws_row = 31;
    size.ws_col = 97;
    ASSERT_EQ(ioctl(slave, TIOCSWINSZ, &size), 0);

    fflush(stdout);
    int saved = dup(1);
    dup2(slave, 1);
    int width = util::terminal_width();
    int height = util::terminal_height();
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    dup2(pipe_ends[1], 1);
    int pipe_width = util::terminal_width();
    dup2(saved, 1);
    close(saved);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    close(slave);
    close(master);

    EXPECT_EQ(width, 97);
    EXPECT_EQ(height, 31);
    EXPECT_EQ(pipe_width, 0);
}

TEST_F(UtilTest, FileHasLineComparesTrimmedLines) {
    writeFile(dir.file("list"), "  first \n\tsecond\r\n\nlast-without-newline");
    struct Case {
        const char* line;
        bool found;
    };
    const Case cases[] = {{"first", true}, {" second ", true}, {"last-without-newline", true}, {"", true},
                          {"irst", false}, {"fourth", false},  {"first second", false}};
    for (const Case& c : cases)
        EXPECT_EQ(util::file_has_line(dir.file("list"), c.line), c.found) << '"' << c.line << '"';

    writeFile(dir.file("long"), std::string(5000, 'x') + "\n" + std::string(904, 'x') + "\n");
    EXPECT_TRUE(util::file_has_line(dir.file("long"), std::string(5000, 'x')));
    EXPECT_TRUE(util::file_has_line(dir.file("long"), std::string(904, 'x')));
    EXPECT_FALSE(util::file_has_line(dir.file("long"), std::string(4096, 'x')));
}

TEST_F(UtilTest, FileHasLineOfAMissingFileRaises) {
    try {
        util::file_has_line(dir.file("none"), "x");
        FAIL() << "no error raised";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), Messages().format("err_fileread1", dir.file("none"), strerror(ENOENT)) + "\n");
    }
}

// A `mail` that records its arguments and its input.
class SendMailTest : public UtilTest {
protected:
    void SetUp() override {
        UtilTest::SetUp();
        writeFile(dir.file("mail"), "#!/bin/sh\n"
                                    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$MAIL_ARGS\"\n"
                                    "cat > \"$MAIL_BODY\"\n"
                                    "exit ${MAIL_EXIT:-0}\n");
        chmod(dir.file("mail").c_str(), 0755);
        setenv("PATH", (dir.path() + ":" + util::get_env("PATH")).c_str(), 1);
        setenv("MAIL_ARGS", dir.file("args").c_str(), 1);
        setenv("MAIL_BODY", dir.file("body").c_str(), 1);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
};

TEST_F(SendMailTest, SubjectAndAddressReachMailAsWords) {
    openLog();
    util::send_mail("admin@example.com", "it's done; $(touch pwned)", "line 1\nline 2\n");
    EXPECT_EQ(readFile(dir.file("args")), "-s\nit's done; $(touch pwned)\nadmin@example.com\n");
    EXPECT_EQ(readFile(dir.file("body")), "line 1\nline 2\n");
    EXPECT_NE(access("pwned", F_OK), 0);
    std::string warning = Messages().getMessage("err_send_mail");
    EXPECT_THAT(logText(), Not(HasSubstr(warning)));
}

TEST_F(SendMailTest, FailedMailIsLoggedNotRaised) {
    openLog();
    setenv("MAIL_EXIT", "1", 1);
    util::send_mail("admin@example.com", "subject", "body");
    std::string warning = Messages().getMessage("err_send_mail");
    EXPECT_THAT(logText(), HasSubstr(warning));
}

} // namespace
