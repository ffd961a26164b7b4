#pragma once
// The embedded HTTP/HTTPS server: a context made from an argument vector, page callbacks registered
// per URI, and a poll operation the owner calls in a loop.

#include <cstddef>

struct httpd_context;

enum {
    HTTPD_DONE = 1,       // set by a callback: its reply is complete
    HTTPD_ABORTED = 2,    // set by the server: the connection ends before the callback finished
    HTTPD_MORE_INPUT = 4, // set by the server: the request body is not complete yet
    HTTPD_INPUT_FULL = 8, // set by the server: the body window fills the whole input buffer
    HTTPD_TRUE = 16,      // set by an include condition function
    HTTPD_PAUSE = 32,     // set by a callback: hold its output until httpd_wakeup
};

struct httpd_window {
    char* data;
    int size;
    int used;
};

struct httpd_arg {
    void* connection;
    void* state;
    void* user_data;
    httpd_window input;
    httpd_window output;
    unsigned int flags;
};

typedef void (*httpd_callback)(httpd_arg* arg);

httpd_context* httpd_init(int argc, char* argv[]);
void httpd_poll(httpd_context* ctx, int milliseconds);
void httpd_fini(httpd_context* ctx);

void httpd_register_uri(httpd_context* ctx, const char* pattern, httpd_callback callback, void* user_data);
void httpd_handle_error(httpd_context* ctx, int status, httpd_callback callback, void* user_data);
void httpd_register_ssi_func(httpd_context* ctx, const char* name, httpd_callback func, void* user_data);
void httpd_set_option(httpd_context* ctx, const char* name, const char* value);

int httpd_printf(httpd_arg* arg, const char* format, ...) __attribute__((format(printf, 2, 3)));
char* httpd_get_header(httpd_arg* arg, const char* name);
char* httpd_get_env(httpd_arg* arg, const char* name);
void httpd_get_http_version(httpd_arg* arg, unsigned* major, unsigned* minor);
void httpd_wakeup(void* connection);

int httpd_get_var(const char* name, const char* buffer, size_t length, char* destination,
                  size_t destination_size);
int decode_url(const char* source, size_t length, char* destination, size_t destination_size);

int httpd_edit_password_file(const char* file, const char* realm, const char* user, const char* password);
const char* httpd_version();
