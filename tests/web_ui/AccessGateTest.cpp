#include "tests/web_ui/WizardServer.h"

#include "tests/support/TempDir.h"
#include "web_ui/WebSession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using webuitest::isLoginPage;
using webuitest::sessionCookie;
using webuitest::WizardServer;

const char* const secret = "qwertyuiopasdfghjklzxcvbnmqw";

// Every URL a browser may ask for that is not a static file.
const char* const gatedUrls[] = {
    "/",
    "/summary.html",
    "/preferences.html",
    "/iup.html",
    "/installation_types.html",
    "/select_components.html",
    "/examine.html",
    "/update_components.html",
    "/add_components.html",
    "/cp.html",
    "/install_progress.html",
    "/percentage.html",
    "/clear.html",
    "/log.html",
    "/get_enabled_product_icon",
    "/get_disabled_product_icon",
    "/no-such-page.html",
    "/tarvik.conf",
    "/?unit=answer.xml",
    "/summary.html?unit=answer.xml",
    "/iup.html?unit=../../../etc/passwd",
};

// Logs a browser in with the one-time secret; its cookie.
std::string logIn(WizardServer& server) {
    const std::string visitor = sessionCookie(server.request("GET", "/"));
    httpdtest::Reply reply = server.request("GET", std::string("/?secret=") + secret, visitor);
    EXPECT_EQ(reply.status(), 303);
    return sessionCookie(reply);
}

TEST(AccessGateTest, WithoutSessionEveryPageAnswersTheLoginPage) {
    WizardServer server;
    for (const char* url : gatedUrls)
        for (const char* cookie :
             {"", "sessionID=aaaaaaaaaaaaaaaaaaaaaaaaaaaa", "sessionID=x; ", "other=1"}) {
            httpdtest::Reply reply = server.request("GET", url, cookie);
            EXPECT_TRUE(isLoginPage(reply)) << url << " " << cookie << "\n" << reply.status_line;
            EXPECT_EQ(sessionCookie(reply).size(), std::string("sessionID=").size() + 28) << url;
            EXPECT_NE(reply.header("Set-Cookie").find("; HttpOnly"), std::string::npos);
        }
    EXPECT_EQ(server.backendCommands(), "");
}

TEST(AccessGateTest, StaticFilesAreServedWithoutSession) {
    WizardServer server;
    struct Case {
        const char* url;
        const char* type;
        std::string file;
    } cases[] = {
        {"/css/style.css", "text/css", MOXEL_SOURCE_DIR "/web_ui/static/css/style.css"},
        {"/js/gui.js", "text/javascript", MOXEL_SOURCE_DIR "/web_ui/static/js/gui.js"},
        {"/js/prototype.js", "text/javascript", "/usr/share/javascript/prototype/prototype.js"},
        {"/images/indicator.gif", "image/gif", MOXEL_SOURCE_DIR "/web_ui/static/images/indicator.gif"},
        {"/images/gauge/fill.gif", "image/gif", MOXEL_SOURCE_DIR "/web_ui/static/images/gauge/fill.gif"},
        {"/images/company_logo.png", "image/png", MOXEL_SOURCE_DIR "/web_ui/static/images/company_logo.png"},
    };
    for (const Case& c : cases) {
        httpdtest::Reply reply = server.request("GET", c.url);
        EXPECT_EQ(reply.status(), 200) << c.url;
        EXPECT_EQ(reply.header("Content-Type"), c.type) << c.url;
        EXPECT_EQ(reply.body, testsupport::readFile(c.file)) << c.url;
        EXPECT_EQ(reply.header("Set-Cookie"), "") << c.url;
    }
}

TEST(AccessGateTest, OneTimeSecretLogsOneBrowserInOnce) {
    WizardServer server({std::string("WEB_SECRET=") + secret}, "installation-types");
    const std::string visitor = sessionCookie(server.request("GET", "/"));
    EXPECT_TRUE(isLoginPage(server.request("GET", "/?secret=wrong", visitor)));

    httpdtest::Reply login = server.request("GET", std::string("/?secret=") + secret, visitor);
    EXPECT_EQ(login.status(), 303);
    EXPECT_EQ(login.header("Location"), "/installation_types.html");
    const std::string cookie = sessionCookie(login);
    EXPECT_FALSE(cookie.empty());
    EXPECT_NE(cookie, visitor); // a new id at login
    EXPECT_TRUE(isLoginPage(server.request("GET", "/", visitor)));

    httpdtest::Reply root = server.request("GET", "/", cookie);
    EXPECT_EQ(root.status(), 303);
    EXPECT_EQ(root.header("Location"), "/installation_types.html");

    const std::string other = sessionCookie(server.request("GET", "/"));
    EXPECT_TRUE(isLoginPage(server.request("GET", std::string("/?secret=") + secret, other)));
}

TEST(AccessGateTest, PostWithoutTheSessionsTokenIsForbidden) {
    WizardServer server({std::string("WEB_SECRET=") + secret});
    const std::string cookie = logIn(server);
    const std::string commandsBefore = server.backendCommands();
    for (const char* url : gatedUrls)
        for (const char* body : {"", "a=1", "csrf_token=00000000-0000-4000-8000-000000000000"}) {
            httpdtest::Reply reply = server.request("POST", url, cookie, body);
            EXPECT_EQ(reply.status_line, "HTTP/1.1 403") << url << " " << body;
            EXPECT_NE(reply.body.find("You do not have permission to access this document"),
                      std::string::npos);
        }
    EXPECT_EQ(server.backendCommands(), commandsBefore);
    EXPECT_EQ(server.request("GET", "/", cookie).status(), 303); // the session stays logged in
}

TEST(AccessGateTest, HandedOverSessionIdLogsInUnderANewIdAndTheFirstBrowserOut) {
    const std::string handed(28, 'k');
    WizardServer server(
        {std::string("WEB_SECRET=") + secret, std::string(WebSessions::handOverVariable) + "=" + handed});
    const std::string first = logIn(server);
    EXPECT_EQ(server.request("GET", "/", first).status(), 303);

    httpdtest::Reply reply = server.request("GET", "/summary.html", "sessionID=" + handed);
    EXPECT_EQ(reply.status(), 303);
    EXPECT_EQ(reply.header("Location"), "/summary.html");
    const std::string second = sessionCookie(reply);
    EXPECT_NE(second, "sessionID=" + handed);
    EXPECT_EQ(server.request("GET", "/", second).status(), 303);
    EXPECT_TRUE(isLoginPage(server.request("GET", "/", first)));
}

TEST(AccessGateTest, EmptyHandedOverIdMatchesNoCookie) {
    WizardServer server({std::string(WebSessions::handOverVariable) + "="});
    for (const char* cookie : {"sessionID=", "sessionID=; a=1"})
        EXPECT_TRUE(isLoginPage(server.request("GET", "/", cookie))) << cookie;
}

} // namespace
