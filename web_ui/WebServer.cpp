#include "web_ui/WebServer.h"

#include "common/runtime/util.h"
#include "web_ui/AccessGate.h"
#include "web_ui/PageReplies.h"
#include "web_ui/WebAssets.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace {

const char* contentTypeOf(const std::string& name) {
    static const std::pair<const char*, const char*> types[] = {
        {".gif", "image/gif"}, {".png", "image/png"}, {".css", "text/css"}, {".js", "text/javascript"}};
    for (const auto& type : types) {
        const size_t length = std::strlen(type.first);
        if (name.size() > length && name.compare(name.size() - length, length, type.first) == 0)
            return type.second;
    }
    return "application/octet-stream";
}

void staticFilePage(httpd_arg* arg) {
    const WebAsset& asset = *static_cast<const WebAsset*>(arg->user_data);
    page_replies::sendBytes(arg, contentTypeOf(asset.name), asset.data, asset.size);
}

// Every URL without a page of its own: the server's file handling would show the working directory
// of a root process, so only the gate and a 404 answer here.
void unknownPage(httpd_arg* arg) {
    if (access_gate::checkAccess(arg))
        page_replies::sendNotFoundPage(arg);
}

// A null entry closes the vector; the count does not include it.
class ArgumentVector {
public:
    explicit ArgumentVector(const std::vector<std::string>& arguments) : texts(arguments) {
        for (std::string& text : texts)
            pointers.push_back(&text[0]);
        pointers.push_back(nullptr);
    }
    int count() const { return static_cast<int>(texts.size()); }
    char** get() { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

} // namespace

std::vector<std::string> serverArguments(int port, const std::string& certificatePath,
                                         const std::string& sslProtocols, const std::string& sslCiphers,
                                         const std::string& sslCipherServerPreference) {
    std::vector<std::string> arguments = {"dizadizezeroz", "-ports"};
    if (certificatePath.empty()) {
        arguments.push_back(std::to_string(port));
        return arguments;
    }
    arguments.insert(arguments.end(), {std::to_string(port) + "s", "-ssl_cert", certificatePath});
    const std::pair<const char*, const std::string*> tls[] = {
        {"-ssl_protocols", &sslProtocols},
        {"-ssl_ciphers", &sslCiphers},
        {"-ssl_cipher_server_preference", &sslCipherServerPreference}};
    for (const auto& option : tls)
        if (!option.second->empty())
            arguments.insert(arguments.end(), {option.first, *option.second});
    return arguments;
}

void rootPage(httpd_arg* arg) {
    if (access_gate::checkAccess(arg))
        page_replies::redirectToCurrentPage(arg);
}

void reapChildren(int signal) {
    if (signal != SIGCHLD)
        return;
    const int saved = errno;
    int status = 0;
    while (waitpid(-1, &status, WNOHANG) > 0)
        ;
    errno = saved;
}

void loadWebSecret() {
    const std::string secret = util::get_env("WEB_SECRET");
    if (!secret.empty())
        access_gate::setOneTimeSecret(secret);
}

void registerPages(httpd_context* context) {
    httpd_register_uri(context, "/", rootPage, nullptr);
}

void registerStaticFiles(httpd_context* context) {
    for (size_t i = 0; i < web_assets::count; ++i) {
        const WebAsset& asset = web_assets::all[i];
        if (asset.name[0] == '/')
            httpd_register_uri(context, asset.name, staticFilePage, const_cast<WebAsset*>(&asset));
    }
}

int webServerMain(int port, const std::string& certificatePath, const std::string& sslProtocols,
                  const std::string& sslCiphers, const std::string& sslCipherServerPreference,
                  const volatile char* stopFlag) {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, reapChildren);
    loadWebSecret();
    ArgumentVector arguments(
        serverArguments(port, certificatePath, sslProtocols, sslCiphers, sslCipherServerPreference));
    httpd_context* context = httpd_init(arguments.count(), arguments.get());
    registerPages(context);
    registerStaticFiles(context);
    httpd_register_uri(context, "*", unknownPage, nullptr);
    try {
        while (!stopFlag || !*stopFlag)
            httpd_poll(context, 1000);
    } catch (...) {
        httpd_fini(context);
        throw;
    }
    httpd_fini(context);
    return 0;
}
