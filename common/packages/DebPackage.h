#pragma once

#include "common/packages/Package.h"

// A package named after, or read from, a ".deb" file; its version follows the Debian rules.
class DebPackage : public Package {
public:
    DebPackage(const std::string& name, const std::string& versionText);
    ~DebPackage() override;
};
