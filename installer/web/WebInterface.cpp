#include "installer/web/WebInterface.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/SecureRandom.h"
#include "common/runtime/error.h"
#include "common/runtime/hosts.h"
#include "common/runtime/util.h"
#include "installer/driver/Options.h"
#include "installer/driver/Reporter.h"
#include "web_ui/WebServer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

extern char** environ;

const char* const WebInterface::secretVariable = "WEB_SECRET";

namespace {

// 28 letters carry more than 128 bits.
const size_t secret_length = 28;

// The desktop opener gets the URL as one argument: nothing of it reaches a shell.
void openBrowser(const std::string& url) {
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {&program[0], &argument[0], nullptr};
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    if (failed != 0)
        throw error(error::system, 1, 1, 2) << "Unable to run xdg-open: " << std::strerror(failed);
    int status = 0;
    while (waitpid(pid, &status, 0) == -1 && errno == EINTR)
        ;
}

} // namespace

WebInterface::WebInterface() {
    startServer();
    announceUrl();
}

WebInterface::~WebInterface() {
    shutdown(500);
}

std::string WebInterface::generateSecret() {
    const std::string secret = secure_random::letters(secret_length);
    util::set_env(secretVariable, secret);
    return secret;
}

std::string WebInterface::url(const std::string& host, bool withCertificate) {
    return std::string(withCertificate ? "https://" : "http://") + host + ":" + std::to_string(port) + "/";
}

void WebInterface::startServer() {
    const Options& options = Options::instance();
    serverPid = fork();
    if (serverPid == -1)
        throw error(0, 0, 0, 0) << "can't fork";
    if (serverPid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        int status = 1;
        try {
            status = webServerMain(port, options.sslCert, options.sslProtocols, options.sslCiphers,
                                   options.sslCipherServerPreference, nullptr);
        } catch (const error& e) {
            Log::stream(1, true) << "Web server stopped: " << e.getText();
        } catch (const std::exception& e) {
            Log::stream(1, true) << "Web server stopped: " << e.what();
        }
        // The child never goes on with the back end's work.
        _exit(status == 0 ? 1 : status);
    }
    Log::stream(2, true) << "DEBUG: web server PID: " << serverPid;
    util::sleep_seconds(2);
    int status = 0;
    if (waitpid(serverPid, &status, WNOHANG) == serverPid) {
        serverPid = -1;
        throw error(error::system, 2, 1, 2) << "Can't start build-in web-server";
    }
}

void WebInterface::announceUrl() {
    const Options& options = Options::instance();
    const std::string host = util::get_host_name_or_ip();
    const std::string address = url(host, !options.sslCert.empty());
    if (options.openBrowser && getenv("DISPLAY"))
        openBrowser(address);
    if (Options::enableXmlOutput)
        std::cout << Reporter(Reporter::ok, "");
    else
        Log::stream(0, true) << Messages().format("goto_webinterface_url", address);
    // The server listens on every interface.
    if (options.sslCert.empty())
        Log::stream(0, true) << "WARNING: the web interface is served without TLS on every network "
                                "interface: passwords typed into it cross the network in clear text.";
    Log::setStderrThreshold(-1);
}

bool WebInterface::shutdown(int) {
    if (serverPid <= 0)
        return true;
    kill(serverPid, SIGTERM);
    int status = 0;
    while (waitpid(serverPid, &status, 0) == -1 && errno == EINTR)
        ;
    Log::stream(2, true) << "DEBUG: web server PID=" << serverPid << " was stopped.";
    serverPid = -1;
    return true;
}
