// Include pages: directives are carried out while the page is copied to the client.

#include "httpd/internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int SSI_LEVELS = 6;
constexpr int SSI_DIRECTIVE = 512;

enum { COPYING, COLLECTING, COMMAND_OUTPUT, FUNCTION_OUTPUT };

struct httpd_ssi_level {
    int state;
    int off;   // output suppressed by a condition
    int taken; // a branch of the current condition was shown
    FILE* fp;
    char buf[SSI_DIRECTIVE];
    int nbuf;
    FILE* pipe;
    httpd_ssi_func* func;
    char func_input[SSI_DIRECTIVE];
    void* func_state;
};

} // namespace

struct httpd_ssi_state {
    httpd_connection* conn;
    int depth;
    httpd_ssi_level levels[SSI_LEVELS];
};

namespace {

struct page_output {
    char* data;
    size_t length;
    size_t n;
};

httpd_ssi_func* find_function(httpd_context* ctx, const char* name, size_t len) {
    LIST_FOREACH(&ctx->ssi_funcs, entry, next) {
        httpd_ssi_func* func = reinterpret_cast<httpd_ssi_func*>(entry);
        if (strlen(func->name) == len && strncmp(func->name, name, len) == 0)
            return func;
    }
    return nullptr;
}

// Calls the function named at the start of `argument`; the rest after a blank is its input.
unsigned call_function(httpd_ssi_state* st, httpd_ssi_level* level, const char* argument, page_output* out) {
    const char* blank = strchr(argument, ' ');
    size_t name_len = blank ? static_cast<size_t>(blank - argument) : strlen(argument);
    httpd_ssi_func* func = find_function(st->conn->ctx, argument, name_len);
    if (!func)
        return 0;
    snprintf(level->func_input, sizeof level->func_input, "%s", blank ? blank + 1 : "");
    httpd_arg arg = {};
    arg.connection = st->conn;
    arg.user_data = func->user_data;
    arg.input = {blank ? level->func_input : nullptr, blank ? static_cast<int>(strlen(level->func_input)) : 0,
                 0};
    if (out)
        arg.output = {out->data + out->n, static_cast<int>(out->length - out->n), 0};
    func->func(&arg);
    if (out && arg.output.used > 0 && arg.output.used <= arg.output.size)
        out->n += arg.output.used;
    level->func = func;
    level->func_state = arg.state;
    return arg.flags;
}

// Repeats a function call that has not finished.
void continue_function(httpd_ssi_state* st, httpd_ssi_level* level, page_output* out) {
    httpd_arg arg = {};
    arg.connection = st->conn;
    arg.user_data = level->func->user_data;
    arg.state = level->func_state;
    arg.input = {level->func_input, static_cast<int>(strlen(level->func_input)), 0};
    arg.output = {out->data + out->n, static_cast<int>(out->length - out->n), 0};
    level->func->func(&arg);
    if (arg.output.used > 0 && arg.output.used <= arg.output.size)
        out->n += arg.output.used;
    level->func_state = arg.state;
    if (arg.flags & HTTPD_DONE)
        level->state = COPYING;
}

void copy_command_output(httpd_ssi_level* level, page_output* out) {
    ssize_t n = read(fileno(level->pipe), out->data + out->n, out->length - out->n);
    if (n > 0) {
        out->n += n;
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        pclose(level->pipe);
        level->pipe = nullptr;
        level->state = COPYING;
    }
}

// The quoted name of an include, with its directory: the working directory, the page's directory or
// the root. Every included file must lie inside the root.
void do_include(httpd_ssi_state* st, const char* argument, const char* directive, int directive_len) {
    httpd_connection* c = st->conn;
    if (st->levels[st->depth].off)
        return;
    if (st->depth >= SSI_LEVELS - 1) {
        server_log(LOG_NOTICE, c, "ssi: #include: maximum nested level reached");
        return;
    }
    const char* root = c->ctx->options[OPT_ROOT];
    char prefix[PATH_LIMIT] = "";
    const char* name = nullptr;
    if (argument[0] == '"') {
        name = argument + 1;
    } else if (strncmp(argument, "file=\"", 6) == 0 && root) {
        const char* slash = strrchr(c->uri, '/');
        snprintf(prefix, sizeof prefix, "%s/%.*s", root, static_cast<int>(slash - c->uri + 1), c->uri);
        name = argument + 6;
    } else if (strncmp(argument, "virtual=\"", 9) == 0 && root) {
        snprintf(prefix, sizeof prefix, "%s/", root);
        name = argument + 9;
    }
    const char* end = name ? strchr(name, '"') : nullptr;
    if (!end) {
        server_log(LOG_NOTICE, c, "ssi: bad #include: [%.*s]", directive_len, directive);
        return;
    }
    char path[4096];
    size_t prefix_len = strlen(prefix) < sizeof path ? strlen(prefix) : sizeof path - 1;
    memcpy(path, prefix, prefix_len);
    decode_url(name, end - name, path + prefix_len, sizeof path - prefix_len);
    FILE* fp = nullptr;
    if (!confined_path(c, path))
        errno = EACCES;
    else
        fp = fopen(path, "re");
    if (!fp) {
        server_log(LOG_NOTICE, c, "ssi: fopen(%s): %s", path, strerror(errno));
        return;
    }
    httpd_ssi_level* level = &st->levels[++st->depth];
    memset(level, 0, sizeof *level);
    level->fp = fp;
}

void do_exec(httpd_ssi_state* st, httpd_ssi_level* level, const char* argument) {
    httpd_connection* c = st->conn;
    if (level->off)
        return;
    const char* end = argument[0] == '"' ? strchr(argument + 1, '"') : nullptr;
    if (!end) {
        server_log(LOG_NOTICE, c, "ssi: bad exec(%s)", argument);
        return;
    }
    char command[SSI_DIRECTIVE];
    if (decode_url(argument + 1, end - argument - 1, command, sizeof command) == 0) {
        server_log(LOG_NOTICE, c, "ssi: cannot url_decode: exec(%s)", argument);
        return;
    }
    level->pipe = popen(command, "re");
    if (!level->pipe) {
        server_log(LOG_NOTICE, c, "ssi: popen(%s)", command);
        return;
    }
    fcntl(fileno(level->pipe), F_SETFL, fcntl(fileno(level->pipe), F_GETFL, 0) | O_NONBLOCK);
    level->state = COMMAND_OUTPUT;
}

void put_text(httpd_ssi_level* level, const char* text, int len, page_output* out) {
    if (level->off)
        return;
    memcpy(out->data + out->n, text, len);
    out->n += len;
}

// Carries out a complete directive held in the level's buffer (without its final '>').
void run_directive(httpd_ssi_state* st, httpd_ssi_level* level, page_output* out) {
    static const char* const names[] = {"include ", "if ", "elif ", "else", "endif", "call ", "exec "};
    char text[SSI_DIRECTIVE + 1];
    memcpy(text, level->buf, level->nbuf);
    text[level->nbuf] = '\0';
    int which = -1;
    for (int i = 0; i < 7 && which < 0; ++i)
        if (static_cast<int>(strlen(names[i])) + 5 < level->nbuf &&
            strncmp(text + 5, names[i], strlen(names[i])) == 0)
            which = i;
    if (which < 0)
        return put_text(level, text, level->nbuf, out);
    // The argument: without the final "--" and trailing blanks, after the first word and its blanks.
    char* end = text + level->nbuf - 2;
    while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        --end;
    *end = '\0';
    char* argument = text + strcspn(text, " ");
    argument += strspn(argument, " ");
    switch (which) {
    case 0:
        return do_include(st, argument, level->buf, level->nbuf);
    case 1:
        level->off = !(call_function(st, level, argument, nullptr) & HTTPD_TRUE);
        level->taken = !level->off;
        return;
    case 2:
        level->off = level->taken || !(call_function(st, level, argument, nullptr) & HTTPD_TRUE);
        level->taken = level->taken || !level->off;
        return;
    case 3:
        level->off = level->taken;
        return;
    case 4:
        level->off = level->taken = 0;
        return;
    case 5:
        if (!level->off && !(call_function(st, level, argument, out) & HTTPD_DONE) && level->func)
            level->state = FUNCTION_OUTPUT;
        return;
    default:
        return do_exec(st, level, argument);
    }
}

// Reads the page from its current level; 1 when the page (level 0) has ended.
int copy_page(httpd_ssi_state* st, page_output* out) {
    for (;;) {
        httpd_ssi_level* level = &st->levels[st->depth];
        if (level->state == COMMAND_OUTPUT || level->state == FUNCTION_OUTPUT)
            return 0;
        if (out->n + level->nbuf + 1 >= out->length)
            return 0;
        int ch = fgetc(level->fp);
        if (ch == EOF) {
            if (st->depth == 0)
                return 1;
            fclose(level->fp);
            level->fp = nullptr;
            --st->depth;
            continue;
        }
        if (level->state == COPYING) {
            if (ch == '<') {
                level->buf[0] = '<';
                level->nbuf = 1;
                level->state = COLLECTING;
            } else if (!level->off) {
                out->data[out->n++] = static_cast<char>(ch);
            }
            continue;
        }
        if (level->nbuf > SSI_DIRECTIVE - 2) {
            put_text(level, level->buf, level->nbuf, out);
            level->state = COPYING;
            continue;
        }
        if (ch == '>' && level->nbuf >= 2 && level->buf[level->nbuf - 1] == '-' &&
            level->buf[level->nbuf - 2] == '-') {
            level->state = COPYING;
            run_directive(st, level, out);
            level->nbuf = 0;
            continue;
        }
        level->buf[level->nbuf++] = static_cast<char>(ch);
        int checked = level->nbuf < 5 ? level->nbuf : 5;
        if (strncmp(level->buf, "<!--#", checked) != 0) {
            put_text(level, level->buf, level->nbuf, out);
            level->nbuf = 0;
            level->state = COPYING;
        }
    }
}

int do_command(httpd_stream* stream, void* buffer, size_t length) {
    httpd_ssi_state* st = stream->chan.ssi;
    page_output out = {static_cast<char*>(buffer), length, 0};
    httpd_ssi_level* level = &st->levels[st->depth];
    if (level->state == FUNCTION_OUTPUT)
        continue_function(st, level, &out);
    else if (level->state == COMMAND_OUTPUT)
        copy_command_output(level, &out);
    int ended = copy_page(st, &out);
    if (ended)
        stream->flags &= ~FLAG_KEEP_OPEN;
    else
        stream->flags |= FLAG_KEEP_OPEN;
    return static_cast<int>(out.n);
}

void close_ssi(httpd_stream* stream) {
    httpd_ssi_state* st = stream->chan.ssi;
    for (httpd_ssi_level& level : st->levels) {
        if (level.fp)
            fclose(level.fp);
        if (level.pipe)
            pclose(level.pipe);
    }
    free(st);
    stream->chan.ssi = nullptr;
}

} // namespace

const httpd_io_class io_ssi = {"ssi", do_command, nullptr, close_ssi};

void start_ssi(httpd_connection* c, FILE* page) {
    httpd_ssi_state* st = static_cast<httpd_ssi_state*>(calloc(1, sizeof(httpd_ssi_state)));
    if (!st) {
        fclose(page);
        return send_error_reply(c, 500, "Cannot allocate SSI descriptor");
    }
    st->conn = c;
    st->levels[0].fp = page;
    char now[64];
    format_gmt(now, sizeof now, httpd_now);
    httpd_stream* loc = &c->loc;
    io_clear(&loc->io);
    loc->headers_len = io_printf(
        &loc->io, "HTTP/1.1 200 OK\r\nDate: %s\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n", now);
    loc->flags |= FLAG_R | FLAG_NO_WAIT;
    c->status = 200;
    loc->io_class = &io_ssi;
    loc->chan.ssi = st;
    if (c->method == METHOD_HEAD)
        end_stream(loc);
}
