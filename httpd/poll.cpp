// Listening sockets, workers, accepting connections and the select() cycle.

#include "httpd/internal.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/select.h>
#include <unistd.h>

namespace {

struct descriptor_sets {
    fd_set read;
    fd_set write;
    int max_fd;
};

void watch(int fd, fd_set* set, descriptor_sets* sets) {
    if (fd < 0 || fd >= MAX_SELECT_FD)
        return;
    FD_SET(fd, set);
    if (fd > sets->max_fd)
        sets->max_fd = fd;
}

int is_ready(int fd, const fd_set* set) {
    return fd >= 0 && fd < MAX_SELECT_FD && FD_ISSET(fd, set);
}

void set_non_blocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
}

void set_close_on_exec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

int is_cgi(const httpd_stream* stream) {
    return stream->io_class == &io_cgi;
}

void open_listener(httpd_context* ctx, const httpd_vec& item) {
    int port = atoi(item.ptr) & 0xffff;
    int is_ssl = item.ptr[item.len - 1] == 's';
    int sock = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_storage address = {};
    socklen_t length;
    if (sock >= 0) {
        sockaddr_in6* sin6 = reinterpret_cast<sockaddr_in6*>(&address);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_addr = in6addr_any;
        sin6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        int off = 0;
        if (setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)
            server_log(LOG_NOTICE, nullptr, "Unable to set socket option IPV6_V6ONLY to the listener, %s",
                       strerror(errno));
    } else {
        sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in* sin = reinterpret_cast<sockaddr_in*>(&address);
        sin->sin_family = AF_INET;
        sin->sin_addr.s_addr = htonl(INADDR_ANY);
        sin->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    }
    int on = 1;
    if (sock < 0 || fcntl(sock, F_SETFL, fcntl(sock, F_GETFL, 0) | O_NONBLOCK) != 0 ||
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(sock, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(sock, 128) != 0) {
        int error = errno;
        if (sock >= 0)
            close(sock);
        server_log(LOG_NOTICE, nullptr, "open_listening_port(%d): %s", port, strerror(error));
        server_log(LOG_FATAL, nullptr, "cannot open port %d", port);
    }
    set_close_on_exec(sock);
    httpd_listener* listener = static_cast<httpd_listener*>(calloc(1, sizeof(httpd_listener)));
    if (!listener) {
        close(sock);
        server_log(LOG_FATAL, nullptr, "cannot allocate listener");
    }
    if (is_ssl && !ctx->ssl_ctx) {
        close(sock);
        free(listener);
        server_log(LOG_FATAL, nullptr, "cannot add SSL socket, please specify certificate file");
    }
    listener->ctx = ctx;
    listener->sock = sock;
    listener->is_ssl = is_ssl;
    list_append(&ctx->listeners, &listener->link);
}

void collect_descriptors(httpd_worker* worker, descriptor_sets* sets, int* wait_ms) {
    watch(worker->ctl[0], &sets->read, sets);
    LIST_FOREACH(&worker->connections, entry, next) {
        httpd_connection* c = reinterpret_cast<httpd_connection*>(entry);
        httpd_stream* loc = &c->loc;
        httpd_stream* rem = &c->rem;
        int held = loc->flags & FLAG_HELD;
        if (stream_read_room(rem) > 0) {
            watch(rem->chan.fd, &sets->read, sets);
            if (tls_pending(rem))
                *wait_ms = 0;
        }
        if (stream_read_room(loc) > 0 && (loc->flags & FLAG_R) && is_cgi(loc))
            watch(loc->chan.cgi.sock, &sets->read, sets);
        if (body_data_len(c) > 0 && (loc->flags & FLAG_W) && is_cgi(loc))
            watch(loc->chan.cgi.sock, &sets->write, sets);
        if (io_data_len(&loc->io) > 0 && !held)
            watch(rem->chan.fd, &sets->write, sets);
        if (sends_directly(c) && io_data_len(&loc->io) == 0)
            watch(rem->chan.fd, &sets->write, sets);
        else if (stream_read_room(loc) > 0 && (loc->flags & FLAG_R) && (loc->flags & FLAG_NO_WAIT) && !held)
            *wait_ms = 0;
        if (body_data_len(c) > 0 && (loc->flags & FLAG_W) && (loc->flags & FLAG_NO_WAIT))
            *wait_ms = 0;
    }
}

httpd_connection* find_connection(httpd_worker* worker, httpd_connection* wanted) {
    LIST_FOREACH(&worker->connections, entry, next)
    if (reinterpret_cast<httpd_connection*>(entry) == wanted)
        return wanted;
    return nullptr;
}

void read_control_commands(httpd_worker* worker) {
    char command[12];
    while (read(worker->ctl[0], command, 4) == 4) {
        int code;
        memcpy(&code, command, 4);
        if (code == 0) {
            int payload[2];
            if (read(worker->ctl[0], payload, sizeof payload) == sizeof payload)
                add_socket(worker, payload[0], payload[1]);
        } else if (code == 1) {
            httpd_connection* c;
            if (read(worker->ctl[0], command + 4, 8) == 8) {
                memcpy(&c, command + 4, sizeof c);
                if (find_connection(worker, c))
                    c->loc.flags &= ~FLAG_HELD;
            }
        } else {
            server_log(LOG_FATAL, nullptr, "ctx %p: ctl cmd %d", static_cast<void*>(worker->ctx), code);
        }
    }
}

void serve_worker(httpd_worker* worker, const descriptor_sets* sets) {
    if (is_ready(worker->ctl[0], &sets->read))
        read_control_commands(worker);
    LIST_FOREACH(&worker->connections, entry, next) {
        httpd_connection* c = reinterpret_cast<httpd_connection*>(entry);
        int remote_ready = is_ready(c->rem.chan.fd, &sets->read) || tls_pending(&c->rem);
        int local_ready =
            (c->loc.flags & FLAG_NO_WAIT) || (is_cgi(&c->loc) && is_ready(c->loc.chan.cgi.sock, &sets->read));
        serve_connection(c, remote_ready, local_ready);
    }
}

void wait_and_serve(httpd_worker* worker, int wait_ms) {
    descriptor_sets sets;
    FD_ZERO(&sets.read);
    FD_ZERO(&sets.write);
    sets.max_fd = -1;
    collect_descriptors(worker, &sets, &wait_ms);
    timeval tv = {wait_ms / 1000, (wait_ms % 1000) * 1000};
    if (select(sets.max_fd + 1, &sets.read, &sets.write, nullptr, &tv) < 0)
        return;
    httpd_now = time(nullptr);
    serve_worker(worker, &sets);
}

void* worker_loop(void* data) {
    httpd_worker* worker = static_cast<httpd_worker*>(data);
    while (!worker->stop)
        wait_and_serve(worker, 10000);
    return nullptr;
}

int thread_count(httpd_context* ctx) {
    const char* value = ctx->options[OPT_THREADS];
    return value ? atoi(value) : 1;
}

httpd_worker* first_worker(httpd_context* ctx) {
    return reinterpret_cast<httpd_worker*>(ctx->workers.next);
}

void accept_connections(httpd_context* ctx, httpd_listener* listener) {
    for (;;) {
        sockaddr_storage peer;
        socklen_t length = sizeof peer;
        int sock = accept4(listener->sock, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (sock < 0)
            return;
        if (sock >= MAX_SELECT_FD) {
            server_log(LOG_NOTICE, nullptr, "ctx %p: discarding socket %d, too busy", static_cast<void*>(ctx),
                       sock);
            close(sock);
            continue;
        }
        if (!acl_allows(ctx, &peer)) {
            httpd_connection probe = {};
            probe.peer = peer;
            char text[64];
            client_address(&probe, text, sizeof text);
            server_log(LOG_NOTICE, nullptr, "%s is not allowed to connect", text);
            close(sock);
            continue;
        }
        if (thread_count(ctx) < 2) {
            add_socket(first_worker(ctx), sock, listener->is_ssl);
            continue;
        }
        httpd_worker* least = first_worker(ctx);
        LIST_FOREACH(&ctx->workers, entry, next) {
            httpd_worker* worker = reinterpret_cast<httpd_worker*>(entry);
            if (worker->num_conns < least->num_conns)
                least = worker;
        }
        int command[3] = {0, sock, listener->is_ssl};
        (void)!write(least->ctl[1], command, sizeof command);
    }
}

} // namespace

void client_address(const httpd_connection* c, char* buffer, size_t size) {
    const sockaddr_storage* peer = &c->peer;
    if (peer->ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr, buffer, size);
    } else if (peer->ss_family == AF_INET6) {
        const in6_addr* a6 = &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(a6))
            inet_ntop(AF_INET, a6->s6_addr + 12, buffer, size);
        else
            inet_ntop(AF_INET6, a6, buffer, size);
    } else {
        snprintf(buffer, size, "-");
    }
}

