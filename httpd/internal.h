#pragma once
// Records and operations shared by the server's files.

#include "httpd/tarvik.h"

#include <dirent.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>

typedef unsigned long long big_int_t;

// Limits. A connection's buffers grow on demand up to IO_LIMIT each, so an idle connection holds none.
constexpr size_t IO_LIMIT = 1048576;
constexpr size_t IO_FIRST_CHUNK = 65536;
constexpr size_t PATH_LIMIT = 16384;
constexpr size_t LOG_LINE_LIMIT = 16384;
constexpr int MAX_SELECT_FD = 1024;

// A Digest nonce is accepted for this many seconds after it was issued.
constexpr time_t NONCE_LIFETIME = 600;

// Time-outs in seconds: a request's header block must arrive within HEADER_TIMEOUT of the moment the
// connection became ready for it; a connection without any read or write for IDLE_TIMEOUT ends.
// A CGI program whose reply has not ended after CGI_TIMEOUT is killed.
constexpr time_t HEADER_TIMEOUT = 30;
constexpr time_t IDLE_TIMEOUT = 60;
constexpr time_t CGI_TIMEOUT = 60;

enum { LOG_FATAL = 1, LOG_NOTICE = 2 };

enum {
    FLAG_PARSED = 1,
    FLAG_TLS_DONE = 2,
    FLAG_R = 4,
    FLAG_W = 8,
    FLAG_STOPPED = 16,
    FLAG_KEEP_OPEN = 32,
    FLAG_NO_WAIT = 64,
    FLAG_HELD = 128,
};

enum { METHOD_GET, METHOD_POST, METHOD_PUT, METHOD_DELETE, METHOD_HEAD };

enum httpd_option_index {
    OPT_ROOT,
    OPT_INDEX_FILES,
    OPT_SSL_CERT,
    OPT_SSL_PROTOCOLS,
    OPT_SSL_CIPHERS,
    OPT_SSL_CIPHER_SERVER_PREFERENCE,
    OPT_PORTS,
    OPT_DIR_LIST,
    OPT_CFG_URI,
    OPT_PROTECT,
    OPT_CGI_EXT,
    OPT_CGI_INTERP,
    OPT_CGI_ENV,
    OPT_SSI_EXT,
    OPT_AUTH_REALM,
    OPT_AUTH_GPASS,
    OPT_AUTH_PUT,
    OPT_INETD,
    OPT_UID,
    OPT_ACCESS_LOG,
    OPT_ERROR_LOG,
    OPT_MIME_TYPES,
    OPT_ALIASES,
    OPT_ACL,
    OPT_THREADS,
    NUM_OPTIONS
};

// Doubly linked ring; every record on a ring has its link as first field.
struct httpd_list {
    httpd_list* prev;
    httpd_list* next;
};

void list_init(httpd_list* head);
void list_append(httpd_list* head, httpd_list* entry);
void list_remove(httpd_list* entry);
#define LIST_FOREACH(head, entry, next_entry)                                                                \
    for (httpd_list* entry = (head)->next, *next_entry = entry->next; entry != (head);                       \
         entry = next_entry, next_entry = entry->next)

struct httpd_vec {
    const char* ptr;
    int len;
};

struct httpd_context;
struct httpd_connection;
struct httpd_stream;
struct httpd_ssi_state;

struct httpd_io {
    char* buf;
    size_t size; // allocated bytes
    size_t head;
    size_t tail;
    big_int_t total;
};

struct httpd_io_class {
    const char* name;
    int (*read)(httpd_stream* stream, void* buffer, size_t length);
    int (*write)(httpd_stream* stream, const void* data, size_t length);
    void (*close)(httpd_stream* stream);
};

union httpd_chan {
    int fd;
    struct {
        int sock;
        SSL* ssl;
    } ssl;
    struct {
        int sock;
        pid_t pid;
    } cgi;
    struct {
        DIR* dirp;
        char* path;
    } dir;
    struct {
        void* state;
        httpd_callback func;
        void* user_data;
    } emb;
    httpd_ssi_state* ssi;
};

