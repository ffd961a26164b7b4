#pragma once

#include <string>

// The web wizard's HTTP server child of the back end, and its one-time access secret.
class WebInterface {
public:
    static const char* const secretVariable;

    // A new access secret of lower-case letters from the kernel's random source, stored in
    // WEB_SECRET (replacing any earlier one) and returned.
    static std::string generateSecret();
};
