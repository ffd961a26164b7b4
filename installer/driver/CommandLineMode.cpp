#include "installer/driver/CommandLineMode.h"

#include "common/packages/Repository.h"
#include "common/packages/SourceSysRPM.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/hosts.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ParamManager.h"
#include "installer/console/ReleasesCompatibilityChecker.h"
#include "installer/driver/CatalogueSelection.h"
#include "installer/driver/ComponentsReporter.h"
#include "installer/driver/ConfiguratorChoice.h"
#include "installer/driver/Driver.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/InstallationRun.h"
#include "installer/driver/InstallationTypesReporter.h"
#include "installer/driver/OSListReporter.h"
#include "installer/driver/Options.h"
#include "installer/driver/PackagesReporter.h"
#include "installer/driver/ProductsReporter.h"
#include "installer/driver/ReleasesReporter.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/auto_configurator.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/Installer.h"
#include "installer/engine/RepositoryProcessor.h"
#include "installer/engine/RunStageActions.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceUrl.h"

#include <boost/algorithm/string/join.hpp>

#include <iostream>
#include <memory>

namespace driver {

namespace {

error selectionError(int support) {
    return error(error::user, 1, 1, support);
}

[[noreturn]] void printListing(const Reporter& listing) {
    std::cout << listing;
    exitWithSuccess();
}

[[noreturn]] void serveFeedbackCommand(const Options& options) {
    switch (options.command) {
    case Options::cmd_enable_feedback:
        setFeedbackEnabled(true);
        break;
    case Options::cmd_disable_feedback:
        setFeedbackEnabled(false);
        break;
    case Options::cmd_set_feedback_product:
        writeFeedbackProduct(options.setFeedbackProduct);
        break;
    default:
        writeFeedbackGroupId(options.setFeedbackGroupId);
    }
    exitWithSuccess();
}

bool isFeedbackCommand(int command) {
    return command >= Options::cmd_enable_feedback && command <= Options::cmd_set_feedback_group_id;
}

void checkHostName() {
    try {
        util::check_hostname();
    } catch (const error& e) {
        Log::stream(0, true) << Messages().format("ignored_hostname_chk", e.getText());
        util::set_env("MOXEL_DISABLE_HOSTNAME_CHECKING", "1");
    }
}

void selectReleases(const Options& options, BuildManager& catalogue) {
    try {
        selectReleasesFromOptions(&catalogue);
        for (const boost::shared_ptr<Release>& release : catalogue.getReleases(true))
            if (release->_selected)
                ReportError::set_product_version(release->prod()->_id, release->_version.toString());
    } catch (const error&) {
        if (options.command != Options::cmd_show_releases)
            throw;
        printListing(ReleasesReporter(&catalogue, nullptr, 0));
    }
}

void checkReleasesCompatibility(BuildManager& catalogue, Repository& repository) {
    ReleasesCompatibilityChecker checker(catalogue, repository);
    catalogue.accept(checker);
    if (checker.isWarning())
        Log::stream(0, true) << "Warning: " << checker.getWarningText();
    if (checker.isError())
        throw error(error::user, 1, 1, 1) << checker.getErrorText();
}

void requestWholeTree(ComponentManager& components, request_mode_t mode) {
    components.markComponents(components.nodes.begin(), components.nodes.end(), mode, "", false);
}

void selectByInstallationType(const Options& options, ComponentManager& components,
                              const std::string& product, const ProductRequest& request, bool installed) {
    if (installed)
        throw selectionError(1) << Messages().getMessage("err_no_inst_types");
    Log::stream(3, true) << "Components from preset '" << request.installationType << "' are selected";
    const InstallationType& type = components.getProduct(product).getType(request.installationType);
    if (type.kind == InstallationType::CUSTOM && options.commandWord.empty())
        throw selectionError(1) << Messages().getMessage("err_custom_installation_in_non_interactive_mode");
    selectComponentsByInstallationType(components, request.installationType, product);
    if (!request.installComponents.empty() || !request.removeComponents.empty())
        applyComponentSelection(components, product, request.installComponents, request.removeComponents);
}

void checkVerb(const Options& options, const std::string& product, const std::string& installed,
               const std::string& selected) {
    if (options.verb == Options::verb_install && !installed.empty())
        throw selectionError(1) << Messages().format("err_prod_ver_already_installed", installed, product);
    if (options.verb != Options::verb_upgrade)
        return;
    if (installed.empty())
        throw selectionError(1) << Messages().format("err_prod_nocurrent", product);
    if (installed == selected)
        throw selectionError(1) << Messages().format("err_prod_ver_already_installed", installed, product);
}

void applyProductRequest(const Options& options, BuildManager& catalogue, ComponentManager& components,
                         const std::string& product, const ProductRequest& request) {
    const std::string installed = catalogue.getInstalledProductVersion(product);
    checkVerb(options, product, installed, catalogue.getSelectedReleaseVersion(product));
    Log::stream(3, true) << "Determining components selection from command line options for product '"
                         << product << "'";
    switch (request.mode) {
    case ProductRequest::install_all:
        Log::stream(3, true) << "All components selected to install";
        requestWholeTree(components, REQ_INSTALL);
        break;
    case ProductRequest::remove_all:
        Log::stream(3, true) << "All components selected to remove";
        requestWholeTree(components, REQ_REMOVE);
        break;
    case ProductRequest::upgrade_installed: {
        Log::stream(3, true) << "The following components selected for upgrade: "
                             << boost::algorithm::join(request.componentClasses, " ");
        ComponentManager::MarkComponentsForUpgrade upgrade(request.componentClasses);
        components.accept(upgrade);
        upgrade.commit(components);
        break;
    }
    case ProductRequest::installation_type:
        selectByInstallationType(options, components, product, request, !installed.empty());
        break;
    case ProductRequest::explicit_components:
        Log::stream(3, true) << "Components selected for installation: "
                             << boost::algorithm::join(request.installComponents, " ");
        Log::stream(3, true) << "Components selected for remove: "
                             << boost::algorithm::join(request.removeComponents, " ");
        applyComponentSelection(components, product, request.installComponents, request.removeComponents);
        break;
    default:
        throw selectionError(2) << Messages().getMessage("err_no_command");
    }
}

// Installing no newer patch while an older one than the installed would go in needs the
// administrator's word.
void guardAgainstOldPatch(const Options& options, MicroUpdateManager& patches) {
    patches.setForceReinstall(false);
    for (const MicroUpdateManager::ProductPatches& product : patches.getProducts())
        if (patches.needsPatch(product.productId))
            return;
    if (!patches.isPatchUnsafe() || options.reinstallPatch || options.skipPatch)
        return;
    const std::string message =
        Messages().getMessage("warning_old_patch_is_not_reinstalled") + "\n" +
        Messages().format("warning_old_patch_is_not_reinstalled_non_interactive",
                          options.commandWord.empty() ? "--reinstall-patch" : "--repatch");
    std::cout << Reporter(Reporter::failed, message.c_str());
    exitWithError();
}

void logComponentsChangedByPackages(ComponentManager& components, const Installer& installer,
                                    Repository& repository) {
    std::string added;
    for (const std::string& name : components.needAlsoInstall(installer.getPackages()))
        added += " '" + name + "'";
    if (!added.empty())
        Log::stream(0, true) << Messages().getMessage("added_comps_by_deps") << added;
    std::vector<std::string> removed;
    for (const comp_cptr_t& component :
         components.needAlsoRemove(installer.getPackages(), &repository, nullptr))
        removed.push_back(component->getDescription() + " (" + component->name + ")");
    if (!removed.empty())
        Log::stream(0, true) << Messages().getMessage("removed_comps_by_deps")
                             << boost::algorithm::join(removed, ", ");
}

} // namespace

void runCommandLine(const Options& options) {
    if (isFeedbackCommand(options.command))
        serveFeedbackCommand(options);
    setCommandLineMode();
    checkHostName();

    SourceSysRPM::keepFullListFile = options.skipCleanup;
    auto repository = std::make_unique<Repository>();
    attachSystemPackageSource(*repository, true);
    ReportError::set_source_url(options.source.str());
    auto fetcher = std::make_unique<FileFetcher>(parentLocation(options.source.str()), options.target);
    std::unique_ptr<BuildManager> catalogue;
    restartingForSelfUpgrade(options.source, [&] {
        catalogue = std::make_unique<BuildManager>(*fetcher, locationBaseName(options.source.str()));
    });

    repository->getBrief();
    catalogue->calculateReleaseStates(repository.get());
    Options::instance().interpretSelectors(*catalogue);
    if (options.command == Options::cmd_show_all_releases) {
        catalogue->cropReleasesByTags({}, {});
        printListing(ReleasesReporter(catalogue.get(), nullptr, 0));
    }
    if (options.command == Options::cmd_show_products) {
        catalogue->removeNotActualReleases();
        printListing(ProductsReporter(catalogue.get()));
    }
    if (options.command != Options::cmd_show_os_list) {
        catalogue->removeNotActualReleases();
        catalogue->cropReleasesByTags(options.tier, options.keptReleaseIds);
    }
    if (options.releaseSelectors.empty())
        throw selectionError(2) << Messages().getMessage("releases_no_selected");
    selectReleases(options, *catalogue);
    if (options.command == Options::cmd_show_os_list)
        printListing(OSListReporter(catalogue.get()));
    checkReleasesCompatibility(*catalogue, *repository);

    ComponentManager components;
    SourceManager sources(repository.get());
    ParamManager settings;
    MicroUpdateManager patches(fetcher.get(), &components);
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> fileGuards;
    restartingForSelfUpgrade(options.source, [&] {
        loadComponentTree(*catalogue, *repository, components, *fetcher, sources, settings, patches,
                          fileGuards);
    });
    if (options.command == Options::cmd_show_installation_types)
        printListing(InstallationTypesReporter(&components));
    sources.addExtensionSource(&components);

    auto_configurator configurator(
        createSystemConfigurator(*repository, options.source.str(), components, sources),
        !options.skipCleanup);
    configurator->configureSystem();
    repository->getBrief();
    determineComponentStates(components, *repository, configurator.get(), patches);

    if (options.command == Options::cmd_show_components) {
        if (options.showOptions)
            settings.loadFromOptions();
        printListing(ComponentsReporter(repository.get(), catalogue.get(), &components, &settings));
    }
    if (options.command == Options::cmd_show_releases || options.command == Options::cmd_check_updates)
        printListing(ReleasesReporter(catalogue.get(), &patches,
                                      options.command == Options::cmd_check_updates ? 1 : 0));

    for (const auto& request : options.productRequests)
        applyProductRequest(options, *catalogue, components, request.first, request.second);
    for (const std::string& name : options.removePackage)
        components.extraPackages.push_back(repository->addRemoverFor(name));
    RepositoryProcessor processor(repository.get(), fetcher.get(), &sources, configurator.get());
    components.accept(processor);

    ComponentsExamine examinations(&components, fetcher.get());
    if (!examinations.doPreExamine(options.skipComponentsCheck) &&
        ComponentsExamine::hasErrors(examinations.getPreResults()))
        throw error(error::packages, 1, 1, 3)
            << Messages().getMessage("examine_unpassed") << "\n"
            << ComponentsExamine::formatResults(ExamineResultFormatter(), examinations.getPreResults());
    settings.prepare(components);
    settings.loadFromOptions();
    ReportError::set_components(catalogue.get(), &components);

    Progress::stage(2, 3);
    RunStageActions stages(components, *repository);
    const std::shared_ptr<Installer> installer =
        createInstaller(*repository, components, configurator.get(), &sources, stages);
    const cpkgs_t& plan = installer->resolveDependencies();
    ReportError::set_packages(plan, repository.get());
    if (!plan.empty())
        guardAgainstOldPatch(options, patches);
    if (options.command == Options::cmd_show_packages)
        printListing(PackagesReporter(plan, repository.get(), Options::enableXmlOutput));
    if (plan.empty()) {
        installPatchesOnly(*catalogue, components, examinations, *fetcher, *installer, patches, *repository,
                           sources, configurator);
        return;
    }
    installer->checkPackages();
    logComponentsChangedByPackages(components, *installer, *repository);
    installPackages(*catalogue, components, examinations, *fetcher, *installer, patches, settings,
                    *repository, sources, configurator);
}

} // namespace driver
