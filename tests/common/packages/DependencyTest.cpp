#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Package.h"
#include "common/runtime/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

using ::testing::HasSubstr;

namespace {

std::string printed(const Dependency& d) {
    std::ostringstream out;
    d.print(out);
    return out.str();
}

struct ParseCase {
    const char* text;
    const char* name;
    int relation;
    const char* version; // toString() of the version, null for none
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
    return out << c.text;
}

class DependencyParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(DependencyParseTest, FindsNameRelationAndVersion) {
    const ParseCase& c = GetParam();
    DependencyLogical d(c.text, nullptr);
    EXPECT_EQ(d.getName(), c.name);
    EXPECT_EQ(d.getRelation(), c.relation);
    if (c.version) {
        ASSERT_NE(d.getVersion(), nullptr);
        EXPECT_EQ(d.getVersion()->toString(), c.version);
    } else {
        EXPECT_EQ(d.getVersion(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DependencyParseTest,
    ::testing::Values(ParseCase{"foo", "foo", 0, nullptr}, ParseCase{"foo >= 1.0", "foo", 4, "1.0"},
                      ParseCase{"foo  =  2:1.0-3", "foo", 1, "2:1.0-3"},
                      ParseCase{"foo 1.0", "foo 1.0", 0, nullptr}, // no operator: all of it is the name
                      ParseCase{"lib(Foo::Bar) < 2", "lib(Foo::Bar)", 2, "2"},
                      ParseCase{"a <= 1", "a", 3, "1"}, ParseCase{"a > 1", "a", 5, "1"},
                      ParseCase{"a == 1", "a", 1, "1"}, ParseCase{"a => 1", "a", 1, "1"},
                      ParseCase{"a =< 1", "a", 1, "1"}, ParseCase{"a <> 1", "a", 3, "1"},
                      ParseCase{"= 1", "= 1", 0, nullptr}, ParseCase{" foo", " foo", 0, nullptr},
                      ParseCase{"perl(Carp) >= 1.26-2.el8", "perl(Carp)", 4, "1.26-2.el8"}));

TEST(DependencyLogicalTest, PrintsWithNormalisedSpacing) {
    EXPECT_EQ(printed(DependencyLogical("foo  =  2:1.0-3", nullptr)), "foo = 2:1.0-3");
    EXPECT_EQ(printed(DependencyLogical("foo>=1", nullptr)), "foo>=1");
    EXPECT_EQ(printed(DependencyLogical("a < 2", nullptr)), "a < 2");
    EXPECT_EQ(printed(DependencyLogical("a", nullptr)), "a");
}

TEST(DependencyLogicalTest, EmptyTextIsAnInternalError) {
    Package owner("owner", "1.0");
    try {
        DependencyLogical d("", &owner);
        FAIL() << "accepted an empty text";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("common/DependencyLogical, line 30."));
        EXPECT_EQ(e.getClass(), error::internal);
    }
}

TEST(DependencyLogicalTest, TrailingSpaceLeavesAnEmptyVersionWhichIsRejected) {
    EXPECT_THROW(DependencyLogical("foo >= ", nullptr), error);
}

TEST(DependencyLogicalTest, EntriesWithoutPackageBelongToTheDummyMaster) {
    DependencyLogical a("a", nullptr), b("b", nullptr);
    ASSERT_NE(a.getMaster(), nullptr);
    EXPECT_EQ(a.getMaster(), b.getMaster());
    EXPECT_STREQ(a.getMaster()->getName().c_str(), "dummy_masterpackage_for_dependency");
    EXPECT_EQ(a.getMaster()->getVersion().toString(), "1.2.3");
    EXPECT_EQ(a.getMaster()->getType(), 'd');
}

struct MatchCase {
    const char* a;
    const char* b;
    bool matches;
};

std::ostream& operator<<(std::ostream& out, const MatchCase& c) {
    return out << c.a << " / " << c.b;
}

class DependencyMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DependencyMatchTest, RangesOverlap) {
    const MatchCase& c = GetParam();
    DependencyLogical a(c.a, nullptr), b(c.b, nullptr);
    EXPECT_EQ(a.matches(&b), c.matches) << c.a << " / " << c.b;
    EXPECT_EQ(b.matches(&a), c.matches) << c.b << " / " << c.a;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, DependencyMatchTest,
    ::testing::Values(MatchCase{"a = 1", "a = 1", true}, MatchCase{"a = 1", "a = 2", false},
                      MatchCase{"a >= 2", "a = 3", true}, MatchCase{"a >= 2", "a < 3", true},
                      MatchCase{"a >= 2", "a < 2", false}, MatchCase{"a >= 2", "a <= 2", true},
                      MatchCase{"a > 1", "a = 1", false}, MatchCase{"a > 1", "a < 1", false},
                      MatchCase{"a <= 1", "a >= 1", true}, MatchCase{"a < 1", "a < 5", true},
                      MatchCase{"a > 1", "a >= 7", true}, MatchCase{"a < 2", "a > 1", true},
                      MatchCase{"a < 1", "a > 1", false}, MatchCase{"a", "a = 7", true},
                      MatchCase{"a", "a", true}, MatchCase{"a", "b", false},
                      MatchCase{"a = 1", "b = 1", false},
                      MatchCase{"a = 1.0", "a = 1.0-5", true}, // a missing release counts as equal
                      MatchCase{"a = 1.0-4", "a = 1.0-5", false},
                      MatchCase{"a = 1.0", "a = 0:1.0", true}, // a missing epoch counts as 0
                      MatchCase{"a = 1.0", "a = 1:1.0", false}, MatchCase{"a >= 1:1.0", "a = 2:0.1", true},
                      MatchCase{"a < 1:1.0", "a = 5.0", true}, MatchCase{"a >= 1.10", "a = 1.9", false}));

TEST(DependencyLogicalTest, NamesAreComparedByIdentity) {
    DependencyLogical a("libfoo.so.1()(64bit) >= 2", nullptr);
    DependencyLogical b(std::string("libfoo.so.1()(64bit)"), nullptr);
    DependencyLogical c("libfoo.so.2()(64bit)", nullptr);
    EXPECT_TRUE(a.sameName(&b));
    EXPECT_EQ(a.getPooledName(), b.getPooledName());
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_FALSE(a.sameName(&c));
}

TEST(DependencyLogicalTest, EqualsNeedsSameRelationAndEqualVersions) {
    DependencyLogical a("a >= 1.0", nullptr);
    EXPECT_TRUE(a.equals(std::make_shared<DependencyLogical>("a >= 1.00", nullptr).get()));
    EXPECT_FALSE(a.equals(std::make_shared<DependencyLogical>("a > 1.0", nullptr).get()));
    EXPECT_FALSE(a.equals(std::make_shared<DependencyLogical>("a >= 1.1", nullptr).get()));
    EXPECT_FALSE(a.equals(std::make_shared<DependencyLogical>("a", nullptr).get()));
    EXPECT_TRUE(
        DependencyLogical("a", nullptr).equals(std::make_shared<DependencyLogical>("a", nullptr).get()));
}

TEST(DependencyLogicalTest, CloneCopiesTheVersionButNotTheProviders) {
    Package owner("owner", "1.0");
    auto original = std::make_shared<DependencyLogical>("a >= 1.0-2", &owner);
    auto provide = std::make_shared<DependencyLogical>("a = 1.5", nullptr);
    original->addProvider(provide);

    auto copy = std::dynamic_pointer_cast<DependencyLogical>(original->clone());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->equals(original.get()));
    EXPECT_EQ(copy->getMaster(), &owner);
    EXPECT_NE(copy->getVersion(), original->getVersion());
    EXPECT_EQ(copy->getProviderCount(), 0u);
}

TEST(DependencyTest, ProvidersAreWeakReferences) {
    DependencyLogical require("a >= 1", nullptr);
    auto kept = std::make_shared<DependencyLogical>("a = 2", nullptr);
    {
        auto gone = std::make_shared<DependencyLogical>("a = 3", nullptr);
        require.addProvider(gone);
        require.addProvider(kept);
    }
    EXPECT_FALSE(require.getProvider(0));
    EXPECT_EQ(require.getProvider(1), kept);
    EXPECT_FALSE(require.getProvider(2));
}

TEST(DependencyTest, MatchesPackageTriesTheOwnProvideLast) {
    Package p("foo", "2.0-1");
    p.addProvide("libfoo = 3");
    EXPECT_TRUE(DependencyLogical("libfoo >= 3", nullptr).matchesPackage(&p));
    EXPECT_TRUE(DependencyLogical("foo > 1.0", nullptr).matchesPackage(&p));
    EXPECT_FALSE(DependencyLogical("foo > 2.0-1", nullptr).matchesPackage(&p));
    EXPECT_FALSE(p.visitProvides(std::make_shared<DependencyLogical>("foo", nullptr).get()));
}

TEST(DependencyTest, IgnoredRequirementsAreThoseOnRpmFeatures) {
    EXPECT_TRUE(isIgnoredRequirement("rpmlib(PayloadIsXz) <= 5.2-1"));
    EXPECT_FALSE(isIgnoredRequirement("librpmlib(x)"));
    EXPECT_FALSE(isIgnoredRequirement(""));
    EXPECT_FALSE(isIgnoredRequirement(static_cast<const char*>(nullptr)));
}

const char* const digest = "0123456789abcdefFEDCBA9876543210";

TEST(DependencyFileTest, SplitsThePathAtTheLastSlash) {
    auto file = DependencyFile::create("/usr/bin/tool", 0100755, "", nullptr);
    EXPECT_STREQ(file->getDir().c_str(), "/usr/bin/");
    EXPECT_STREQ(file->getBase().c_str(), "tool");
    EXPECT_EQ(file->getName(), "/usr/bin/tool");
    EXPECT_EQ(printed(*file), "/usr/bin/tool");

    auto bare = DependencyFile::create("tool", 0, "", nullptr);
    EXPECT_STREQ(bare->getDir().c_str(), "");
    EXPECT_EQ(bare->getName(), "tool");
    EXPECT_FALSE(file->matches(bare.get()));
}

TEST(DependencyFileTest, SamePathMatchesWhateverModeAndDigest) {
    auto a = DependencyFile::create("/usr/bin/tool", 0100755, digest, nullptr);
    auto b = DependencyFile::create("/usr/bin/tool", 0120777, "other", nullptr);
    auto logical = std::make_shared<DependencyLogical>("/usr/bin/tool", nullptr);
    EXPECT_TRUE(a->matches(b.get()));
    EXPECT_TRUE(a->matches(b));
    EXPECT_TRUE(a->equals(b.get()));
    EXPECT_TRUE(a->sameName(b.get()));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->matches(logical.get()));
    EXPECT_FALSE(logical->matches(a.get()));
}