struct httpd_stream {
    httpd_connection* conn;
    httpd_chan chan;
    httpd_io io;
    const httpd_io_class* io_class;
    int headers_len;
    big_int_t content_len;
    unsigned flags;
};

struct httpd_headers {
    big_int_t content_length;
    httpd_vec content_type;
    httpd_vec connection;
    time_t if_modified_since;
    httpd_vec user;
    httpd_vec authorization;
    httpd_vec user_agent;
    httpd_vec referer;
    httpd_vec cookie;
    httpd_vec location;
    httpd_vec range;
    big_int_t status;
    httpd_vec transfer_encoding;
    int have_content_length;
    int have_if_modified_since;
};

struct httpd_worker;

struct httpd_connection {
    httpd_list link;
    httpd_worker* worker;
    httpd_context* ctx;
    sockaddr_storage peer;
    socklen_t peer_len;
    time_t birth;
    time_t expire;
    int local_port;
    int status;
    int method;
    char* uri;
    unsigned major;
    unsigned minor;
    char* request;
    httpd_vec target; // the request target as sent, inside the request line
    char* headers;
    char* headers_end;
    char* query;
    char* path_info;
    httpd_vec content_type;
    httpd_headers ch;
    httpd_stream loc;
    httpd_stream rem;
    httpd_ssi_state* ssi;
    char* path;           // the file-system path of the request, when it has one
    size_t base_len;      // length of the document root or alias directory that starts the path
    time_t cgi_active;    // last output of a CGI program
    big_int_t body_taken; // request body bytes passed to the local side
    int must_close;       // the connection cannot carry another request
    int authenticated;    // the request passed a password-file check
    char remote_addr[64]; // REMOTE_ADDR text
};

struct httpd_uri_handler {
    httpd_list link;
    char* pattern;
    httpd_callback func;
    void* user_data;
};

struct httpd_error_handler {
    httpd_list link;
    int status;
    httpd_callback func;
    void* user_data;
};

struct httpd_ssi_func {
    httpd_list link;
    char* name;
    httpd_callback func;
    void* user_data;
};

struct httpd_acl_entry {
    httpd_list link;
    unsigned ip;
    unsigned mask;
    char flag;
};

struct httpd_listener {
    httpd_list link;
    httpd_context* ctx;
    int sock;
    int is_ssl;
};

struct httpd_worker {
    httpd_list link;
    std::atomic<int> num_conns;
    std::atomic<int> stop;
    int ctl[2];
    httpd_context* ctx;
    httpd_list connections;
    pthread_t thread;
    int has_thread;
};

struct httpd_context {
    SSL_CTX* ssl_ctx;
    httpd_list uri_handlers;
    httpd_list error_handlers;
    httpd_list acl;
    httpd_list ssi_funcs;
    httpd_list listeners;
    httpd_list workers;
    FILE* access_log;
    FILE* error_log;
    char* options[NUM_OPTIONS];
    unsigned char nonce_key[16]; // signs the Digest nonces this server hands out
};

// Process-wide current time stamp.
extern std::atomic<time_t> httpd_now;

// The context (tarvik.cpp).
void free_uri_handlers(httpd_context* ctx);

// Options (options.cpp).
int find_option(const char* name);
const char* option_default(int option);
int is_true_word(const char* value);
int option_is_true(httpd_context* ctx, int option);
void read_arguments(httpd_context* ctx, char* argv[]);
void print_usage(const char* program);
void store_option(httpd_context* ctx, int option, const char* value);
void call_option_setter(httpd_context* ctx, int option, const char* value);
// Walks the blank- and comma-separated items of a list value.
int next_list_item(const char** list, httpd_vec* item);
// Splits an item "key=value" at its first '=' (not at its start).
int split_pair(const httpd_vec* item, httpd_vec* key, httpd_vec* value);
int match_pattern(const char* pattern, const char* text);
void show_config_page(httpd_arg* arg);

