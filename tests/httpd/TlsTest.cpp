// TLS with openssl s_client and curl: handshakes, protocol settings, certificate chains, large replies.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace httpdtest;

namespace {

const size_t BIG_REPLY = 300 * 1024;

// A leaf certificate for localhost signed by an intermediate, which a root signed. server.pem holds the
// leaf, the intermediate and the leaf's key.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        std::string script =
            "cd '" + dir.path() +
            "' && exec >/dev/null 2>&1 && "
            "openssl req -x509" +
            key +
            "-keyout ca.key -out ca.crt -subj /CN=root -days 2 && "
            "openssl req" +
            key +
            "-keyout int.key -out int.csr -subj /CN=intermediate && "
            "printf 'basicConstraints=critical,CA:true\\nkeyUsage=keyCertSign\\n' > ca.ext && "
            "openssl x509 -req -in int.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
            "-extfile ca.ext -out int.crt && "
            "openssl req" +
            key +
            "-keyout leaf.key -out leaf.csr -subj /CN=localhost && "
            "openssl x509 -req -in leaf.csr -CA int.crt -CAkey int.key -CAcreateserial -days 2 "
            "-out leaf.crt && cat leaf.crt int.crt leaf.key > server.pem";
        ASSERT_EQ(system(script.c_str()), 0);
    }

    std::string pem() const { return dir.file("server.pem"); }

    // s_client's brief summary of a handshake with the given protocol switch.
    std::string handshake(int port, const std::string& protocol) {
        return run("openssl s_client -brief -connect 127.0.0.1:" + std::to_string(port) + " " + protocol +
                   " -CAfile '" + dir.file("ca.crt") + "' </dev/null 2>&1");
    }

    testsupport::TempDir dir;
};

void big_page(httpd_arg* arg) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\nContent-Length: %zu\r\n\r\n", BIG_REPLY);
    std::string body(BIG_REPLY, 'x');
    for (size_t i = 0; i < BIG_REPLY; i += 1024)
        body[i] = static_cast<char>('a' + (i / 1024) % 26);
    memcpy(arg->output.data + arg->output.used, body.data(), BIG_REPLY);
    arg->output.used += BIG_REPLY;
    arg->flags |= HTTPD_DONE;
}

void https_page(httpd_arg* arg) {
    const char* https = httpd_get_env(arg, "HTTPS");
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n\r\nhttps=%s", https ? https : "-");
    arg->flags |= HTTPD_DONE;
}

TEST_F(TlsTest, HandshakeVerifiesTheWholeChain) {
    TestServer server({"-ports", "0s", "-ssl_cert", pem()});
    server.start();
    std::string summary = handshake(server.port(), "");
    EXPECT_NE(summary.find("Protocol version: TLSv1.3"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Verification: OK"), std::string::npos) << summary;
}

TEST_F(TlsTest, ProtocolSettingRefusesOlderVersions) {
    TestServer server({"-ports", "0s", "-ssl_cert", pem(), "-ssl_protocols", "TLSv1.3"});
    server.start();
    EXPECT_NE(handshake(server.port(), "-tls1_3").find("Protocol version: TLSv1.3"), std::string::npos);
    std::string refused = handshake(server.port(), "-tls1_2");
    EXPECT_EQ(refused.find("Protocol version:"), std::string::npos) << refused;
}

TEST_F(TlsTest, NamingOlderVersionsKeepsTls13) {
    TestServer server({"-ports", "0s", "-ssl_cert", pem(), "-ssl_protocols", "  TLSv1.2"});
    server.start();
    EXPECT_NE(handshake(server.port(), "-tls1_2").find("Protocol version: TLSv1.2"), std::string::npos);
    EXPECT_NE(handshake(server.port(), "-tls1_3").find("Protocol version: TLSv1.3"), std::string::npos);
}

TEST_F(TlsTest, UnknownProtocolListsAreFatal) {
    EXPECT_EXIT(
        TestServer({"-ports", "0s", "-ssl_cert", pem(), "-ssl_protocols", "TLSv1.1,TLSv1.2"}),
        ::testing::ExitedWithCode(1),
        "Unknown protocol TLSv1.1,TLSv1.2\nNone of the requested SSL protocols \\(TLSv1.1,TLSv1.2\\) are "
        "supported.");
    EXPECT_EXIT(TestServer({"-ports", "0s", "-ssl_cert", pem(), "-ssl_protocols", "SSLv2"}),
                ::testing::ExitedWithCode(1),
                "None of the requested SSL protocols \\(SSLv2\\) are supported.");
    EXPECT_EXIT(TestServer({"-ports", "0s", "-ssl_cert", dir.file("missing.pem")}),
                ::testing::ExitedWithCode(1), "cannot open .*missing.pem");
}

TEST_F(TlsTest, LargeReplyArrivesWhole) {
    TestServer server({"-ports", "0s", "-ssl_cert", pem()});
    httpd_register_uri(server.ctx, "/big", big_page, nullptr);
    server.start();
    std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/big";
    // A slow reader makes the server retry its writes with the buffer moved on.
    std::string body = run("curl -sk --limit-rate 400k '" + url + "'");
    ASSERT_EQ(body.size(), BIG_REPLY);
    for (size_t i = 0; i < BIG_REPLY; i += 1024)
        ASSERT_EQ(body[i], static_cast<char>('a' + (i / 1024) % 26)) << i;
}

TEST_F(TlsTest, HttpsIsSetForEveryConnectionOfAServerWithACertificate) {
    TestServer server({"-ports", "0,0s", "-ssl_cert", pem()});
    httpd_register_uri(server.ctx, "/h", https_page, nullptr);
    server.start();
    EXPECT_EQ(run("curl -s http://127.0.0.1:" + std::to_string(server.port(0)) + "/h"), "https=1");
    EXPECT_EQ(run("curl -sk https://127.0.0.1:" + std::to_string(server.port(1)) + "/h"), "https=1");
}

TEST_F(TlsTest, FailedHandshakeEndsTheConnection) {
    TestServer server({"-ports", "0s", "-ssl_cert", pem()});
    server.start();
    Client client(server.port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(client.closedByServer());
}

} // namespace
