#pragma once
// The web server process behind the scripted back end of webui-test-server, started by a test on a
// free port, and requests to it as a browser sends them.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace webuitest {

inline int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class WizardServer {
public:
    // `environment` is added to this process's environment for the server.
    explicit WizardServer(const std::vector<std::string>& environment = {},
                          const std::string& currentPage = "summary")
        : port(freePort()) {
        std::vector<std::string> texts = {MOXEL_BINARY_DIR "/tests/web/webui_test_server",
                                          std::to_string(port), MOXEL_SOURCE_DIR "/tests/fixtures/web",
                                          dir.file("commands"), currentPage};
        std::vector<char*> argv;
        for (std::string& text : texts)
            argv.push_back(&text[0]);
        argv.push_back(nullptr);
        std::vector<std::string> envTexts(environment);
        for (char** entry = environ; *entry; ++entry)
            envTexts.push_back(*entry);
        std::vector<char*> envp;
        for (std::string& text : envTexts)
            envp.push_back(&text[0]);
        envp.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        for (int tries = 0; tries < 100 && !httpdtest::Client(port).connected; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    WizardServer(const WizardServer&) = delete;
    WizardServer& operator=(const WizardServer&) = delete;
    ~WizardServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }

    // One request on a connection of its own; `cookie` and `body` are sent when not empty.
    httpdtest::Reply request(const std::string& method, const std::string& target,
                             const std::string& cookie = "", const std::string& body = "") {
        std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!cookie.empty())
            text += "Cookie: " + cookie + "\r\n";
        if (method == "POST")
            text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n";
        text += "\r\n" + body;
        httpdtest::Client client(port);
        client.send(text);
        std::vector<httpdtest::Reply> replies = client.replies(1, 10);
        return replies.empty() ? httpdtest::Reply() : replies[0];
    }

    // The commands the back end received, one per line.
    std::string backendCommands() const { return testsupport::readFile(dir.file("commands")); }

    const int port;

private:
    testsupport::TempDir dir;
    pid_t pid = -1;
};

// "sessionID=<id>" from a reply's cookie line, empty without one.
inline std::string sessionCookie(const httpdtest::Reply& reply) {
    const std::string line = reply.header("Set-Cookie");
    const size_t end = line.find(';');
    return line.substr(0, end);
}

inline bool isLoginPage(const httpdtest::Reply& reply) {
    return reply.status() == 200 && reply.body.find("name=\"password\"") != std::string::npos;
}

} // namespace webuitest
