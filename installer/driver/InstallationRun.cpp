#include "installer/driver/InstallationRun.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/components/ComponentManager.h"
#include "installer/engine/InstallRPM.h"
#include "installer/engine/SystemSpecificConfigurator.h"

namespace driver {

std::shared_ptr<Installer> createInstaller(Repository& repository, ComponentManager& components,
                                           SystemSpecificConfigurator* configurator, SourceManager*,
                                           StageActions& stages) {
    if (configurator)
        if (std::shared_ptr<Installer> own = configurator->createInstaller(components, stages))
            return own;
    if (components.getBaseComponent("")->isRPMBased())
        return std::make_shared<InstallRPM>(&repository, &components, configurator, stages);
    Log::stream(1, true) << "no installation back end for this system";
    throw error(error::system, 1, 1, 2) << Messages().getMessage("err_unkn_pkgsys");
}

} // namespace driver
