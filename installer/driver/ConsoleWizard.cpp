#include "installer/driver/ConsoleWizard.h"

#include "common/packages/Repository.h"
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
#include "installer/components/ParamManager.h"
#include "installer/console/DlgAdvSettings.h"
#include "installer/console/DlgComponents.h"
#include "installer/console/DlgHello.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgMessage.h"
#include "installer/console/DlgOptions.h"
#include "installer/console/DlgPackages.h"
#include "installer/console/DlgReleases.h"
#include "installer/console/DlgYesNo.h"
#include "installer/console/InstallationType.h"
#include "installer/driver/CatalogueSelection.h"
#include "installer/driver/ConfiguratorChoice.h"
#include "installer/driver/InstallationRun.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/Installer.h"
#include "installer/engine/RepositoryProcessor.h"
#include "installer/engine/RunStageActions.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"

#include <boost/algorithm/string/join.hpp>

#include <iostream>

namespace driver {

namespace {

constexpr int NEXT = Dialog::NEXT;
constexpr int BACK = Dialog::BACK;
constexpr int QUIT = Dialog::QUIT;
constexpr int YES = Dialog::YES;
constexpr int NO = Dialog::NO;

std::string textOf(const char* key) {
    return Messages().getMessage(key);
}

// Shows the caution text of every selected release, one message after the other.
class CautionCollector : public BuildManager::Visitor {
public:
    explicit CautionCollector(DlgMaker& maker) : maker(maker) {}

