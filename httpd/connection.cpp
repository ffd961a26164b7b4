// One pass over a connection: moving bytes between the client and the local source, and ending or
// recycling the connection when its reply is out.

#include "httpd/internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace {

int is_local(const httpd_stream* stream) {
    return stream == &stream->conn->loc;
}

// Bytes of the stream's content counted against its content_len.
big_int_t content_total(const httpd_stream* stream) {
    if (!is_local(stream))
        return stream->io.total;
    return stream->io.total > static_cast<big_int_t>(stream->headers_len)
               ? stream->io.total - stream->headers_len
               : 0;
}

int would_block(int n) {
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

int wants_close(httpd_connection* c) {
    const httpd_vec& connection = c->ch.connection;
    if (connection.ptr && connection.len > 4 && strncasecmp(connection.ptr, "close", 5) == 0)
        return 1;
    if (c->major == 0 || c->minor == 0)
        return 1;
    // Body bytes the reply did not take would be read as the next request.
    if (c->ch.transfer_encoding.ptr || c->ch.content_length > c->body_taken)
        return 1;
    return c->must_close || c->loc.content_len == 0 || (c->rem.flags & FLAG_STOPPED) || c->expire < httpd_now;
}

void release_request(httpd_connection* c) {
    free(c->request);
    free(c->uri);
    free(c->path);
    free(c->path_info);
    c->request = c->uri = c->path = c->path_info = nullptr;
    c->headers = c->headers_end = c->query = nullptr;
}

void recycle(httpd_connection* c) {
    httpd_stream* loc = &c->loc;
    httpd_stream* rem = &c->rem;
    loc->io_class = nullptr;
    loc->flags = 0;
    loc->content_len = 0;
    loc->headers_len = 0;
    io_clear(&loc->io);
    rem->flags = FLAG_TLS_DONE | FLAG_R | FLAG_W;
    rem->content_len = 0;
    rem->headers_len = 0;
    rem->io.total = io_data_len(&rem->io);
    c->status = c->method = 0;
    c->major = c->minor = 0;
    c->content_type = httpd_vec();
    c->ch = httpd_headers();
    c->body_taken = 0;
    c->authenticated = c->must_close = 0;
    c->birth = httpd_now;
    c->expire = httpd_now + IDLE_TIMEOUT;
    // An idle connection keeps no buffers.
    io_release(&loc->io);
    if (io_data_len(&rem->io) == 0)
        io_release(&rem->io);
    else
        parse_http_request(c); // a pipelined request; its reply goes out in the next cycle
}

} // namespace

size_t stream_read_room(httpd_stream* stream) {
    if (!stream->io_class)
        return 0;
    size_t cap = is_local(stream) && stream->io_class != &io_embedded ? IO_FIRST_CHUNK : IO_LIMIT;
    if (stream->io.head >= cap)
        return 0;
    big_int_t room = cap - stream->io.head;
    if (stream->content_len) {
        big_int_t done = content_total(stream);
        if (done >= stream->content_len)
            return 0;
        if (stream->content_len - done < room)
            room = stream->content_len - done;
    }
    return static_cast<size_t>(room);
}

size_t body_data_len(httpd_connection* c) {
    if (!(c->rem.flags & FLAG_PARSED) || !c->request)
        return 0;
    size_t data = io_data_len(&c->rem.io);
    if (c->ch.transfer_encoding.ptr)
        return data;
    big_int_t left = c->ch.content_length > c->body_taken ? c->ch.content_length - c->body_taken : 0;
    return left < data ? static_cast<size_t>(left) : data;
}

void end_stream(httpd_stream* stream) {
    const httpd_io_class* io_class = stream->io_class;
    stream->io_class = nullptr;
    if (io_class && io_class->close)
        io_class->close(stream);
    stream->flags &= ~(FLAG_R | FLAG_W | FLAG_NO_WAIT);
    stream->flags |= FLAG_STOPPED;
}

void read_stream(httpd_stream* stream) {
    size_t room = stream_read_room(stream);
    if (room == 0 || !stream->io_class->read)
        return;
    if (io_reserve(&stream->io, is_local(stream) ? room : 1) != 0)
        return;
    size_t length = io_space_len(&stream->io) < room ? io_space_len(&stream->io) : room;
    int n = stream->io_class->read(stream, io_space(&stream->io), length);
    if (n > 0)
        io_inc_head(&stream->io, n);
    else if (!would_block(n) && !(stream->flags & FLAG_KEEP_OPEN))
        end_stream(stream);
    if (is_local(stream) && stream->content_len && content_total(stream) >= stream->content_len)
        end_stream(stream);
    stream->conn->expire = httpd_now + IDLE_TIMEOUT;
}

void write_stream(httpd_stream* from, httpd_stream* to) {
    httpd_connection* c = from->conn;
    int from_remote = from == &c->rem;
    size_t length = from_remote ? body_data_len(c) : io_data_len(&from->io);
    int n = to->io_class->write(to, io_data(&from->io), length);
    c->expire = httpd_now + IDLE_TIMEOUT;
    if (n > 0) {
        io_inc_tail(&from->io, n);
        if (from_remote)
            c->body_taken += n;
    } else if (!would_block(n) && !(to->flags & FLAG_KEEP_OPEN)) {
        end_stream(to);
    }
}

void serve_connection(httpd_connection* c, int remote_ready, int local_ready) {
    httpd_stream* loc = &c->loc;
    httpd_stream* rem = &c->rem;
    if (remote_ready && stream_read_room(rem) > 0)
        read_stream(rem);
    if (!(rem->flags & (FLAG_PARSED | FLAG_STOPPED)) && io_data_len(&rem->io) > 0)
        parse_http_request(c);
    // A file is always ready: its first part goes out with the header block of a reply made in this pass.
    int local_now = local_ready || loc->io_class == &io_file;
    if (!sends_directly(c) && local_now && (loc->flags & FLAG_R) && stream_read_room(loc) > 0)
        read_stream(loc);
    if (body_data_len(c) > 0 && (loc->flags & FLAG_W) && loc->io_class && loc->io_class->write)
        write_stream(rem, loc);
    if (io_data_len(&loc->io) > 0 && rem->io_class && !(loc->flags & FLAG_HELD))
        write_stream(loc, rem);
    if (sends_directly(c) && io_data_len(&loc->io) == 0)
        send_file_direct(c);
    check_cgi_timeout(c);
    int header_late = !(rem->flags & FLAG_PARSED) && httpd_now - c->birth > HEADER_TIMEOUT;
    if (c->expire < httpd_now || header_late || (rem->flags & FLAG_STOPPED))
        connection_desctructor(c);
    else if ((loc->flags & FLAG_STOPPED) && io_data_len(&loc->io) == 0)
        connection_desctructor(c);
}

void connection_desctructor(httpd_connection* c) {
    httpd_context* ctx = c->ctx;
    if (c->request && ctx->access_log)
        log_access(ctx->access_log, c);
    if (option_is_true(ctx, OPT_INETD))
        exit(0);
    if (c->loc.io_class)
        end_stream(&c->loc);
    int closing = wants_close(c);
    release_request(c);
    if (!closing) {
        recycle(c);
        return;
    }
    if (c->rem.io_class)
        end_stream(&c->rem);
    list_remove(&c->link);
    --c->worker->num_conns;
    io_release(&c->loc.io);
    io_release(&c->rem.io);
    free(c);
}
