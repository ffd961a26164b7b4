// Digest authentication with password files, the password-file editor, and the access-control list.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace httpdtest;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

void page(httpd_arg* arg) {
    const char* user = httpd_get_env(arg, "REMOTE_USER");
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n\r\ncallback for %s", user ? user : "-");
    arg->flags |= HTTPD_DONE;
}

std::string md5_of(const std::vector<std::string>& pieces) {
    char out[33];
    switch (pieces.size()) {
    case 2:
        md5(out, pieces[0].c_str(), pieces[1].c_str(), nullptr);
        break;
    case 3:
        md5(out, pieces[0].c_str(), pieces[1].c_str(), pieces[2].c_str(), nullptr);
        break;
    default:
        md5(out, pieces[0].c_str(), pieces[1].c_str(), pieces[2].c_str(), pieces[3].c_str(),
            pieces[4].c_str(), pieces[5].c_str(), nullptr);
    }
    return std::string(out, 32);
}

class AuthTest : public DocumentRootTest {
protected:
    void SetUp() override {
        DocumentRootTest::SetUp();
        mkdir((root() + "/private").c_str(), 0755);
        writeFile(root() + "/private/f.txt", "protected");
        writeFile(root() + "/open.txt", "open");
        httpd_edit_password_file((root() + "/private/.htpasswd").c_str(), "moxel", "bob", "secret");
        httpd_edit_password_file(dir.file("put.passwd").c_str(), "moxel", "bob", "secret");
        writeFile(dir.file("upload.txt"), "0123456789");
    }

    void start(std::vector<std::string> args) {
        args.insert(args.begin(), {"-auth_realm", "moxel"});
        create(args);
        httpd_register_uri(server->ctx, "/private/cb", page, nullptr);
        server->start();
    }

    std::string curl(const std::string& options, const std::string& path) {
        return run("curl -s -w ' %{http_code}' " + options + " '" + url(path) + "'");
    }

    // A fresh nonce from a 401 reply.
    std::string nonce() {
        Client client(server->port());
        client.send("GET /private/f.txt HTTP/1.1\r\n\r\n");
        std::vector<Reply> replies = client.replies(1);
        std::string header = replies.empty() ? "" : replies[0].header("WWW-Authenticate");
        size_t start = header.find("nonce=\"") + 7;
        return header.substr(start, header.find('"', start) - start);
    }

    int getWithDigest(const std::string& path, const std::string& uri, const std::string& nonce,
                      std::string response) {
        if (response.empty())
            response = md5_of({md5_of({"bob", "moxel", "secret"}), nonce, "00000001", "c0ffee", "auth",
                               md5_of({"GET", uri})});
        Client client(server->port());
        client.send("GET " + path +
                    " HTTP/1.1\r\nAuthorization: Digest username=\"bob\", realm=\"moxel\", nonce=\"" + nonce +
                    "\", uri=\"" + uri + "\", qop=auth, nc=00000001, cnonce=\"c0ffee\", response=\"" +
                    response + "\"\r\n\r\n");
        std::vector<Reply> replies = client.replies(1);
        return replies.empty() ? 0 : replies[0].status();
    }
};

TEST_F(AuthTest, PasswordFileInTheDirectoryProtectsFilesAndCallbacks) {
    start({});
    EXPECT_EQ(curl("", "/open.txt"), "open 200");
    std::string refused = run("curl -s -i '" + url("/private/f.txt") + "'");
    EXPECT_NE(
        refused.find(
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"moxel\", nonce=\""),
        std::string::npos)
        << refused;
    EXPECT_EQ(curl("--digest -u bob:secret", "/private/f.txt"), "protected 200");
    EXPECT_EQ(curl("--digest -u bob:wrong", "/private/f.txt"), "Error: 401\r\n 401");
    EXPECT_EQ(curl("--digest -u bob:secret", "/private/cb"), "callback for bob 200");
    EXPECT_EQ(curl("", "/private/cb"), "Error: 401\r\n 401");
}

