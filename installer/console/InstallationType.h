#pragma once

#include <string>
#include <vector>

// A named preset of components of one product.
struct InstallationType {
    // Values of `kind`.
    static constexpr int DECLARED = 0; // listed by the build description
    static constexpr int FULL = 1;     // generated: every component
    static constexpr int CUSTOM = 2;   // generated: the user picks the components

    // The name shown first, then its aliases; never empty.
    std::vector<std::string> names;
    std::string description;
    int kind = DECLARED;
    // Component names; only a declared type lists any.
    std::vector<std::string> components;
};
