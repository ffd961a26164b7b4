#pragma once

#include <sys/time.h>

#include <map>
#include <string>

// One browser session of the web server process.
struct WebSession {
    // The browser's cookie values; "sessionID" holds the session's own id.
    std::map<std::string, std::string> variables;
    bool loggedIn = false;
    timeval expiry = {};
    std::string csrfToken;

    const std::string& id() const { return variables.at("sessionID"); }
};

// The session table of the web server process: at most one session is logged in at a time.
class WebSessions {
public:
    enum result {
        active = 0,        // a logged-in, unexpired session
        unknown = 2,       // the cookie names no session
        not_logged_in = 3, // a new session, one not logged in, or one that just expired
        malformed = 4,     // a malformed header, or one without sessionID
        full = 5,          // no room for a new session
        handed_over = 6,   // the id handed over by the back end: logged in under a new id
    };
    static constexpr size_t capacity = 32;
    static constexpr int lifetime_seconds = 3600;
    static const char* const handOverVariable;

    static WebSessions& instance();

    // Looks the browser's session up by its Cookie header (null when absent).
    int checkSession(const char* cookieHeader, WebSession*& session);
    int createSession(WebSession*& session);
    int createSessionWithId(const std::string& id, WebSession*& session);
    // Removes the not logged-in session that expires first.
    void evictSession();
    // Logs every session out and this one in under a new id, so an id known before the login is
    // worth nothing after it.
    void loginSession(WebSession& session);

    static bool touchSession(WebSession& session);
    static void setSessionExpiry(WebSession& session);
    // 28 lower-case letters, as every id this process makes.
    static bool isWellFormedId(const std::string& id);

    size_t size() const { return sessions.size(); }
    WebSession* find(const std::string& id);

    // The session of the request being served.
    WebSession* currentSession = nullptr;

private:
    WebSession& insert(const std::string& id);
    std::string newId() const;

    std::map<std::string, WebSession> sessions;
};