TEST_F(AuthTest, CredentialsHoldOnlyForTheirUriAndAFreshNonceOfThisServer) {
    start({});
    std::string fresh = nonce();
    EXPECT_EQ(getWithDigest("/private/f.txt", "/private/f.txt", fresh, ""), 200);
    // Replayed for another URI, with a nonce made up by the client, or a cut response.
    EXPECT_EQ(getWithDigest("/private/cb", "/private/f.txt", fresh, ""), 401);
    std::string forged = "9" + fresh.substr(1);
    EXPECT_EQ(getWithDigest("/private/f.txt", "/private/f.txt", forged, ""), 401);
    EXPECT_EQ(getWithDigest("/private/f.txt", "/private/f.txt", "12345", ""), 401);
    std::string good = md5_of({md5_of({"bob", "moxel", "secret"}), fresh, "00000001", "c0ffee", "auth",
                               md5_of({"GET", "/private/f.txt"})});
    EXPECT_EQ(getWithDigest("/private/f.txt", "/private/f.txt", fresh, good.substr(0, 31)), 401);
}

TEST_F(AuthTest, RealmMustMatchWhole) {
    writeFile(root() + "/private/.htpasswd", "bob:moxe:" + md5_of({"bob", "moxe", "secret"}) + "\n");
    start({});
    EXPECT_EQ(curl("--digest -u bob:secret", "/private/f.txt"), "Error: 401\r\n 401");
}

TEST_F(AuthTest, PutAndDeleteNeedDigestCredentialsFromTheirFile) {
    start({"-auth_PUT", dir.file("put.passwd")});
    std::string upload = "-T '" + dir.file("upload.txt") + "'";
    EXPECT_EQ(curl(upload, "/new/dir/file.txt"), "Error: 401\r\n 401");
    EXPECT_EQ(curl(upload + " --digest -u bob:secret", "/new/dir/file.txt"), " 201");
    EXPECT_EQ(readFile(root() + "/new/dir/file.txt"), "0123456789");
    EXPECT_EQ(curl(upload + " --digest -u bob:secret", "/new/dir/file.txt"), " 200");
    EXPECT_EQ(curl(upload + " --digest -u bob:wrong", "/new/dir/file.txt"), "Error: 401\r\n 401");
    EXPECT_EQ(curl("-X DELETE --digest -u bob:secret", "/new/dir/file.txt"), "Error: 200\r\n 200");
    struct stat st;
    EXPECT_NE(stat((root() + "/new/dir/file.txt").c_str(), &st), 0);
    EXPECT_EQ(curl("-X DELETE --digest -u bob:secret", "/new/dir/file.txt"), "Error: 500\r\n 500");
}

TEST_F(AuthTest, UploadReplyCarriesTheFileSizeAndCloses) {
    start({"-auth_PUT", dir.file("put.passwd")});
    std::string reply = run("curl -s -i -T '" + dir.file("upload.txt") + "' --digest -u bob:secret '" +
                            url("/a/b.txt") + "'");
    EXPECT_NE(reply.find("HTTP/1.1 201 OK\r\nContent-Length: 10\r\nConnection: close\r\n"), std::string::npos)
        << reply;
}

TEST_F(AuthTest, WithoutAPutFileNothingIsWritten) {
    start({});
    EXPECT_EQ(curl("-T '" + dir.file("upload.txt") + "' --digest -u bob:secret", "/x.txt"),
              "Error: 401\r\n 401");
    struct stat st;
    EXPECT_NE(stat((root() + "/x.txt").c_str(), &st), 0);
}

TEST(ProtectTest, PrefixMappingProtectsCallbacksAndLogsMissingFiles) {
    testsupport::TempDir dir;
    httpd_edit_password_file(dir.file("p.passwd").c_str(), "moxel", "bob", "secret");
    TestServer server({"-auth_realm", "moxel", "-error_log", dir.file("error.log"), "-protect",
                       "/admin=" + dir.file("p.passwd") + ",/gone=" + dir.file("missing")});
    httpd_register_uri(server.ctx, "/*", page, nullptr);
    server.start();
    std::string base = "curl -s -w ' %{http_code}' http://127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(run(base + "/admin/x"), "Error: 401\r\n 401");
    EXPECT_EQ(run(base + "/admin/x --digest -u bob:secret"), "callback for bob 200");
    EXPECT_EQ(run(base + "/gone/x"), "callback for - 200");
    std::string log = readFile(dir.file("error.log"));
    EXPECT_NE(log.find("] [error] [client 127.0.0.1] \"GET /gone/x HTTP/1.1\" check_auth: cannot open " +
                       dir.file("missing") + ": No such file or directory\n"),
              std::string::npos)
        << log;
}

