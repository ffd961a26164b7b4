#include "tests/web_ui/WizardServer.h"

#include "tests/support/TempDir.h"
#include "web_ui/AccessGate.h"
#include "web_ui/password_check.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

namespace {

using webuitest::isLoginPage;
using webuitest::sessionCookie;
using webuitest::WizardServer;

const char* const pam_matrix = "/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so";

// The web server with PAM answered by pam_matrix from a password file of the test's own: the
// machine's accounts are never asked.
class PasswordLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef __SANITIZE_ADDRESS__
        // libpam_wrapper opens libpam with RTLD_DEEPBIND, which the address sanitizer refuses.
        GTEST_SKIP() << "pam_wrapper cannot run under the address sanitizer";
#endif
        if (access(pam_matrix, R_OK) != 0)
            GTEST_SKIP() << "libpam-wrapper is not installed";
        user = password_check::getCurrentUserName();
        mkdir(dir.file("pam.d").c_str(), 0755);
        for (const char* service : {"system-auth", "common-auth", "other"})
            testsupport::writeFile(dir.file(std::string("pam.d/") + service),
                                   std::string("auth required ") + pam_matrix +
                                       " passdb=" + dir.file("passdb") + "\naccount required " + pam_matrix +
                                       " passdb=" + dir.file("passdb") + "\n");
    }

    // The service the login asks for on this machine.
    static std::string loginService() {
        if (access("/etc/pam.d/system-auth", F_OK) == 0)
            return "system-auth";
        return access("/etc/pam.d/common-auth", F_OK) == 0 ? "common-auth" : "other";
    }

    // `allowedService` is the service the account may use; any other one fails the account check.
    void startServer(const std::string& password, const std::string& allowedService) {
        const std::string service = allowedService.empty() ? loginService() : allowedService;
        testsupport::writeFile(dir.file("passdb"), user + ":" + password + ":" + service + "\n");
        server.reset(new WizardServer({"LD_PRELOAD=libpam_wrapper.so", "PAM_WRAPPER=1",
                                       "PAM_WRAPPER_SERVICE_DIR=" + dir.file("pam.d"),
                                       "ASAN_OPTIONS=verify_asan_link_order=0"}));
    }

    // Posts the login form of a fresh browser; the reply and the browser's cookie.
    httpdtest::Reply post(const std::string& login, const std::string& password,
                          std::string* cookie = nullptr) {
        httpdtest::Reply page = server->request("GET", "/");
        const std::string visitor = sessionCookie(page);
        std::smatch selected;
        std::regex_search(page.body, selected, std::regex("<option value=\"([^\"]*)\" selected>"));
        httpdtest::Reply reply = server->request("POST", "/", visitor,
                                                 "login_locale=" + selected[1].str() + "&login=" + login +
                                                     "&password=" + password);
        if (cookie)
            *cookie = sessionCookie(reply).empty() ? visitor : sessionCookie(reply);
        return reply;
    }

    static bool isAcceptance(const httpdtest::Reply& reply) {
        return reply.status() == 200 && reply.body.find("url=/summary.html") != std::string::npos;
    }
    static bool isRefusal(const httpdtest::Reply& reply) {
        return isLoginPage(reply) && reply.body.find("class=\"msg-error\"") != std::string::npos;
    }

    testsupport::TempDir dir;
    std::string user;
    std::unique_ptr<WizardServer> server;
};

TEST_F(PasswordLoginTest, RightPasswordLogsInAndSendsToTheSummary) {
    startServer("Right-Pass", "");
    std::string cookie;
    httpdtest::Reply reply = post(user, "Right-Pass", &cookie);
    EXPECT_TRUE(isAcceptance(reply));
    EXPECT_EQ(server->request("GET", "/", cookie).status(), 303);
}

TEST_F(PasswordLoginTest, RefusedLogins) {
    startServer("Right-Pass", "");
    struct Case {
        std::string login;
        std::string password;
    } cases[] = {{user, "wrong"}, {user, ""}, {"", "Right-Pass"}, {"nobody", "Right-Pass"}};
    for (const Case& c : cases) {
        std::string cookie;
        httpdtest::Reply reply = post(c.login, c.password, &cookie);
        EXPECT_TRUE(isRefusal(reply)) << c.login << ":" << c.password;
        if (!c.password.empty()) {
            EXPECT_EQ(reply.body.find("value=\"" + c.password + "\""), std::string::npos);
        }
        EXPECT_TRUE(isLoginPage(server->request("GET", "/", cookie)));
        std::this_thread::sleep_for(std::chrono::seconds(access_gate::failed_login_pause));
    }
}

TEST_F(PasswordLoginTest, AccountThatMayNotLogInIsRefused) {
    startServer("Right-Pass", "sshd");
    EXPECT_TRUE(isRefusal(post(user, "Right-Pass")));
}

TEST_F(PasswordLoginTest, LoginsPauseAfterAFailure) {
    startServer("Right-Pass", "");
    EXPECT_TRUE(isRefusal(post(user, "wrong")));
    EXPECT_TRUE(isRefusal(post(user, "Right-Pass")));
    std::this_thread::sleep_for(std::chrono::seconds(access_gate::failed_login_pause));
    EXPECT_TRUE(isAcceptance(post(user, "Right-Pass")));
}

} // namespace

namespace {

TEST_F(PasswordLoginTest, ChoosingAnotherLanguageKeepsWhatWasTypedEscaped) {
    startServer("Right-Pass", "");
    httpdtest::Reply page = server->request("GET", "/");
    const std::string visitor = sessionCookie(page);
    httpdtest::Reply reply = server->request(
        "POST", "/", visitor, "login_locale=de_DE&login=%22%3E%3Cscript%3E&password=it%27s%3Cpw");
    EXPECT_TRUE(isLoginPage(reply));
    EXPECT_EQ(reply.body.find("msg-error"), std::string::npos);
    EXPECT_NE(reply.body.find("<option value=\"de_DE\" selected>"), std::string::npos);
    EXPECT_NE(reply.body.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);
    EXPECT_NE(reply.body.find("value=\"it&apos;s&lt;pw\""), std::string::npos);
    EXPECT_EQ(reply.body.find("<script>"), std::string::npos);
}

} // namespace
