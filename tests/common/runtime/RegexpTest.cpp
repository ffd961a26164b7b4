#include "common/runtime/Regexp.h"
#include "common/runtime/Messages.h"
#include "common/runtime/RegexpList.h"
#include "common/runtime/error.h"
#include "tests/common/runtime/RuntimeTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using runtimetest::raised;
using ::testing::HasSubstr;

namespace {

class RegexpTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }

    static void expectInternal(const error& e, const char* key) {
        EXPECT_EQ(e.getText(), Messages().getMessage(key) + "\n");
        EXPECT_EQ(e.getClass(), 3);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 3);
    }
};

// Matching is the same with and without sub-expression mode.
TEST_F(RegexpTest, MatchesInBothModes) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"^\\d+$", "2024", true},
        {"^\\d+$", "20a4", false},
        {"^\\w+$", "snake_case9", true},
        {"^\\w+$", "with-dash", false},
        {"^[a\\-]+$", "a\\-a", true}, // a backslash inside brackets stands for itself
        {"^[^\\@]+@", "a\\b@c", false},
        {"^[^\\@]+@", "ab@c", true},
        {"^[[:alnum:]]+[[:blank:]]x$", "ab1\tx", true},
        {"^(a|b)+c?$", "abba", true},
        {"colou?r", "the color red", true},
        {"^second$", "first\nsecond", true}, // newline-sensitive: ^ and $ at line breaks
        {"a.b", "a\nb", false},              // and '.' never crosses one
        {"^[a-z0-9.-]+\\.[a-z]{2,}$", "host-1.example.com", true},
        {"^[a-z0-9.-]+\\.[a-z]{2,}$", "localhost", false},
        {"", "anything", true},
    };
    for (const Case& c : cases) {
        for (bool subexpr : {false, true}) {
            Regexp regexp(c.pattern, subexpr);
            EXPECT_EQ(regexp.match(c.text), c.matches)
                << c.pattern << " on " << c.text << " subexpr " << subexpr;
        }
    }
}

TEST_F(RegexpTest, BadPatternNamesPatternAndReason) {
    for (const char* pattern : {"(unbalanced", "a{2,1}", "[z-a]", "*x"}) {
        error e = raised([&] { Regexp regexp(pattern, false); });
        EXPECT_EQ(e.getLines().size(), 1u);
        EXPECT_THAT(e.getText(), HasSubstr(pattern));
        EXPECT_EQ(e.getClass(), 0);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

TEST_F(RegexpTest, NullTextIsAnInternalError) {
    Regexp regexp("x", false);
    expectInternal(raised([&] { regexp.match(nullptr); }), "err_bad_match_arg");
}

TEST_F(RegexpTest, SubMatchesWithAGroupThatTookNoPart) {
    Regexp regexp("^(\\w+)(-dev)?=(\\d*)$", true);
    EXPECT_EQ(regexp.getNumSubexpr(), 4);
    ASSERT_TRUE(regexp.matchSub("name=42"));
    EXPECT_EQ(regexp.getMatch(0), "name=42");
    EXPECT_EQ(regexp.getMatch(1), "name");
    EXPECT_EQ(regexp.getMatch(2), "");
    EXPECT_EQ(regexp.getMatch(3), "42");
    EXPECT_THROW(regexp.getMatch(4), std::out_of_range);
    EXPECT_THROW(regexp.getMatch(-1), std::out_of_range);

    Regexp optional("^x(y)?", true);
    ASSERT_TRUE(optional.matchSub("xz"));
    EXPECT_EQ(optional.getMatch(0), "x");
    EXPECT_EQ(optional.getMatch(1), "");
}

TEST_F(RegexpTest, FailedMatchSubForgetsThePreviousMatch) {
    Regexp regexp("(\\d+)", true);
    ASSERT_TRUE(regexp.matchSub("v 12 x"));
    EXPECT_EQ(regexp.getMatch(1), "12");
    EXPECT_FALSE(regexp.matchSub("none"));
    expectInternal(raised([&] { regexp.getMatch(0); }), "err_badmatch");
}

TEST_F(RegexpTest, SubExpressionCallsNeedSubExpressionMode) {
    Regexp plain("(a)", false);
    expectInternal(raised([&] { plain.getNumSubexpr(); }), "err_bad_subexpr");
    expectInternal(raised([&] { plain.matchSub("a"); }), "err_bad_subexpr2");
    expectInternal(raised([&] { plain.getMatch(0); }), "err_bad_submatch");

    Regexp fresh("(a)", true);
    expectInternal(raised([&] { fresh.getMatch(0); }), "err_badmatch");
}

TEST_F(RegexpTest, CopiesShareThePatternAndOutliveEachOther) {
    auto first = std::make_unique<Regexp>("^(\\d+)\\.(\\d+)$", true);
    Regexp second = *first;
    Regexp third("unrelated", false);
    third = *first;
    first.reset();
    ASSERT_TRUE(second.matchSub("3.24"));
    EXPECT_EQ(second.getMatch(2), "24");
    EXPECT_TRUE(third.match("1.2"));
    third = third;
    EXPECT_FALSE(third.match("1."));
}

TEST_F(RegexpTest, ListMatchesAnyInOrder) {
    RegexpList list;
    EXPECT_FALSE(list.matchAny("anything"));
    list.push_back(Regexp("^kernel", false));
    list.push_back(Regexp("-debuginfo$", false));
    EXPECT_TRUE(list.matchAny("kernel-headers"));
    EXPECT_TRUE(list.matchAny("zeq-debuginfo"));
    EXPECT_FALSE(list.matchAny("zeq-core"));
}

} // namespace
