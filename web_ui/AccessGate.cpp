#include "web_ui/AccessGate.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/util.h"
#include "web_ui/HtmlTemplate.h"
#include "web_ui/HtmlText.h"
#include "web_ui/PageReplies.h"
#include "web_ui/PageRequest.h"
#include "web_ui/WebAssets.h"
#include "web_ui/WebSession.h"
#include "web_ui/password_check.h"

#include <chrono>
#include <cstring>

namespace access_gate {

namespace {

std::string& oneTimeSecret() {
    static std::string secret;
    return secret;
}

// When the last password login failed.
std::chrono::steady_clock::time_point& lastFailedLogin() {
    static std::chrono::steady_clock::time_point when;
    return when;
}

bool pausedAfterFailure() {
    return lastFailedLogin().time_since_epoch().count() != 0 &&
           std::chrono::steady_clock::now() - lastFailedLogin() < std::chrono::seconds(failed_login_pause);
}

bool passwordAccepted(const std::string& login, const std::string& password) {
    if (login.empty() || !password_check::isCurrentUser(login) || pausedAfterFailure())
        return false;
    if (password_check::checkPassword(login, password))
        return true;
    if (!password.empty())
        lastFailedLogin() = std::chrono::steady_clock::now();
    return false;
}

std::string localeBase(const std::string& locale) {
    return locale.substr(0, locale.find('.'));
}

void renderLoginTemplate(httpd_arg* arg, WebSession& session, const char* name,
                         TemplateVariables& variables) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: text/html\r\n");
    page_replies::sendCookieHeader(arg, session);
    httpd_printf(arg, "\r\n\r\n");
    const WebAsset& page = web_assets::get(name);
    send_html_chunk(arg, reinterpret_cast<const char*>(page.data), page.size, variables);
    page_replies::endReply(arg);
}

std::string formField(httpd_arg* arg, const char* name, size_t limit) {
    std::string value;
    formVariable(arg, name, limit, value);
    return util::trim(value);
}

} // namespace

void setOneTimeSecret(const std::string& secret) {
    oneTimeSecret() = secret;
}

bool secretLogin(httpd_arg* arg, WebSession& session) {
    if (oneTimeSecret().empty() || !httpd_get_env(arg, "QUERY_STRING"))
        return false;
    const std::string given = queryVariable(arg, "secret", 256);
    if (given.empty() || given != oneTimeSecret())
        return false;
    oneTimeSecret().clear();
    WebSessions::instance().loginSession(session);
    page_replies::redirectWithCookie(arg, session);
    return true;
}

void loginPage(httpd_arg* arg, WebSession& session) {
    TemplateVariables variables;
    setVersionVariable(variables);
    languageSelector(variables["language_selector"], true);
    variables["current_login"] = html_text::escapeHtml(password_check::getCurrentUserName());
    if (!isPost(arg)) {
        renderLoginTemplate(arg, session, "templates/login.html", variables);
        return;
    }
    const std::string locale = formField(arg, "login_locale", 20);
    const std::string login = formField(arg, "login", 1024);
    const std::string password = formField(arg, "password", 1024);
    if (passwordAccepted(login, password)) {
        if (!locale.empty())
            setLocale(locale);
        WebSessions::instance().loginSession(session);
        httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
        httpd_printf(arg, "Content-Type: text/html\r\n");
        page_replies::sendCookieHeader(arg, session);
        page_replies::sendRefreshPage(arg);
        return;
    }
    variables["current_login"] = html_text::escapeHtml(login);
    variables["current_password"] = "";
    if (locale.empty() || localeBase(locale) == localeBase(Messages::getLocale())) {
        renderLoginTemplate(arg, session, "templates/login_error.html", variables);
        return;
    }
    setLocale(locale);
    variables["language_selector"].clear();
    languageSelector(variables["language_selector"], true);
    variables["current_password"] = html_text::escapeHtml(password);
    renderLoginTemplate(arg, session, "templates/login.html", variables);
}

std::string getCsrfToken() {
    const WebSession* session = WebSessions::instance().currentSession;
    if (!session)
        return std::string();
    Log::stream(3, true) << "Get csrf_token for session with id: " << session->id()
                         << "; token: " << session->csrfToken;
    return session->csrfToken;
}

bool checkCsrfToken(httpd_arg* arg) {
    const WebSession* session = WebSessions::instance().currentSession;
    std::string posted;
    if (!formVariable(arg, "csrf_token", 40, posted)) {
        Log::stream(3, true) << "tarvik_get_var(csrf_token, ...) failed";
        return false;
    }
    if (!session || posted != session->csrfToken) {
        Log::stream(3, true) << "Invalid csrf_token: '" << posted << "' != '"
                             << (session ? session->csrfToken : "") << "'";
        return false;
    }
    return true;
}

bool checkAccess(httpd_arg* arg) {
    if (isPost(arg) && (arg->flags & HTTPD_MORE_INPUT))
        return false;
    WebSessions& sessions = WebSessions::instance();
    WebSession* session = nullptr;
    int result = sessions.checkSession(httpd_get_header(arg, "Cookie"), session);
    sessions.currentSession = session;
    if (result == WebSessions::unknown || result == WebSessions::malformed) {
        result = sessions.createSession(session);
        sessions.currentSession = session;
        if (result == WebSessions::active)
            result = WebSessions::not_logged_in;
    }
    switch (result) {
    case WebSessions::active:
        setLocaleFromQuery(arg);
        if (!isPost(arg) || checkCsrfToken(arg))
            return true;
        page_replies::sendForbiddenPage(arg, "You do not have permission to access this document");
        return false;
    case WebSessions::not_logged_in:
        if (secretLogin(arg, *session))
            setLocaleFromQuery(arg);
        else
            loginPage(arg, *session);
        return false;
    case WebSessions::handed_over:
        page_replies::redirectWithCookie(arg, *session);
        setLocaleFromQuery(arg);
        return false;
    default:
        sessions.currentSession = nullptr;
        page_replies::sendInternalErrorPage(arg, "Too many sessions.");
        return false;
    }
}

} // namespace access_gate
