#include "installer/web/WebInterface.h"

#include "common/runtime/error.h"
#include "installer/driver/Options.h"
#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <memory>
#include <regex>

namespace {

TEST(WebInterfaceTest, SecretIsFreshRandomLettersInTheEnvironment) {
    const std::string first = WebInterface::generateSecret();
    EXPECT_TRUE(std::regex_match(first, std::regex("[a-z]{28}"))) << first;
    EXPECT_EQ(std::getenv("WEB_SECRET"), first);
    const std::string second = WebInterface::generateSecret();
    EXPECT_NE(second, first);
    EXPECT_EQ(std::getenv("WEB_SECRET"), second);
}

TEST(WebInterfaceTest, UrlNamesSchemeHostAndPort) {
    EXPECT_EQ(WebInterface::url("panel.example.com", false), "http://panel.example.com:8447/");
    EXPECT_EQ(WebInterface::url("10.0.0.5", true), "https://10.0.0.5:8447/");
}

// A listening socket on the wizard's port, or -1 when the port is in use.
int listenOnWizardPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(WebInterface::port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One case, so that no two processes of this binary want the fixed port at once.
TEST(WebInterfaceTest, ServesOnItsPortUntilDestroyedAndFailsWhenThePortIsTaken) {
    testsupport::TempDir dir;
    testsupport::openDebugLog(dir.file("installer.log"));
    Options& options = Options::instance();
    options.sslCert.clear();
    options.openBrowser = false;
    const int probe = listenOnWizardPort();
    if (probe < 0)
        GTEST_SKIP() << "port 8447 is in use";
    close(probe);

    {
        WebInterface web;
        httpdtest::Client client(WebInterface::port);
        ASSERT_TRUE(client.connected);
        client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        std::vector<httpdtest::Reply> replies = client.replies(1);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status(), 200);
        EXPECT_NE(replies[0].body.find("name=\"password\""), std::string::npos);
    }
    EXPECT_FALSE(httpdtest::Client(WebInterface::port).connected);

    const int taken = listenOnWizardPort();
    ASSERT_GE(taken, 0);
    try {
        WebInterface web;
        FAIL() << "started on a taken port";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Can't start build-in web-server\n");
    }
    close(taken);
}

} // namespace
