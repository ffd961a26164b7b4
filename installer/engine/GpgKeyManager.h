#pragma once

#include <memory>
#include <string>

// Imports GPG key texts into the system's key ring, for the package manager's signature checks. A
// configurator makes one per configuration pass.
class GpgKeyManager {
public:
    // For the running system: apt's key ring on Debian-like systems, rpm's on Red Hat-like ones;
    // raises (1, 1, 1, 3) on any other.
    static std::unique_ptr<GpgKeyManager> create();

    GpgKeyManager() = default;
    GpgKeyManager(const GpgKeyManager&) = delete;
    GpgKeyManager& operator=(const GpgKeyManager&) = delete;
    virtual ~GpgKeyManager();

    // Raises "Unable to import GPG key." (4, 1, 1, 2) when the tool refuses the key.
    virtual void importKey(const std::string& key) = 0;

protected:
    // Runs the import command on a temporary file holding the key.
    static void runImport(const std::string& command, const std::string& key);
};
