#include "installer/sources/DownloadUrl.h"

#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using testservers::HttpServer;

namespace {

class DownloadUrlTest : public downloadtest::DownloadTest {
protected:
    std::string text(const std::vector<char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

    error failure(const std::string& url) {
        try {
            downloadUrl(url);
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << "downloadUrl(" << url << ") succeeded";
        return error();
    }
};

TEST_F(DownloadUrlTest, ReturnsTheBytesAndErrorPagesAsContent) {
    HttpServer http(files.path());
    EXPECT_EQ(text(downloadUrl(http.url("blob.bin"))), blob);
    EXPECT_EQ(text(downloadUrl(http.url("missing.png"))), "status 404\n");
}

TEST_F(DownloadUrlTest, FailuresAreSystemErrors) {
    testsupport::writeFile(files.file("big.bin"), std::string(3 * 1024 * 1024, 'b'));
    HttpServer http(files.path());
    http.setRules(R"({"/stalled.bin": [{"stall": 10, "file": "blob.bin"}]})");
    const std::string refused = "http://127.0.0.1:" + std::to_string(testservers::freePort()) + "/icon.png";

    struct Case {
        std::string url;
        std::string expected;
    };
    const Case cases[] = {
        {http.url("big.bin"), Messages().getMessage("err_no_space2")},
        // A server that stops sending ends the transfer instead of holding the caller.
        {http.url("stalled.bin"), http.url("stalled.bin")},
        {refused, refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const error e = failure(c.url);
        EXPECT_THAT(e.getText(), HasSubstr(c.expected));
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

TEST_F(DownloadUrlTest, EmptyUrlIsAnInternalError) {
    const error e = failure("");
    EXPECT_THAT(e.getText(), HasSubstr("installer/DownloadUrl, line 15."));
    EXPECT_EQ(e.getClass(), 3);
}

} // namespace
