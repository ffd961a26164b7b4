#include "web_ui/CookieHeader.h"

#include <gtest/gtest.h>

namespace {

using Pairs = std::map<std::string, std::string>;

TEST(CookieHeaderTest, ReadsPairs) {
    struct Case {
        std::string header;
        Pairs expected;
    } cases[] = {
        {"sessionID=abc", {{"sessionID", "abc"}}},
        {"a=1;b=2", {{"a", "1"}, {"b", "2"}}},
        {"a=1; \tb=2", {{"a", "1"}, {"b", "2"}}},
        {"sessionID=x; sessionID=y", {{"sessionID", "y"}}},
        {"a=", {{"a", ""}}},
        {"a=1\r\nignored", {{"a", "1"}}},
        {"a=b=c", {{"a", "b=c"}}},
        {"v=" + std::string(5000, 'v'), {{"v", std::string(5000, 'v')}}},
    };
    for (const auto& c : cases) {
        Pairs pairs;
        EXPECT_TRUE(parseCookieHeader(c.header, pairs)) << c.header;
        EXPECT_EQ(pairs, c.expected) << c.header;
    }
}

TEST(CookieHeaderTest, RefusesMalformedHeaders) {
    const std::string cases[] = {
        "sessionID=abc; ", // an empty pair after the separator
        "sessionID=abc;",
        "novalue",
        "a=1; novalue",
        ";a=1",
        "v=" + std::string(5001, 'v'),
        std::string(5001, 'n') + "=1",
    };
    for (const std::string& header : cases) {
        Pairs pairs;
        EXPECT_FALSE(parseCookieHeader(header, pairs)) << header.substr(0, 40);
    }
}

} // namespace
