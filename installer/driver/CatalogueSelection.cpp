#include "installer/driver/CatalogueSelection.h"

#include "common/packages/Repository.h"
#include "common/packages/SourceSysDeb.h"
#include "common/packages/SourceSysRPM.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/components/AiComponent.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/components/ComponentsChangesetOps.h"
#include "installer/driver/Options.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceUrl.h"

#include <boost/algorithm/string/join.hpp>

namespace driver {

namespace {

std::unique_ptr<Source>& systemPackageSource() {
    static std::unique_ptr<Source> reader;
    return reader;
}

void requestWholeTree(ComponentManager& tree, request_mode_t mode) {
    tree.markComponents(tree.nodes.begin(), tree.nodes.end(), mode, "", false);
}

void markByName(ComponentManager& tree, ComponentsChangeset& changeset, const std::string& product,
                const std::vector<std::string>& names, request_mode_t mode) {
    ComponentsChangeset::MarkComponentsByName marker(&changeset, product, names, mode, true);
    tree.accept(marker);
}

} // namespace

std::string quotedNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += " '" + name + "'";
    return text;
}

void restartingForSelfUpgrade(const SourceUrl& source, const std::function<void()>& step) {
    try {
        step();
    } catch (const SelfUpgrade::NeedSelfUpgrade&) {
        SelfUpgrade::download_new_version(source);
        SelfUpgrade::do_restart(Options::savedArgv());
    }
}

void loadComponentTree(BuildManager& catalogue, Repository& repository, ComponentManager& components,
                       FileFetcher& fetcher, SourceManager& sources, ParamManager& settings,
                       MicroUpdateManager& patches,
                       std::vector<boost::shared_ptr<ProductInf3FileGuard>>& fileGuards) {
    BuildLoader loader(&repository, &components, &fetcher, &sources, &settings, &patches, &fileGuards);
    loader.skipPagewrightComponent = catalogue.isProductSelected("pagewright");
    catalogue.accept(loader);
    loader.commit();
}

void attachSystemPackageSource(Repository& repository, bool warnIfPresent) {
    std::unique_ptr<Source>& reader = systemPackageSource();
    if (warnIfPresent && reader) {
        Log::stream(0, true) << "Warning: system reader Source is already allocated";
        return;
    }
    const Opsys system;
    if (system.getVendor() == "Apple")
        return;
    if (system.getVendor() == "Debian" || system.getVendor() == "Ubuntu")
        reader = std::make_unique<SourceSysDeb>(&repository);
    else
        reader = std::make_unique<SourceSysRPM>(&repository);
}

void loadCatalogue(const std::string& source, const std::string& target,
                   std::unique_ptr<Repository>& repository, std::unique_ptr<FileFetcher>& fetcher,
                   std::unique_ptr<BuildManager>& catalogue) {
    if (!repository) {
        repository = std::make_unique<Repository>();
        attachSystemPackageSource(*repository, false);
        repository->getBrief();
    }
    // The catalogue refers to the fetcher: it goes first.
    catalogue.reset();
    fetcher = std::make_unique<FileFetcher>(parentLocation(source), target);
    catalogue = std::make_unique<BuildManager>(*fetcher, locationBaseName(source));
    const Options& options = Options::instance();
    catalogue->calculateReleaseStates(repository.get());
    catalogue->collectUpgradeWarnings(options.tier);
    catalogue->removeNotActualReleases();
    catalogue->removeHiddenProductsReleases();
    catalogue->cropReleasesByTags(options.tier, options.keptReleaseIds);
}

std::string selectProductRelease(const ReleaseSelector& selector, const BuildManager& catalogue) {
    switch (selector.kind) {
    case ReleaseSelector::latest:
        return catalogue.getLatestReleaseId(selector.productId);
    case ReleaseSelector::current: {
        if (catalogue.getInstalledProductVersion(selector.productId).empty())
            throw error(error::user, 1, 1, 2) << Messages().format("err_prod_nocurrent", selector.productId);
        const std::string installed = catalogue.getInstalledReleaseId(selector.productId);
        if (installed.empty())
            throw error(error::user, 1, 1, 2) << Messages().format("err_rel_nocurrent", selector.productId);
        return installed;
    }
    case ReleaseSelector::by_id:
        return selector.releaseId;
    default:
        throw internal_error("installer/main", 937);
    }
}

void selectReleasesFromOptions(BuildManager* catalogue) {
    if (!catalogue)
        throw internal_error("installer/main", 950);
    for (const ReleaseSelector& selector : Options::instance().releaseSelectors)
        catalogue->selectRelease(selector.productId, selectProductRelease(selector, *catalogue));
}

void selectComponentsByInstallationType(ComponentManager& tree, const std::string& typeName,
                                        const std::string& product) {
    Log::stream(2, true) << "Select components by installation type: product = " << product
                         << ", installation type = " << typeName;
    const InstTypes::Product& types = tree.getProduct(product);
    const InstallationType& type = types.getType(typeName);
    if (type.kind == InstallationType::FULL) {
        requestWholeTree(tree, REQ_INSTALL);
        return;
    }
    const std::vector<std::string>& names =
        type.kind == InstallationType::CUSTOM ? types.types.front().components : type.components;
    if (names.empty()) {
        tree.changeComponentState(tree.getBaseComponent(product), REQ_INSTALL);
        return;
    }
    ComponentsChangeset changeset;
    markByName(tree, changeset, product, names, REQ_INSTALL);
    tree.resolveAndApply(&changeset);
}

void applyComponentSelection(ComponentManager& tree, const std::string& product,
                             const std::vector<std::string>& install,
                             const std::vector<std::string>& remove) {
    ComponentsChangeset changeset;
    markByName(tree, changeset, product, install, REQ_INSTALL);
    markByName(tree, changeset, product, remove, REQ_REMOVE);
    tree.resolveComponents(&changeset);

    const std::vector<comp_cptr_t> denied = changeset.getDeniedImplicitRemovals();
    if (!denied.empty()) {
        std::vector<std::string> described;
        for (const comp_cptr_t& component : denied)
            described.push_back(component->getDescription() + " (" + component->name + ")");
        throw error(error::dependencies, 1, 1, 2) << Messages().getMessage("err_deps_deny_implicit_remove")
                                                  << boost::algorithm::join(described, ", ");
    }
    const std::vector<std::string> conflicts = changeset.getConflictNames();
    if (!conflicts.empty())
        throw error(error::dependencies, 1, 1, 2)
            << Messages().getMessage("err_deps_conflict") << boost::algorithm::join(conflicts, ", ");

    const std::vector<std::string> added = changeset.getImplicitNamesToInstall();
    if (!added.empty())
        Log::stream(0, true) << Messages().getMessage("added_comps_by_deps") << quotedNames(added);
    const std::vector<std::string> removed = changeset.getImplicitNamesToRemove();
    if (!removed.empty())
        Log::stream(0, true) << Messages().getMessage("removed_comps_by_deps") << quotedNames(removed);
    tree.setRequestModes(changeset);
}

void determineComponentStates(ComponentManager& tree, Repository& repository,
                              SystemSpecificConfigurator* configurator, MicroUpdateManager& patches) {
    ComponentManager::PreparePackagesList packages;
    tree.accept(packages);
    if (configurator)
        configurator->prepareAvailablePackagesList(packages.getNames().begin(), packages.getNames().end());
    ComponentManager::CheckInstalled status(&repository, configurator);
    tree.accept(status);
    ComponentManager::ShriveledRadioGroupsRemover shriveled(&tree);
    tree.accept(shriveled);
    patches.markComponentsWithMicroUpdates();
}

} // namespace driver
