// Include pages: includes, commands, conditions, function calls and the nesting limit.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace httpdtest;
using testsupport::writeFile;

namespace {

void yes(httpd_arg* arg) {
    arg->flags |= HTTPD_TRUE;
}
void no(httpd_arg*) {}

void greet(httpd_arg* arg) {
    httpd_printf(arg, "hello %.*s", arg->input.size, arg->input.data);
    arg->flags |= HTTPD_DONE;
}

class SsiTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(root().c_str(), 0755);
        mkdir((root() + "/inc").c_str(), 0755);
        writeFile(root() + "/inc/one.html", "[one]");
        writeFile(dir.file("outside.txt"), "secret");
        for (int level = 1; level <= 7; ++level)
            writeFile(root() + "/inc/n" + std::to_string(level) + ".html",
                      std::to_string(level) + "<!--#include virtual=\"/inc/n" + std::to_string(level + 1) +
                          ".html\" -->");
    }

    std::string page(const std::string& text) {
        writeFile(root() + "/inc/page.shtml", text);
        TestServer server({"-root", root(), "-ssi_ext", "shtml"});
        httpd_register_ssi_func(server.ctx, "yes", yes, nullptr);
        httpd_register_ssi_func(server.ctx, "no", no, nullptr);
        httpd_register_ssi_func(server.ctx, "greet", greet, nullptr);
        server.start();
        Client client(server.port());
        client.send("GET /inc/page.shtml HTTP/1.1\r\n\r\n");
        std::vector<Reply> replies = client.replies(1);
        return replies.empty() ? "(no reply)" : replies[0].body;
    }

    std::string root() const { return dir.file("www"); }
    testsupport::TempDir dir;
};

TEST_F(SsiTest, DirectivesAreCarriedOut) {
    struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"A<!--#include virtual=\"/inc/one.html\" -->B", "A[one]B"},
        {"A<!--#include file=\"one.html\" -->B", "A[one]B"},
        {"A<!--#exec \"echo hi\" -->B", "Ahi\nB"},
        {"<!--#if cond -->A<!--#else -->B<!--#endif -->", "B"},
        {"<!--#if yes -->A<!--#else -->B<!--#endif -->", "A"},
        {"<!--#if no -->A<!--#elif yes -->B<!--#else -->C<!--#endif -->", "B"},
        {"<!--#if yes -->A<!--#elif yes -->B<!--#else -->C<!--#endif -->D", "AD"},
        {"<!--#call greet world -->!", "hello world!"},
        {"<!--#if no --><!--#exec \"echo hidden\" --><!--#endif -->shown", "shown"},
        {"x<!--#foo -->y", "x<!--#foo --y"},
        {"a < b <!- c", "a < b <!- c"},
        {"<!--#include virtual=\"/../outside.txt\" -->|<!--#include \"../outside.txt\" -->", "|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(page(c.text), c.result) << c.text;
}

TEST_F(SsiTest, SixthNestedIncludeIsRefused) {
    EXPECT_EQ(page("0<!--#include virtual=\"/inc/n1.html\" -->end"), "012345end");
}

TEST_F(SsiTest, PageHasTheFixedHeaders) {
    writeFile(root() + "/p.shtml", "x");
    TestServer server({"-root", root(), "-ssi_ext", "shtml"});
    server.start();
    Client client(server.port());
    client.send("GET /p.shtml HTTP/1.1\r\n\r\n");
    std::vector<Reply> replies = client.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header("Content-Type"), "text/html");
    EXPECT_EQ(replies[0].header("Connection"), "close");
    EXPECT_EQ(replies[0].body, "x");
}

} // namespace
