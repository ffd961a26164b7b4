#include "web_ui/PageReplies.h"

#include "common/runtime/Messages.h"
#include "web_ui/HtmlText.h"
#include "web_ui/PageRequest.h"
#include "web_ui/WebSession.h"

#include <cstring>

namespace page_replies {

void endReply(httpd_arg* arg) {
    arg->flags |= HTTPD_DONE;
}

void appendReplyBytes(httpd_arg* arg, const void* bytes, size_t count) {
    const size_t space = static_cast<size_t>(arg->output.size - arg->output.used);
    if (count > space) {
        endReply(arg);
        return;
    }
    std::memcpy(arg->output.data + arg->output.used, bytes, count);
    arg->output.used += static_cast<int>(count);
}

void sendBytes(httpd_arg* arg, const char* contentType, const void* bytes, size_t count) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: %s\r\n", contentType);
    httpd_printf(arg, "Content-length: %d\r\n", static_cast<int>(count));
    httpd_printf(arg, "\r\n");
    appendReplyBytes(arg, bytes, count);
    endReply(arg);
}

void sendDocument(httpd_arg* arg, const char* contentType, const void* bytes, size_t count) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: %s\r\n", contentType);
    httpd_printf(arg, "\r\n");
    appendReplyBytes(arg, bytes, count);
    endReply(arg);
}

void sendHtmlHeader(httpd_arg* arg) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: text/html\r\n");
    httpd_printf(arg, "\r\n");
}

void sendAttachmentHeader(httpd_arg* arg, const std::string& fileName, const std::string& contentType) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: %s\r\n", contentType.c_str());
    httpd_printf(arg, "Content-Disposition: attachment; filename=%s\r\n", fileName.c_str());
    httpd_printf(arg, "\r\n");
}

void sendCookieHeader(httpd_arg* arg, const WebSession& session) {
    httpd_printf(arg, "Set-Cookie: sessionID=%s%s; HttpOnly\r\n", session.id().c_str(),
                 httpd_get_env(arg, "HTTPS") ? "; secure" : "");
}

void sendRefreshPage(httpd_arg* arg) {
    httpd_printf(arg, "\r\n\r\n");
    httpd_printf(arg, "<!DOCTYPE html><html>\r\n");
    httpd_printf(arg, "<head>\r\n");
    httpd_printf(arg, "  <meta charset=\"utf-8\">\r\n");
    httpd_printf(arg, "  <meta http-equiv=\"refresh\" content=\"0; url=%s\"/>", "/summary.html");
    httpd_printf(arg, "</head><body>\r\n");
    httpd_printf(arg, "</body></html>\r\n");
    endReply(arg);
}

void sendInternalErrorPage(httpd_arg* arg, const std::string& message) {
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n");
    httpd_printf(arg, "Content-Type: text/html\r\n");
    httpd_printf(arg, "\r\n\r\n");
    httpd_printf(arg, "<!DOCTYPE html><html>\r\n");
    httpd_printf(arg, "<head>\r\n");
    httpd_printf(arg, "  <meta charset=\"utf-8\">\r\n");
    httpd_printf(arg, "  <title>%s</title>\r\n",
                 html_text::escapeHtml(Messages().getMessage("web_caption")).c_str());
    httpd_printf(arg, "</head>\r\n");
    httpd_printf(arg, "<body>\r\n");
    httpd_printf(arg, "Internal error occured:<br>\r\n");
    httpd_printf(arg, "%s<br>\r\n", html_text::escapeHtml(message).c_str());
    httpd_printf(arg, "<hr>\r\n");
    httpd_printf(arg, "</body></html>\r\n");
    endReply(arg);
}

void sendForbiddenPage(httpd_arg* arg, const std::string& message) {
    httpd_printf(arg, "HTTP/1.1 403\r\n");
    httpd_printf(arg, "Content-Type: text/html\r\n");
    httpd_printf(arg, "\r\n\r\n");
    httpd_printf(arg, "<!DOCTYPE html><html>\r\n");
    httpd_printf(arg, "<head>\r\n");
    httpd_printf(arg, "  <meta charset=\"utf-8\">\r\n");
    httpd_printf(arg, "  <title>403 Forbidden</title>\r\n");
    httpd_printf(arg, "</head>\r\n");
    httpd_printf(arg, "<body>\r\n");
    httpd_printf(arg, "<H1>Forbidden</H1>");
    httpd_printf(arg, "%s<br>\r\n", html_text::escapeHtml(message).c_str());
    httpd_printf(arg, "<hr>\r\n");
    httpd_printf(arg, "</body></html>\r\n");
    endReply(arg);
}

void sendNotFoundPage(httpd_arg* arg) {
    httpd_printf(arg, "HTTP/1.1 404 Not Found\r\n");
    httpd_printf(arg, "Content-Type: text/html\r\n");
    httpd_printf(arg, "\r\n");
    httpd_printf(arg, "<!DOCTYPE html><html><head><title>404 Not Found</title></head>"
                      "<body><H1>Not Found</H1></body></html>\r\n");
    endReply(arg);
}

void redirectToCurrentPage(httpd_arg* arg) {
    httpd_printf(arg, "HTTP/1.1 303 See Other\r\n");
    httpd_printf(arg, "Location: %s\r\n\r\n", currentPageUrl().c_str());
    endReply(arg);
}

void redirectWithCookie(httpd_arg* arg, const WebSession& session) {
    httpd_printf(arg, "HTTP/1.1 303 See Other\r\n");
    httpd_printf(arg, "Location: %s\r\n", currentPageUrl().c_str());
    sendCookieHeader(arg, session);
    httpd_printf(arg, "\r\n");
    endReply(arg);
}

} // namespace page_replies
