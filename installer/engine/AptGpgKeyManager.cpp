#include "installer/engine/AptGpgKeyManager.h"

void AptGpgKeyManager::importKey(const std::string& key) {
    runImport("/usr/bin/apt-key add", key);
}
