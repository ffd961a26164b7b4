#include "common/runtime/TagSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

namespace {

// The tags as a sorted set, read back from toString.
std::set<std::string> tagsOf(const TagSet& set) {
    std::set<std::string> tags;
    std::istringstream text(set.toString());
    std::string tag;
    while (std::getline(text, tag, ','))
        tags.insert(tag);
    if (!set.toString().empty() && set.toString().back() == ',')
        tags.insert("");
    return tags;
}

TEST(TagSetTest, ParseNormalisesAndSplits) {
    struct Case {
        const char* list;
        std::set<std::string> tags;
        size_t length; // of toString, which tells "" from an empty set
    };
    const Case cases[] = {
        {"Beta, Stable", {"beta", "stable"}, 11},
        {"a,,b", {"a", "b"}, 3},
        {",a", {"", "a"}, 2},
        {"a,", {"", "a"}, 2},
        {" TESTING ", {"testing"}, 7},
        {"x,X, x ", {"x"}, 1},
    };
    for (const Case& c : cases) {
        TagSet set(true);
        set.parse(c.list);
        EXPECT_EQ(tagsOf(set), c.tags) << c.list;
        EXPECT_EQ(set.toString().size(), c.length) << c.list;
    }
}

TEST(TagSetTest, EmptySetStandsForStableOnlyWhenAsked) {
    TagSet stable(true);
    EXPECT_EQ(stable.toString(), "stable");
    EXPECT_TRUE(stable.contains("Stable"));
    EXPECT_TRUE(stable.contains(" STABLE "));
    EXPECT_FALSE(stable.contains("beta"));

    TagSet plain(false);
    EXPECT_EQ(plain.toString(), "");
    EXPECT_FALSE(plain.contains("stable"));
}

TEST(TagSetTest, ParsingAnEmptyTextLeavesOneEmptyTag) {
    TagSet set(true);
    set.parse("");
    EXPECT_EQ(set.toString(), "");
    EXPECT_FALSE(set.contains("stable"));
    EXPECT_TRUE(set.contains(""));
}

TEST(TagSetTest, ContainsNormalisesItsArgument) {
    TagSet set(true);
    set.parse("Beta, Stable");
    EXPECT_TRUE(set.contains(" STABLE "));
    EXPECT_TRUE(set.contains("beta"));
    EXPECT_FALSE(set.contains("testing"));
}

TEST(TagSetTest, ParseReplacesThePreviousTags) {
    TagSet set(false);
    set.parse("alpha,beta");
    set.parse("gamma");
    EXPECT_EQ(set.toString(), "gamma");
    EXPECT_FALSE(set.contains("alpha"));
}

TEST(TagSetTest, InsertKeepsTheTextAsGiven) {
    TagSet set(false);
    set.insert(" Mixed ");
    EXPECT_EQ(set.toString(), " Mixed ");
    EXPECT_FALSE(set.contains("mixed"));
    EXPECT_EQ(TagSet::normalize("\t Mixed \n"), "mixed");
}

} // namespace
