#include "common/packages/PooledString.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(PooledStringTest, EqualTextsShareOneCopy) {
    std::string built = std::string("x86_") + "64";
    PooledString a("x86_64"), b(built), c("x86_32");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_NE(a, c);
    EXPECT_STREQ(c.c_str(), "x86_32");
}

TEST(PooledStringTest, EmptyNullAndDefaultAreTheSameEmptyText) {
    PooledString byDefault, fromNull(static_cast<const char*>(nullptr)), fromEmpty("");
    EXPECT_TRUE(byDefault.empty());
    EXPECT_EQ(byDefault, fromNull);
    EXPECT_EQ(byDefault, fromEmpty);
    EXPECT_STREQ(byDefault.c_str(), "");
    EXPECT_FALSE(PooledString("a").empty());
}

TEST(PooledStringTest, TextsStayIntactAcrossChunksAndBeyondAChunk) {
    std::vector<std::pair<std::string, const char*>> kept;
    for (int i = 0; i < 20000; ++i) { // several arena chunks
        std::string text = "pkg-" + std::to_string(i) + std::string(i % 7, 'x');
        kept.emplace_back(text, PooledString(text).c_str());
    }
    std::string huge(0x10000 + 5, 'h');
    PooledString big(huge);
    EXPECT_EQ(big.str(), huge);
    EXPECT_EQ(PooledString(huge), big);

    std::set<const char*> distinct;
    for (const auto& entry : kept) {
        EXPECT_STREQ(entry.second, entry.first.c_str());
        EXPECT_EQ(PooledString(entry.first).c_str(), entry.second);
        distinct.insert(entry.second);
        // Copies are 4-byte aligned.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(entry.second) % 4, 0u);
    }
    EXPECT_EQ(distinct.size(), kept.size());
}

TEST(PooledStringTest, ConcurrentInterningAgrees) {
    std::vector<std::vector<const char*>> seen(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < 5000; ++i)
                seen[t].push_back(PooledString("concurrent-" + std::to_string(i)).c_str());
        });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t t = 1; t < seen.size(); ++t)
        EXPECT_EQ(seen[t], seen[0]);
}

} // namespace