void close_listeners(httpd_context* ctx) {
    LIST_FOREACH(&ctx->listeners, entry, next) {
        httpd_listener* listener = reinterpret_cast<httpd_listener*>(entry);
        close(listener->sock);
        list_remove(entry);
        free(listener);
    }
}

void open_listening_port(httpd_context* ctx, const char* value) {
    close_listeners(ctx);
    httpd_vec item;
    while (next_list_item(&value, &item))
        open_listener(ctx, item);
}

void loopback_pair(int pair[2]) {
    pair[0] = pair[1] = -1;
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            close(listener);
        return;
    }
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client >= 0 && connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        int accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted >= 0) {
            set_non_blocking(accepted);
            set_non_blocking(client);
            pair[0] = accepted;
            pair[1] = client;
            close(listener);
            return;
        }
    }
    if (client >= 0)
        close(client);
    close(listener);
}

httpd_worker* new_worker(httpd_context* ctx) {
    httpd_worker* worker = static_cast<httpd_worker*>(calloc(1, sizeof(httpd_worker)));
    if (!worker)
        server_log(LOG_FATAL, nullptr, "Cannot allocate worker");
    worker->ctx = ctx;
    list_init(&worker->connections);
    loopback_pair(worker->ctl);
    list_append(&ctx->workers, &worker->link);
    return worker;
}

