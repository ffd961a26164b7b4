// Routing a parsed request: decoding and squeezing its path, the file-system path, and the choice
// between a callback and the file system.

#include "httpd/internal.h"

#include <cstdlib>
#include <cstring>

namespace {

httpd_uri_handler* find_uri_handler(httpd_context* ctx, const char* uri) {
    LIST_FOREACH(&ctx->uri_handlers, entry, next) {
        httpd_uri_handler* handler = reinterpret_cast<httpd_uri_handler*>(entry);
        if (match_pattern(handler->pattern, uri))
            return handler;
    }
    return nullptr;
}

char* join(const char* first, size_t first_len, const char* second) {
    size_t second_len = strlen(second);
    char* path = static_cast<char*>(malloc(first_len + second_len + 1));
    if (path) {
        memcpy(path, first, first_len);
        memcpy(path + first_len, second, second_len + 1);
    }
    return path;
}

// The file-system path of the URI: the first alias whose prefix starts it, otherwise the root.
char* file_path(httpd_context* ctx, const char* uri, size_t* base_len) {
    const char* aliases = ctx->options[OPT_ALIASES];
    httpd_vec item, prefix, directory;
    while (next_list_item(&aliases, &item)) {
        if (split_pair(&item, &prefix, &directory) && strncmp(uri, prefix.ptr, prefix.len) == 0) {
            *base_len = directory.len;
            return join(directory.ptr, directory.len, uri + prefix.len);
        }
    }
    const char* root = ctx->options[OPT_ROOT];
    if (!root)
        return nullptr;
    *base_len = strlen(root);
    return join(root, *base_len, uri);
}

} // namespace

void route_request(httpd_connection* c) {
    httpd_context* ctx = c->ctx;
    char* question = strchr(c->uri, '?');
    if (question) {
        *question = '\0';
        c->query = question + 1;
    }
    size_t length = strlen(c->uri);
    // A decoded NUL would cut the path behind the checks made on it.
    if (static_cast<size_t>(decode_url(c->uri, length, c->uri, length + 1)) != strlen(c->uri))
        return send_error_reply(c, 400, "Bad URI");
    squeeze_path(c->uri);
    const char* root = ctx->options[OPT_ROOT];
    if (root && strlen(root) + strlen(c->uri) > PATH_LIMIT - 1)
        return send_error_reply(c, 400, "URI is too long");
    c->path = file_path(ctx, c->uri, &c->base_len);

    if (!check_auth(c, c->path))
        return send_auth_request(c);
    httpd_uri_handler* handler = find_uri_handler(ctx, c->uri);
    if (handler)
        return attach_callback(c, handler->func, handler->user_data);
    if (c->path && strstr(c->path, ".htpasswd"))
        return send_error_reply(c, 403, "Forbidden");
    if (!c->path)
        return send_error_reply(c, 404, "Not Found");
    if (c->method == METHOD_PUT || c->method == METHOD_DELETE)
        return serve_put_delete(c);
    serve_path(c);
}
