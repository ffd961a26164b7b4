// Parsing a request's header block, the known headers and dates, and error replies.

#include "httpd/internal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

const char* const method_names[] = {"GET", "POST", "PUT", "DELETE", "HEAD"};

namespace {

enum header_kind { LENGTH, NUMBER, TEXT, TIME };

struct known_header {
    const char* name;
    header_kind kind;
    size_t offset;
};

const known_header known_headers[] = {
    {"Content-Length", LENGTH, offsetof(httpd_headers, content_length)},
    {"Content-Type", TEXT, offsetof(httpd_headers, content_type)},
    {"User-Agent", TEXT, offsetof(httpd_headers, user_agent)},
    {"If-Modified-Since", TIME, offsetof(httpd_headers, if_modified_since)},
    {"Authorization", TEXT, offsetof(httpd_headers, authorization)},
    {"Referer", TEXT, offsetof(httpd_headers, referer)},
    {"Cookie", TEXT, offsetof(httpd_headers, cookie)},
    {"Location", TEXT, offsetof(httpd_headers, location)},
    {"Status", NUMBER, offsetof(httpd_headers, status)},
    {"Range", TEXT, offsetof(httpd_headers, range)},
    {"Connection", TEXT, offsetof(httpd_headers, connection)},
    {"Transfer-Encoding", TEXT, offsetof(httpd_headers, transfer_encoding)},
};

const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int month_number(const char* name) {
    for (int i = 0; i < 12; ++i)
        if (strcmp(months[i], name) == 0)
            return i;
    return -1;
}

// Strict decimal: the value must be digits only, and fit.
int read_number(const char* text, int len, big_int_t* result) {
    if (len <= 0 || len > 18)
        return -1;
    big_int_t value = 0;
    for (int i = 0; i < len; ++i) {
        if (!isdigit(static_cast<unsigned char>(text[i])))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    *result = value;
    return 0;
}

int find_method(const char* request) {
    for (int i = 0; i < 5; ++i)
        if (strncmp(request, method_names[i], strlen(method_names[i])) == 0)
            return i;
    return -1;
}

// "HTTP/" followed by two unsigned decimal numbers joined by '.', nothing after them.
int read_version(const char* text, unsigned* major, unsigned* minor) {
    if (strncmp(text, "HTTP/", 5) != 0)
        return -1;
    const char* p = text + 5;
    unsigned values[2];
    for (int i = 0; i < 2; ++i) {
        if (!isdigit(static_cast<unsigned char>(*p)))
            return -1;
        unsigned long value = 0;
        for (; isdigit(static_cast<unsigned char>(*p)); ++p)
            if ((value = value * 10 + (*p - '0')) > 65535)
                return -1;
        values[i] = static_cast<unsigned>(value);
        if (i == 0 && *p++ != '.')
            return -1;
    }
    if (*p != '\0')
        return -1;
    *major = values[0];
    *minor = values[1];
    return 0;
}

// A header line that starts with a blank continues the previous line; such folding is refused.
int has_folded_line(const char* block, const char* end) {
    if (block < end && *block == ' ')
        return 1;
    for (const char* p = block; p < end; ++p)
        if (*p == '\n' && p + 1 < end && p[1] == ' ')
            return 1;
    return 0;
}

// Cuts every header line in place, so that header values read as zero-terminated texts.
void terminate_header_lines(char* block, char* end) {
    for (char* p = block; p < end; ++p)
        if (*p == '\n' || (*p == '\r' && p + 1 < end && p[1] == '\n'))
            *p = '\0';
}

// A rejected request stays unread, so the connection cannot go on after the reply.
void reject(httpd_connection* c, int status, const char* reason) {
    c->must_close = 1;
    c->rem.flags |= FLAG_PARSED;
    send_error_reply(c, status, reason);
}

} // namespace

int header_block_length(const char* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char ch = static_cast<unsigned char>(data[i]);
        if (ch < 128 && !isprint(ch) && ch != '\r' && ch != '\n')
            return -1;
        if (ch == '\n' && i + 1 < length) {
            if (data[i + 1] == '\n')
                return static_cast<int>(i + 2);
            if (data[i + 1] == '\r' && i + 2 < length && data[i + 2] == '\n')
                return static_cast<int>(i + 3);
        }
    }
    return 0;
}

time_t parse_date(const char* text) {
    static const char* const forms[] = {"%d/%3s/%d %d:%d:%d", "%d %3s %d %d:%d:%d",
                                        "%*3s, %d %3s %d %d:%d:%d", "%d-%3s-%d %d:%d:%d"};
    struct tm tm = {};
    char month[4] = "";
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    for (const char* form : forms) {
        if (sscanf(text, form, &day, month, &year, &hour, &minute, &second) == 6) {
            int number = month_number(month);
            if (number < 0)
                break;
            tm.tm_mday = day;
            tm.tm_mon = number;
            tm.tm_year = year > 1900 ? year - 1900 : year < 70 ? year + 100 : year;
            tm.tm_hour = hour;
            tm.tm_min = minute;
            tm.tm_sec = second;
            return timegm(&tm);
        }
    }
    tm.tm_mday = 31;
    tm.tm_mon = 11;
    tm.tm_year = 99;
    return timegm(&tm);
}

