// The embedded HTTP server as the benchmark sees it: a callback page at /page and files under the
// document root, over HTTP and HTTPS, until SIGTERM.
//   httpd_bench_server PORT TLS_PORT CERTIFICATE ROOT

#include "httpd/tarvik.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

volatile sig_atomic_t stopping = 0;

void stop(int) {
    stopping = 1;
}

// A page of the size and shape the web interface renders, about 2 KB of HTML. It names its length, so
// that clients over TLS can tell a complete reply from a cut one, and says that the connection ends, as
// it does after every callback reply: a client that expected to go on would write its next request into
// a closed connection and then have to start its TLS session afresh.
void page(httpd_arg* arg) {
    std::string body = "<html><head><title>Moxel</title></head><body><table>";
    char row[64];
    for (int number = 0; number < 40; ++number) {
        snprintf(row, sizeof row, "<tr><td>component %02d</td><td>installed</td></tr>", number);
        body += row;
    }
    body += "</table></body></html>\n";
    httpd_printf(
        arg,
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-cache\r\nConnection: close\r\n"
        "Content-Length: %zu\r\n\r\n%s",
        body.size(), body.c_str());
    arg->flags |= HTTPD_DONE;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s PORT TLS_PORT CERTIFICATE ROOT\n", argv[0]);
        return 1;
    }
    std::string ports = std::string(argv[1]) + "," + argv[2] + "s";
    const char* args[] = {"bench", "-ports", ports.c_str(), "-ssl_cert", argv[3], "-root", argv[4], nullptr};
    httpd_context* ctx = httpd_init(7, const_cast<char**>(args));
    httpd_register_uri(ctx, "/page", page, nullptr);
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    signal(SIGPIPE, SIG_IGN);
    while (!stopping)
        httpd_poll(ctx, 1000);
    httpd_fini(ctx);
    return 0;
}
