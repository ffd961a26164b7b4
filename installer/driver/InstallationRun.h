#pragma once

#include <memory>

class BuildManager;
class ComponentManager;
class ComponentsExamine;
class FileFetcher;
class Installer;
class MicroUpdateManager;
class ParamManager;
class Repository;
class SourceManager;
class StageActions;
class SystemSpecificConfigurator;

namespace driver {

class auto_configurator;

// The configurator's own back end, else InstallRPM when the base component's packages are RPM
// packages. Raises err_unkn_pkgsys (class 4) when there is none, so that no front end goes on
// without one.
std::shared_ptr<Installer> createInstaller(Repository& repository, ComponentManager& components,
                                           SystemSpecificConfigurator* configurator, SourceManager* sources,
                                           StageActions& stages);

// For an empty package plan: brings the repositories in line with the selection and installs the
// due patches. True when patches were installed.
bool installPatchesOnly(BuildManager& catalogue, ComponentManager& components,
                        ComponentsExamine& examinations, FileFetcher& fetcher, Installer& installer,
                        MicroUpdateManager& patches, Repository& repository, SourceManager& sources,
                        auto_configurator& configurator);

// For a non-empty plan: runs the package transaction, then the due patches.
void installPackages(BuildManager& catalogue, ComponentManager& components, ComponentsExamine& examinations,
                     FileFetcher& fetcher, Installer& installer, MicroUpdateManager& patches,
                     ParamManager& settings, Repository& repository, SourceManager& sources,
                     auto_configurator& configurator);

// Keeps the repository configuration, then runs the examinations after the change; a hard failure
// among them raises.
void postExamine(Installer& installer, ComponentsExamine& examinations);

} // namespace driver
