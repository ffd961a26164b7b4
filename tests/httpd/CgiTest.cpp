// CGI programs run by /bin/sh scripts: environment, status, streaming, failures and the time-out.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace httpdtest;
using testsupport::writeFile;

namespace {

class CgiTest : public DocumentRootTest {
protected:
    void SetUp() override {
        DocumentRootTest::SetUp();
        mkdir((root() + "/cgi").c_str(), 0755);
        script("env.cgi", "printf 'Content-Type: text/plain\\r\\n\\r\\n'; env | sort");
        script("status.cgi", "printf 'Status: 404\\r\\n\\r\\nmissing'");
        script("huge.cgi", "printf 'Status: 1000\\r\\n\\r\\n'");
        script("location.cgi", "printf 'Location: /elsewhere\\r\\n\\r\\n'");
        script("length.cgi", "printf 'Content-Length: 2\\r\\n\\r\\nok'");
        script("post.cgi", "printf '\\r\\n'; head -c \"$CONTENT_LENGTH\"");
        script("stream.cgi",
               "printf '\\r\\nfirst\\n'; i=0; while [ ! -e '" + dir.file("go") +
                   "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; printf 'second\\n'");
        script("bad.cgi", "printf 'X-A:\\tb\\r\\n\\r\\n'");
        script("fail.cgi", "exit 3");
        script("hang.cgi", "sleep 1000");
        writeFile(root() + "/cgi/plain.cgi", "printf '\\r\\nby interpreter %s' \"$0\"\n");
    }

    void script(const std::string& name, const std::string& body) {
        std::string path = root() + "/cgi/" + name;
        writeFile(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
    }

    void start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"-cgi_ext", "cgi", "-auth_realm", "moxel"});
        DocumentRootTest::start(args);
    }
};

TEST_F(CgiTest, ProgramSeesItsEnvironment) {
    start({"-cgi_env", "EXTRA=1"});
    Reply reply =
        get("GET /cgi/env.cgi/extra/path?a=1 HTTP/1.1\r\nX-Forwarded-For: a\r\nContent-Type: t/x\r\n\r\n");
    EXPECT_EQ(reply.status_line, "HTTP/1.1 200 OK");
    for (const std::string& line : std::vector<std::string>{
             "GATEWAY_INTERFACE=CGI/1.1", "SERVER_PROTOCOL=HTTP/1.1", "REDIRECT_STATUS=200",
             "SERVER_NAME=moxel", "DOCUMENT_ROOT=" + root(), "REQUEST_METHOD=GET", "REMOTE_ADDR=127.0.0.1",
             "REQUEST_URI=/cgi/env.cgi/extra/path", "SCRIPT_NAME=/cgi/env.cgi", "SCRIPT_FILENAME=env.cgi",
             "PATH_TRANSLATED=" + root() + "/cgi/env.cgi", "QUERY_STRING=a=1", "PATH_INFO=/extra/path",
             "CONTENT_TYPE=t/x", "HTTP_X_FORWARDED_FOR=a", "EXTRA=1",
             "SERVER_PORT=" + std::to_string(server->port())})
        EXPECT_NE(("\n" + reply.body).find("\n" + line + "\n"), std::string::npos) << line << "\n"
                                                                                   << reply.body;
}

TEST_F(CgiTest, StatusAndLocationHeadersSetTheStatusLine) {
    start();
    Reply reply = get("GET /cgi/status.cgi HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.status_line, "HTTP/1.1 404 OK");
    EXPECT_EQ(reply.header("Status"), "404");
    EXPECT_EQ(reply.body, "missing");
    EXPECT_EQ(get("GET /cgi/location.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 302 OK");
    EXPECT_EQ(get("GET /cgi/huge.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 599 OK");
}

TEST_F(CgiTest, ConnectionStaysOpenOnlyWithAContentLength) {
    start();
    Client with_length(server->port());
    with_length.send("GET /cgi/length.cgi HTTP/1.1\r\n\r\n");
    std::vector<Reply> replies = with_length.replies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].body, "ok");
    EXPECT_FALSE(with_length.closedByServer(1));
    Client without(server->port());
    without.send("GET /cgi/status.cgi HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(without.closedByServer());
}

TEST_F(CgiTest, PostBodyReachesTheProgram) {
    start();
    Reply reply = get("POST /cgi/post.cgi HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello world");
    EXPECT_EQ(reply.body, "hello world");
    EXPECT_EQ(get("HEAD /cgi/post.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 501 Bad method ");
}

TEST_F(CgiTest, BodyIsStreamedWhileTheProgramRuns) {
    start();
    Client client(server->port());
    client.send("GET /cgi/stream.cgi HTTP/1.1\r\n\r\n");
    std::string head = client.headerBlock();
    EXPECT_NE(head.find("HTTP/1.1 200 OK"), std::string::npos);
    for (int i = 0; i < 100 && client.received().find("first") == std::string::npos; ++i)
        client.replies(1, 0);
    EXPECT_EQ(client.received(), "first\n");
    writeFile(dir.file("go"), "");
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(client.received(), "first\nsecond\n");
}

TEST_F(CgiTest, FailingProgramsGetAnErrorReply) {
    start();
    EXPECT_EQ(get("GET /cgi/bad.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 500 Bad headers sent");
    EXPECT_EQ(get("GET /cgi/fail.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 500 Error running CGI");
    EXPECT_EQ(get("GET /cgi/plain.cgi HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 500 Error running CGI");
}

TEST_F(CgiTest, InterpreterRunsTheScriptInItsDirectory) {
    start({"-cgi_interp", "/bin/sh"});
    EXPECT_EQ(get("GET /cgi/plain.cgi HTTP/1.1\r\n\r\n").body, "by interpreter plain.cgi");
}

// Driven on this thread, so that the program's last output can be moved into the past.
TEST_F(CgiTest, HangingProgramIsKilledAfterTheTimeOut) {
    TestServer server({"-root", root(), "-cgi_ext", "cgi"});
    Client client(server.port());
    client.send("GET /cgi/hang.cgi HTTP/1.1\r\n\r\n");
    httpd_worker* worker = reinterpret_cast<httpd_worker*>(server.ctx->workers.next);
    const auto cgiConnection = [worker] {
        httpd_connection* found = nullptr;
        LIST_FOREACH(&worker->connections, entry, next) {
            httpd_connection* candidate = reinterpret_cast<httpd_connection*>(entry);
            if (candidate->loc.io_class == &io_cgi)
                found = candidate;
        }
        return found;
    };
    httpd_connection* c = nullptr;
    for (int i = 0; i < 100 && !c; ++i) {
        httpd_poll(server.ctx, 10);
        c = cgiConnection();
    }
    ASSERT_NE(c, nullptr);
    pid_t pid = c->loc.chan.cgi.pid;
    httpd_poll(server.ctx, 10);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);
    // Its last output lies a time-out back on every pass until the server has killed it; a program
    // still running after that is killed here, so that a fault fails the case instead of hanging it.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 500 && ended == 0; ++i) {
        if ((c = cgiConnection()))
            c->cgi_active = httpd_now - CGI_TIMEOUT - 1;
        httpd_poll(server.ctx, 10);
        ended = waitpid(pid, &status, WNOHANG);
    }
    if (ended == 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    ASSERT_EQ(ended, pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    for (int i = 0; i < 10; ++i)
        httpd_poll(server.ctx, 10);
    std::vector<Reply> replies = client.replies(1, 1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status_line, "HTTP/1.1 500 Error running CGI");
}

} // namespace
