#include "installer/sources/ExtCatalog.h"

#include "installer/sources/http_error.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testservers::HttpServer;

namespace {

class ExtCatalogTest : public downloadtest::DownloadTest {};

// Hands out a fixed feed text.
class FixedFeed : public ExtCatalog::IFeedDownloader {
public:
    explicit FixedFeed(std::string text) : text(std::move(text)) {}
    std::string download(const std::string&, const std::string&) override { return text; }

private:
    std::string text;
};

std::string entry(const std::string& code, const std::string& name, const std::string& version = "\"1.2\"") {
    return R"({"code": ")" + code + R"(", "name": ")" + name + R"(", "version": )" + version +
           R"(, "release": "3", "download_url": "https://ext.example/)" + code + R"(.zip", "extra": [1, 2]})";
}

std::vector<std::string> codesAndNames(const ExtCatalog::Feed& feed) {
    std::vector<std::string> result;
    for (const auto& item : feed)
        result.push_back(item.first + "=" + item.second.name + " " + item.second.version + "-" +
                         item.second.release);
    return result;
}

TEST_F(ExtCatalogTest, FeedServedOverHttpBecomesTheMap) {
    testsupport::writeFile(files.file("feed.json"),
                           "[" + entry("wp", "WordPress") + ", " + entry("git", "Git") + "]");
    HttpServer http(files.path());
    http.setRules(R"({"/catalog/": [{"file": "feed.json"}]})");

    const auto feed =
        ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(http.url("catalog")), "unix", "18.0.52");
    EXPECT_THAT(codesAndNames(feed), ElementsAre("git=Git 1.2-3", "wp=WordPress 1.2-3"));
    EXPECT_EQ(feed.at("wp").download_url, "https://ext.example/wp.zip");
    ASSERT_EQ(http.requests().size(), 1u);
    EXPECT_THAT(http.requests()[0],
                HasSubstr(R"("path": "/catalog/?platform=unix&version=18.0.52&ai-compatible")"));
    EXPECT_THAT(logText(), HasSubstr(Messages().getMessage("download_ext_catalog_feed")));
}

TEST_F(ExtCatalogTest, FeedThatIsNotJsonIsAParseError) {
    testsupport::writeFile(files.file("feed.json"), "[{\"code\": \"wp\",");
    HttpServer http(files.path());
    http.setRules(R"({"/": [{"file": "feed.json"}]})");
    try {
        ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(http.url()), "unix", "18.0");
        ADD_FAILURE() << "a broken feed was read";
    } catch (const error& e) {
        const std::string parse_text = Messages().getMessage("err_ext_catalog_feed_parse");
        EXPECT_THAT(e.getText(), HasSubstr(parse_text.substr(0, parse_text.find('%'))));
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

// A feed that never ends is cut at 16 MiB instead of filling the memory.
TEST_F(ExtCatalogTest, EndlessFeedIsRefused) {
    HttpServer http(files.path());
    http.setRules(R"({"/": [{"endless": true}]})");
    try {
        ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(http.url()), "unix", "18.0");
        ADD_FAILURE() << "an endless feed was read";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("larger than " + std::to_string(16 << 20) + " bytes"));
    }
}

// Arrays nested 100,000 deep would overflow the JSON reader's stack; such a feed is a parse error.
TEST_F(ExtCatalogTest, DeeplyNestedFeedIsAParseError) {
    for (const std::string& open : {std::string("["), std::string("{\"a\":")}) {
        std::string text;
        for (int i = 0; i < 100000; ++i)
            text += open;
        try {
            ExtCatalog::downloadFeed(std::make_shared<FixedFeed>(text), "unix", "18.0");
            ADD_FAILURE() << "a deep feed was read";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr("nested deeper than 64 levels"));
            EXPECT_EQ(e.getClass(), 4);
        }
    }
}

TEST_F(ExtCatalogTest, DownloadFailurePassesThrough) {
    Options::instance().downloadRetryCount = 1;
    HttpServer http(files.path());
    try {
        ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(http.url("none")), "unix", "18.0");
        ADD_FAILURE() << "a missing feed was read";
    } catch (const http_error& e) {
        EXPECT_EQ(e.getCode(), 404);
    }
}

TEST_F(ExtCatalogTest, EntriesAreReadByTheirValues) {
    struct Case {
        const char* name;
        std::string feed;
        std::vector<std::string> expected;
        bool item_error_logged;
    };
    const Case cases[] = {
        {"empty array", "[]", {}, false},
        {"object members are keyed by code",
         "{\"a\": " + entry("z", "Zed") + ", \"b\": " + entry("y", "Why") + "}",
         {"y=Why 1.2-3", "z=Zed 1.2-3"},
         false},
        {"entry without download_url is skipped",
         "[" + entry("a", "A") + R"(, {"code": "b", "name": "B", "version": "1", "release": "1"}, )" +
             entry("c", "C") + "]",
         {"a=A 1.2-3", "c=C 1.2-3"},
         true},
        {"later entry with the same code wins",
         "[" + entry("a", "First") + ", " + entry("a", "Second") + "]",
         {"a=Second 1.2-3"},
         false},
        {"number read as text", "[" + entry("n", "Num", "2.5") + "]", {"n=Num 2.5-3"}, false},
    };
    const std::string item_text = Messages().getMessage("err_ext_catalog_feed_parse_item");
    const std::string item_prefix = item_text.substr(0, item_text.find('%'));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Log::open_file(logPath(), true);
        const auto feed = ExtCatalog::downloadFeed(std::make_shared<FixedFeed>(c.feed), "unix", "18.0");
        EXPECT_EQ(codesAndNames(feed), c.expected);
        if (c.item_error_logged)
            EXPECT_THAT(logText(), HasSubstr(item_prefix));
        else
            EXPECT_THAT(logText(), Not(HasSubstr(item_prefix)));
    }
}

TEST_F(ExtCatalogTest, EmptyArgumentsAreInternalErrors) {
    struct Case {
        std::string base;
        std::string platform;
        std::string version;
        const char* line;
    };
    const Case cases[] = {
        {"", "unix", "18.0", "line 16."},
        {"http://127.0.0.1:1/", "", "18.0", "line 21."},
        {"http://127.0.0.1:1/", "unix", "", "line 22."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            ExtCatalog::createFeedDownloader(c.base)->download(c.platform, c.version);
            ADD_FAILURE() << "no error";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(),
                        HasSubstr("installer/ExtCatalogCurlFeedDownloader, " + std::string(c.line)));
            EXPECT_EQ(e.getClass(), 3);
        }
    }
}

} // namespace
