#include "common/runtime/Messages.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct Numbers {
    int e_class, repeat, system_state, support;
};

Numbers numbersOf(const error& e) { return {e.getClass(), e.getRepeat(), e.getSystemState(), e.getSupport()}; }

bool operator==(const Numbers& a, const Numbers& b) {
    return a.e_class == b.e_class && a.repeat == b.repeat && a.system_state == b.system_state &&
           a.support == b.support;
}

class ErrorTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }
    std::string text(const char* key) { return Messages().getMessage(key); }
};

TEST_F(ErrorTest, DefaultErrorHasOneEmptyLine) {
    error e;
    EXPECT_EQ(e.getText(), "\n");
    EXPECT_EQ(e.getLines().size(), 1u);
    EXPECT_TRUE(numbersOf(e) == (Numbers{0, 0, 0, 0}));
}

TEST_F(ErrorTest, AddLinePrintsContextFirstAndKeepsClassification) {
    error e(4, 2, 1, 1);
    e << "a";
    e.addLine(5, 1, 3, 2) << "b";
    EXPECT_EQ(e.getText(), "b\na\n");
    EXPECT_TRUE(numbersOf(e) == (Numbers{4, 2, 1, 1}));
}

TEST_F(ErrorTest, AddLineFillsOnlyUnsetNumbers) {
    error all_unset;
    all_unset.addLine(5, 1, 3, 2);
    EXPECT_TRUE(numbersOf(all_unset) == (Numbers{5, 1, 3, 2}));

    error partly(0, 2, 0, 1);
    partly.addLine(5, 1, 3, 2);
    EXPECT_TRUE(numbersOf(partly) == (Numbers{5, 2, 3, 1}));
}

TEST_F(ErrorTest, PrependLineInsertsInFrontWhileBuildersAppendToTheLast) {
    error e;
    e << "a";
    e.prependLine(0, 0, 0, 0) << "x";
    ASSERT_EQ(e.getLines().size(), 2u);
    EXPECT_EQ(e.getLines()[0], "");
    EXPECT_EQ(e.getLines()[1], "ax");
    EXPECT_EQ(e.getText(), "ax\n\n");
}

TEST_F(ErrorTest, StreamsIntegersAndCharacters) {
    error e;
    e << "line " << 42 << ' ' << -7;
    EXPECT_EQ(e.getText(), "line 42 -7\n");
}

TEST_F(ErrorTest, UserErrorsGetNoAdvice) {
    error e(2, 2, 3, 3);
    e << "bad option";
    EXPECT_EQ(e.getReport(), "bad option\n");
}

TEST_F(ErrorTest, ReportAddsAdviceInOrder) {
    error e(4, 2, 1, 3);
    e << "disk full";
    EXPECT_EQ(e.getReport(), "disk full\n" + text("error_sys_stable") + "\n" + text("error_rep_again") + "\n" +
                                 text("error_supp_need"));
}

TEST_F(ErrorTest, ReportAdviceTable) {
    struct Case {
        Numbers numbers;
        std::string advice;
    };
    const Case cases[] = {
        {{4, 1, 2, 0}, text("error_sys_unsure")},
        {{4, 1, 3, 1}, text("error_sys_broken") + "\n" + text("error_supp_none")},
        {{3, 1, 0, 2}, "\n" + text("error_supp_maybe")},
        {{3, 2, 0, 0}, "\n" + text("error_rep_again")},
        {{1, 0, 0, 0}, ""},
        {{6, 3, 7, 9}, ""},
    };
    for (const Case& c : cases) {
        error e(c.numbers.e_class, c.numbers.repeat, c.numbers.system_state, c.numbers.support);
        e << "x";
        EXPECT_EQ(e.getReport(), "x\n" + c.advice) << c.numbers.e_class << c.numbers.repeat
                                                    << c.numbers.system_state << c.numbers.support;
    }
}

TEST_F(ErrorTest, ClassNames) {
    const std::pair<int, const char*> cases[] = {
        {1, "repository"},     {2, "user"},           {3, "internal"}, {4, "system"},
        {5, "dependencies"},   {6, "packages"},       {0, "e_class broken"},
        {7, "e_class broken"}, {-1, "e_class broken"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error(c.first, 0, 0, 0).getClassName(), c.second) << c.first;
}

TEST_F(ErrorTest, FlagsAreASet) {
    error e;
    e.setFlag(error::flag_expected_stop).setFlag(error::flag_expected_stop);
    EXPECT_TRUE(e.hasFlag(error::flag_expected_stop));
    EXPECT_FALSE(e.hasFlag(error::flag_report_logged));
    error copy(e);
    EXPECT_TRUE(copy.hasFlag(error::flag_expected_stop));
}

TEST_F(ErrorTest, InternalErrorNamesVersionRevisionUnitAndLine) {
    error e = internal_error("installer/ProductsProgress", 77);
    EXPECT_EQ(e.getText(), "An internal error occured in Moxel Installer 3.24.0, revision 718260c2a548, "
                           "installer/ProductsProgress, line 77.\n");
    EXPECT_TRUE(numbersOf(e) == (Numbers{3, 1, 1, 3}));
}

TEST_F(ErrorTest, CheckedPointerRaisesOnNull) {
    struct Target {
        int value = 5;
    };
    checked_pointer<Target> null_pointer;
    try {
        (void)null_pointer->value;
        FAIL() << "member access on null did not raise";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Try of use NULL pointer: common/runtime/checked_pointer.h:20\n");
        EXPECT_TRUE(numbersOf(e) == (Numbers{3, 1, 0, 3}));
    }
    try {
        (void)null_pointer.get();
        FAIL() << "get on null did not raise";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Try of use NULL pointer: common/runtime/checked_pointer.h:47\n");
    }
    Target target;
    checked_pointer<Target> pointer(&target);
    EXPECT_EQ(pointer->value, 5);
    EXPECT_EQ(pointer.get(), &target);
}

} // namespace
