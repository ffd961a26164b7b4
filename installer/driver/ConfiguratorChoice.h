#pragma once

#include <string>

class ComponentManager;
class Repository;
class SourceManager;
class SystemSpecificConfigurator;

namespace driver {

// The configurator for this system and the base component's package kind, owned by the caller;
// null when no package manager family applies.
SystemSpecificConfigurator* createSystemConfigurator(Repository& repository, const std::string& source,
                                                     ComponentManager& components, SourceManager& sources);

// The configuration check text of the run: asked once, and again only after
// createSystemConfigurator saw the base component's package kind change.
std::string cachedConfigurationCheck(SystemSpecificConfigurator& configurator);

} // namespace driver
