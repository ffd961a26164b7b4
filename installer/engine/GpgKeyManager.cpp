#include "installer/engine/GpgKeyManager.h"

#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"
#include "installer/engine/AptGpgKeyManager.h"
#include "installer/engine/AutoremovedTempfile.h"
#include "installer/engine/YumGpgKeyManager.h"

#include <sstream>

std::unique_ptr<GpgKeyManager> GpgKeyManager::create() {
    const Opsys system;
    if (system.isDebianLike())
        return std::make_unique<AptGpgKeyManager>();
    if (system.isRedHatLike())
        return std::make_unique<YumGpgKeyManager>();
    throw error(error::repository, 1, 1, 3) << "GpgKeyManager is not implemented for current OS";
}

GpgKeyManager::~GpgKeyManager() = default;

void GpgKeyManager::runImport(const std::string& command, const std::string& key) {
    const AutoremovedTempfile file(key);
    std::ostringstream output;
    if (exec::run_command(command + " " + util::shell_quote(file.path()), true, false, &output, &output) != 0)
        throw error(error::system, 1, 1, 2) << "Unable to import GPG key.";
}
