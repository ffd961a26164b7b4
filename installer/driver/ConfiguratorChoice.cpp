#include "installer/driver/ConfiguratorChoice.h"

#include "common/runtime/Opsys.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/engine/DebianAPTConfigurator.h"
#include "installer/engine/YumConfigurator.h"

#include <boost/optional.hpp>

namespace driver {

namespace {

// Run-wide: "0" or "1" for the base component's packages being Debian ones, empty at start.
std::string& baseKind() {
    static std::string kind;
    return kind;
}

boost::optional<std::string>& cachedCheck() {
    static boost::optional<std::string> text;
    return text;
}

} // namespace

SystemSpecificConfigurator* createSystemConfigurator(Repository& repository, const std::string& source,
                                                     ComponentManager& components, SourceManager& sources) {
    const bool debBased = components.getBaseComponent("")->isDebBased();
    const std::string kind = debBased ? "1" : "0";
    if (kind != baseKind()) {
        cachedCheck().reset();
        baseKind() = kind;
    }
    if (Opsys().isRedHatLike()) {
        YumConfigurator::detectTool();
        return new YumConfigurator(source, sources, repository);
    }
    if (!debBased)
        return nullptr;
    return new DebianAPTConfigurator(source, components, sources, repository);
}

std::string cachedConfigurationCheck(SystemSpecificConfigurator& configurator) {
    if (!cachedCheck())
        cachedCheck() = configurator.checkConfiguration();
    return *cachedCheck();
}

} // namespace driver
