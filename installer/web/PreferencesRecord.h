#pragma once

#include <string>

// The preferences a set_preferences request carries. The caller fills in the current values first;
// the parser overwrites only what the request changes.
struct PreferencesRecord {
    std::string source;
    std::string target;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUser;
    std::string proxyPassword;
};
