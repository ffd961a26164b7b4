// The calls a page callback makes, and how the server drives callbacks.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace httpdtest;

namespace {

struct Seen {
    std::mutex lock;
    std::vector<std::string> lines;
    void add(const std::string& line) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(line);
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
};

void reply(httpd_arg* arg, const std::string& body) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n\r\n%s", body.c_str());
    arg->flags |= HTTPD_DONE;
}

std::string text(const char* value) {
    return value ? value : "(null)";
}

void headers_page(httpd_arg* arg) {
    reply(arg, "cookie=" + text(httpd_get_header(arg, "cookie")) +
                   " x=" + text(httpd_get_header(arg, "X-Long")) + " addr=" +
                   text(httpd_get_env(arg, "REMOTE_ADDR")) + " https=" + text(httpd_get_env(arg, "HTTPS")) +
                   " user=" + text(httpd_get_env(arg, "REMOTE_USER")));
}

void body_page(httpd_arg* arg) {
    Seen* seen = static_cast<Seen*>(arg->user_data);
    seen->add(std::to_string(arg->input.size) + ((arg->flags & HTTPD_MORE_INPUT) ? " more" : " whole"));
    if (!(arg->flags & HTTPD_MORE_INPUT))
        reply(arg, std::to_string(arg->input.size));
}

void endless_page(httpd_arg* arg) {
    Seen* seen = static_cast<Seen*>(arg->user_data);
    if (arg->flags & HTTPD_ABORTED)
        seen->add("aborted");
    else if (!arg->state)
        arg->state = arg; // first call of the request
    else if (seen->all().empty())
        seen->add("called again");
}

void first_page(httpd_arg* arg) {
    reply(arg, "first");
}
void second_page(httpd_arg* arg) {
    reply(arg, "second");
}

std::string fetch(int port, const std::string& request) {
    Client client(port);
    client.send(request);
    std::vector<Reply> replies = client.replies(1);
    return replies.empty() ? std::string() : replies[0].body;
}

TEST(CallbackTest, HeadersMatchOnlyTheWholeNameFollowedByAColon) {
    TestServer server({});
    httpd_register_uri(server.ctx, "/h", headers_page, nullptr);
    server.start();
    EXPECT_EQ(fetch(server.port(), "GET /h HTTP/1.1\r\nCookie2: no\r\nCookie\r\ncookie:  yes\r\n\r\n"),
              "cookie=yes x=(null) addr=127.0.0.1 https=(null) user=(null)");
    EXPECT_EQ(fetch(server.port(),
                    "GET /h HTTP/1.1\r\nCookie: a=1\r\nX-Long: " + std::string(5000, 'v') + "\r\n\r\n")
                  .substr(0, 18),
              "cookie=a=1 x=vvvvv");
}

TEST(CallbackTest, NativeIpv6PeerKeepsItsAddress) {
    TestServer server({});
    httpd_register_uri(server.ctx, "/h", headers_page, nullptr);
    server.start();
    Client client(server.port(), "::1");
    if (!client.connected)
        GTEST_SKIP() << "no IPv6 loopback";
    client.send("GET /h HTTP/1.1\r\n\r\n");
    std::vector<Reply> replies = client.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(replies[0].body.find("addr=::1 "), std::string::npos) << replies[0].body;
}

TEST(CallbackTest, BodyInThreePartsIsAnnouncedUntilComplete) {
    TestServer server({});
    Seen seen;
    httpd_register_uri(server.ctx, "/body", body_page, &seen);
    server.start();
    Client client(server.port());
    client.send("POST /body HTTP/1.1\r\nContent-Length: 3000\r\n\r\n" + std::string(1000, 'a'));
    usleep(100000);
    client.send(std::string(1000, 'b'));
    usleep(100000);
    client.send(std::string(1000, 'c'));
    std::vector<Reply> replies = client.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].body, "3000");
    std::vector<std::string> lines = seen.all();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "1000 more");
    EXPECT_EQ(lines.back(), "3000 whole");
}

TEST(CallbackTest, UnfinishedCallbackIsCalledAgainAndToldOfTheAbort) {
    TestServer server({});
    Seen seen;
    httpd_register_uri(server.ctx, "/endless", endless_page, &seen);
    server.start();
    {
        Client client(server.port());
        client.send("GET /endless HTTP/1.1\r\n\r\n");
        for (int i = 0; i < 100 && seen.all().empty(); ++i)
            usleep(10000);
    }
    for (int i = 0; i < 200 && seen.all().size() < 2; ++i)
        usleep(10000);
    EXPECT_EQ(seen.all(), (std::vector<std::string>{"called again", "aborted"}));
}

void not_found_page(httpd_arg* arg) {
    reply(arg, std::string("custom ") + httpd_get_env(arg, "REQUEST_URI"));
}

TEST(CallbackTest, ErrorHandlerProducesTheErrorReply) {
    TestServer server({});
    httpd_handle_error(server.ctx, 404, not_found_page, nullptr);
    server.start();
    EXPECT_EQ(fetch(server.port(), "GET /nothing HTTP/1.1\r\n\r\n"), "custom /nothing");
}

std::atomic<void*> paused_connection{nullptr};

// Writes its first half, pauses, and finishes when woken.
void paused_page(httpd_arg* arg) {
    if (!arg->state) {
        httpd_printf(arg, "HTTP/1.1 200 OK\r\n\r\nfirst ");
        arg->state = arg->connection;
        arg->flags |= HTTPD_PAUSE;
        paused_connection = arg->connection;
    } else if (!paused_connection) {
        httpd_printf(arg, "second");
        arg->flags |= HTTPD_DONE;
    }
}

