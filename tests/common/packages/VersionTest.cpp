#include "common/packages/Version.h"
#include "common/packages/DebVersion.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

std::string text(const char* key) {
    return Messages().getMessage(key);
}

struct ParseCase {
    const char* text;
    int64_t epoch;
    bool hasEpoch;
    const char* version;
    const char* release;
    const char* printed;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
    return out << c.text;
}

class VersionParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(VersionParseTest, SplitsEpochVersionAndRelease) {
    const ParseCase& c = GetParam();
    Version v(c.text);
    EXPECT_EQ(v.epoch, c.epoch);
    EXPECT_EQ(v.hasEpoch, c.hasEpoch);
    EXPECT_EQ(v.version, c.version);
    EXPECT_EQ(v.release, c.release);
    EXPECT_EQ(v.toString(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VersionParseTest,
    ::testing::Values(ParseCase{"1:2.3-4.el7", 1, true, "2.3", "4.el7", "1:2.3-4.el7"},
                      ParseCase{"2.3-4-5", 0, false, "2.3", "4-5", "2.3-4-5"}, // first dash splits
                      ParseCase{"1.0-", 0, false, "1.0", "", "1.0"},
                      ParseCase{"2:", 2, true, "", "", "2:no_versioning_data"},
                      ParseCase{"1.0", 0, false, "1.0", "", "1.0"},
                      ParseCase{"0:1.0", 0, true, "1.0", "", "0:1.0"},
                      ParseCase{" 3x:1-2", 3, true, "1", "2", "3:1-2"}, // epoch read as atol does
                      ParseCase{"abc:1", 0, true, "1", "", "0:1"},
                      ParseCase{"1:2:3", 1, true, "2:3", "", "1:2:3"}));

TEST(VersionTest, EmptyTextOrLeadingDashIsRejected) {
    for (const char* bad : {"", "-1.0", "-"}) {
        try {
            Version v(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), text("err_empty_version") + "\n");
            EXPECT_EQ(e.getClass(), error::repository);
            EXPECT_EQ(e.getRepeat(), 1);
            EXPECT_EQ(e.getSystemState(), 1);
            EXPECT_EQ(e.getSupport(), 3);
        }
    }
}

TEST(VersionTest, SetReleaseIgnoresNullAndEmptyTexts) {
    Version v("1.0-5");
    EXPECT_EQ(v.setRelease(nullptr), -1);
    EXPECT_EQ(v.setRelease(""), -1);
    EXPECT_EQ(v.release, "5");
    EXPECT_EQ(v.setRelease("6.el8"), 0);
    EXPECT_EQ(v.toString(), "1.0-6.el8");
    EXPECT_EQ(v.getVersionWithEpoch(), "1.0");
}

struct CompareCase {
    const char* a;
    const char* b;
    int expected; // sign of compare(a, b); the reverse is expected to be the opposite
};

std::ostream& operator<<(std::ostream& out, const CompareCase& c) {
    return out << c.a << " vs " << c.b;
}

// Both directions of compare() and the operators built on it agree with the expected order.
template <typename VersionType> void expectOrder(const CompareCase& c) {
    VersionType a(c.a), b(c.b);
    EXPECT_EQ(sign(a.compare(b)), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(b.compare(a)), -c.expected) << c.b << " vs " << c.a;
    EXPECT_EQ(a == b, c.expected == 0);
    EXPECT_EQ(a < b, c.expected < 0);
    EXPECT_EQ(a > b, c.expected > 0);
}

class RpmCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(RpmCompareTest, OrdersByRpmRules) {
    expectOrder<Version>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, RpmCompareTest,
    ::testing::Values(CompareCase{"1.10", "1.9", 1}, CompareCase{"1.0a", "1.0", 1},
                      CompareCase{"1.0", "1.0.1", -1}, CompareCase{"1", "a", 1}, // digits beat letters
                      CompareCase{"1.01", "1.1", 0},                             // leading zeros do not count
                      CompareCase{"2.0", "2.0~rc1", -1},                         // '~' is only a separator
                      CompareCase{"1.0-1", "1.0-2", -1}, CompareCase{"1.0-10", "1.0-9", 1},
                      CompareCase{"0:1.0", "1.0", 1}, // any epoch beats none
                      CompareCase{"1:1.0", "2.0", 1}, CompareCase{"2:1.0", "10:0.1", -1},
                      CompareCase{"2_0", "2.0", 0}, CompareCase{"1.0", "1.0", 0},
                      CompareCase{"alpha", "beta", -1}, CompareCase{"1.0abc", "1.0ab", 1},
                      CompareCase{"12345678901234567890", "9", 1}, // longer digit run wins, no overflow
                      CompareCase{"1.0.el7", "1.0.7", -1}, CompareCase{"5.8-1.el9_2", "5.8-1.el9", 1}));

TEST(VersionTest, TrailingSeparatorsMakeTheLeftSideOlderBothWays) {
    Version dot("1."), underscore("1_");
    EXPECT_EQ(sign(dot.compare(underscore)), -1);
    EXPECT_EQ(sign(underscore.compare(dot)), -1);
}

TEST(VersionTest, EpochsCompareAsUnsignedNumbers) {
    Version big("1:1.0");
    big.epoch = -1; // a header value above the signed range
    Version small("5:1.0");
    EXPECT_GT(big.compare(small), 0);
}

class DebCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(DebCompareTest, OrdersByDebianRules) {
    expectOrder<DebVersion>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, DebCompareTest,
    ::testing::Values(CompareCase{"2.0~rc1", "2.0", -1}, // '~' sorts before the end of the text
                      CompareCase{"1.0~~", "1.0~", -1}, CompareCase{"1.0~rc1", "1.0~rc2", -1},
                      CompareCase{"1.0", "1.0a", -1},
                      CompareCase{"1.0a", "1.0+", -1},                                // letters before others
                      CompareCase{"1:1.0", "2.0", 1}, CompareCase{"0:1.0", "1.0", 0}, // epoch 0 is no epoch
                      CompareCase{"1.0-1", "1.0-1a1", -1},                            // the revisions decide
                      CompareCase{"2.3-4-5", "2.3-4-6", -1},                          // last dash splits
                      CompareCase{"2.3-4-9", "2.3-5-1", -1}, CompareCase{"1.10", "1.9", 1},
                      CompareCase{"1.01", "1.1", 0}, CompareCase{"1.0", "1.0-0", 0},
                      CompareCase{"7.4.33-1+deb11u1", "7.4.33-1", 1},
                      CompareCase{"1.2.3+dfsg-1~bpo11+1", "1.2.3+dfsg-1", -1}, CompareCase{"9", "10", -1},
                      CompareCase{"a", "1", 1}));

TEST(DebVersionTest, LeftOperandDecidesTheRules) {
    DebVersion deb("2.0~rc1");
    Version rpm("2.0");
    EXPECT_LT(deb.compare(rpm), 0);                              // Debian: the tilde is older
    EXPECT_GT(Version("2.0~rc1").compare(DebVersion("2.0")), 0); // RPM: the tilde is a separator
}

TEST(DebVersionTest, PartialComparisonsAreNotSupported) {
    DebVersion a("1.0"), b("2.0");
    auto expectInternal = [](auto call) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), text("err_no_debpartver") + "\n");
            EXPECT_EQ(e.getClass(), error::internal);
        }
    };
    expectInternal([&] { a.cmpEpoch(b); });
    expectInternal([&] { a.cmpVersion(b); });
    expectInternal([&] { a.cmpRelease(b); });
    expectInternal([&] { a.cmpString("1", "2"); });
}