TEST(DependencyTest, DistinctNamesHashApart) {
    // Interned names sit side by side in the arena; their hashes must still differ.
    std::set<uint64_t> logical, files;
    const int count = 5000;
    for (int i = 0; i < count; ++i) {
        logical.insert(DependencyLogical("name-" + std::to_string(i), nullptr).hash());
        files.insert(DependencyFile::create("/usr/lib/f" + std::to_string(i), 0, "", nullptr)->hash());
    }
    EXPECT_EQ(logical.size(), static_cast<size_t>(count));
    EXPECT_EQ(files.size(), static_cast<size_t>(count));
}

TEST(DependencyFileTest, RegularFilesKeepADigestOthersALink) {
    auto regular = DependencyFile::create("/etc/x.conf", 0100644, digest, nullptr);
    ASSERT_NE(regular->getMd5(), nullptr);
    EXPECT_EQ(regular->getMd5()->bytes[0], 0x01);
    EXPECT_EQ(regular->getMd5()->bytes[15], 0x10);
    EXPECT_EQ(regular->getDigestText(), "0123456789abcdeffedcba9876543210");
    EXPECT_TRUE(regular->getLink().empty());

    auto link = DependencyFile::create("/usr/bin/y", 0120777, "x", nullptr);
    EXPECT_EQ(link->getMd5(), nullptr);
    EXPECT_STREQ(link->getLink().c_str(), "x");
    EXPECT_EQ(link->getDigestText(), "x");

    auto directory = DependencyFile::create("/usr/share/doc", 040755, "anything", nullptr);
    EXPECT_EQ(directory->getMd5(), nullptr);
    EXPECT_STREQ(directory->getLink().c_str(), "anything");

    auto empty = DependencyFile::create("/etc/y.conf", 0100644, "", nullptr);
    EXPECT_EQ(empty->getMd5(), nullptr);
    EXPECT_EQ(empty->getDigestText(), "");
}

