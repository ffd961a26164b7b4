#include "installer/driver/Driver.h"

#include "installer/sources/Downloader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "(unset)";
}

class ProxyEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"FTP_PROXY", "HTTP_PROXY", "HTTP_PROXY_AUTH"})
            unsetenv(name);
    }
};

TEST_F(ProxyEnvironmentTest, ExportsTheProxyButNotItsPassword) {
    driver::setProxyEnvironment("proxy.example", 3128, "user", "pass");
    EXPECT_EQ(variable("HTTP_PROXY"), "proxy.example:3128");
    EXPECT_EQ(variable("FTP_PROXY"), "proxy.example:3128");
    EXPECT_EQ(variable("HTTP_PROXY_AUTH"), "(unset)");
    const Downloader::Proxy proxy = Downloader::getProxy();
    EXPECT_EQ(proxy.host, "proxy.example");
    EXPECT_EQ(proxy.port, 3128);
    EXPECT_EQ(proxy.user, "user");
    EXPECT_EQ(proxy.password, "pass");

    // A later change replaces what this process exported, and no proxy undoes it all.
    driver::setProxyEnvironment("other.example", 8080, "", "");
    EXPECT_EQ(variable("HTTP_PROXY"), "other.example:8080");
    EXPECT_EQ(Downloader::getProxy().user, "");
    driver::setProxyEnvironment("", 0, "", "");
    EXPECT_EQ(variable("HTTP_PROXY"), "(unset)");
    EXPECT_EQ(variable("FTP_PROXY"), "(unset)");
    EXPECT_EQ(Downloader::getProxy().host, "");
}

TEST_F(ProxyEnvironmentTest, TheCallersProxyStaysInItsEnvironment) {
    setenv("HTTP_PROXY", "callers.example:1", 1);
    driver::setProxyEnvironment("proxy.example", 3128, "", "");
    EXPECT_EQ(variable("HTTP_PROXY"), "callers.example:1");
    EXPECT_EQ(variable("FTP_PROXY"), "(unset)");
    EXPECT_EQ(Downloader::getProxy().host, "proxy.example");
    driver::setProxyEnvironment("", 0, "", "");
    EXPECT_EQ(variable("HTTP_PROXY"), "callers.example:1");
    EXPECT_EQ(Downloader::getProxy().host, "");
}

TEST(DriverTest, BannerMasksTheProxyPassword) {
    char program[] = "installer", a[] = "--proxy-password", b[] = "s3cret", c[] = "--proxy-pass=s3cret",
         d[] = "--proxy-port", e[] = "8080", f[] = "--proxy-password";
    char* argv[] = {program, a, b, c, d, e, f, nullptr};
    EXPECT_EQ(
        driver::maskedArguments(7, argv),
        "installer --proxy-password ******** --proxy-pass=******** --proxy-port 8080 --proxy-password ");
}

} // namespace
