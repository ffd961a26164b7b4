#pragma once

#include "installer/console/Dialog.h"

#include <string>

// The installation source, target directory and proxy of the run, shown for reference.
class DlgAdvSettings : public Dialog {
public:
    // The proxy settings of the run; an empty host means none.
    struct Proxy {
        std::string host;
        int port = 0;
        std::string user;
        std::string password;
    };

    DlgAdvSettings(const std::string& source, const std::string& target, const Proxy& proxy)
        : source(source), target(target), proxyHost(proxy.host), proxyPort(proxy.port), proxyUser(proxy.user),
          proxyPassword(proxy.password) {}

    std::string source;
    std::string target;
    std::string proxyHost;
    int proxyPort;
    std::string proxyUser;
    std::string proxyPassword;
    // Shown because loading the catalogue failed: there is no page to go back to.
    bool afterFailure = false;
};
