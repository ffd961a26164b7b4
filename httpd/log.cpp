// The error log, the access log and the user switch.

#include "httpd/internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

int header_text(const httpd_vec& v, const char** text) {
    *text = v.ptr;
    return v.ptr ? v.len : 0;
}

// Writes a formatted line, cut to its buffer, and a newline.
void write_line(FILE* file, const char* line, int formatted) {
    if (formatted < 0)
        return;
    size_t length = static_cast<size_t>(formatted) < LOG_LINE_LIMIT ? formatted : LOG_LINE_LIMIT - 1;
    fwrite(line, 1, length, file);
    fputc('\n', file);
    fflush(file);
}

} // namespace

void format_gmt(char* buffer, size_t size, time_t t) {
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(buffer, size, "%a, %d %b %Y %H:%M:%S GMT", &tm);
}

void server_log(int level, httpd_connection* c, const char* format, ...) {
    char message[LOG_LINE_LIMIT];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);

    httpd_context* ctx = c ? c->ctx : nullptr;
    if (!ctx || !option_is_true(ctx, OPT_INETD))
        fprintf(stderr, "%s\n", message);

    if (ctx && ctx->error_log && (level == LOG_FATAL || level == LOG_NOTICE)) {
        char date[64];
        time_t now = httpd_now;
        struct tm tm;
        localtime_r(&now, &tm);
        strftime(date, sizeof date, "%a %b %d %H:%M:%S %Y", &tm);
        char line[LOG_LINE_LIMIT];
        int n = snprintf(line, sizeof line, "[%s] [error] [client %s] \"%s\" %s", date,
                         c->remote_addr[0] ? c->remote_addr : "-", c->request ? c->request : "-", message);
        write_line(ctx->error_log, line, n);
    }
    if (level == LOG_FATAL)
        exit(1);
}

void log_access(FILE* file, httpd_connection* c) {
    char date[64];
    struct tm tm;
    localtime_r(&c->birth, &tm);
    strftime(date, sizeof date, "%d/%b/%Y:%H:%M:%S", &tm);
    const char* user = nullptr;
    int user_len = header_text(c->ch.user, &user);
    const char *referer, *agent;
    int referer_len = header_text(c->ch.referer, &referer);
    int agent_len = header_text(c->ch.user_agent, &agent);
    char line[LOG_LINE_LIMIT];
    int n = snprintf(line, sizeof line, "%s - %.*s [%s %+05d] \"%s\" %d %llu %s%.*s%s %s%.*s%s",
                     c->remote_addr, user_len ? user_len : 1, user_len ? user : "-", date, 0,
                     c->request ? c->request : "-", c->status, c->loc.io.total, referer ? "\"" : "",
                     referer ? referer_len : 1, referer ? referer : "-", referer ? "\"" : "",
                     agent ? "\"" : "", agent ? agent_len : 1, agent ? agent : "-", agent ? "\"" : "");
    write_line(file, line, n);
}

void open_log_file(FILE** file, const char* path) {
    if (*file)
        fclose(*file);
    *file = nullptr;
    if (!path)
        return;
    *file = fopen(path, "ae");
    if (!*file)
        server_log(LOG_FATAL, nullptr, "cannot open log file %s: %s", path, strerror(errno));
}

void set_uid(httpd_context*, const char* value) {
    if (!value)
        return;
    struct passwd* pw = getpwnam(value);
    if (!pw)
        server_log(LOG_FATAL, nullptr, "%s: unknown user [%s]", "set_uid", value);
    // Root's supplementary groups would outlive the switch otherwise.
    if (setgroups(1, &pw->pw_gid) != 0 && errno != EPERM)
        server_log(LOG_FATAL, nullptr, "%s: setgroups(%s): %s", "set_uid", value, strerror(errno));
    if (setgid(pw->pw_gid) != 0)
        server_log(LOG_FATAL, nullptr, "%s: setgid(%s): %s", "set_uid", value, strerror(errno));
    if (setuid(pw->pw_uid) != 0)
        server_log(LOG_FATAL, nullptr, "%s: setuid(%s): %s", "set_uid", value, strerror(errno));
}
