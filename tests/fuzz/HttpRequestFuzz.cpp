// Feeds arbitrary bytes to the HTTP request parser as if a client had sent them, with a page callback
// that reads headers, the environment and form variables; then to decode_url and httpd_get_var directly.
// The server must answer every input with a reply or a wait for more bytes, never with anything else.

#include "httpd/internal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

httpd_context* context() {
    static httpd_context* ctx = [] {
        static char program[] = "fuzz", ports[] = "-ports", none[] = "", root[] = "-root",
                    dir[] = "/nonexistent", aliases[] = "-aliases", alias[] = "/al=/nonexistent/b";
        static char* argv[] = {program, ports, none, root, dir, aliases, alias, nullptr};
        return httpd_init(7, argv);
    }();
    return ctx;
}

void page(httpd_arg* arg) {
    char value[64];
    httpd_get_header(arg, "Cookie");
    httpd_get_header(arg, "X");
    httpd_get_env(arg, "REQUEST_URI");
    httpd_get_env(arg, "REMOTE_ADDR");
    const char* query = httpd_get_env(arg, "QUERY_STRING");
    if (query)
        httpd_get_var("a", query, strlen(query), value, sizeof value);
    httpd_get_var("b", arg->input.data, arg->input.size, value, sizeof value);
    httpd_printf(arg, "HTTP/1.1 200 OK\r\n\r\n%s", value);
    arg->input.used = arg->input.size;
    arg->flags |= HTTPD_DONE;
}

void decode_directly(const uint8_t* data, size_t size) {
    if (size < 2)
        return;
    size_t destination_size = data[0] % 32;
    char* source = static_cast<char*>(malloc(size - 1));
    memcpy(source, data + 1, size - 1);
    char* destination = static_cast<char*>(malloc(destination_size ? destination_size : 1));
    decode_url(source, size - 1, destination, destination_size);
    httpd_get_var("a", source, size - 1, destination, destination_size);
    free(destination);
    free(source);
}

bool is_listed(httpd_worker* worker, httpd_connection* c) {
    LIST_FOREACH(&worker->connections, entry, next) {
        if (reinterpret_cast<httpd_connection*>(entry) == c)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    httpd_context* ctx = context();
    static bool registered = false;
    if (!registered) {
        httpd_register_uri(ctx, "/p*", page, nullptr);
        registered = true;
    }
    decode_directly(data, size);

    httpd_worker* worker = reinterpret_cast<httpd_worker*>(ctx->workers.next);
    httpd_connection* c = static_cast<httpd_connection*>(calloc(1, sizeof(httpd_connection)));
    c->loc.conn = c->rem.conn = c;
    c->ctx = ctx;
    c->worker = worker;
    c->rem.chan.fd = c->loc.chan.fd = -1;
    c->rem.flags = FLAG_R | FLAG_W;
    list_append(&worker->connections, &c->link);
    ++worker->num_conns;
    if (size && io_reserve(&c->rem.io, size < IO_LIMIT ? size : IO_LIMIT) == 0) {
        size_t n = size < io_space_len(&c->rem.io) ? size : io_space_len(&c->rem.io);
        memcpy(io_space(&c->rem.io), data, n);
        io_inc_head(&c->rem.io, n);
    }
    // Requests that follow one another in the input are parsed as a pipelined client's would be: each
    // reply counts as sent, then the connection is recycled or ends.
    for (int round = 0; round < 8; ++round) {
        if (!(c->rem.flags & FLAG_PARSED))
            parse_http_request(c);
        if (c->loc.flags & FLAG_R)
            read_stream(&c->loc);
        if (!(c->loc.flags & FLAG_STOPPED))
            break;
        io_clear(&c->loc.io);
        connection_desctructor(c);
        if (!is_listed(worker, c)) {
            c = nullptr;
            break;
        }
    }
    if (c) {
        c->must_close = 1;
        connection_desctructor(c);
    }
    return 0;
}
