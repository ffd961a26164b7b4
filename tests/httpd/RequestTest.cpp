// Raw requests over a real socket: parsing, routing, error replies, keep-alive and pipelining.

#include "tests/httpd/HttpdTestSupport.h"

#include <gtest/gtest.h>

using namespace httpdtest;

namespace {

// Answers with the method, the decoded URI, the query and the request body it saw.
void echo(httpd_arg* arg) {
    if (arg->flags & HTTPD_MORE_INPUT)
        return;
    const char* query = httpd_get_env(arg, "QUERY_STRING");
    httpd_printf(arg, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n%s %s %s [%.*s]",
                 httpd_get_env(arg, "REQUEST_METHOD"), httpd_get_env(arg, "REQUEST_URI"), query ? query : "-",
                 arg->input.size, arg->input.data);
    arg->input.used = arg->input.size;
    arg->flags |= HTTPD_DONE;
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        httpd_register_uri(server.ctx, "/cb*", echo, nullptr);
        httpd_register_uri(server.ctx, "/a/b", echo, nullptr);
        server.start();
    }
    TestServer server{{}};
};

struct RawCase {
    const char* name;
    std::string request;
    std::vector<int> statuses;
    bool closes;
    std::string body_part; // expected inside the last reply's body
};

TEST_F(RequestTest, RawRequestsGetTheirExactReplies) {
    // Exactly one full buffer, so that nothing stays unread when the server closes.
    const std::string big_header = "GET /cb HTTP/1.1\r\n" + std::string(IO_LIMIT - 18, 'a');
    const std::vector<RawCase> cases = {
        {"shortest request", "GET / HTTP/1.0\n\n", {404}, true, "Error: 404"},
        {"one byte short", "GET / HTTP/1.\n\n", {400}, true, "Error: 400"},
        {"tab in a header", "GET /cb HTTP/1.1\r\nX-A:\tb\r\n\r\n", {400}, true, ""},
        {"version 1.2", "GET /x HTTP/1.2\r\n\r\n", {505}, false, ""},
        {"junk after version", "GET /x HTTP/1.1 junk\r\n\r\n", {400}, true, ""},
        {"no version", "GET /x\r\n\r\n", {400}, true, ""},
        {"unknown method", "OPTIONS /cb HTTP/1.1\r\n\r\n", {501}, true, ""},
        {"relative URI", "GET cb HTTP/1.1\r\n\r\n", {400}, false, ""},
        {"dot-relative URI", "GET ./cb HTTP/1.1\r\n\r\n", {400}, false, ""},
        {"absolute URI", "GET http://h/cb HTTP/1.1\r\n\r\n", {400}, false, ""},
        {"decoded NUL", "GET /cb%00.x HTTP/1.1\r\n\r\n", {400}, false, ""},
        {"dot segments squeezed", "GET /a/%2e%2e/b?q=1 HTTP/1.1\r\n\r\n", {200}, true, "GET /a/b q=1 []"},
        {"folded header", "GET /cb HTTP/1.1\r\nX-A: b\r\n c\r\n\r\n", {400}, true, ""},
        {"header without colon ignored", "GET /cb HTTP/1.1\r\nNo colon here\r\n\r\n", {200}, true, "GET /cb"},
        {"repeated equal lengths",
         "POST /cb HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nok",
         {200},
         true,
         "[ok]"},
        {"conflicting lengths",
         "POST /cb HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc",
         {400},
         true,
         ""},
        {"signed length", "POST /cb HTTP/1.1\r\nContent-Length: -1\r\n\r\n", {400}, true, ""},
        {"length without blank", "POST /cb HTTP/1.1\r\nContent-length:3\r\n\r\nabc", {200}, true, "[abc]"},
        {"oversized header block", big_header, {400}, true, "Error: 400"},
        {"body with length",
         "POST /cb HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
         {200},
         true,
         "POST /cb - [hello]"},
        {"body without length is no body", "POST /cb HTTP/1.1\r\n\r\nhello", {200}, true, "POST /cb - []"},
        {"pipelined error replies",
         "GET /x HTTP/1.1\r\n\r\nHEAD /y HTTP/1.1\r\n\r\nGET /cb HTTP/1.1\r\n\r\n",
         {404, 404, 200},
         true,
         "GET /cb"},
        {"connection close", "GET /x HTTP/1.1\r\nConnection: close\r\n\r\n", {404}, true, ""},
        {"HTTP/1.0 closes", "GET /x HTTP/1.0\r\n\r\n", {404}, true, ""},
        {"unread body closes",
         "POST /x HTTP/1.1\r\nContent-Length: 20\r\n\r\nGET /cb HTTP/1.1\r\n\r\n",
         {404},
         true,
         ""},
        {"chunked body closes",
         "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         {404},
         true,
         ""},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.name);
        Client client(server.port());
        ASSERT_TRUE(client.send(c.request));
        std::vector<Reply> replies = client.replies(c.statuses.size());
        ASSERT_EQ(replies.size(), c.statuses.size()) << client.received();
        for (size_t i = 0; i < replies.size(); ++i)
            EXPECT_EQ(replies[i].status(), c.statuses[i]);
        if (!c.body_part.empty()) {
            EXPECT_NE(replies.back().body.find(c.body_part), std::string::npos) << replies.back().body;
        }
        if (c.closes)
            EXPECT_TRUE(client.closedByServer());
        else
            EXPECT_FALSE(client.closedByServer(1));
    }
}