TEST(DependencyFileTest, Sha256DigestKeepsItsFirstHalf) {
    std::string sha256 = std::string(digest) + "ffffffffffffffffffffffffffffffff";
    auto file = DependencyFile::create("/etc/x.conf", 0100644, sha256, nullptr);
    EXPECT_EQ(file->getDigestText(), "0123456789abcdeffedcba9876543210");
}

TEST(DependencyFileTest, BadDigestsAreRejected) {
    try {
        DependencyFile::create("/etc/x.conf", 0100644, std::string(digest, 31), nullptr);
        FAIL() << "accepted 31 digits";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "MD5 string size is not 32- 31 0123456789abcdefFEDCBA987654321\n");
        EXPECT_EQ(e.getClass(), error::internal);
        EXPECT_EQ(e.getSupport(), 3);
    }
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    try {
        DependencyFile::create("/etc/x.conf", 0100644, "0123456789abcdeg0123456789abcdef", nullptr);
        FAIL() << "accepted a non-hex digit";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "MD5 string contains non-hex symbol: g (103)\n");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), ""); // standard output may carry an XML report
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "67\n");
}

TEST(DependencyFileTest, CloneKeepsOnlyMasterAndPath) {
    Package owner("owner", "1.0");
    auto file = DependencyFile::create("/etc/x.conf", 0100644, digest, &owner);
    auto copy = std::dynamic_pointer_cast<DependencyFile>(file->clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->getDir(), file->getDir());
    EXPECT_EQ(copy->getBase(), file->getBase());
    EXPECT_EQ(copy->getMaster(), &owner);
    EXPECT_EQ(copy->getMode(), 12345);
    EXPECT_EQ(copy->getMd5(), nullptr);
    EXPECT_TRUE(copy->getLink().empty());
}

