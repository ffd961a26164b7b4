#include "web_ui/WebSession.h"

#include "common/runtime/SecureRandom.h"
#include "common/runtime/util.h"
#include "web_ui/CookieHeader.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>

const char* const WebSessions::handOverVariable = "AI_WEB_UI_SESSION_ID";

namespace {

const size_t id_length = 28;

bool earlier(const timeval& a, const timeval& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

} // namespace

WebSessions& WebSessions::instance() {
    static WebSessions table;
    return table;
}

bool WebSessions::isWellFormedId(const std::string& id) {
    return id.size() == id_length &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

WebSession* WebSessions::find(const std::string& id) {
    auto found = sessions.find(id);
    return found == sessions.end() ? nullptr : &found->second;
}

int WebSessions::checkSession(const char* cookieHeader, WebSession*& session) {
    if (!cookieHeader || !*cookieHeader) {
        const int created = createSession(session);
        return created == active ? not_logged_in : created;
    }
    std::map<std::string, std::string> pairs;
    if (!parseCookieHeader(cookieHeader, pairs))
        return malformed;
    auto named = pairs.find("sessionID");
    if (named == pairs.end())
        return malformed;
    const std::string id = named->second;
    WebSession* found = find(id);
    if (!found) {
        const std::string handedOver = util::get_env(handOverVariable);
        if (isWellFormedId(id) && id == handedOver)
            return createSessionWithId(id, session);
        return unknown;
    }
    session = found;
    found->variables = pairs;
    return found->loggedIn && touchSession(*found) ? active : not_logged_in;
}

int WebSessions::createSession(WebSession*& session) {
    if (sessions.size() >= capacity)
        evictSession();
    if (sessions.size() >= capacity)
        return full;
    session = &insert(newId());
    return active;
}

int WebSessions::createSessionWithId(const std::string& id, WebSession*& session) {
    if (sessions.size() >= capacity)
        evictSession();
    if (sessions.size() >= capacity)
        return full;
    session = &insert(id);
    loginSession(*session);
    return handed_over;
}

WebSession& WebSessions::insert(const std::string& id) {
    WebSession& session = sessions[id];
    session.variables = {{"sessionID", id}};
    session.loggedIn = false;
    setSessionExpiry(session);
    // The generator reads the kernel's random source.
    session.csrfToken = boost::uuids::to_string(boost::uuids::random_generator()());
    return session;
}

std::string WebSessions::newId() const {
    std::string id;
    do
        id = secure_random::letters(id_length);
    while (sessions.count(id));
    return id;
}

void WebSessions::evictSession() {
    auto victim = sessions.end();
    for (auto it = sessions.begin(); it != sessions.end(); ++it)
        if (!it->second.loggedIn &&
            (victim == sessions.end() || earlier(it->second.expiry, victim->second.expiry)))
            victim = it;
    if (victim != sessions.end())
        sessions.erase(victim);
}

void WebSessions::loginSession(WebSession& session) {
    for (auto& entry : sessions)
        entry.second.loggedIn = false;
    // The node moves to its new key; references to the session stay valid.
    auto node = sessions.extract(session.id());
    const std::string id = newId();
    node.key() = id;
    node.mapped().variables["sessionID"] = id;
    WebSession& moved = sessions.insert(std::move(node)).position->second;
    moved.loggedIn = true;
    setSessionExpiry(moved);
}

bool WebSessions::touchSession(WebSession& session) {
    timeval now = {};
    gettimeofday(&now, nullptr);
    if (earlier(now, session.expiry)) {
        setSessionExpiry(session);
        return true;
    }
    session.loggedIn = false;
    return false;
}

void WebSessions::setSessionExpiry(WebSession& session) {
    gettimeofday(&session.expiry, nullptr);
    session.expiry.tv_sec += lifetime_seconds;
}