    void visitRelease(boost::shared_ptr<Release> release) override {
        if (!release->_selected)
            return;
        const std::string caution = release->getCaution();
        if (!caution.empty())
            maker.message(caution)->run();
    }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

private:
    DlgMaker& maker;
};

} // namespace

ConsoleWizard::ConsoleWizard(DlgMaker& maker, const Options& options)
    : maker(maker), options(options), configurator(nullptr, !options.skipCleanup) {}

ConsoleWizard::~ConsoleWizard() = default;

void ConsoleWizard::run() {
    Progress::stage(1, 10);
    Progress::step("check_system_packages", textOf("check_system_packages"));
    ReportError::set_source_url(options.source.str());
    int page = 1;
    if (options.interactionModeHandedOver) {
        if (options.releaseSelectors.empty()) {
            page = 2;
            reached = 1;
        } else {
            startWithSelectedReleases();
            page = 3;
            reached = 2;
        }
    }
    int result = NEXT;
    for (;;) {
        try {
            result = showPage(page, result);
        } catch (const error& failure) {
            if (!offerRestart(failure))
                throw;
            page = 2;
            reached = 1;
        }
        if (result == QUIT)
            return;
        if (result == NEXT)
            ++page;
        else if (result == BACK && page > 1)
            --page;
    }
}

int ConsoleWizard::showPage(int page, int result) {
    switch (page) {
    case 1:
        return welcomePage(result);
    case 2:
        return releasesPage(result);
    case 3:
        return componentTreePage(result);
    case 4:
        return installationTypesPage(result);
    case 5:
        return componentsPage(result);
    case 6:
        return settingsPage(result);
    case 7:
        return packagesPage(result);
    default:
        return installationPage();
    }
}

bool ConsoleWizard::offerRestart(const error& failure) {
    ReportError::sendFailure(failure);
    if (!ProductInf3FileGuard::isNewBuildAvailable()) {
        Progress::fail(failure.getReport());
        return false;
    }
    std::cout << failure.getReport() << "\n";
    if (ask(true, textOf("install_again")) != YES)
        return false;
    Log::stream(2, true) << "The product configuration was changed. This could happen because there is a new "
                            "version available.";
    return true;
}

int ConsoleWizard::ask(bool defaultYes, const std::string& text) {
    return (defaultYes ? maker.yesNoDefaultYes(text) : maker.yesNoDefaultNo(text))->run();
}

void ConsoleWizard::tell(const std::string& text) {
    maker.message(text)->run();
}

int ConsoleWizard::welcomePage(int) {
    if (!helloDialog)
        helloDialog = maker.hello();
    const int result = helloDialog->run();
    if (result != NEXT || reached > 0)
        return result;
    try {
        util::check_hostname();
    } catch (const error& failure) {
        Log::stream(1, true) << "Hostname check failed: " << failure.getText();
        if (ask(false, textOf("hostname_check_failed") + "\n" + textOf("question_continue")) != YES)
            return QUIT;
        util::set_env("MOXEL_DISABLE_HOSTNAME_CHECKING", "1");
    }
    reached = 1;
    return NEXT;
}

void ConsoleWizard::loadCatalogue() {
    dropTree();
    releasesDialog.reset();
    driver::loadCatalogue(options.source.str(), options.target, repository, fetcher, catalogue);
}

void ConsoleWizard::createReleasesDialog() {
    settingsDialog =
        maker.advSettings(options.source.str(), options.target,
                          {options.proxyHost, options.proxyPort, options.proxyUser, options.proxyPassword});
    releasesDialog = maker.releases(catalogue.get(), repository.get(), options.allVersions);
    releasesDialog->settingsDialog = settingsDialog.get();
}

void ConsoleWizard::startWithSelectedReleases() {
    loadCatalogue();
    createReleasesDialog();
    selectReleasesFromOptions(catalogue.get());
    selectedReleaseIds = catalogue->getSelectedReleaseIds();
}

int ConsoleWizard::releasesPage(int) {
    configurator->rollback();
    if (reached < 2) {
        try {
            restartingForSelfUpgrade(options.source, [this] {
                loadCatalogue();
                catalogue->selectDefaultProductRelease();
            });
            createReleasesDialog();
        } catch (const error& failure) {
            if (ask(true, failure.getText() + "\n" + textOf("question_show_settings")) != YES)
                return QUIT;
            if (!settingsDialog)
                createReleasesDialog();
            settingsDialog->afterFailure = true;
            const int result = settingsDialog->run();
            settingsDialog->afterFailure = false;
            // Forward from the settings tries the catalogue again.
            return result == NEXT ? NO : result;
        }
    }
    for (const std::string& warning : catalogue->_warnings)
        tell(warning);
    const int result = releasesDialog->run();
    if (result != NEXT)
        return result;
    const std::vector<std::string> ids = catalogue->getSelectedReleaseIds();
    if (ids != selectedReleaseIds || reached < 2) {
        selectedReleaseIds = ids;
        reached = 2;
        Log::stream(2, true) << "Product page: selected releases:" << quotedNames(ids);
        for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
            if (release->_selected)
                ReportError::set_product_version(release->prod()->_id, release->_version.toString());
    }
    return result;
}

void ConsoleWizard::dropTree() {
    installer.reset();
    plan = nullptr;
    stages.reset();
    examinations.reset();
    componentsDialog.reset();
    instTypesDialog.reset();
    configurator.reset(nullptr);
    patches.reset();
    params.reset();
    sources.reset();
    components.reset();
}

int ConsoleWizard::componentTreePage(int result) {
    if (reached > 2)
        return result;
    dropTree();
    components = std::make_unique<ComponentManager>();
    sources = std::make_unique<SourceManager>(repository.get());
    params = std::make_unique<ParamManager>();
    patches = std::make_unique<MicroUpdateManager>(fetcher.get(), components.get());
    repository->leaveOnlySystemPackages();
    restartingForSelfUpgrade(options.source, [this] {
        loadComponentTree(*catalogue, *repository, *components, *fetcher, *sources, *params, *patches,
                          fileGuards);
    });
    CautionCollector cautions(maker);
    catalogue->accept(cautions);
    sources->addExtensionSource(components.get());
    configurator.reset(createSystemConfigurator(*repository, options.source.str(), *components, *sources));
    configurator->configureSystem();
    const std::string problems = cachedConfigurationCheck(*configurator.get());
    if (!problems.empty() && ask(true, problems + "\n" + textOf("question_continue")) == NO)
        throw error(error::repository, 1, 1, 2).setFlag(error::flag_expected_stop)
            << textOf("err_stopped_by_user");
    reached = 3;
    return result;
}

std::set<std::string> ConsoleWizard::installableProducts() const {
    std::set<std::string> products;
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
        if (release->_selected && release->_update_mode != 2 && release->_update_mode != 3)
            products.insert(release->prod()->_id);
    return products;
}

int ConsoleWizard::installationTypesPage(int result) {
    if (reached < 4) {
        repository->getBrief();
        determineComponentStates(*components, *repository, configurator.get(), *patches);
        const comp_ptr_t base = components->getBaseComponent("");
        if (base && base->getInstallMode() == AiComponent::UPGRADE)
            components->selectBaseComponent();
        instTypesDialog = maker.instTypes(catalogue.get(), components.get());
    }
    if (instTypesDialog->selections.empty()) {
        offeredProducts = installableProducts();
        reached = std::max(reached, 4);
        return result;
    }
    result = instTypesDialog->run();
    if (result != NEXT)
        return result;
    const bool customize = instTypesDialog->customize;
    if (instTypesDialog->selections == chosenTypes && !customize && !stickyCustomize && reached >= 4)
        return NEXT;
    chosenTypes = instTypesDialog->selections;
    offeredProducts = installableProducts();
    stickyCustomize = false;
    for (const DlgInstTypes::Selection& chosen : chosenTypes) {
        const std::string& product = chosen.first;
        Log::stream(2, true) << "Installation types page: product: " << product
                             << ", installation type: " << chosen.second;
        components->markComponents(components->nodes.begin(), components->nodes.end(), REQ_LEAVE, product,
                                   false);
        selectComponentsByInstallationType(*components, chosen.second, product);
        if (components->getProduct(product).getType(chosen.second).kind == InstallationType::CUSTOM)
            offeredProducts.insert(product);
        else
            offeredProducts.erase(product);
        if (customize) {
            offeredProducts.insert(product);
            stickyCustomize = true;
        }
    }
    ReportError::set_components(catalogue.get(), components.get());
    reached = 4;
    return NEXT;
}

int ConsoleWizard::componentsPage(int result) {
    if (reached < 5)
        componentsDialog = maker.components(components.get(), catalogue.get());
    if (!offeredProducts.empty()) {
        componentsDialog->productIds = offeredProducts;
        result = componentsDialog->run();
        if (result != NEXT)
            return result;
        if (components->getSelection() != selectedComponents)
            reached = 4;
        else if (reached > 4)
            return NEXT;
    } else if (reached > 4) {
        return result;
    }
    selectedComponents = components->getSelection();
    Log::stream(2, true) << "The following components were selected:" << quotedNames(selectedComponents);
    result = planPackages(result);
    if (result == NEXT)
        reached = 5;
    return result;
}

int ConsoleWizard::planPackages(int result) {
    RepositoryProcessor processor(repository.get(), fetcher.get(), sources.get(), configurator.get());
    components->accept(processor);
    confirmPreExamination();
    params->prepare(*components);
    params->loadFromOptions();
    ReportError::set_components(catalogue.get(), components.get());

    installer.reset();
    stages = std::make_unique<RunStageActions>(*components, *repository);
    installer = createInstaller(*repository, *components, configurator.get(), sources.get(), *stages);
    plan = &installer->resolveDependencies();
    ReportError::set_packages(*plan, repository.get());
    if (plan->empty()) {
        installPatchesOnly(*catalogue, *components, *examinations, *fetcher, *installer, *patches,
                           *repository, *sources, configurator);
        return QUIT;
    }
    result = confirmOldPatch(result);
    installer->checkPackages();
    const std::vector<std::string> added = components->needAlsoInstall(installer->getPackages());
    if (!added.empty())
        tell(textOf("need_also_message") + boost::algorithm::join(added, ", "));
    return confirmImplicitChanges(result);
}

void ConsoleWizard::confirmPreExamination() {
    examinations = std::make_unique<ComponentsExamine>(components.get(), fetcher.get());
    if (examinations->doPreExamine(options.skipComponentsCheck))
        return;
    const std::string results =
        ComponentsExamine::formatResults(ExamineResultFormatter(), examinations->getPreResults());
    const std::string unpassed = textOf("examine_unpassed");
    const int answer = ask(false, unpassed + "\n" + results + "\n" + textOf("examine_skip_yesno") + "\n" +
                                      textOf("question_continue"));
    ReportError::Stream(-1) << unpassed << "\n"
                            << results << "\n"
                            << "User continued installation: " << (answer == NO ? "No" : "Yes") << "\n";
    ReportError::Info info;
    info.warning = true;
    info.component = "precheck";
    info.userContinued = answer == NO ? 1 : 0;
    info.summary = unpassed;
    ReportError::send(info);
    if (answer == NO)
        throw error(error::system, 1, 1, 2).setFlag(error::flag_expected_stop)
            << textOf("err_stopped_by_user") << textOf("err_examine_stopped");
}

int ConsoleWizard::confirmOldPatch(int result) {
    patches->setForceReinstall(false);
    for (const MicroUpdateManager::ProductPatches& product : patches->getProducts())
        if (patches->needsPatch(product.productId))
            return result;
    if (!patches->isPatchUnsafe())
        return result;
    result = ask(false, textOf("warning_old_patch_is_not_reinstalled") + "\n" +
                            textOf("confirm_reinstallation_of_old_patch"));
    if (result == YES) {
        Log::stream(3, true) << "DEBUG: old patch reinstallation is confirmed";
        patches->setForceReinstall(true);
    } else {
        Log::stream(3, true) << "DEBUG: old patch reinstallation is cancelled";
    }
    return result;
}

int ConsoleWizard::confirmImplicitChanges(int result) {
    bool denied = false;
    const std::vector<comp_cptr_t> removed =
        components->needAlsoRemove(installer->getPackages(), repository.get(), &denied);
    if (removed.empty())
        return result == YES ? NEXT : result;
    std::vector<std::string> names;
    for (const comp_cptr_t& component : removed)
        names.push_back(component->getDescription() + " (" + component->name + ")");
    const std::string text = textOf(denied ? "components_deny_implicit_remove" : "need_also_remove_message") +
                             "\n" + boost::algorithm::join(names, ", ");
    if (denied) {
        tell(text);
        return NO;
    }
    return ask(true, text + "\n" + textOf("question_continue")) == YES ? NEXT : NO;
}

int ConsoleWizard::settingsPage(int result) {
    if (params->countComponentsWithParams() == 0) {
        Log::stream(3, true)
            << "DEBUG: Skipping the component options page because no components need to be set up";
        return result;
    }
    Log::stream(2, true) << "Custom configuration page: create";
    result = maker.options(params.get(), repository.get())->run();
    Log::stream(2, true) << "Custom configuration page: close";
    return result;
}

int ConsoleWizard::packagesPage(int) {
    return maker.packages(plan, repository.get())->run();
}

int ConsoleWizard::installationPage() {
    installPackages(*catalogue, *components, *examinations, *fetcher, *installer, *patches, *params,
                    *repository, *sources, configurator);
    return QUIT;
}

void work_interactive() {
    const std::unique_ptr<DlgMaker> maker = DlgMaker::create();
    ConsoleWizard(*maker, Options::instance()).run();
}

} // namespace driver
