// The "embedded" local stream: a registered callback writes the reply straight into the reply buffer.

#include "httpd/internal.h"

namespace {

int read_embedded(httpd_stream* stream, void*, size_t) {
    run_callback(stream->conn, stream->chan.emb.func, 0);
    return 0;
}

int write_embedded(httpd_stream* stream, const void*, size_t) {
    run_callback(stream->conn, stream->chan.emb.func, 0);
    return 0;
}

void close_embedded(httpd_stream* stream) {
    if (stream->flags & FLAG_KEEP_OPEN)
        run_callback(stream->conn, stream->chan.emb.func, HTTPD_ABORTED);
}

} // namespace

const httpd_io_class io_embedded = {"embedded", read_embedded, write_embedded, close_embedded};

void attach_callback(httpd_connection* c, httpd_callback func, void* user_data) {
    c->loc.chan.emb.state = nullptr;
    c->loc.chan.emb.func = func;
    c->loc.chan.emb.user_data = user_data;
    c->loc.io_class = &io_embedded;
    c->loc.flags |= FLAG_R | FLAG_W | FLAG_NO_WAIT;
}

void run_callback(httpd_connection* c, httpd_callback func, unsigned extra_flags) {
    httpd_stream* loc = &c->loc;
    httpd_stream* rem = &c->rem;
    io_reserve(&loc->io, IO_LIMIT - loc->io.head);
    httpd_arg arg = {};
    arg.connection = c;
    arg.state = loc->chan.emb.state;
    arg.user_data = loc->chan.emb.user_data;
    arg.output.data = loc->io.buf ? io_space(&loc->io) : nullptr;
    arg.output.size = static_cast<int>(io_space_len(&loc->io));
    size_t input = body_data_len(c);
    arg.input.data = rem->io.buf ? io_data(&rem->io) : nullptr;
    arg.input.size = static_cast<int>(input);
    arg.flags = extra_flags;
    if (input >= IO_LIMIT)
        arg.flags |= HTTPD_INPUT_FULL;
    if (rem->content_len && rem->io.total < rem->content_len)
        arg.flags |= HTTPD_MORE_INPUT;

    func(&arg);

    if (arg.output.used > 0 && arg.output.used <= arg.output.size)
        io_inc_head(&loc->io, arg.output.used);
    if (arg.input.used > 0 && arg.input.used <= arg.input.size) {
        io_inc_tail(&rem->io, arg.input.used);
        c->body_taken += arg.input.used;
    }
    loc->chan.emb.state = arg.state;
    if (arg.flags & HTTPD_DONE)
        loc->flags &= ~FLAG_KEEP_OPEN;
    else
        loc->flags |= FLAG_KEEP_OPEN;
    if (arg.flags & HTTPD_PAUSE)
        loc->flags |= FLAG_HELD;
}
