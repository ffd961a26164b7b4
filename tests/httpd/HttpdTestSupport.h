#pragma once
// A server context polled on a thread of its own, and a raw client that sends bytes and reads replies.

#include "httpd/internal.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace httpdtest {

class TestServer {
public:
    // `args` are the option pairs after the program name; "-ports 0" is added unless given.
    explicit TestServer(std::vector<std::string> args) {
        bool has_ports = false;
        for (const std::string& arg : args)
            has_ports = has_ports || arg == "-ports";
        if (!has_ports) {
            args.push_back("-ports");
            args.push_back("0");
        }
        storage.push_back("httpd-test");
        storage.insert(storage.end(), args.begin(), args.end());
        for (std::string& arg : storage)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        ctx = httpd_init(static_cast<int>(storage.size()), argv.data());
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() {
        stop();
        httpd_fini(ctx);
    }

    void start() {
        thread = std::thread([this] {
            while (!stopping)
                httpd_poll(ctx, 20);
        });
    }
    void stop() {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }

    // The port of the listener with the given index.
    int port(int index = 0) const {
        httpd_list* entry = ctx->listeners.next;
        for (int i = 0; i < index; ++i)
            entry = entry->next;
        sockaddr_storage address = {};
        socklen_t length = sizeof address;
        getsockname(reinterpret_cast<httpd_listener*>(entry)->sock, reinterpret_cast<sockaddr*>(&address),
                    &length);
        return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                   : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }

    httpd_context* ctx = nullptr;

private:
    std::vector<std::string> storage;
    std::vector<char*> argv;
    std::thread thread;
    std::atomic<bool> stopping{false};
};

struct Reply {
    std::string status_line;
    std::map<std::string, std::string> headers; // names as sent
    std::string body;
    int status() const { return status_line.size() > 12 ? atoi(status_line.c_str() + 9) : 0; }
    std::string header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

class Client {
public:
    explicit Client(int port, const char* address = "127.0.0.1") {
        fd = socket(address[0] == ':' ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (address[0] == ':') {
            sockaddr_in6 sin6 = {};
            sin6.sin6_family = AF_INET6;
            sin6.sin6_port = htons(port);
            inet_pton(AF_INET6, address, &sin6.sin6_addr);
            connected = connect(fd, reinterpret_cast<sockaddr*>(&sin6), sizeof sin6) == 0;
        } else {
            sockaddr_in sin = {};
            sin.sin_family = AF_INET;
            sin.sin_port = htons(port);
            inet_pton(AF_INET, address, &sin.sin_addr);
            connected = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { close(fd); }

    bool send(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Reads until `count` complete replies arrived, the server closed, or `seconds` passed.
    std::vector<Reply> replies(size_t count, int seconds = 5) {
        std::vector<Reply> result;
        while (result.size() < count) {
            Reply reply;
            if (takeReply(reply)) {
                result.push_back(reply);
            } else if (!readMore(seconds)) {
                if (takeReply(reply))
                    result.push_back(reply);
                break;
            }
        }
        return result;
    }

    // True when the server closed the connection within `seconds`.
    bool closedByServer(int seconds = 5) {
        while (readMore(seconds))
            ;
        return eof;
    }

    std::string received() const { return buffer; }

    // Takes one header block without a body (the reply to HEAD).
    std::string headerBlock(int seconds = 5) {
        while (buffer.find("\r\n\r\n") == std::string::npos && readMore(seconds))
            ;
        size_t end = buffer.find("\r\n\r\n");
        if (end == std::string::npos)
            return std::string();
        std::string head = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        return head;
    }

    int fd = -1;
    bool connected = false;

private:
    bool readMore(int seconds) {
        if (eof)
            return false;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, seconds * 1000) <= 0)
            return false;
        char chunk[65536];
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            eof = true;
            return false;
        }
        buffer.append(chunk, n);
        return true;
    }

    // Takes one reply from the buffer: by its Content-Length, or everything at the end of the stream.
    bool takeReply(Reply& reply) {
        reply = Reply();
        size_t end = buffer.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        std::string head = buffer.substr(0, end);
        size_t line_end = head.find("\r\n");
        reply.status_line = head.substr(0, line_end);
        for (size_t pos = line_end; pos != std::string::npos && pos < head.size();) {
            size_t next = head.find("\r\n", pos + 2);
            std::string line =
                head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
            size_t colon = line.find(':');
            if (colon != std::string::npos)
                reply.headers[line.substr(0, colon)] = line.substr(colon + 2);
            pos = next;
        }
        size_t body_start = end + 4;
        auto length = reply.headers.find("Content-Length");
        if (length == reply.headers.end()) {
            if (!eof)
                return false;
            reply.body = buffer.substr(body_start);
            buffer.clear();
            return true;
        }
        size_t size = strtoul(length->second.c_str(), nullptr, 10);
        if (buffer.size() < body_start + size)
            return false;
        reply.body = buffer.substr(body_start, size);
        buffer.erase(0, body_start + size);
        return true;
    }

    std::string buffer;
    bool eof = false;
};

// A document root "www" in a temporary directory, served by a server that a test starts with its options.
class DocumentRootTest : public ::testing::Test {
protected:
    void SetUp() override { mkdir(root().c_str(), 0755); }

    std::string root() const { return dir.file("www"); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server->port()) + path;
    }

    // Makes the server on the root; `args` are further option pairs. `start` also starts polling.
    void create(std::vector<std::string> args) {
        args.insert(args.begin(), {"-root", root()});
        server.reset(new TestServer(args));
    }
    void start(std::vector<std::string> args) {
        create(std::move(args));
        server->start();
    }

    // The reply to one raw request on a connection of its own.
    Reply get(const std::string& request) {
        Client client(server->port());
        client.send(request);
        std::vector<Reply> replies = client.replies(1);
        return replies.empty() ? Reply() : replies[0];
    }

    testsupport::TempDir dir;
    std::unique_ptr<TestServer> server;
};

// Runs a shell command and returns its standard output.
inline std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, n);
    pclose(pipe);
    return output;
}

} // namespace httpdtest