TEST(PasswordFileTest, EditorReplacesTheLineOfUserAndRealmAndDropsBrokenLines) {
    testsupport::TempDir dir;
    std::string file = dir.file("passwd");
    writeFile(file, "ann:moxel:00\nbroken line\nbob:moxel:11\nbob:other:22\n");
    EXPECT_EQ(httpd_edit_password_file(file.c_str(), "moxel", "bob", "pw"), 0);
    EXPECT_EQ(readFile(file),
              "ann:moxel:00\nbob:moxel:" + md5_of({"bob", "moxel", "pw"}) + "\nbob:other:22\n");
    httpd_edit_password_file(file.c_str(), "moxel", "cid", "x");
    EXPECT_NE(readFile(file).find("\ncid:moxel:" + md5_of({"cid", "moxel", "x"}) + "\n"), std::string::npos);
    httpd_edit_password_file(dir.file("new").c_str(), "r", "u", "p");
    EXPECT_EQ(readFile(dir.file("new")), "u:r:" + md5_of({"u", "r", "p"}) + "\n");
}

sockaddr_storage ipv4(const char* text) {
    sockaddr_storage storage = {};
    sockaddr_in* sin = reinterpret_cast<sockaddr_in*>(&storage);
    sin->sin_family = AF_INET;
    inet_pton(AF_INET, text, &sin->sin_addr);
    return storage;
}

sockaddr_storage ipv6(const char* text) {
    sockaddr_storage storage = {};
    sockaddr_in6* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
    sin6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &sin6->sin6_addr);
    return storage;
}

TEST(AclTest, LastMatchingEntryDecidesWithMaskedNetworks) {
    TestServer server({});
    struct {
        const char* acl;
        sockaddr_storage peer;
        bool allowed;
    } cases[] = {
        {"-0.0.0.0/0,+127.0.0.1", ipv4("127.0.0.1"), true},
        {"-0.0.0.0/0,+127.0.0.1", ipv4("127.0.0.2"), false},
        {"+127.0.0.1,-0.0.0.0/0", ipv4("127.0.0.1"), false},
        {"-10.0.0.1/8", ipv4("10.0.0.5"), false},
        {"-10.0.0.1/8", ipv4("11.0.0.5"), true},
        {"+10.0.0.1/8", ipv4("10.0.0.1"), true},
        {"-192.168.1.0/24", ipv6("::ffff:192.168.1.7"), false},
        {"-127.0.0.1", ipv6("::7f00:1"), true},
        {"-0.0.0.0/0,+127.0.0.1", ipv6("::1"), false},
        {"", ipv4("1.2.3.4"), true},
    };
    for (const auto& c : cases) {
        httpd_set_option(server.ctx, "acl", c.acl);
        EXPECT_EQ(acl_allows(server.ctx, &c.peer) != 0, c.allowed) << c.acl;
    }
}

TEST(AclTest, RefusedClientsAreClosedAtOnce) {
    TestServer server({"-acl", "-127.0.0.2"});
    server.start();
    std::string base =
        "curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(server.port()) + "/x";
    EXPECT_EQ(run(base + " --interface 127.0.0.2"), "000");
    EXPECT_EQ(run(base + " --interface 127.0.0.1"), "404");
}

TEST(AclTest, SyntaxErrorsAreFatal) {
    EXPECT_EXIT(TestServer({"-acl", "*10.0.0.1"}), ::testing::ExitedWithCode(1),
                "flag must be \\+ or -: \\[\\*10.0.0.1\\]");
    EXPECT_EXIT(TestServer({"-acl", "+10.0.0.1/40"}), ::testing::ExitedWithCode(1),
                "bad subnet mask: 40 \\[\\+10.0.0.1/40\\]");
    EXPECT_EXIT(TestServer({"-acl", "+10.0.300.1"}), ::testing::ExitedWithCode(1),
                "bad ip address: \\[\\+10.0.300.1\\]");
    EXPECT_EXIT(TestServer({"-acl", "+10.0.1"}), ::testing::ExitedWithCode(1),
                "subnet must be \\[\\+\\|-\\]x.x.x.x\\[/x\\]");
}

} // namespace
