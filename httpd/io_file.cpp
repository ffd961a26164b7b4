// Serving files from the document root: path info, directories, file replies with ranges and
// validators, content types, and the PUT and DELETE methods.

#include "httpd/internal.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace {

struct mime_row {
    const char* extension;
    const char* type;
};

const mime_row builtin_types[] = {
    {"html", "text/html"},
    {"htm", "text/html"},
    {"txt", "text/plain"},
    {"css", "text/css"},
    {"ico", "image/x-icon"},
    {"gif", "image/gif"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"svg", "image/svg+xml"},
    {"torrent", "application/x-bittorrent"},
    {"wav", "audio/x-wav"},
    {"mp3", "audio/x-mp3"},
    {"mid", "audio/mid"},
    {"m3u", "audio/x-mpegurl"},
    {"ram", "audio/x-pn-realaudio"},
    {"ra", "audio/x-pn-realaudio"},
    {"doc", "application/msword"},
    {"exe", "application/octet-stream"},
    {"zip", "application/x-zip-compressed"},
    {"xls", "application/excel"},
    {"tgz", "application/x-tar-gz"},
    {"tar.gz", "application/x-tar-gz"},
    {"tar", "application/x-tar"},
    {"gz", "application/x-gunzip"},
    {"arj", "application/x-arj-compressed"},
    {"rar", "application/x-arj-compressed"},
    {"rtf", "application/rtf"},
    {"pdf", "application/pdf"},
    {"swf", "application/x-shockwave-flash"},
    {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"asf", "video/x-ms-asf"},
    {"avi", "video/x-msvideo"},
    {"bmp", "image/bmp"},
};

// The text ends in '.' and the extension, and is longer than it.
int ends_in_extension(const char* text, size_t length, const char* extension, size_t extension_len) {
    return extension_len < length && text[length - extension_len - 1] == '.' &&
           strncasecmp(text + length - extension_len, extension, extension_len) == 0;
}

int read_file(httpd_stream* stream, void* buffer, size_t length) {
    return static_cast<int>(read(stream->chan.fd, buffer, length));
}

// Upload: writes the body to the file; when it is complete or the write fails the reply is made.
int write_file(httpd_stream* stream, const void* data, size_t length) {
    httpd_connection* c = stream->conn;
    int n = static_cast<int>(write(stream->chan.fd, data, length));
    if (n <= 0 || c->body_taken + n >= c->ch.content_length) {
        struct stat st = {};
        fstat(stream->chan.fd, &st);
        io_clear(&stream->io);
        stream->headers_len =
            io_printf(&stream->io, "HTTP/1.1 %d OK\r\nContent-Length: %llu\r\nConnection: close\r\n\r\n",
                      c->status, static_cast<big_int_t>(st.st_size));
        end_stream(stream);
    }
    return n;
}

void close_file(httpd_stream* stream) {
    close(stream->chan.fd);
    stream->chan.fd = -1;
}

// Walks back through the path looking for an existing file before a '/': the rest is the path info.
int split_path_info(httpd_connection* c, struct stat* st) {
    char* path = c->path;
    for (char* p = path + strlen(path) - 1; p > path + c->base_len + 1; --p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (stat(path, st) == 0 && !S_ISDIR(st->st_mode)) {
            c->path_info = strdup(p + 1);
            return 1;
        }
        *p = '/';
    }
    return 0;
}

// The deepest existing directory on the path, canonicalised.
int existing_ancestor(const char* path, char* resolved) {
    char copy[PATH_MAX];
    if (snprintf(copy, sizeof copy, "%s", path) >= static_cast<int>(sizeof copy))
        return 0;
    while (!realpath(copy, resolved)) {
        char* slash = strrchr(copy, '/');
        if (errno != ENOENT || !slash || slash == copy)
            return 0;
        *slash = '\0';
    }
    return 1;
}

void redirect_to_directory(httpd_connection* c) {
    char location[1024], reason[1100];
    url_encode(c->uri, location, sizeof location - 1);
    snprintf(reason, sizeof reason, "Moved Permanently\r\nLocation: %s/", location);
    send_error_reply(c, 301, reason);
}

// Replaces the path by the first index file of the directory; 1 when one exists.
int find_index_file(httpd_connection* c, struct stat* st) {
    const char* list = c->ctx->options[OPT_INDEX_FILES];
    httpd_vec name;
    while (next_list_item(&list, &name)) {
        char candidate[4097];
        if (snprintf(candidate, sizeof candidate, "%s%.*s", c->path, name.len, name.ptr) >=
                static_cast<int>(sizeof candidate) ||
            stat(candidate, st) != 0)
            continue;
        free(c->path);
        c->path = strndup(candidate, PATH_LIMIT - 1);
        mime_type_of(c->ctx, name.ptr, name.len, &c->content_type);
        return c->path != nullptr;
    }
    return 0;
}

