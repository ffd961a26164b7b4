#include "httpd/internal.h"
const httpd_io_class io_cgi = {"cgi", nullptr, nullptr, nullptr};
void serve_path(httpd_connection* c) {
    send_error_reply(c, 404, "Not Found");
}
void serve_put_delete(httpd_connection* c) {
    send_error_reply(c, 404, "Not Found");
}
