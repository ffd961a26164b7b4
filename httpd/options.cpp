// The option table, its setters, and reading options from the argument vector and a configuration file.

#include "httpd/internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

typedef void (*option_setter)(httpd_context* ctx, const char* value);

void set_cfg_uri(httpd_context* ctx, const char* value);
void set_access_log(httpd_context* ctx, const char* value) {
    open_log_file(&ctx->access_log, value);
}
void set_error_log(httpd_context* ctx, const char* value) {
    open_log_file(&ctx->error_log, value);
}

struct httpd_option {
    const char* name;
    const char* description;
    const char* default_value;
    option_setter setter;
};

// No document root, listing, CGI or include pages unless the owner enables them.
const httpd_option options[NUM_OPTIONS] = {
    {"root", "\tWeb root directory", nullptr, nullptr},
    {"index_files", "Index files", "index.html,index.htm,index.php,index.cgi", nullptr},
    {"ssl_cert", "SSL certificate file", nullptr, nullptr},
    {"ssl_protocols", "SSL protocols (if empty, enable all except SSLv2 and SSLv3)", "", nullptr},
    {"ssl_ciphers", "SSL ciphers list", "HIGH:!aNULL:!MD5", nullptr},
    {"ssl_cipher_server_preference", "SSL ciphers server's preference", "true", nullptr},
    {"ports", "Listening ports", "80", open_listening_port},
    {"dir_list", "Directory listing", nullptr, nullptr},
    {"cfg_uri", "Config uri", nullptr, set_cfg_uri},
    {"protect", "URI to htpasswd mapping", nullptr, nullptr},
    {"cgi_ext", "CGI extensions", nullptr, nullptr},
    {"cgi_interp", "CGI interpreter", nullptr, nullptr},
    {"cgi_env", "Additional CGI env vars", nullptr, nullptr},
    {"ssi_ext", "SSI extensions", nullptr, nullptr},
    {"auth_realm", "Authentication domain name", "moxel.localdomain", nullptr},
    {"auth_gpass", "Global passwords file", nullptr, nullptr},
    {"auth_PUT", "PUT,DELETE auth file", nullptr, nullptr},
    {"inetd", "Inetd mode", "no", set_inetd},
    {"uid", "\tRun as user", nullptr, set_uid},
    {"access_log", "Access log file", nullptr, set_access_log},
    {"error_log", "Error log file", nullptr, set_error_log},
    {"mime_types", "Additional mime types list", nullptr, nullptr},
    {"aliases", "Path=URI mappings", nullptr, nullptr},
    {"acl", "\tAllow/deny IP addresses/subnets", nullptr, set_acl},
    {"threads", "Number of worker threads", "1", set_threads},
};

void set_cfg_uri(httpd_context* ctx, const char* value) {
    free_uri_handlers(ctx);
    if (value)
        httpd_register_uri(ctx, value, show_config_page, ctx);
}

int is_list_separator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// Stores one option pair of the arguments or the configuration file.
void store_named_option(httpd_context* ctx, const char* name, const char* value) {
    int option = find_option(name);
    if (option < 0)
        return server_log(LOG_FATAL, nullptr, "no such option: [%s]", name);
    store_option(ctx, option, value);
}

void read_config_file(httpd_context* ctx, const char* path) {
    FILE* file = fopen(path, "re");
    if (!file)
        server_log(LOG_FATAL, nullptr, "cannot open config file %s: %s", path, strerror(errno));
    server_log(LOG_NOTICE, nullptr, "Loading config file %s", path);
    char line[8192];
    for (int number = 1; fgets(line, sizeof line, file); ++number) {
        if (line[0] == '#' || line[0] == '\n' || line[0] == '\r' || line[0] == '\0')
            continue;
        char* name = line;
        size_t name_len = strcspn(name, " \t\r\n#");
        char* value = name + name_len;
        value += strspn(value, " \t");
        value[strcspn(value, "\r\n#")] = '\0';
        if (name_len == 0 || *value == '\0')
            server_log(LOG_FATAL, nullptr, "line %d in %s is invalid", number, path);
        name[name_len] = '\0';
        store_named_option(ctx, name, value);
    }
    fclose(file);
}

void print_escaped(httpd_arg* arg, const char* text) {
    char escaped[6 * 8192 + 1];
    html_escape(text, escaped, sizeof escaped);
    httpd_printf(arg, "%s", escaped);
}

} // namespace

int find_option(const char* name) {
    for (int i = 0; i < NUM_OPTIONS; ++i)
        if (strcmp(options[i].name, name) == 0)
            return i;
    return -1;
}

