// Directory listings.

#include "httpd/internal.h"

#include <cstdlib>
#include <cstring>

namespace {

void format_size(const struct stat* st, char* out, size_t size) {
    unsigned long bytes = static_cast<unsigned long>(st->st_size);
    if (S_ISDIR(st->st_mode))
        snprintf(out, size, "&lt;DIR&gt;");
    else if (bytes < 1024)
        snprintf(out, size, "%lu", bytes);
    else if (bytes < 1048576)
        snprintf(out, size, "%luk", bytes / 1024 + 1);
    else
        snprintf(out, size, "%.1fM", bytes / 1048576.0);
}

// Formats one row into `out`; returns its length, or 0 when the entry is not listed.
int format_row(httpd_stream* stream, const char* name, char* out, size_t size) {
    if (strcmp(name, ".") == 0 || strcmp(name, ".htpasswd") == 0)
        return 0;
    char path[PATH_LIMIT];
    snprintf(path, sizeof path, "%s/%s", stream->chan.dir.path, name);
    struct stat st = {};
    stat(path, &st);
    char modified[64], size_text[32];
    struct tm tm;
    localtime_r(&st.st_mtime, &tm);
    strftime(modified, sizeof modified, "%d-%b-%Y %H:%M", &tm);
    format_size(&st, size_text, sizeof size_text);
    char uri[3 * PATH_LIMIT], href_name[3 * 256], text_name[6 * 256];
    url_encode(stream->conn->uri, uri, sizeof uri);
    url_encode(name, href_name, sizeof href_name);
    html_escape(name, text_name, sizeof text_name);
    const char* slash = S_ISDIR(st.st_mode) ? "/" : "";
    return snprintf(out, size,
                    "<tr><td><a href=\"%s%s%s\">%s%s</a></td><td>&nbsp;%s</td><td>&nbsp;&nbsp;%s</td></tr>\n",
                    uri, href_name, slash, text_name, slash, modified, size_text);
}

// Fills the space with rows; an entry whose row does not fit waits for the next call.
int read_dir(httpd_stream* stream, void* buffer, size_t length) {
    char* out = static_cast<char*>(buffer);
    size_t n = 0;
    stream->flags |= FLAG_KEEP_OPEN;
    for (;;) {
        long position = telldir(stream->chan.dir.dirp);
        struct dirent* entry = readdir(stream->chan.dir.dirp);
        if (!entry) {
            stream->flags &= ~FLAG_KEEP_OPEN;
            break;
        }
        char row[PATH_LIMIT * 4];
        int len = format_row(stream, entry->d_name, row, sizeof row);
        if (len <= 0)
            continue;
        if (static_cast<size_t>(len) > length - n) {
            seekdir(stream->chan.dir.dirp, position);
            break;
        }
        memcpy(out + n, row, len);
        n += len;
    }
    return static_cast<int>(n);
}

void close_dir(httpd_stream* stream) {
    closedir(stream->chan.dir.dirp);
    free(stream->chan.dir.path);
    stream->chan.dir.dirp = nullptr;
    stream->chan.dir.path = nullptr;
}

} // namespace

const httpd_io_class io_dir = {"dir", read_dir, nullptr, close_dir};

void start_listing(httpd_connection* c, char* path) {
    DIR* dirp = opendir(path);
    if (!dirp) {
        free(path);
        return send_error_reply(c, 500, "Cannot open directory");
    }
    char title[6 * PATH_LIMIT];
    html_escape(c->uri, title, sizeof title);
    httpd_stream* loc = &c->loc;
    io_clear(&loc->io);
    io_printf(
        &loc->io,
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><head>"
        "<title>Index of %s</title><style>th {text-align: left;}</style></head><body><h1>Index of "
        "%s</h1><pre>"
        "<table cellpadding=\"0\"><tr><th>Name</th><th>Modified</th><th>Size</th></tr><tr><td colspan=\"3\">"
        "<hr></td></tr>",
        title, title);
    loc->headers_len = 0;
    io_clear(&c->rem.io);
    c->status = 200;
    loc->io_class = &io_dir;
    loc->chan.dir.dirp = dirp;
    loc->chan.dir.path = path;
    loc->flags |= FLAG_R | FLAG_NO_WAIT;
}
