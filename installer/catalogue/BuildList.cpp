#include "installer/catalogue/BuildList.h"

#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "installer/catalogue/Build.h"

boost::shared_ptr<Build> BuildList::getBestBuild(const Opsys& os) const {
    Log::stream(3, true) << "DEBUG: BuildList::getBestBuild for " << os;
    boost::shared_ptr<Build> best;
    for (const boost::shared_ptr<Build>& build : builds) {
        if (!build->isCompatible(os)) {
            Log::stream(3, true) << "DEBUG: " << *build << " is not compatible";
            continue;
        }
        if (!best || (build->_os_version == os.getVersion() && build->_environment == os.getEnvironment()))
            best = build;
    }
    return best;
}
