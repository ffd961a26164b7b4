// The reply of a CGI program: its header block is read first to learn the status, then its output
// passes through unchanged.

#include "httpd/internal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// 'HTTP/1.1', five blanks for the status, 'OK'; held back until the status is known.
const char CGI_REPLY[] = "HTTP/1.1     OK\r\n";
constexpr size_t CGI_REPLY_LEN = sizeof CGI_REPLY - 1;

void parse_cgi_headers(httpd_stream* stream, int block_len) {
    httpd_connection* c = stream->conn;
    httpd_headers headers = {};
    read_known_headers(stream->io.buf + CGI_REPLY_LEN, block_len - CGI_REPLY_LEN, &headers);
    stream->content_len = headers.content_length;
    big_int_t status = headers.status ? headers.status : headers.location.ptr ? 302 : 200;
    // The status fills exactly three places of the held-back line.
    c->status = static_cast<int>(status < 100 ? 100 : status > 599 ? 599 : status);
    char digits[4];
    snprintf(digits, sizeof digits, "%03d", c->status);
    memcpy(stream->io.buf + 9, digits, 3);
    stream->io.total -= block_len;
    stream->io.tail = 0;
    stream->flags |= FLAG_PARSED;
}

int read_cgi(httpd_stream* stream, void* buffer, size_t length) {
    httpd_connection* c = stream->conn;
    stream->flags &= ~FLAG_KEEP_OPEN;
    int n = static_cast<int>(recv(stream->chan.cgi.sock, buffer, length, 0));
    if (n > 0)
        c->cgi_active = httpd_now;
    if (stream->flags & FLAG_PARSED)
        return n;
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        send_error_reply(c, 500, "Error running CGI");
        return 0;
    }
    stream->flags |= FLAG_KEEP_OPEN;
    if (n > 0)
        io_inc_head(&stream->io, n);
    int block_len = header_block_length(stream->io.buf, stream->io.head);
    if (block_len < 0) {
        stream->flags &= ~FLAG_KEEP_OPEN;
        int sent = static_cast<int>(stream->io.head - CGI_REPLY_LEN);
        server_log(LOG_NOTICE, c, "CGI script sent invalid headers: [%.*s]", sent,
                   stream->io.buf + CGI_REPLY_LEN);
        send_error_reply(c, 500, "Bad headers sent");
    } else if (block_len == 0) {
        stream->io.tail = stream->io.head;
    } else {
        parse_cgi_headers(stream, block_len);
    }
    return 0;
}

int write_cgi(httpd_stream* stream, const void* data, size_t length) {
    return static_cast<int>(send(stream->chan.cgi.sock, data, length, MSG_NOSIGNAL));
}

void close_cgi(httpd_stream* stream) {
    close(stream->chan.cgi.sock);
    stream->chan.cgi.sock = -1;
}

} // namespace

const httpd_io_class io_cgi = {"cgi", read_cgi, write_cgi, close_cgi};

void start_cgi_reply(httpd_connection* c, int sock, pid_t pid) {
    httpd_stream* loc = &c->loc;
    io_clear(&loc->io);
    io_reserve(&loc->io, CGI_REPLY_LEN + 1);
    memcpy(loc->io.buf, CGI_REPLY, CGI_REPLY_LEN);
    loc->io.head = loc->io.tail = loc->io.total = CGI_REPLY_LEN;
    loc->io_class = &io_cgi;
    loc->chan.cgi.sock = sock;
    loc->chan.cgi.pid = pid;
    loc->flags |= FLAG_R;
    if (c->method == METHOD_POST)
        loc->flags |= FLAG_W;
    c->cgi_active = httpd_now;
}

// A program that has given no output for CGI_TIMEOUT seconds is killed with everything it started.
void check_cgi_timeout(httpd_connection* c) {
    httpd_stream* loc = &c->loc;
    if (loc->io_class != &io_cgi)
        return;
    if (stream_read_room(loc) == 0)
        c->cgi_active = httpd_now; // waiting for the client, not for the program
    if (httpd_now - c->cgi_active <= CGI_TIMEOUT)
        return;
    kill(-loc->chan.cgi.pid, SIGKILL);
    server_log(LOG_NOTICE, c, "CGI program timed out after %ld seconds", static_cast<long>(CGI_TIMEOUT));
    c->must_close = 1;
    if (loc->flags & FLAG_PARSED)
        end_stream(loc);
    else
        send_error_reply(c, 500, "Error running CGI");
}
