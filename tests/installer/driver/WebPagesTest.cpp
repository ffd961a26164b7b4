#include "installer/driver/WebPages.h"

#include <gtest/gtest.h>

namespace {

using Pages = std::vector<std::string>;

TEST(WebPagesTest, StartsEmptyAndResetsToTheSummary) {
    driver::WebPages pages;
    EXPECT_EQ(pages.current(), "");
    EXPECT_FALSE(pages.contains("summary"));
    pages.setCurrent("components");
    pages.reset();
    EXPECT_EQ(pages.visited(), Pages{"summary"});
    EXPECT_EQ(pages.current(), "summary");
    pages.clear();
    EXPECT_EQ(pages.current(), "");
}

TEST(WebPagesTest, PageReachedBeforeKeepsTheCurrentPage) {
    driver::WebPages pages;
    pages.reset();
    for (const char* id : {"installation-types", "components", "installation-types", "summary"})
        pages.setCurrent(id);
    EXPECT_EQ(pages.visited(), (Pages{"summary", "installation-types", "components"}));
    EXPECT_EQ(pages.current(), "components");
    EXPECT_TRUE(pages.contains("installation-types"));
    EXPECT_FALSE(pages.contains("params"));
}

} // namespace
