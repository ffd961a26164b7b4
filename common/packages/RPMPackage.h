#pragma once

#include "common/packages/Package.h"

// A package named after, or read from, an ".rpm" file.
class RPMPackage : public Package {
public:
    // Loads the RPM configuration once per process; a failure raises err_rpm_read_config and the next
    // construction tries again.
    RPMPackage(const std::string& name, const std::string& versionText);
    ~RPMPackage() override;

    // The RPM configuration, read once per process; raises err_rpm_read_config, and the next call
    // tries again.
    static void loadConfig();

    // Identity, build time and the four dependency lists (files included) from the package header,
    // then the file facts. Packages whose signature key is unknown are read normally.
    void readInfo() override;
};