void send_file_reply(httpd_connection* c, const struct stat* st, int fd) {
    if (!c->content_type.ptr)
        mime_type_of(c->ctx, c->uri, strlen(c->uri), &c->content_type);
    big_int_t size = st->st_size, start = 0, length = size;
    int status = 200;
    const char* reason = "OK";
    char range_header[128] = "";
    const httpd_vec& range = c->ch.range;
    big_int_t first, last;
    char text[64];
    snprintf(text, sizeof text, "%.*s", range.ptr ? range.len : 0, range.ptr ? range.ptr : "");
    int fields = strncmp(text, "bytes=", 6) == 0 && isdigit(static_cast<unsigned char>(text[6]))
                     ? sscanf(text, "bytes=%llu-%llu", &first, &last)
                     : 0;
    if (fields >= 1) {
        // A range that starts past the end or ends before its start cannot be served.
        if (first >= size || (fields == 2 && last < first)) {
            close(fd);
            snprintf(range_header, sizeof range_header,
                     "Requested Range Not Satisfiable\r\nContent-Range: bytes */%llu", size);
            return send_error_reply(c, 416, range_header);
        }
        if (fields == 1 || last >= size)
            last = size - 1;
        start = first;
        length = last - first + 1;
        lseek(fd, static_cast<off_t>(start), SEEK_SET);
        snprintf(range_header, sizeof range_header, "Content-Range: bytes %llu-%llu/%llu\r\n", start, last,
                 size);
        status = 206;
        reason = "Partial Content";
    }
    char now[64], modified[64];
    format_gmt(now, sizeof now, httpd_now);
    format_gmt(modified, sizeof modified, st->st_mtime);
    httpd_stream* loc = &c->loc;
    io_clear(&loc->io);
    loc->headers_len =
        io_printf(&loc->io,
                  "HTTP/1.1 %d %s\r\nDate: %s\r\nLast-Modified: %s\r\nEtag: \"%lx.%lx\"\r\nContent-Type: "
                  "%.*s\r\nContent-Length: %llu\r\nAccept-Ranges: bytes\r\n%s\r\n",
                  status, reason, now, modified, static_cast<unsigned long>(st->st_mtime),
                  static_cast<unsigned long>(st->st_size), c->content_type.len, c->content_type.ptr, length,
                  range_header);
    loc->io_class = &io_file;
    loc->chan.fd = fd;
    loc->flags |= FLAG_R | FLAG_NO_WAIT;
    loc->content_len = length;
    c->status = status;
    if (c->method == METHOD_HEAD)
        end_stream(loc);
}

void serve_directory(httpd_connection* c, struct stat* st) {
    if (c->path[strlen(c->path) - 1] != '/')
        return redirect_to_directory(c);
    if (find_index_file(c, st)) {
        if (!S_ISDIR(st->st_mode))
            return serve_path_file(c, st);
        if (!option_is_true(c->ctx, OPT_DIR_LIST))
            return send_error_reply(c, 403, "Directory listing denied");
    } else if (!option_is_true(c->ctx, OPT_DIR_LIST)) {
        return send_error_reply(c, 403, "Directory Listing Denied");
    }
    char* copy = strdup(c->path);
    if (!copy)
        return send_error_reply(c, 500, "GET Directory Error");
    start_listing(c, copy);
}

// put_dir: creates every missing directory along the path. 0 when the path ends in '/', 1 when a file
// name follows the last '/', -1 when a directory cannot be made.
int put_dir(const char* path) {
    char prefix[4096];
    for (const char* p = strchr(path + (path[0] && path[1] ? 2 : 0), '/'); p; p = strchr(p + 1, '/')) {
        size_t len = p - path;
        if (len >= sizeof prefix)
            return -1;
        memcpy(prefix, path, len);
        prefix[len] = '\0';
        struct stat st;
        if (stat(prefix, &st) != 0 && mkdir(prefix, 0755) != 0)
            return -1;
        if (p[1] == '\0')
            return 0;
    }
    return 1;
}

} // namespace

const httpd_io_class io_file = {"file", read_file, write_file, close_file};

void mime_type_of(httpd_context* ctx, const char* text, size_t length, httpd_vec* result) {
    const char* list = ctx->options[OPT_MIME_TYPES];
    httpd_vec item, extension, type;
    while (next_list_item(&list, &item)) {
        if (split_pair(&item, &extension, &type) &&
            ends_in_extension(text, length, extension.ptr, extension.len)) {
            *result = type;
            return;
        }
    }
    for (const mime_row& row : builtin_types) {
        if (ends_in_extension(text, length, row.extension, strlen(row.extension))) {
            *result = {row.type, static_cast<int>(strlen(row.type))};
            return;
        }
    }
    *result = {"text/plain", 10};
}

int has_extension(httpd_context* ctx, int option, const char* path) {
    const char* list = ctx->options[option];
    httpd_vec item;
    size_t length = strlen(path);
    while (next_list_item(&list, &item))
        if (ends_in_extension(path, length, item.ptr, item.len))
            return 1;
    return 0;
}