int is_true_word(const char* value) {
    return value && (strcmp(value, "1") == 0 || strcmp(value, "yes") == 0 || strcmp(value, "true") == 0 ||
                     strcmp(value, "jawohl") == 0);
}

int option_is_true(httpd_context* ctx, int option) {
    return is_true_word(ctx->options[option]);
}

void store_option(httpd_context* ctx, int option, const char* value) {
    free(ctx->options[option]);
    ctx->options[option] = value ? strdup(value) : nullptr;
}

void call_option_setter(httpd_context* ctx, int option, const char* value) {
    if (options[option].setter)
        options[option].setter(ctx, value);
}

void print_usage(const char* program) {
    fprintf(stderr, "TARVIK version %s\n", httpd_version());
    fprintf(stderr, "usage: %s [options] [config_file]\n", program);
    fprintf(stderr, "  -A <htpasswd_file> <realm> <user> <passwd>\n");
    for (const httpd_option& option : options) {
        fprintf(stderr, "  -%s\t%s", option.name, option.description);
        if (option.default_value)
            fprintf(stderr, " (default: %s)", option.default_value);
        fputc('\n', stderr);
    }
    exit(1);
}

// A configuration file is read only when the arguments name one: a file found beside the program or
// in the working directory could reconfigure a server that runs as root.
void read_arguments(httpd_context* ctx, char* argv[]) {
    const char* config = nullptr;
    for (int i = 1; argv[i]; ++i) {
        if (argv[i][0] == '-') {
            if (!argv[i + 1])
                print_usage(argv[0]);
            ++i;
        } else if (argv[i + 1]) {
            print_usage(argv[0]);
        } else {
            config = argv[i];
        }
    }
    if (config) {
        char path[4097];
        snprintf(path, sizeof path, "%s", config);
        read_config_file(ctx, path);
    }
    for (int i = 1; argv[i] && argv[i][0] == '-'; i += 2)
        store_named_option(ctx, argv[i] + 1, argv[i + 1]);
}

int next_list_item(const char** list, httpd_vec* item) {
    const char* p = *list;
    if (!p || !*p || is_list_separator(*p))
        return 0;
    item->ptr = p;
    while (*p && !is_list_separator(*p))
        ++p;
    item->len = static_cast<int>(p - item->ptr);
    while (*p && is_list_separator(*p))
        ++p;
    *list = p;
    return 1;
}

int split_pair(const httpd_vec* item, httpd_vec* key, httpd_vec* value) {
    const char* eq = static_cast<const char*>(memchr(item->ptr, '=', item->len));
    if (!eq || eq == item->ptr)
        return 0;
    key->ptr = item->ptr;
    key->len = static_cast<int>(eq - item->ptr);
    value->ptr = eq + 1;
    value->len = item->len - key->len - 1;
    return 1;
}

int match_pattern(const char* pattern, const char* text) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*text) {
        if (*pattern == '*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == *text) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return 0;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

void show_config_page(httpd_arg* arg) {
    httpd_context* ctx = static_cast<httpd_context*>(arg->user_data);
    char name[20] = "", value[8192] = "";
    const char* method = httpd_get_env(arg, "REQUEST_METHOD");
    if (method && strcmp(method, "POST") == 0) {
        if (arg->flags & HTTPD_MORE_INPUT)
            return;
        httpd_get_var("o", arg->input.data, arg->input.size, name, sizeof name);
        httpd_get_var("v", arg->input.data, arg->input.size, value, sizeof value);
        // A name that is not an option is not saved: a request must not end the server.
        if (find_option(name) >= 0)
            httpd_set_option(ctx, name, value[0] ? value : nullptr);
        else
            name[0] = '\0';
        arg->input.used = arg->input.size;
    }
    httpd_printf(arg, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body><h1>TARVIK v. %s</h1>",
                 httpd_version());
    httpd_printf(arg, "<table border=1<tr><th>Option</th><th>Description</th><th colspan=2>Value</th></tr>");
    if (name[0] && value[0]) {
        httpd_printf(arg, "<p style='color: green'>Saved: %s=", name);
        print_escaped(arg, value);
        httpd_printf(arg, "</p>");
    }
    for (int i = 0; i < NUM_OPTIONS; ++i) {
        httpd_printf(arg,
                     "<form method=post><tr><td>%s</td><td>%s</td><input type=hidden name=o value='%s'>"
                     "<td><input type=text name=v value='",
                     options[i].name, options[i].description, options[i].name);
        print_escaped(arg, ctx->options[i]);
        httpd_printf(arg, "'></td><td><input type=submit value=save></td></form></tr>");
    }
    httpd_printf(arg, "</table></body></html>");
    arg->flags |= HTTPD_DONE;
}

const char* option_default(int option) {
    return options[option].default_value;
}
