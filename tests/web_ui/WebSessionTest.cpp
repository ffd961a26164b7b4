#include "web_ui/WebSession.h"

#include "common/runtime/util.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

class WebSessionTest : public ::testing::Test {
protected:
    // A fresh, not logged-in session, as a browser without cookie gets it.
    WebSession& newSession() {
        WebSession* session = nullptr;
        EXPECT_EQ(table.checkSession(nullptr, session), WebSessions::not_logged_in);
        return *session;
    }
    int check(const std::string& cookie) {
        WebSession* session = nullptr;
        return table.checkSession(cookie.c_str(), session);
    }

    WebSessions table;
};

TEST_F(WebSessionTest, NewSessionsHaveRandomIdsAndTokens) {
    const std::regex id("[a-z]{28}");
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> ids, tokens;
    for (int i = 0; i < 10; ++i) {
        WebSession& session = newSession();
        EXPECT_TRUE(std::regex_match(session.id(), id)) << session.id();
        EXPECT_TRUE(std::regex_match(session.csrfToken, uuid)) << session.csrfToken;
        EXPECT_FALSE(session.loggedIn);
        ids.insert(session.id());
        tokens.insert(session.csrfToken);
    }
    EXPECT_EQ(ids.size(), 10u);
    EXPECT_EQ(tokens.size(), 10u);
}

TEST_F(WebSessionTest, CookieResults) {
    WebSession& visitor = newSession();
    const std::string visitorId = visitor.id();
    WebSession& user = newSession();
    table.loginSession(user);
    const std::string userId = user.id();
    struct Case {
        std::string cookie;
        int expected;
    } cases[] = {
        {"sessionID=" + userId, WebSessions::active},
        {"theme=dark; sessionID=" + userId, WebSessions::active},
        {"sessionID=" + visitorId, WebSessions::not_logged_in},
        {"sessionID=" + std::string(28, 'q'), WebSessions::unknown},
        {"sessionID=", WebSessions::unknown},
        {"other=1", WebSessions::malformed},
        {"sessionID=" + userId + "; ", WebSessions::malformed},
        {"SessionID=" + userId, WebSessions::malformed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(check(c.cookie), c.expected) << c.cookie;
    EXPECT_EQ(table.size(), 2u);
}

TEST_F(WebSessionTest, CookieValuesReplaceTheSessionVariables) {
    WebSession& session = newSession();
    const std::string id = session.id();
    check("a=1; sessionID=" + id + "; b=2");
    EXPECT_EQ(session.variables,
              (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}, {"sessionID", id}}));
}

TEST_F(WebSessionTest, LoginLogsOthersOutAndChangesTheId) {
    WebSession& first = newSession();
    table.loginSession(first);
    const std::string firstId = first.id();
    WebSession& second = newSession();
    const std::string before = second.id();
    const std::string token = second.csrfToken;
    table.loginSession(second);
    EXPECT_FALSE(first.loggedIn);
    EXPECT_TRUE(second.loggedIn);
    EXPECT_NE(second.id(), before);
    EXPECT_EQ(second.csrfToken, token);
    EXPECT_EQ(table.find(before), nullptr);
    EXPECT_EQ(table.find(second.id()), &second);
    EXPECT_EQ(check("sessionID=" + before), WebSessions::unknown);
    EXPECT_EQ(check("sessionID=" + firstId), WebSessions::not_logged_in);
    EXPECT_EQ(check("sessionID=" + second.id()), WebSessions::active);
}

TEST_F(WebSessionTest, ExpiredSessionFallsBackToLoggedOut) {
    WebSession& session = newSession();
    table.loginSession(session);
    timeval now = {};
    gettimeofday(&now, nullptr);
    session.expiry = {now.tv_sec + 1, now.tv_usec};
    EXPECT_TRUE(WebSessions::touchSession(session));
    EXPECT_GE(session.expiry.tv_sec, now.tv_sec + WebSessions::lifetime_seconds);
    session.expiry = now;
    EXPECT_EQ(check("sessionID=" + session.id()), WebSessions::not_logged_in);
    EXPECT_FALSE(session.loggedIn);
}

TEST_F(WebSessionTest, FullTableEvictsTheFirstExpiringVisitorNeverTheUser) {
    WebSession& user = newSession();
    table.loginSession(user);
    user.expiry = {1, 0};
    std::string oldest;
    for (size_t i = 1; i < WebSessions::capacity; ++i) {
        WebSession& visitor = newSession();
        visitor.expiry = {100 + static_cast<time_t>(i), 0};
        if (i == 5) {
            visitor.expiry = {50, 0};
            oldest = visitor.id();
        }
    }
    ASSERT_EQ(table.size(), WebSessions::capacity);
    newSession();
    EXPECT_EQ(table.size(), WebSessions::capacity);
    EXPECT_EQ(table.find(oldest), nullptr);
    EXPECT_NE(table.find(user.id()), nullptr);
}

TEST_F(WebSessionTest, TableOfLoggedInSessionsIsFull) {
    WebSession* session = nullptr;
    for (size_t i = 0; i < WebSessions::capacity; ++i) {
        ASSERT_EQ(table.createSession(session), WebSessions::active);
        session->loggedIn = true;
    }
    EXPECT_EQ(table.createSession(session), WebSessions::full);
    EXPECT_EQ(table.checkSession(nullptr, session), WebSessions::full);
}

TEST_F(WebSessionTest, HandedOverIdLogsInOnlyWhenWellFormed) {
    const std::string handed(28, 'h');
    util::set_env(WebSessions::handOverVariable, handed);
    WebSession* session = nullptr;
    EXPECT_EQ(table.checkSession(("sessionID=" + handed).c_str(), session), WebSessions::handed_over);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->loggedIn);
    EXPECT_NE(session->id(), handed);

    for (const std::string& bad : {std::string(), std::string("short"), std::string(28, 'H')}) {
        util::set_env(WebSessions::handOverVariable, bad);
        EXPECT_EQ(check("sessionID=" + bad), WebSessions::unknown) << bad;
    }
}

} // namespace