namespace {

// The canonical form of a root or alias directory, looked up again at most once a second.
const char* resolved_base_of(const char* base) {
    thread_local char last_base[PATH_MAX] = "";
    thread_local char resolved[PATH_MAX] = "";
    thread_local time_t resolved_at = 0;
    if (strcmp(last_base, base) != 0 || resolved_at != httpd_now || !resolved[0]) {
        snprintf(last_base, sizeof last_base, "%s", base);
        resolved_at = httpd_now;
        if (!realpath(base, resolved))
            resolved[0] = '\0';
    }
    return resolved[0] ? resolved : nullptr;
}

} // namespace

// The path, canonicalised with its symbolic links resolved, must lie inside the root or alias
// directory that starts it. A path that does not exist yet is judged by its deepest existing ancestor.
int confined_path(httpd_connection* c, const char* path) {
    char base[PATH_MAX], resolved[PATH_MAX];
    if (c->base_len == 0 || c->base_len >= sizeof base)
        return 0;
    memcpy(base, c->path, c->base_len);
    base[c->base_len] = '\0';
    const char* resolved_base = resolved_base_of(base);
    if (!resolved_base || !existing_ancestor(path, resolved))
        return 0;
    size_t len = strlen(resolved_base);
    if (len == 1)
        return 1;
    return strncmp(resolved, resolved_base, len) == 0 && (resolved[len] == '/' || resolved[len] == '\0');
}

void serve_path_file(httpd_connection* c, struct stat* st) {
    if (has_extension(c->ctx, OPT_CGI_EXT, c->path))
        return serve_cgi(c);
    if (has_extension(c->ctx, OPT_SSI_EXT, c->path)) {
        FILE* page = fopen(c->path, "re");
        if (!page)
            return send_error_reply(c, 500, "SSI open error");
        return start_ssi(c, page);
    }
    if (c->ch.have_if_modified_since && c->ch.if_modified_since >= st->st_mtime)
        return send_error_reply(c, 304, "Not Modified");
    int fd = open(c->path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return send_error_reply(c, 500, "Internal Error");
    send_file_reply(c, st, fd);
}

void serve_path(httpd_connection* c) {
    struct stat st;
    if (stat(c->path, &st) != 0 && !split_path_info(c, &st))
        return send_error_reply(c, 404, "Not Found");
    if (!confined_path(c, c->path))
        return send_error_reply(c, 403, "Forbidden");
    if (S_ISDIR(st.st_mode))
        return serve_directory(c, &st);
    serve_path_file(c, &st);
}

void serve_put_delete(httpd_connection* c) {
    if (!c->ctx->options[OPT_AUTH_PUT] || !check_put_auth(c))
        return send_auth_request(c);
    if (!confined_path(c, c->path))
        return send_error_reply(c, 403, "Forbidden");
    if (c->method == METHOD_DELETE)
        return remove(c->path) == 0 ? send_error_reply(c, 200, "OK")
                                    : send_error_reply(c, 500, "DELETE Error");
    struct stat st;
    c->status = stat(c->path, &st) == 0 ? 200 : 201;
    if (c->ch.range.ptr)
        return send_error_reply(c, 501, "PUT Range Not Implemented");
    int made = put_dir(c->path);
    if (made == 0)
        return send_error_reply(c, 200, "OK");
    if (made < 0)
        return send_error_reply(c, 500, "PUT Directory Error");
    if (c->ch.content_length == 0)
        return send_error_reply(c, 411, "Length Required");
    int status = c->status;
    int fd = open(c->path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return send_error_reply(c, 500, "PUT Error");
    c->status = status;
    c->loc.io_class = &io_file;
    c->loc.chan.fd = fd;
    c->loc.flags |= FLAG_W | FLAG_NO_WAIT;
}

// A file reply of known length to a plain socket goes from the page cache to the socket, once its
// header block is out.
int sends_directly(const httpd_connection* c) {
    return c->loc.io_class == &io_file && (c->loc.flags & FLAG_R) && c->loc.content_len &&
           c->rem.io_class == &io_socket && !(c->loc.flags & FLAG_HELD);
}

void send_file_direct(httpd_connection* c) {
    httpd_stream* loc = &c->loc;
    big_int_t sent = loc->io.total - loc->headers_len;
    big_int_t left = loc->content_len > sent ? loc->content_len - sent : 0;
    ssize_t n = left ? sendfile(c->rem.chan.fd, loc->chan.fd, nullptr, left < IO_LIMIT ? left : IO_LIMIT) : 0;
    if (n > 0) {
        loc->io.total += n;
        c->expire = httpd_now + IDLE_TIMEOUT;
        if (static_cast<big_int_t>(n) == left)
            end_stream(loc);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The file shrank or the client went: the reply cannot be completed.
        c->must_close = 1;
        end_stream(loc);
    }
}