// Ends the worker's thread, if any, then every connection it holds, and releases it.
void free_worker(httpd_worker* worker) {
    if (worker->has_thread) {
        worker->stop = 1;
        int command[3] = {1, 0, 0};
        (void)!write(worker->ctl[1], command, sizeof command);
        pthread_join(worker->thread, nullptr);
    }
    LIST_FOREACH(&worker->connections, entry, next) {
        httpd_connection* c = reinterpret_cast<httpd_connection*>(entry);
        c->must_close = 1;
        connection_desctructor(c);
    }
    close(worker->ctl[0]);
    close(worker->ctl[1]);
    free(worker);
}

void set_threads(httpd_context* ctx, const char* value) {
    int wanted = value ? atoi(value) : 1;
    int count = 0;
    LIST_FOREACH(&ctx->workers, entry, next)++ count;
    if (wanted < 2) {
        if (count == 1)
            return;
        LIST_FOREACH(&ctx->workers, entry, next) {
            list_remove(entry);
            free_worker(reinterpret_cast<httpd_worker*>(entry));
        }
        new_worker(ctx);
        return;
    }
    for (; count < wanted; ++count)
        new_worker(ctx);
    LIST_FOREACH(&ctx->workers, entry, next) {
        httpd_worker* worker = reinterpret_cast<httpd_worker*>(entry);
        if (!worker->has_thread)
            worker->has_thread = pthread_create(&worker->thread, nullptr, worker_loop, worker) == 0;
    }
}

void set_inetd(httpd_context* ctx, const char* value) {
    if (!is_true_word(value))
        return;
    close_listeners(ctx);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

void add_socket(httpd_worker* worker, int sock, int is_ssl) {
    httpd_context* ctx = worker->ctx;
    int level = option_is_true(ctx, OPT_INETD) ? LOG_FATAL : LOG_NOTICE;
    sockaddr_storage peer = {};
    socklen_t peer_len = sizeof peer;
    set_non_blocking(sock);
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) {
        int error = errno;
        close(sock);
        server_log(level, nullptr, "add_socket: %s", strerror(error));
        return;
    }
    SSL* ssl = nullptr;
    if (is_ssl) {
        ssl = SSL_new(ctx->ssl_ctx);
        if (!ssl) {
            close(sock);
            server_log(level, nullptr, "add_socket: SSL_new: %s", strerror(ERR_get_error() ? EPROTO : errno));
            return;
        }
        if (SSL_set_fd(ssl, sock) != 1) {
            close(sock);
            SSL_free(ssl);
            server_log(level, nullptr, "add_socket: SSL_set_fd: %s", strerror(EPROTO));
            return;
        }
    }
    httpd_connection* c = static_cast<httpd_connection*>(calloc(1, sizeof(httpd_connection)));
    if (!c) {
        if (ssl)
            SSL_free(ssl);
        close(sock);
        server_log(level, nullptr, "add_socket: calloc: %s", strerror(ENOMEM));
        return;
    }
    int on = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    set_close_on_exec(sock);
    c->loc.conn = c->rem.conn = c;
    c->ctx = ctx;
    c->worker = worker;
    c->peer = peer;
    c->peer_len = peer_len;
    client_address(c, c->remote_addr, sizeof c->remote_addr);
    c->birth = httpd_now;
    c->expire = httpd_now + IDLE_TIMEOUT;
    sockaddr_storage local = {};
    socklen_t local_len = sizeof local;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&local), &local_len) == 0)
        c->local_port = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                                          : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    c->rem.io_class = ssl ? &io_ssl : &io_socket;
    c->rem.chan.ssl.sock = sock;
    c->rem.chan.ssl.ssl = ssl;
    c->rem.flags = FLAG_R | FLAG_W;
    if (ssl)
        tls_handshake(&c->rem);
    list_append(&worker->connections, &c->link);
    ++worker->num_conns;
}

void httpd_poll(httpd_context* ctx, int milliseconds) {
    httpd_now = time(nullptr);
    descriptor_sets sets;
    FD_ZERO(&sets.read);
    FD_ZERO(&sets.write);
    sets.max_fd = -1;
    LIST_FOREACH(&ctx->listeners, entry, next) {
        watch(reinterpret_cast<httpd_listener*>(entry)->sock, &sets.read, &sets);
    }
    int single = thread_count(ctx) < 2;
    int wait_ms = milliseconds;
    if (single)
        collect_descriptors(first_worker(ctx), &sets, &wait_ms);
    timeval tv = {wait_ms / 1000, (wait_ms % 1000) * 1000};
    if (select(sets.max_fd + 1, &sets.read, &sets.write, nullptr, &tv) < 0)
        return;
    httpd_now = time(nullptr);
    LIST_FOREACH(&ctx->listeners, entry, next) {
        httpd_listener* listener = reinterpret_cast<httpd_listener*>(entry);
        if (is_ready(listener->sock, &sets.read))
            accept_connections(ctx, listener);
    }
    if (single)
        serve_worker(first_worker(ctx), &sets);
}
