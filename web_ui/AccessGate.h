#pragma once

#include "httpd/tarvik.h"

#include <string>

struct WebSession;

// The gate every page passes: the browser's session, the logins and the CSRF check of forms.
namespace access_gate {

// True when the page is to be rendered. Otherwise the reply (login page, redirect, 403 or error
// page) is written, or, for a POST whose body is incomplete, nothing yet.
bool checkAccess(httpd_arg* arg);

// The secret that logs one browser in without a password; empty when none is left.
void setOneTimeSecret(const std::string& secret);
bool secretLogin(httpd_arg* arg, WebSession& session);

// Writes the login page, or handles its form.
void loginPage(httpd_arg* arg, WebSession& session);

// The current session's token, which forms carry in the field "csrf_token".
std::string getCsrfToken();
bool checkCsrfToken(httpd_arg* arg);

// Seconds during which password logins are refused after a failed one.
const int failed_login_pause = 2;

} // namespace access_gate
