#pragma once

#include <string>

// The back end's handle of the web wizard's HTTP server child: starts it, announces its URL and stops
// it again when destroyed. Also makes the one-time access secret.
class WebInterface {
public:
    static const char* const secretVariable;
    static constexpr int port = 8447;

    WebInterface();
    WebInterface(const WebInterface&) = delete;
    WebInterface& operator=(const WebInterface&) = delete;
    ~WebInterface();

    // Stops the child and waits for it; the time-out plays no part. Always true.
    bool shutdown(int timeoutMilliseconds);

    // A new access secret of lower-case letters from the kernel's random source, stored in
    // WEB_SECRET (replacing any earlier one) and returned.
    static std::string generateSecret();

    // "https://" with a certificate, else "http://", the host, the port and "/".
    static std::string url(const std::string& host, bool withCertificate);

private:
    void startServer();
    void announceUrl();

    int serverPid = -1;
};