struct BadSyntaxCase {
    const char* upstream; // put straight into the version field of the right-hand side
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const BadSyntaxCase& c) {
    return out << c.upstream;
}

class DebBadSyntaxTest : public ::testing::TestWithParam<BadSyntaxCase> {};

TEST_P(DebBadSyntaxTest, ReportsOnStandardErrorAndCountsTheLeftSideOlder) {
    Version other("1");
    other.version = GetParam().upstream;
    ::testing::internal::CaptureStderr();
    int result = DebVersion("1.0").compare(other);
    std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -255);
    EXPECT_EQ(written, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DebBadSyntaxTest,
    ::testing::Values(
        BadSyntaxCase{"1.0 x", "version b has bad syntax: version string has embedded spaces\n"},
        BadSyntaxCase{"1.a:3", "version b has bad syntax: epoch in version is not number\n"},
        BadSyntaxCase{"3:", "version b has bad syntax: nothing after colon in version number\n"},
        BadSyntaxCase{"<unknown>", "version b is noninformative\n"}));

TEST(DebVersionTest, BadLeftSideIsReportedAsVersionA) {
    DebVersion left("1");
    left.version = "x y";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(left.compare(Version("1.0")), -255);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "version a has bad syntax: version string has embedded spaces\n");
}

TEST(DebVersionTest, TrailingBlanksAreAllowed) {
    Version other("1.0");
    other.version = "  1.0 \t";
    ::testing::internal::CaptureStderr();
    EXPECT_NE(DebVersion("1.0").compare(other), -255);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(DebVersionTest, LongTextsCompareLikeShortOnes) {
    std::string prefix(600, '1');
    DebVersion a(prefix + ".2"), b(prefix + ".10");
    EXPECT_LT(a.compare(b), 0);
    EXPECT_GT(b.compare(a), 0);
}

} // namespace
