// The plain client socket.

#include "httpd/internal.h"

#include <unistd.h>

namespace {

int read_socket(httpd_stream* stream, void* buffer, size_t length) {
    return static_cast<int>(recv(stream->chan.fd, buffer, length, 0));
}

int write_socket(httpd_stream* stream, const void* data, size_t length) {
    return static_cast<int>(send(stream->chan.fd, data, length, MSG_NOSIGNAL));
}

void close_socket(httpd_stream* stream) {
    close(stream->chan.fd);
    stream->chan.fd = -1;
}

} // namespace

const httpd_io_class io_socket = {"socket", read_socket, write_socket, close_socket};