TEST(CallbackTest, PausedOutputFlowsAfterWakeup) {
    TestServer server({});
    httpd_register_uri(server.ctx, "/paused", paused_page, nullptr);
    server.start();
    Client client(server.port());
    client.send("GET /paused HTTP/1.1\r\n\r\n");
    for (int i = 0; i < 100 && !paused_connection; ++i)
        usleep(10000);
    ASSERT_NE(paused_connection.load(), nullptr);
    EXPECT_FALSE(client.closedByServer(1));
    EXPECT_EQ(client.received(), "");
    void* connection = paused_connection.exchange(nullptr);
    httpd_wakeup(connection);
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(client.received(), "HTTP/1.1 200 OK\r\n\r\nfirst second");
}

TEST(CallbackTest, FirstRegisteredPatternWins) {
    TestServer server({});
    httpd_register_uri(server.ctx, "/a*", first_page, nullptr);
    httpd_register_uri(server.ctx, "/a/b", second_page, nullptr);
    server.start();
    EXPECT_EQ(fetch(server.port(), "GET /a/b HTTP/1.1\r\n\r\n"), "first");
}

TEST(CallbackTest, PatternMatching) {
    struct {
        const char* pattern;
        const char* text;
        int match;
    } cases[] = {{"/a*", "/a/b/c", 1}, {"/a*", "/a", 1},      {"*.js", "/x/y.js", 1}, {"/a", "/ab", 0},
                 {"/A", "/a", 0},      {"/*/c", "/a/b/c", 1}, {"/*x", "/ab", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(match_pattern(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
}

TEST(CallbackTest, PrintfCutsAtTheEndOfTheReplyBuffer) {
    char buffer[32];
    httpd_arg arg = {};
    arg.output = {buffer, 30, 20};
    EXPECT_EQ(httpd_printf(&arg, "%s", "01234567890123456789"), 10);
    EXPECT_EQ(arg.output.used, 30);
    EXPECT_EQ(httpd_printf(&arg, "x"), 0);
    arg.output.used = 0;
    EXPECT_EQ(httpd_printf(&arg, "%d", 42), 2);
    EXPECT_EQ(arg.output.used, 2);
}

TEST(CallbackTest, FormVariablesAndUrlDecoding) {
    char out[16] = "untouched";
    const std::string form = "ba=1&a=2&A=x%41+y&t=%4";
    EXPECT_EQ(httpd_get_var("a", form.data(), form.size(), out, sizeof out), 1);
    EXPECT_STREQ(out, "2");
    const std::string upper = "a=x%41+y";
    EXPECT_EQ(httpd_get_var("A", upper.data(), upper.size(), out, sizeof out), 4);
    EXPECT_STREQ(out, "xA y");
    EXPECT_EQ(httpd_get_var("t", form.data(), form.size(), out, sizeof out), 2);
    EXPECT_STREQ(out, "%4");
    strcpy(out, "untouched");
    EXPECT_EQ(httpd_get_var("zz", form.data(), form.size(), out, sizeof out), -1);
    EXPECT_STREQ(out, "untouched");

    struct {
        std::string in;
        size_t size;
        const char* out;
    } cases[] = {{"%7e%7E", 16, "~~"}, {"a%", 16, "a%"}, {"a%4", 16, "a%4"}, {"%zz", 16, "%zz"},
                 {"abcdef", 4, "abc"}, {"abc", 1, ""},   {"+%2B", 16, " +"}};
    for (const auto& c : cases) {
        char decoded[16];
        // A source without a terminator: the trailing '%' must not read past it.
        std::vector<char> source(c.in.begin(), c.in.end());
        decode_url(source.data(), source.size(), decoded, c.size);
        EXPECT_STREQ(decoded, c.out) << c.in;
    }
}

TEST(CallbackTest, AccessLogLineOfANotFoundRequest) {
    testsupport::TempDir dir;
    TestServer server({"-access_log", dir.file("access.log")});
    server.start();
    Client client(server.port());
    client.send("GET /nothing HTTP/1.1\r\nReferer: http://r/\r\nUser-Agent: t/1\r\n\r\n");
    ASSERT_EQ(client.replies(1).size(), 1u);
    std::string log;
    for (int i = 0; i < 100 && log.empty(); ++i, usleep(10000))
        log = testsupport::readFile(dir.file("access.log"));
    EXPECT_NE(log.find("127.0.0.1 - - ["), std::string::npos) << log;
    EXPECT_NE(log.find(" +0000] \"GET /nothing HTTP/1.1\" 404 0 \"http://r/\" \"t/1\"\n"), std::string::npos)
        << log;
}

TEST(CallbackTest, ConfigPageShowsAndSetsOptions) {
    TestServer server({"-cfg_uri", "/config"});
    server.start();
    std::string page =
        fetch(server.port(), "POST /config HTTP/1.1\r\nContent-Length: 19\r\n\r\no=dir_list&v=%3Cyes");
    EXPECT_NE(page.find("<h1>TARVIK v. 1.41</h1>"), std::string::npos);
    EXPECT_NE(page.find("Saved: dir_list=&lt;yes"), std::string::npos) << page;
    server.stop();
    EXPECT_STREQ(server.ctx->options[OPT_DIR_LIST], "<yes");
}

TEST(CallbackTest, ConfigPageIgnoresUnknownOptions) {
    TestServer server({"-cfg_uri", "/config"});
    server.start();
    std::string page = fetch(server.port(), "POST /config HTTP/1.1\r\nContent-Length: 10\r\n\r\no=nope&v=1");
    EXPECT_EQ(page.find("Saved"), std::string::npos);
    EXPECT_NE(page.find("</table></body></html>"), std::string::npos);
}

} // namespace
