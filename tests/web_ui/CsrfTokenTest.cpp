#include "web_ui/AccessGate.h"
#include "web_ui/WebSession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CsrfTokenTest, PostedTokenMustBeTheCurrentSessions) {
    WebSessions& sessions = WebSessions::instance();
    WebSession* session = nullptr;
    ASSERT_EQ(sessions.createSession(session), WebSessions::active);
    WebSession* other = nullptr;
    ASSERT_EQ(sessions.createSession(other), WebSessions::active);
    sessions.currentSession = session;
    EXPECT_EQ(access_gate::getCsrfToken(), session->csrfToken);

    struct Case {
        std::string body;
        bool accepted;
    } cases[] = {
        {"csrf_token=" + session->csrfToken, true},
        {"a=1&csrf_token=" + session->csrfToken + "&b=2", true},
        {"csrf_token=" + other->csrfToken, false},
        {"csrf_token=", false},
        {"csrf_token=" + session->csrfToken + "0", false},
        {"token=" + session->csrfToken, false},
        {"", false},
    };
    for (Case& c : cases) {
        httpd_arg arg = {};
        arg.input = {&c.body[0], static_cast<int>(c.body.size()), 0};
        EXPECT_EQ(access_gate::checkCsrfToken(&arg), c.accepted) << c.body;
    }
}

} // namespace