TEST(DependencyFileTest, FileTypesFollowTheTypeBits) {
    struct {
        int mode;
        DependencyFile::file_type_t type;
    } cases[] = {{0040755, DependencyFile::DIRECTORY},   {0120777, DependencyFile::SYMLINK},
                 {0020666, DependencyFile::CHAR_DEVICE}, {0060660, DependencyFile::BLOCK_DEVICE},
                 {0140755, DependencyFile::SOCKET},      {0010644, DependencyFile::PIPE},
                 {0100644, DependencyFile::REGULAR},     {0, DependencyFile::REGULAR},
                 {12345, DependencyFile::REGULAR}};
    for (const auto& c : cases)
        EXPECT_EQ(DependencyFile::fileType(c.mode), c.type) << std::oct << c.mode;
}

TEST(DependencyFileTest, ManyEntriesStayIntact) {
    // More than one pool block of entries and digests.
    std::vector<std::shared_ptr<DependencyFile>> files;
    for (int i = 0; i < 0x4000 + 100; ++i)
        files.push_back(DependencyFile::create("/d/f" + std::to_string(i), 0100644, digest, nullptr));
    for (int i = 0; i < static_cast<int>(files.size()); i += 997) {
        EXPECT_EQ(files[i]->getName(), "/d/f" + std::to_string(i));
        EXPECT_EQ(files[i]->getDigestText(), "0123456789abcdeffedcba9876543210");
    }
}

} // namespace