int read_known_headers(char* block, size_t length, httpd_headers* headers) {
    char* end = block + length;
    for (char* line = block; line < end;) {
        char* eol = static_cast<char*>(memchr(line, '\n', end - line));
        if (!eol)
            eol = end;
        char* value_end = eol > line && eol[-1] == '\r' ? eol - 1 : eol;
        for (const known_header& known : known_headers) {
            size_t name_len = strlen(known.name);
            if (static_cast<size_t>(value_end - line) <= name_len ||
                strncasecmp(line, known.name, name_len) != 0 || line[name_len] != ':')
                continue;
            char* value = line + name_len + 1;
            while (value < value_end && *value == ' ')
                ++value;
            int len = static_cast<int>(value_end - value);
            char* field = reinterpret_cast<char*>(headers) + known.offset;
            if (known.kind == TEXT) {
                *reinterpret_cast<httpd_vec*>(field) = {value, len};
            } else if (known.kind == TIME) {
                char date[64];
                snprintf(date, sizeof date, "%.*s", len, value);
                *reinterpret_cast<time_t*>(field) = parse_date(date);
                headers->have_if_modified_since = 1;
            } else if (known.kind == NUMBER) {
                *reinterpret_cast<big_int_t*>(field) = strtoull(value, nullptr, 10);
            } else {
                big_int_t number;
                // Two different lengths leave the end of the body in doubt.
                if (read_number(value, len, &number) != 0 ||
                    (headers->have_content_length && number != headers->content_length))
                    return -1;
                headers->have_content_length = 1;
                headers->content_length = number;
            }
            break;
        }
        line = eol + 1;
    }
    return 0;
}

void squeeze_path(char* path) {
    char* out = path;
    for (const char* in = path; *in;) {
        char ch = *in++;
        *out++ = ch;
        if (ch == '/' || ch == '\\')
            while (*in == '.' || *in == '/' || *in == '\\')
                ++in;
    }
    *out = '\0';
}

void parse_http_request(httpd_connection* c) {
    httpd_stream* rem = &c->rem;
    const char* data = io_data(&rem->io);
    size_t available = io_data_len(&rem->io);
    int n = header_block_length(data, available);
    rem->headers_len = n;
    if (n == 0) {
        if (available >= IO_LIMIT) {
            io_clear(&rem->io);
            reject(c, 400, "Request is too big");
        }
        return;
    }
    if (n <= 15)
        return reject(c, 400, "Bad request");
    c->method = find_method(data);
    if (c->method < 0) {
        c->method = 0;
        return reject(c, 501, "Method Not Implemented");
    }
    c->request = static_cast<char*>(malloc(n + 1));
    if (!c->request)
        return reject(c, 500, "Cannot allocate request");
    memcpy(c->request, data, n);
    c->request[n] = '\0';
    io_inc_tail(&rem->io, n);
    rem->flags |= FLAG_PARSED;

    char* request_end = c->request + n;
    char* eol = strchr(c->request, '\n');
    *eol = '\0';
    if (eol > c->request && eol[-1] == '\r')
        eol[-1] = '\0';
    c->headers = eol + 1;
    c->headers_end = request_end;

    char* p = c->request + strcspn(c->request, " ");
    p += strspn(p, " ");
    char* uri = p;
    p += strcspn(p, " \t");
    char* uri_end = p;
    p += strspn(p, " ");
    int bad_version = read_version(p, &c->major, &c->minor) != 0;
    c->target = {uri, static_cast<int>(uri_end - uri)};

    int bad_headers = has_folded_line(c->headers, request_end) ||
                      read_known_headers(c->headers, request_end - c->headers, &c->ch) != 0;
    terminate_header_lines(c->headers, request_end);
    rem->io.total -= rem->io.total >= static_cast<big_int_t>(n) ? n : rem->io.total;
    rem->content_len = c->ch.content_length;
    if (c->ch.transfer_encoding.ptr)
        c->must_close = 1;

    if (bad_version)
        return send_error_reply(c, 400, "Bad HTTP version");
    if (c->major > 1 || (c->major == 1 && c->minor > 1))
        return send_error_reply(c, 505, "HTTP version not supported");
    if (bad_headers) {
        c->must_close = 1;
        return send_error_reply(c, 400, "Bad request");
    }
    // A URI must be a path: anything else could name a file outside the root.
    if (*uri != '/')
        return send_error_reply(c, 400, "Bad URI");
    c->uri = strndup(uri, uri_end - uri);
    if (!c->uri)
        return send_error_reply(c, 500, "Cannot allocate URI");
    route_request(c);
}

void send_error_reply(httpd_connection* c, int status, const char* reason) {
    httpd_stream* loc = &c->loc;
    c->status = status;
    LIST_FOREACH(&c->ctx->error_handlers, entry, next) {
        httpd_error_handler* handler = reinterpret_cast<httpd_error_handler*>(entry);
        if (handler->status != status)
            continue;
        if (loc->io_class && loc->io_class->close)
            loc->io_class->close(loc);
        loc->io_class = nullptr;
        loc->flags = 0;
        loc->content_len = 0;
        io_clear(&loc->io);
        attach_callback(c, handler->func, handler->user_data);
        return;
    }
    io_clear(&loc->io);
    io_printf(&loc->io,
              "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n\r\nError: %03d\r\n",
              status, reason, status);
    loc->io.total = 0;
    loc->content_len = 10;
    end_stream(loc);
}
