#pragma once

#include "installer/engine/GpgKeyManager.h"

// Adds keys to apt's key ring with apt-key.
class AptGpgKeyManager : public GpgKeyManager {
public:
    void importKey(const std::string& key) override;
};
