#pragma once

#include "common/packages/Package.h"

// A package named after, or read from, an ".rpm" file.
class RPMPackage : public Package {
public:
    RPMPackage(const std::string& name, const std::string& versionText);
    ~RPMPackage() override;
};
