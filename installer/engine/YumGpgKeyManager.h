#pragma once

#include "installer/engine/GpgKeyManager.h"

#include <string>
#include <vector>

// Imports keys into rpm's database. The maker's older signing keys are removed once, before the
// first import of the manager's pass, so that the keys of one pass all stay.
class YumGpgKeyManager : public GpgKeyManager {
public:
    // The signers whose keys count as the maker's ("team <address>").
    static const std::vector<std::string>& makerIdentities();

    void importKey(const std::string& key) override;

private:
    // Failures are logged, never raised.
    void removeInstalledMoxelKeys();

    bool oldKeysRemoved = false;
};
