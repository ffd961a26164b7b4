#pragma once

#include "common/packages/Package.h"

// A package named after, or read from, a ".deb" file; its version follows the Debian rules.
class DebPackage : public Package {
public:
    DebPackage(const std::string& name, const std::string& versionText);
    ~DebPackage() override;

    // Name, version and architecture from the control file (dpkg -I), then the file facts. The
    // dependency fields are not read.
    void readInfo() override;

    // Debian's rule for package names: lower-case letters, digits and "+-.", at least two characters,
    // beginning with a letter or digit; an architecture may follow after ':'.
    static bool isValidName(const std::string& name);
};
