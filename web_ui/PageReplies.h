#pragma once

#include "httpd/tarvik.h"

#include <cstddef>
#include <string>

struct WebSession;

// Whole replies and reply headers written into the reply buffer of a request. "Ends" means the
// reply is complete (HTTPD_DONE).
namespace page_replies {

// The bytes only when they fit into the free space; otherwise nothing, and the reply ends.
void appendReplyBytes(httpd_arg* arg, const void* bytes, size_t count);

// 200 with the content type, a length and the bytes; ends.
void sendBytes(httpd_arg* arg, const char* contentType, const void* bytes, size_t count);
// 200 with the content type and the bytes, no length; ends.
void sendDocument(httpd_arg* arg, const char* contentType, const void* bytes, size_t count);

void sendHtmlHeader(httpd_arg* arg);
void sendAttachmentHeader(httpd_arg* arg, const std::string& fileName, const std::string& contentType);
// The session cookie line.
void sendCookieHeader(httpd_arg* arg, const WebSession& session);
// A body after the caller's header that sends the browser to the summary; ends.
void sendRefreshPage(httpd_arg* arg);
void sendInternalErrorPage(httpd_arg* arg, const std::string& message);
void sendForbiddenPage(httpd_arg* arg, const std::string& message);
void sendNotFoundPage(httpd_arg* arg);
// 303 to the back end's current page, with the session cookie when a session is given; ends.
void redirectToCurrentPage(httpd_arg* arg);
void redirectWithCookie(httpd_arg* arg, const WebSession& session);

// Marks the reply complete.
void endReply(httpd_arg* arg);

} // namespace page_replies
