// Serving files: types, index files, listings, redirects, ranges, validators, uploads and deletions,
// and the confinement of every path to the document root.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace httpdtest;
using testsupport::writeFile;

namespace {

std::string numbered(size_t size) {
    std::string data(size, ' ');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>('0' + i % 10);
    return data;
}

class FileTest : public DocumentRootTest {
protected:
    void SetUp() override {
        DocumentRootTest::SetUp();
        mkdir((root() + "/docs").c_str(), 0755);
        mkdir((root() + "/list").c_str(), 0755);
        mkdir((root() + "/list/sub").c_str(), 0755);
        writeFile(root() + "/docs/index.htm", "<p>index</p>");
        writeFile(root() + "/f1000.bin", numbered(1000));
        writeFile(root() + "/Makefile", "all:\n");
        writeFile(root() + "/x.TAR.GZ", "gz");
        writeFile(root() + "/style.css", "p{}");
        writeFile(root() + "/list/a<b>.txt", "x");
        writeFile(root() + "/list/k2000", std::string(2000, 'k'));
        writeFile(root() + "/list/.htpasswd", "");
        int fd = open((root() + "/list/big").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(ftruncate(fd, 5 * 1048576), 0);
        close(fd);
        writeFile(dir.file("outside.txt"), "secret");
        ASSERT_EQ(symlink(dir.path().c_str(), (root() + "/up").c_str()), 0);
        ASSERT_EQ(symlink(dir.file("outside.txt").c_str(), (root() + "/leak.txt").c_str()), 0);
        ASSERT_EQ(symlink((root() + "/docs").c_str(), (root() + "/inside").c_str()), 0);
    }
};

TEST_F(FileTest, ContentTypesByExtension) {
    start({"-mime_types", "bin=application/x-moxel"});
    struct {
        const char* path;
        const char* type;
    } cases[] = {{"/Makefile", "text/plain"},
                 {"/x.TAR.GZ", "application/x-tar-gz"},
                 {"/style.css", "text/css"},
                 {"/f1000.bin", "application/x-moxel"},
                 {"/docs/index.htm", "text/html"}};
    for (const auto& c : cases) {
        Reply reply = get(std::string("GET ") + c.path + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(reply.status(), 200) << c.path;
        EXPECT_EQ(reply.header("Content-Type"), c.type) << c.path;
    }
    Reply reply = get("GET /f1000.bin HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.body, numbered(1000));
    EXPECT_EQ(reply.header("Accept-Ranges"), "bytes");
    EXPECT_FALSE(reply.header("Etag").empty());
}

TEST_F(FileTest, DirectoriesRedirectAndServeTheirIndexFile) {
    start({});
    EXPECT_EQ(run("curl -s -o /dev/null -w '%{http_code} %{redirect_url}' " + url("/docs")),
              "301 " + url("/docs/"));
    EXPECT_EQ(run("curl -sL " + url("/docs")), "<p>index</p>");
    Reply reply = get("GET /docs/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.header("Content-Type"), "text/html");
    EXPECT_EQ(get("GET /list/sub/ HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 403 Directory Listing Denied");
}

TEST_F(FileTest, ListingEscapesNamesAndHidesDotAndPasswordFile) {
    start({"-dir_list", "yes", "-auth_gpass", dir.file("none")});
    std::string page = run("curl -s " + url("/list/"));
    EXPECT_NE(page.find("<title>Index of /list/</title>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"/list/../\">../</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"/list/a%3Cb%3E.txt\">a&lt;b&gt;.txt</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"/list/sub/\">sub/</a>"), std::string::npos);
    EXPECT_NE(page.find("&nbsp;&nbsp;5.0M</td>"), std::string::npos);
    EXPECT_NE(page.find("&nbsp;&nbsp;2k</td>"), std::string::npos);
    EXPECT_NE(page.find("&nbsp;&nbsp;&lt;DIR&gt;</td>"), std::string::npos);
    EXPECT_EQ(page.find("href=\"/list/./\""), std::string::npos);
    EXPECT_EQ(page.find(".htpasswd"), std::string::npos);
}

TEST_F(FileTest, RangesAndUnsatisfiableRanges) {
    start({});
    EXPECT_EQ(run("curl -s -r 100-199 -w ' %{http_code}' " + url("/f1000.bin")),
              numbered(1000).substr(100, 100) + " 206");
    Reply reply = get("GET /f1000.bin HTTP/1.1\r\nRange: bytes=100-199\r\n\r\n");
    EXPECT_EQ(reply.status_line, "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(reply.header("Content-Range"), "bytes 100-199/1000");
    EXPECT_EQ(reply.body.size(), 100u);
    reply = get("GET /f1000.bin HTTP/1.1\r\nRange: bytes=900-\r\n\r\n");
    EXPECT_EQ(reply.body, numbered(1000).substr(900));
    reply = get("GET /f1000.bin HTTP/1.1\r\nRange: bytes=990-2000\r\n\r\n");
    EXPECT_EQ(reply.header("Content-Range"), "bytes 990-999/1000");
    for (const char* range : {"bytes=1000-", "bytes=5000-6000", "bytes=200-100"}) {
        reply = get(std::string("GET /f1000.bin HTTP/1.1\r\nRange: ") + range + "\r\n\r\n");
        EXPECT_EQ(reply.status(), 416) << range;
        EXPECT_EQ(reply.header("Content-Range"), "bytes */1000") << range;
    }
    EXPECT_EQ(run("curl -s -o /dev/null -w '%{http_code}' -r 3000-4000 " + url("/f1000.bin")), "416");
}

TEST_F(FileTest, NotModifiedSinceTheLastModification) {
    start({});
    Reply first = get("GET /f1000.bin HTTP/1.1\r\n\r\n");
    std::string modified = first.header("Last-Modified");
    ASSERT_FALSE(modified.empty());
    EXPECT_EQ(get("GET /f1000.bin HTTP/1.1\r\nIf-Modified-Since: " + modified + "\r\n\r\n").status(), 304);
    EXPECT_EQ(
        get("GET /f1000.bin HTTP/1.1\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n").status(),
        200);
    EXPECT_EQ(run("curl -s -o /dev/null -w '%{http_code}' -z '" + modified + "' " + url("/f1000.bin")),
              "304");
    EXPECT_EQ(get("GET /f1000.bin HTTP/1.1\r\n\r\n").header("Etag"), first.header("Etag"));
}

TEST_F(FileTest, HeadAndPipelinedRequestsKeepTheConnection) {
    start({});
    Client client(server->port());
    client.send("HEAD /f1000.bin HTTP/1.1\r\n\r\n");
    std::string head = client.headerBlock();
    EXPECT_NE(head.find("Content-Length: 1000\r\n"), std::string::npos) << head;
    client.send("GET /f1000.bin HTTP/1.1\r\n\r\nGET /style.css HTTP/1.1\r\n\r\n");
    std::vector<Reply> replies = client.replies(2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].body, numbered(1000).substr(0, 1000));
    EXPECT_EQ(replies[1].body, "p{}");
    EXPECT_FALSE(client.closedByServer(1));
}

TEST_F(FileTest, HeadSendsTheHeadersOfGet) {
    start({});
    std::string head = run("curl -sI " + url("/f1000.bin"));
    EXPECT_NE(head.find("HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_NE(head.find("Content-Length: 1000"), std::string::npos);
    EXPECT_NE(head.find("Content-Type: text/plain"), std::string::npos);
}

TEST_F(FileTest, EveryPathIsConfinedToTheRoot) {
    start({"-dir_list", "yes", "-aliases", "/al=" + root() + "/docs"});
    const char* hostile[] = {
        "/../outside.txt",
        "/%2e%2e/outside.txt",
        "/..%2foutside.txt",
        "/%2e%2e%2f%2e%2e%2foutside.txt",
        "/\\..\\outside.txt",
        "/up/outside.txt",
        "/up/www/../outside.txt",
        "/leak.txt",
        "/up/",
        "/al/../../outside.txt",
        "/al/%2e%2e/%2e%2e/outside.txt",
        "/.%2e/outside.txt",
        "//..//..//outside.txt",
        "/docs/....//outside.txt",
    };
    for (const char* path : hostile) {
        Reply reply = get(std::string("GET ") + path + " HTTP/1.1\r\n\r\n");
        EXPECT_NE(reply.status(), 200) << path;
        EXPECT_EQ(reply.body.find("secret"), std::string::npos) << path;
    }
    EXPECT_EQ(get("GET /inside/index.htm HTTP/1.1\r\n\r\n").body, "<p>index</p>");
    EXPECT_EQ(get("GET /al/index.htm HTTP/1.1\r\n\r\n").body, "<p>index</p>");
}

TEST_F(FileTest, NothingIsServedWithoutARoot) {
    server.reset(new TestServer({}));
    server->start();
    EXPECT_EQ(get("GET /etc/passwd HTTP/1.1\r\n\r\n").status(), 404);
    EXPECT_EQ(get("GET / HTTP/1.1\r\n\r\n").status(), 404);
}

TEST_F(FileTest, PasswordFilesAreNeverServed) {
    writeFile(root() + "/docs/x.htpasswd.txt", "hidden");
    start({});
    EXPECT_EQ(get("GET /docs/x.htpasswd.txt HTTP/1.1\r\n\r\n").status_line, "HTTP/1.1 403 Forbidden");
}

} // namespace
