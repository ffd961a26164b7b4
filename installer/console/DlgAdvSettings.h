#pragma once

#include "installer/console/Dialog.h"
#include "installer/sources/Downloader.h"

#include <string>

// The installation source, target directory and proxy of the run, shown for reference.
class DlgAdvSettings : public Dialog {
public:
    // The proxy of the run; an empty host means none.
    using Proxy = Downloader::Proxy;

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
