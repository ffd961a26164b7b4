// Starting CGI programs: their environment and their process.

#include "httpd/internal.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

constexpr int CGI_ENV_VARS = 64;
constexpr size_t CGI_ENV_TEXT = 4096;

struct httpd_env_block {
    char buf[CGI_ENV_TEXT];
    size_t len;
    char* vars[CGI_ENV_VARS];
    int nvars;
};

void addenv(httpd_env_block* block, const char* format, ...) __attribute__((format(printf, 2, 3)));

void addenv(httpd_env_block* block, const char* format, ...) {
    size_t room = CGI_ENV_TEXT - block->len - 2;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(block->buf + block->len, room, format, args);
    va_end(args);
    if (n <= 0 || static_cast<size_t>(n) >= room || block->nvars >= CGI_ENV_VARS - 2)
        return;
    block->vars[block->nvars++] = block->buf + block->len;
    block->len += n + 1;
}

void add_http_headers_to_env(httpd_env_block* block, httpd_connection* c) {
    for (char* line = c->headers; line && line < c->headers_end;) {
        size_t len = strlen(line);
        const char* colon = strchr(line, ':');
        if (colon && colon > line) {
            const char* value = colon + 1;
            while (*value == ' ')
                ++value;
            char name[256];
            size_t name_len = colon - line;
            int valid = *value && name_len < sizeof name;
            for (size_t i = 0; valid && i < name_len; ++i) {
                char ch = line[i];
                valid = isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_';
                name[i] = ch == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            }
            if (valid) {
                name[name_len] = '\0';
                addenv(block, "HTTP_%s=%s", name, value);
            }
        }
        line += len;
        while (line < c->headers_end && *line == '\0')
            ++line;
    }
}

void prepare_environment(httpd_connection* c, httpd_env_block* block) {
    httpd_context* ctx = c->ctx;
    const char* program = c->path;
    const char* root = ctx->options[OPT_ROOT] ? ctx->options[OPT_ROOT] : "";
    const char* last = strrchr(program, '/');
    addenv(block, "GATEWAY_INTERFACE=CGI/1.1");
    addenv(block, "SERVER_PROTOCOL=HTTP/1.1");
    addenv(block, "REDIRECT_STATUS=200");
    addenv(block, "SERVER_PORT=%d", c->local_port);
    addenv(block, "SERVER_NAME=%s", ctx->options[OPT_AUTH_REALM] ? ctx->options[OPT_AUTH_REALM] : "");
    addenv(block, "SERVER_ROOT=%s", root);
    addenv(block, "DOCUMENT_ROOT=%s", root);
    addenv(block, "REQUEST_METHOD=%s", method_names[c->method]);
    addenv(block, "REMOTE_ADDR=%s", c->remote_addr);
    addenv(block, "REMOTE_PORT=%hu",
           ntohs(c->peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&c->peer)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&c->peer)->sin_port));
    addenv(block, "REQUEST_URI=%s", c->uri);
    addenv(block, "SCRIPT_NAME=%s", program + c->base_len);
    addenv(block, "SCRIPT_FILENAME=%s", last ? last + 1 : program);
    addenv(block, "PATH_TRANSLATED=%s", program);
    if (c->ch.content_type.ptr)
        addenv(block, "CONTENT_TYPE=%.*s", c->ch.content_type.len, c->ch.content_type.ptr);
    if (c->query)
        addenv(block, "QUERY_STRING=%s", c->query);
    if (c->path_info)
        addenv(block, "PATH_INFO=/%s", c->path_info);
    if (c->ch.content_length)
        addenv(block, "CONTENT_LENGTH=%llu", c->ch.content_length);
    for (const char* name : {"PATH", "LD_LIBRARY_PATH", "PERLLIB"}) {
        const char* value = getenv(name);
        if (value)
            addenv(block, "%s=%s", name, value);
    }
    if (c->authenticated && c->ch.user.ptr) {
        addenv(block, "REMOTE_USER=%.*s", c->ch.user.len, c->ch.user.ptr);
        addenv(block, "AUTH_TYPE=Digest");
    }
    const char* list = ctx->options[OPT_CGI_ENV];
    httpd_vec item;
    while (next_list_item(&list, &item))
        addenv(block, "%.*s", item.len, item.ptr);
    add_http_headers_to_env(block, c);
    block->vars[block->nvars] = nullptr;
}

// Everything the child needs is prepared before the fork; the child only calls async-signal-safe
// functions and reports a failed exec on its standard error.
pid_t start_cgi_process(httpd_connection* c, httpd_env_block* block, int child_socket,
                        const char* directory) {
    const char* program = c->path;
    const char* name = strrchr(program, '/') ? strrchr(program, '/') + 1 : program;
    const char* interpreter = c->ctx->options[OPT_CGI_INTERP];
    char* argv[3] = {const_cast<char*>(interpreter ? interpreter : name), const_cast<char*>(name), nullptr};
    if (!interpreter)
        argv[1] = nullptr;
    char failure[PATH_LIMIT];
    int failure_len = interpreter
                          ? snprintf(failure, sizeof failure, "redirect: exec(%s %s)\n", interpreter, program)
                          : snprintf(failure, sizeof failure, "redirect: exec(%s)\n", program);
    if (failure_len < 0 || static_cast<size_t>(failure_len) >= sizeof failure)
        failure_len = static_cast<int>(strlen(failure));
    int error_log = c->ctx->error_log ? fileno(c->ctx->error_log) : -1;

    pid_t pid = fork();
    if (pid < 0) {
        server_log(LOG_NOTICE, c, "redirect: fork: %s", strerror(errno));
        return -1;
    }
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(directory) == 0) {
            fcntl(child_socket, F_SETFL, fcntl(child_socket, F_GETFL, 0) & ~O_NONBLOCK);
            dup2(child_socket, STDIN_FILENO);
            dup2(child_socket, STDOUT_FILENO);
            if (child_socket > STDOUT_FILENO)
                close(child_socket);
            if (error_log >= 0)
                dup2(error_log, STDERR_FILENO);
            execve(argv[0], argv, block->vars);
        }
        (void)!write(STDERR_FILENO, failure, failure_len);
        _exit(1);
    }
    // Also here: the time-out kills the group, which must exist however late the child is scheduled.
    setpgid(pid, pid);
    close(child_socket);
    return pid;
}

} // namespace

void serve_cgi(httpd_connection* c) {
    if (c->method != METHOD_GET && c->method != METHOD_POST)
        return send_error_reply(c, 501, "Bad method ");
    httpd_env_block* block = static_cast<httpd_env_block*>(calloc(1, sizeof(httpd_env_block)));
    char directory[4097];
    snprintf(directory, sizeof directory, "%.*s", static_cast<int>(strrchr(c->path, '/') - c->path), c->path);
    int pair[2] = {-1, -1};
    if (block) {
        prepare_environment(c, block);
        loopback_pair(pair);
    }
    pid_t pid = pair[0] >= 0 ? start_cgi_process(c, block, pair[1], directory) : -1;
    free(block);
    if (pid < 0) {
        if (pair[0] >= 0) {
            close(pair[0]);
            close(pair[1]);
        }
        return send_error_reply(c, 500, "Cannot exec CGI");
    }
    start_cgi_reply(c, pair[0], pid);
}
