// The server context and the calls that page callbacks use.

#include "httpd/internal.h"

#include <openssl/rand.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

std::atomic<time_t> httpd_now;

namespace {

void free_error_handlers(httpd_context* ctx) {
    LIST_FOREACH(&ctx->error_handlers, entry, next) free(entry);
    list_init(&ctx->error_handlers);
}

void free_ssi_funcs(httpd_context* ctx) {
    LIST_FOREACH(&ctx->ssi_funcs, entry, next) {
        httpd_ssi_func* func = reinterpret_cast<httpd_ssi_func*>(entry);
        free(func->name);
        free(func);
    }
    list_init(&ctx->ssi_funcs);
}

int hex_value(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = tolower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

httpd_connection* connection_of(httpd_arg* arg) {
    return static_cast<httpd_connection*>(arg->connection);
}

} // namespace

void free_uri_handlers(httpd_context* ctx) {
    LIST_FOREACH(&ctx->uri_handlers, entry, next) {
        httpd_uri_handler* handler = reinterpret_cast<httpd_uri_handler*>(entry);
        free(handler->pattern);
        free(handler);
    }
    list_init(&ctx->uri_handlers);
}

const char* httpd_version() {
    return "1.41";
}

httpd_context* httpd_init(int argc, char* argv[]) {
    httpd_context* ctx = static_cast<httpd_context*>(calloc(1, sizeof(httpd_context)));
    if (!ctx)
        server_log(LOG_FATAL, nullptr, "cannot allocate tarvik context");
    list_init(&ctx->uri_handlers);
    list_init(&ctx->error_handlers);
    list_init(&ctx->acl);
    list_init(&ctx->ssi_funcs);
    list_init(&ctx->listeners);
    list_init(&ctx->workers);
    // A client that goes away must give a write error, not end the process.
    signal(SIGPIPE, SIG_IGN);
    httpd_now = time(nullptr);
    RAND_bytes(ctx->nonce_key, sizeof ctx->nonce_key);

    for (int i = 0; i < NUM_OPTIONS; ++i)
        store_option(ctx, i, option_default(i));
    if (argc > 0 && argv)
        read_arguments(ctx, argv);
    if (ctx->options[OPT_SSL_CERT])
        setup_tls(ctx);
    for (int i = 0; i < NUM_OPTIONS; ++i)
        if (ctx->options[i])
            call_option_setter(ctx, i, ctx->options[i]);
    httpd_now = time(nullptr);
    tzset();
    if (ctx->workers.next == &ctx->workers)
        new_worker(ctx);
    if (option_is_true(ctx, OPT_INETD))
        add_socket(reinterpret_cast<httpd_worker*>(ctx->workers.next), STDIN_FILENO, 0);
    return ctx;
}

void httpd_fini(httpd_context* ctx) {
    LIST_FOREACH(&ctx->workers, entry, next) {
        list_remove(entry);
        free_worker(reinterpret_cast<httpd_worker*>(entry));
    }
    free_uri_handlers(ctx);
    free_error_handlers(ctx);
    free_acl(ctx);
    close_listeners(ctx);
    free_ssi_funcs(ctx);
    for (char*& value : ctx->options) {
        free(value);
        value = nullptr;
    }
    if (ctx->access_log)
        fclose(ctx->access_log);
    if (ctx->error_log)
        fclose(ctx->error_log);
    if (ctx->ssl_ctx)
        SSL_CTX_free(ctx->ssl_ctx);
    free(ctx);
}

void httpd_register_uri(httpd_context* ctx, const char* pattern, httpd_callback callback, void* user_data) {
    httpd_uri_handler* handler = static_cast<httpd_uri_handler*>(calloc(1, sizeof(httpd_uri_handler)));
    if (!handler)
        return;
    handler->pattern = strdup(pattern);
    if (!handler->pattern) {
        free(handler);
        return;
    }
    handler->func = callback;
    handler->user_data = user_data;
    list_append(&ctx->uri_handlers, &handler->link);
}

void httpd_handle_error(httpd_context* ctx, int status, httpd_callback callback, void* user_data) {
    httpd_error_handler* handler = static_cast<httpd_error_handler*>(calloc(1, sizeof(httpd_error_handler)));
    if (!handler)
        return;
    handler->status = status;
    handler->func = callback;
    handler->user_data = user_data;
    list_append(&ctx->error_handlers, &handler->link);
}

void httpd_register_ssi_func(httpd_context* ctx, const char* name, httpd_callback func, void* user_data) {
    httpd_ssi_func* entry = static_cast<httpd_ssi_func*>(calloc(1, sizeof(httpd_ssi_func)));
    if (!entry)
        return;
    entry->name = strdup(name);
    if (!entry->name) {
        free(entry);
        return;
    }
    entry->func = func;
    entry->user_data = user_data;
    list_append(&ctx->ssi_funcs, &entry->link);
}

void httpd_set_option(httpd_context* ctx, const char* name, const char* value) {
    int option = find_option(name);
    if (option < 0)
        return server_log(LOG_FATAL, nullptr, "no such option: [%s]", name);
    call_option_setter(ctx, option, value);
    store_option(ctx, option, value);
}

int httpd_printf(httpd_arg* arg, const char* format, ...) {
    int room = arg->output.size - arg->output.used;
    if (room <= 0)
        return 0;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(arg->output.data + arg->output.used, room, format, args);
    va_end(args);
    if (n < 0 || n >= room) {
        arg->output.used = arg->output.size;
        return room;
    }
    arg->output.used += n;
    return n;
}

// The header line must carry the whole name followed by ':'; the value starts after the blanks.
char* httpd_get_header(httpd_arg* arg, const char* name) {
    httpd_connection* c = connection_of(arg);
    size_t name_len = strlen(name);
    for (char* line = c->headers; line && line < c->headers_end;) {
        size_t len = strlen(line);
        if (len > name_len && strncasecmp(line, name, name_len) == 0 && line[name_len] == ':') {
            char* value = line + name_len + 1;
            while (*value == ' ')
                ++value;
            return value;
        }
        line += len;
        while (line < c->headers_end && *line == '\0')
            ++line;
    }
    return nullptr;
}

char* httpd_get_env(httpd_arg* arg, const char* name) {
    httpd_connection* c = connection_of(arg);
    if (strcmp(name, "REQUEST_METHOD") == 0)
        return const_cast<char*>(method_names[c->method]);
    if (strcmp(name, "REQUEST_URI") == 0)
        return c->uri;
    if (strcmp(name, "QUERY_STRING") == 0)
        return c->query;
    if (strcmp(name, "REMOTE_USER") == 0) {
        if (!c->authenticated || !c->ch.user.ptr)
            return nullptr;
        char* user = const_cast<char*>(c->ch.user.ptr);
        user[c->ch.user.len] = '\0';
        return user;
    }
    if (strcmp(name, "REMOTE_ADDR") == 0)
        return c->remote_addr;
    if (strcmp(name, "HTTPS") == 0)
        return const_cast<char*>(c->ctx->ssl_ctx ? "1" : nullptr);
    return nullptr;
}

void httpd_get_http_version(httpd_arg* arg, unsigned* major, unsigned* minor) {
    httpd_connection* c = connection_of(arg);
    *major = c->major;
    *minor = c->minor;
}

void httpd_wakeup(void* connection) {
    httpd_connection* c = static_cast<httpd_connection*>(connection);
    char command[12];
    int code = 1;
    memcpy(command, &code, 4);
    memcpy(command + 4, &c, sizeof c);
    (void)!write(c->worker->ctl[1], command, sizeof command);
}

int httpd_get_var(const char* name, const char* buffer, size_t length, char* destination,
                  size_t destination_size) {
    size_t name_len = strlen(name);
    if (!buffer || name_len == 0)
        return -1;
    for (const char* p = buffer; p + name_len < buffer + length; ++p) {
        if ((p == buffer || p[-1] == '&') && p[name_len] == '=' && strncasecmp(p, name, name_len) == 0) {
            const char* value = p + name_len + 1;
            const char* end = static_cast<const char*>(memchr(value, '&', buffer + length - value));
            if (!end)
                end = buffer + length;
            return decode_url(value, end - value, destination, destination_size);
        }
    }
    return -1;
}

int decode_url(const char* source, size_t length, char* destination, size_t destination_size) {
    if (destination_size < 2) {
        if (destination_size == 1)
            destination[0] = '\0';
        return 0;
    }
    size_t i = 0, j = 0;
    for (; i < length && j < destination_size - 1; ++i, ++j) {
        int high, low;
        if (source[i] == '%' && i + 2 < length && (high = hex_value(source[i + 1])) >= 0 &&
            (low = hex_value(source[i + 2])) >= 0) {
            destination[j] = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (source[i] == '+') {
            destination[j] = ' ';
        } else {
            destination[j] = source[i];
        }
    }
    destination[j] = '\0';
    return static_cast<int>(j);
}
