#pragma once

#include <boost/shared_ptr.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class BuildManager;
class ComponentManager;
class FileFetcher;
class MicroUpdateManager;
class ParamManager;
class ProductInf3FileGuard;
class Repository;
struct ReleaseSelector;
class SourceManager;
class SourceUrl;
class SystemSpecificConfigurator;

namespace driver {

// Creates the process-wide reader of installed system packages for the repository, once: dpkg on
// Debian-like systems, rpm elsewhere, none on "Apple".
void attachSystemPackageSource(Repository& repository, bool warnIfPresent);

// Reads the catalogue of `source` into fresh fetcher and catalogue objects, then computes release
// states and drops the releases the settings and the system rule out. The repository is made (and
// its installed packages read) only when the holder is empty.
void loadCatalogue(const std::string& source, const std::string& target,
                   std::unique_ptr<Repository>& repository, std::unique_ptr<FileFetcher>& fetcher,
                   std::unique_ptr<BuildManager>& catalogue);

// Runs the step; when the catalogue demands another installer version, fetches it and restarts the
// run in it.
void restartingForSelfUpgrade(const SourceUrl& source, const std::function<void()>& step);

// Builds the component trees, settings and patch data of the selected releases. The site builder's
// component of the base product is left out when the site-builder product is selected.
void loadComponentTree(BuildManager& catalogue, Repository& repository, ComponentManager& components,
                       FileFetcher& fetcher, SourceManager& sources, ParamManager& settings,
                       MicroUpdateManager& patches,
                       std::vector<boost::shared_ptr<ProductInf3FileGuard>>& fileGuards);

// Each name as a blank and the name in single quotes, for the log.
std::string quotedNames(const std::vector<std::string>& names);

// The id of the release that the selector stands for.
std::string selectProductRelease(const ReleaseSelector& selector, const BuildManager& catalogue);
// Selects the release of every selector of the options, in order.
void selectReleasesFromOptions(BuildManager* catalogue);

// Requests installation of the components of the product's installation type `typeName`.
void selectComponentsByInstallationType(ComponentManager& tree, const std::string& typeName,
                                        const std::string& product);
// Requests installation and removal of the named components, refusing conflicts and implicit
// removals of components that deny them.
void applyComponentSelection(ComponentManager& tree, const std::string& product,
                             const std::vector<std::string>& install, const std::vector<std::string>& remove);

// After the configurator is set up: asks it once for the candidates of every package the tree names,
// determines each component's state, drops radio groups left with one choice and flags components
// with pending patches. Without a configurator the candidates come from the repository alone.
void determineComponentStates(ComponentManager& tree, Repository& repository,
                              SystemSpecificConfigurator* configurator, MicroUpdateManager& patches);

} // namespace driver