TEST_F(RequestTest, ErrorReplyHasTheFixedForm) {
    Client client(server.port());
    client.send("GET /missing HTTP/1.1\r\n\r\n");
    std::vector<Reply> replies = client.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status_line, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(replies[0].header("Content-Type"), "text/plain");
    EXPECT_EQ(replies[0].header("Content-Length"), "12");
    EXPECT_EQ(replies[0].body, "Error: 404\r\n");
}

TEST_F(RequestTest, RequestArrivingByteByByteIsParsedOnce) {
    Client client(server.port());
    std::string request = "POST /cb HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz";
    for (char ch : request) {
        client.send(std::string(1, ch));
        usleep(1000);
    }
    std::vector<Reply> replies = client.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(replies[0].body.find("POST /cb - [xyz]"), std::string::npos);
}

// Driven on this thread, so that the connection's clock can be moved into the past.
TEST(RequestTimeoutTest, SlowHeadersAndIdleConnectionsEnd) {
    struct {
        const char* name;
        std::string sent;
        time_t httpd_connection::*clock;
        time_t moved;
    } cases[] = {
        {"header block late", "GET / HTTP/1.1\r\nHost: x\r\n", &httpd_connection::birth, HEADER_TIMEOUT + 1},
        {"idle after a reply", "GET /missing HTTP/1.1\r\n\r\n", &httpd_connection::expire, IDLE_TIMEOUT + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server({});
        Client client(server.port());
        client.send(c.sent);
        httpd_worker* worker = reinterpret_cast<httpd_worker*>(server.ctx->workers.next);
        for (int i = 0; i < 20; ++i)
            httpd_poll(server.ctx, 10);
        ASSERT_EQ(worker->num_conns, 1);
        httpd_connection* connection = reinterpret_cast<httpd_connection*>(worker->connections.next);
        connection->*c.clock -= c.moved;
        for (int i = 0; i < 5; ++i)
            httpd_poll(server.ctx, 10);
        EXPECT_EQ(worker->num_conns, 0);
        EXPECT_TRUE(client.closedByServer(1));
    }
}

TEST(RequestParsingTest, HeaderBlockLength) {
    struct {
        std::string data;
        int length;
    } cases[] = {
        {"GET / HTTP/1.0\n\n", 16}, {"GET / HTTP/1.0\r\n\r\nrest", 18}, {"GET / HTTP/1.0\n\r\n", 17},
        {"GET / HTTP/1.0\r\n", 0},  {"GET /\t HTTP/1.0\n\n", -1},       {"GET /\x80 HTTP/1.0\n\n", 17},
    };
    for (const auto& c : cases)
        EXPECT_EQ(header_block_length(c.data.data(), c.data.size()), c.length) << c.data;
}

TEST(RequestParsingTest, DatesInEveryFormAndTheFallback) {
    const time_t expected = 784111777; // 06 Nov 1994 08:49:37 GMT
    for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "06/Nov/1994 08:49:37", "06 Nov 1994 08:49:37",
                             "06-Nov-94 08:49:37"})
        EXPECT_EQ(parse_date(text), expected) << text;
    EXPECT_EQ(parse_date("06-Nov-05 08:49:37"), 1131266977);
    const time_t fallback = 946598400; // 31 Dec 1999 00:00:00 UTC
    for (const char* text : {"yesterday", "06 nov 1994 08:49:37", "Sun, 06 Nov 1994"})
        EXPECT_EQ(parse_date(text), fallback) << text;
}

TEST(RequestParsingTest, SqueezePathDropsDotsAndSlashesAfterEverySeparator) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {{"/a/../b", "/a/b"},    {"//x", "/x"},        {"/.htpasswd", "/htpasswd"},
                 {"/a\\..\\b", "/a\\b"}, {"/a.b/c", "/a.b/c"}, {"/...", "/"}};
    for (const auto& c : cases) {
        std::string path = c.in;
        squeeze_path(&path[0]);
        EXPECT_STREQ(path.c_str(), c.out) << c.in;
    }
}

} // namespace
