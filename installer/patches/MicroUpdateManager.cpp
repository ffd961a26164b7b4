#include "installer/patches/MicroUpdateManager.h"

#include "common/runtime/Log.h"
#include "installer/catalogue/Build.h"

#include <boost/shared_ptr.hpp>

void MicroUpdateManager::loadPatches(const boost::weak_ptr<Build>& build) {
    const boost::shared_ptr<Build> loaded = build.lock();
    if (!loaded)
        return;
    for (const std::string& path : loaded->_patches)
        Log::stream(1, true) << "Warning: micro-update patch list " << path
                             << " is not read: micro-updates are not supported yet.";
}
