#pragma once

#include <memory>

class ComponentManager;
class Installer;
class Repository;
class SourceManager;
class StageActions;
class SystemSpecificConfigurator;

namespace driver {

// The configurator's own back end, else InstallRPM when the base component's packages are RPM
// packages. Raises err_unkn_pkgsys (class 4) when there is none, so that no front end goes on
// without one.
std::shared_ptr<Installer> createInstaller(Repository& repository, ComponentManager& components,
                                           SystemSpecificConfigurator* configurator, SourceManager* sources,
                                           StageActions& stages);

} // namespace driver