// Logs (log.cpp).
void server_log(int level, httpd_connection* c, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void log_access(FILE* file, httpd_connection* c);
void open_log_file(FILE** file, const char* path);
void set_uid(httpd_context* ctx, const char* value);
void format_gmt(char* buffer, size_t size, time_t t);

// Escaping (escape.cpp): both cut what does not fit and return the length written.
size_t html_escape(const char* text, char* out, size_t size);
size_t url_encode(const char* text, char* out, size_t size);

// Buffers (io.cpp).
size_t io_space_len(const httpd_io* io);
size_t io_data_len(const httpd_io* io);
char* io_space(httpd_io* io);
char* io_data(httpd_io* io);
int io_reserve(httpd_io* io, size_t wanted);
void io_inc_head(httpd_io* io, size_t n);
void io_inc_tail(httpd_io* io, size_t n);
void io_clear(httpd_io* io);
void io_release(httpd_io* io);
int io_printf(httpd_io* io, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Listeners, workers and the poll cycle (poll.cpp).
void open_listening_port(httpd_context* ctx, const char* value);
void close_listeners(httpd_context* ctx);
void set_threads(httpd_context* ctx, const char* value);
httpd_worker* new_worker(httpd_context* ctx);
void free_worker(httpd_worker* worker);
void add_socket(httpd_worker* worker, int sock, int is_ssl);
void loopback_pair(int pair[2]);
void set_inetd(httpd_context* ctx, const char* value);
void client_address(const httpd_connection* c, char* buffer, size_t size);

// TLS (io_ssl.cpp).
extern const httpd_io_class io_ssl;
void setup_tls(httpd_context* ctx);
void tls_handshake(httpd_stream* stream);
int tls_pending(httpd_stream* stream);

// Plain sockets (io_socket.cpp).
extern const httpd_io_class io_socket;

// Connections (connection.cpp).
void serve_connection(httpd_connection* c, int remote_ready, int local_ready);
void connection_desctructor(httpd_connection* c);
void read_stream(httpd_stream* stream);
void write_stream(httpd_stream* from, httpd_stream* to);
void end_stream(httpd_stream* stream);
size_t stream_read_room(httpd_stream* stream);
size_t body_data_len(httpd_connection* c);

// Requests (request.cpp).
int header_block_length(const char* data, size_t length);
void parse_http_request(httpd_connection* c);
int read_known_headers(char* block, size_t length, httpd_headers* headers);
time_t parse_date(const char* text);
void squeeze_path(char* path);
void send_error_reply(httpd_connection* c, int status, const char* reason);
extern const httpd_io_class io_embedded;
void attach_callback(httpd_connection* c, httpd_callback func, void* user_data);
void run_callback(httpd_connection* c, httpd_callback func, unsigned extra_flags);
extern const char* const method_names[];

// Routing beyond the callbacks (route.cpp).
void route_request(httpd_connection* c);

// Files, listings and uploads (io_file.cpp, io_dir.cpp).
extern const httpd_io_class io_file;
extern const httpd_io_class io_dir;
void serve_path(httpd_connection* c);
void serve_path_file(httpd_connection* c, struct stat* st);
void serve_put_delete(httpd_connection* c);
int sends_directly(const httpd_connection* c);
void send_file_direct(httpd_connection* c);
void mime_type_of(httpd_context* ctx, const char* text, size_t length, httpd_vec* result);
void start_listing(httpd_connection* c, char* path);
int confined_path(httpd_connection* c, const char* path);

// Authentication and access control (auth.cpp).
int check_auth(httpd_connection* c, const char* path);
int check_put_auth(httpd_connection* c);
void send_auth_request(httpd_connection* c);
void md5(char out[32], ...);
void set_acl(httpd_context* ctx, const char* value);
int acl_allows(httpd_context* ctx, const sockaddr_storage* peer);
void free_acl(httpd_context* ctx);

// CGI and include pages (cgi.cpp, io_cgi.cpp, io_ssi.cpp).
extern const httpd_io_class io_cgi;
extern const httpd_io_class io_ssi;
void serve_cgi(httpd_connection* c);
void start_cgi_reply(httpd_connection* c, int sock, pid_t pid);
void check_cgi_timeout(httpd_connection* c);
void start_ssi(httpd_connection* c, FILE* page);
int has_extension(httpd_context* ctx, int option, const char* path);
