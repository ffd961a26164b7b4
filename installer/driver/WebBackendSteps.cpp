#include "installer/driver/WebBackend.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/components/ComponentsChangesetOps.h"
#include "installer/components/ParamManager.h"
#include "installer/console/ReleasesCompatibilityChecker.h"
#include "installer/driver/CatalogueSelection.h"
#include "installer/driver/ConfiguratorChoice.h"
#include "installer/driver/InstallationRun.h"
#include "installer/driver/InstallationThread.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/bg_self_upgrade_task.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/Installer.h"
#include "installer/engine/RepositoryProcessor.h"
#include "installer/engine/RunStageActions.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceUrl.h"

#include <algorithm>
#include <set>

namespace driver {

namespace {

std::string joinedIds(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids)
        text += " '" + id + "'";
    return text;
}

// The caution texts of the selected releases.
class CautionCollector : public BuildManager::Visitor {
public:
    void visitRelease(boost::shared_ptr<Release> release) override {
        if (release->_selected && !release->getCaution().empty())
            cautions.push_back(release->getCaution());
    }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

    std::vector<std::string> cautions;
};

// The configuration check of the first configurator, reported once per process.
std::string& reportedConfigurationText() {
    static std::string text;
    return text;
}

} // namespace

// A step that answers the browser starts the pass again.
void WebBackend::prepare() {
    if (!repository || !fetcher || !catalogue)
        loadCatalogueStep();
    if (!failure.saved() && catalogue && !releaseRequests.empty() && releaseRequestsStep()) {
        restartPass = true;
        return;
    }
    if (!failure.saved() && catalogue && !components && !catalogue->getSelectedReleaseIds().empty())
        componentTreeStep();
    if (!failure.saved() && components && !releaseRequests.empty() && presetsPending)
        presetsStep();
    if (!failure.saved() && sendReleases)
        releaseListStep();
    if (sendComponents)
        componentListStep();
    if (components && !componentRequests.empty() && componentRequestsStep()) {
        restartPass = true;
        return;
    }
    if (!failure.saved() && components && selectionAccepted)
        examinationStep();
    if (!failure.saved() && components && examinationPassed)
        settingsPageStep();
    if (!failure.saved() && components && !settingsValues.empty())
        settingsValuesStep();
    if (!failure.saved() && startPending && !job)
        installationStartStep();
}

void WebBackend::saveFailure(const std::string& text) {
    failure.pages = pages.visited();
    failure.text = text;
}

void WebBackend::answerFailure(const error& failed) {
    Log::stream(0, true) << "Error: " << failed.getText();
    saveFailure(failed.getText());
    protocol.sendError(failed.getText(), failed.getClassName());
}

void WebBackend::startSelfUpgrade() {
    selfUpgrade.reset();
    selfUpgrade = std::make_unique<bg_self_upgrade_task>(
        [source = source] { SelfUpgrade::download_new_version(SourceUrl(source)); });
    startSelfUpgradeThread(*selfUpgrade);
}

void WebBackend::invalidate() {
    installer.reset();
    stages.reset();
    examination.reset();
    patches.reset();
    configurator.reset(nullptr);
    settings.reset();
    sources.reset();
    components.reset();
    fileGuards.clear();
    examinationPassed = false;
    oldPatchAnswered = false;
    reinstallOldPatch = false;
}

void WebBackend::dropEngineObjects() {
    invalidate();
    catalogue.reset();
    fetcher.reset();
    repository.reset();
}

void WebBackend::loadCatalogueStep() {
    failure = SavedFailure();
    componentRequests.clear();
    settingsValues.clear();
    releaseRequests.clear();
    presetProducts.clear();
    pages.reset();
    Progress::stage(0, 0);
    if (!defaultPage.empty()) {
        pages.setCurrent(defaultPage);
        defaultPage.clear();
    }
    invalidate();
    try {
        Log::stream(3, true) << "DEBUG: web_ui: create Repository and FileFetcher, source=" << source;
        loadCatalogue(source, target, repository, fetcher, catalogue);
        Log::stream(3, true) << "DEBUG: web_ui: select current releases";
        for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
            if (release->isCurrentlyInstalled())
                catalogue->selectRelease(release->prod()->_id, release->_id);
        preselectFromCommandLine();
    } catch (const SelfUpgrade::NeedSelfUpgrade&) {
        startSelfUpgrade();
    } catch (const error& failed) {
        Log::stream(0, true) << "Error: " << failed.getText();
        saveFailure(failed.getText());
    }
}

void WebBackend::preselectFromCommandLine() {
    if (options.releaseSelectors.empty() || preselectionDone ||
        (options.webDefaultPage != "installation-types" && options.webDefaultPage != "releases"))
        return;
    Log::stream(3, true) << "DEBUG: web_ui: select releases based on command line options";
    std::map<std::string, ReleaseRequest> byProduct;
    for (const ReleaseSelector& selector : options.releaseSelectors) {
        const std::string releaseId = selectProductRelease(selector, *catalogue);
        std::string productId = selector.productId;
        if (productId.empty()) {
            const boost::shared_ptr<Release> release = catalogue->findRelease(releaseId);
            if (!release) {
                Log::stream(1, true) << "Error: Unable to get information about release " << releaseId;
                continue;
            }
            productId = release->prod()->_id;
        }
        byProduct[productId] = {productId, releaseId, "", false};
    }
    for (const auto& request : byProduct)
        releaseRequests.push_back(request.second);
    preselectionDone = true;
}

bool WebBackend::releaseRequestsStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: select requested releases";
        const std::vector<std::string> before = catalogue->getSelectedReleaseIds();
        catalogue->unselectAll();
        bool someNotInstalled = false;
        for (const ReleaseRequest& request : releaseRequests) {
            catalogue->selectRelease(request.productId, request.releaseId);
            if (catalogue->getInstalledProductVersion(request.productId).empty())
                someNotInstalled = true;
        }
        if (productDecision) {
            pages.setCurrent(someNotInstalled ? "installation-types" : "releases");
            presetsPending = presetsPending || !someNotInstalled;
        } else if (!someNotInstalled) {
            presetsPending = true;
        }
        productDecision = false;
        const std::vector<std::string> selected = catalogue->getSelectedReleaseIds();
        if (selected == before) {
            Log::stream(3, true) << "DEBUG: web_ui:  builds selection not changed";
            return false;
        }
        Log::stream(3, true) << "DEBUG: web_ui: builds selection changed: new selection is "
                             << joinedIds(selected) << ", re-create objects";
        invalidate();
        repository->leaveOnlySystemPackages();
        return checkCompatibility();
    } catch (const error& failed) {
        protocol.sendError(failed.getText(), failed.getClassName());
        releaseRequests.clear();
        return false;
    }
}

// True when the answer already tells the browser about the selection.
bool WebBackend::checkCompatibility() {
    ReleasesCompatibilityChecker checker(*catalogue, *repository);
    catalogue->accept(checker);
    if (checker.isWarning()) {
        protocol.sendReleases(*catalogue, nullptr);
        protocol.sendBestwithInfo(checker.getBestWith());
        releaseRequests.clear();
        return true;
    }
    if (checker.isError()) {
        releaseRequests.clear();
        catalogue->unselectAll();
        protocol.sendReleases(*catalogue, nullptr);
        protocol.sendWarning(checker.getErrorText());
        return true;
    }
    CautionCollector cautions;
    catalogue->accept(cautions);
    if (cautions.cautions.empty())
        return false;
    protocol.sendReleases(*catalogue, nullptr);
    for (const std::string& text : cautions.cautions)
        protocol.sendWarning(text);
    releaseRequests.clear();
    return true;
}

void WebBackend::componentTreeStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: load builds from selected releases: "
                             << joinedIds(catalogue->getSelectedReleaseIds());
        for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
            if (release->_selected)
                ReportError::set_product_version(release->prod()->_id,
                                                 release->_version.getVersionWithEpoch());
        components = std::make_unique<ComponentManager>();
        sources = std::make_unique<SourceManager>(repository.get());
        settings = std::make_unique<ParamManager>();
        patches = std::make_unique<MicroUpdateManager>(fetcher.get(), components.get());
        {
            BuildLoader loader(repository.get(), components.get(), fetcher.get(), sources.get(),
                               settings.get(), patches.get(), &fileGuards);
            loader.skipPagewrightComponent = catalogue->isProductSelected("pagewright");
            catalogue->accept(loader);
            loader.commit();
        }
        sources->addExtensionSource(components.get());
        configurator.reset(createSystemConfigurator(*repository, source, *components, *sources));
        configurator->configureSystem();
        const std::string configurationText = configurator->checkConfiguration();
        if (!configurationText.empty() && configurationText != reportedConfigurationText()) {
            protocol.addWarning(configurationText);
            reportedConfigurationText() = configurationText;
        }
        repository->getBrief();
        determineComponentStates(*components, *repository, configurator.get(), *patches);
        components->selectBaseComponent();
        ComponentManager::MarkComponentsForUpgrade upgrade({});
        components->accept(upgrade);
        upgrade.commit(*components);
        ComponentManager::MarkNeedForRequired required(components.get());
        components->accept(required);
        ReportError::set_components(catalogue.get(), components.get());
    } catch (const SelfUpgrade::NeedSelfUpgrade&) {
        releaseRequests.clear();
        Options::instance().setWebDefaultPage(pages.current());
        startSelfUpgrade();
    } catch (const BuildLoader::ErrLoadRelease& failed) {
        const boost::shared_ptr<Release> release = failed.getRelease().lock();
        if (source != Options::defaultSource && release && release->isCurrentlyInstalled()) {
            Log::stream(2, true)
                << "Info: Recover on error during working without current release in repository."
                << "(Error was: " << failed.getText() << ")";
            catalogue->removeRelease(release);
        } else {
            answerFailure(failed);
        }
    } catch (const error& failed) {
        Log::stream(0, true) << "Error: " << failed.getText();
        ReportError::sendFailure(failed);
        saveFailure(failed.getText());
        protocol.sendError(failed.getText(), failed.getClassName());
    }
}

void WebBackend::presetsStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: select components by product install types preset";
        presetProducts.clear();
        bool customising = false;
        for (const ReleaseRequest& request : releaseRequests) {
            if (!request.installationType.empty()) {
                components->markComponents(components->nodes.begin(), components->nodes.end(), REQ_LEAVE,
                                           request.productId, false);
                selectComponentsByInstallationType(*components, request.installationType, request.productId);
            }
            if (request.customize || request.installationType == "Custom")
                customising = true;
            else
                presetProducts.push_back(request.productId);
        }
        pages.setCurrent("components");
        if (!customising) {
            RepositoryProcessor processor(repository.get(), fetcher.get(), sources.get(), configurator.get());
            components->accept(processor);
            selectionAccepted = true;
        }
        ReportError::set_components(catalogue.get(), components.get());
        releaseRequests.clear();
        presetsPending = false;
    } catch (const error& failed) {
        saveFailure(failed.getText());
        protocol.sendError(failed.getText(), failed.getClassName());
    }
}

void WebBackend::releaseListStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: cmd_get_releases, send release list.";
        if (!catalogue)
            throw internal_error("installer/main", 2839);
        protocol.sendReleases(*catalogue, components.get());
        for (const std::string& warning : catalogue->_warnings)
            protocol.sendWarning(warning);
        sendReleases = false;
    } catch (const SelfUpgrade::NeedSelfUpgrade&) {
        startSelfUpgrade();
        protocol.sendPrepareSelfUpgrade();
    } catch (const error& failed) {
        saveFailure(failed.getText());
        protocol.sendError(failed.getText(), failed.getClassName());
    }
}

void WebBackend::componentListStep() {
    sendComponents = false;
    try {
        rethrowSavedFailure();
        requireComponentTree();
        protocol.sendComponents(components.get(), presetProducts, nullptr);
        if (!job) {
            pages.reset();
            pages.setCurrent("components");
        }
    } catch (const error& failed) {
        saveFailure(failed.getText());
        protocol.sendError(failed.getText(), failed.getClassName());
    }
}

// Conflicts or implicit changes go back to the browser for confirmation.
bool WebBackend::answerChanges(ComponentsChangeset& changeset) {
    if (changeset.getConflictNames().empty() && !changeset.hasImplicitChanges())
        return false;
    protocol.sendComponents(components.get(), presetProducts, &changeset);
    protocol.sendComponentsDependenciesInfo(components.get(), changeset);
    return true;
}

std::shared_ptr<Installer> WebBackend::resolvedPlan(std::unique_ptr<RunStageActions>& planStages) {
    planStages = std::make_unique<RunStageActions>(*components, *repository);
    std::shared_ptr<Installer> planner =
        createInstaller(*repository, *components, configurator.get(), sources.get(), *planStages);
    planner->resolveDependencies();
    return planner;
}

bool WebBackend::componentRequestsStep() {
    if (failure.saved()) {
        if (std::find(failure.pages.begin(), failure.pages.end(), "components") == failure.pages.end())
            return false;
        failure = SavedFailure();
    }
    try {
        Log::stream(3, true) << "DEBUG: web_ui: select specified components";
        ComponentsChangeset changeset;
        for (const ComponentRequest& request : componentRequests) {
            components->markComponents(components->nodes.begin(), components->nodes.end(), REQ_LEAVE,
                                       request.productId, true);
            ComponentsChangeset::MarkComponentsByName install(&changeset, request.productId,
                                                              request.idsToInstall, REQ_INSTALL, true);
            ComponentsChangeset::MarkComponentsByName remove(&changeset, request.productId,
                                                             request.idsToRemove, REQ_REMOVE, true);
            components->accept(install);
            components->accept(remove);
        }
        componentRequests.clear();
        components->resolveComponents(&changeset);
        if (answerChanges(changeset))
            return true;
        components->setRequestModes(changeset);
        RepositoryProcessor processor(repository.get(), fetcher.get(), sources.get(), configurator.get());
        components->accept(processor);
        {
            std::unique_ptr<RunStageActions> planStages;
            const std::shared_ptr<Installer> planner = resolvedPlan(planStages);
            const std::vector<comp_cptr_t> forcedOut =
                components->needAlsoRemove(planner->getPackages(), repository.get(), nullptr);
            if (!forcedOut.empty()) {
                for (const comp_cptr_t& component : forcedOut)
                    changeset.setMode(component, REQ_REMOVE);
                components->resolveComponents(&changeset);
            }
        }
        if (answerChanges(changeset))
            return true;
        components->setRequestModes(changeset);
        ComponentsChangeset current;
        components->getCurrentChanges(&current);
        components->resolveComponents(&current);
        if (answerChanges(current))
            return true;
        components->setRequestModes(current);
        if (!oldPatchAnswered) {
            Log::stream(3, true)
                << "DEBUG: web_ui: pre-resolve packages to check for conflicts and whether patch is needed";
            std::unique_ptr<RunStageActions> planStages;
            const std::shared_ptr<Installer> planner = resolvedPlan(planStages);
            if (!planner->getPackages().empty()) {
                patches->setForceReinstall(false);
                if (!patches->needsPatch("") && patches->isPatchUnsafe()) {
                    protocol.sendConfirmReinstallOldPatch(true);
                    return true;
                }
            }
        }
        selectionAccepted = true;
        return false;
    } catch (const error& failed) {
        answerFailure(failed);
        return false;
    }
}

void WebBackend::examinationStep() {
    selectionAccepted = false;
    try {
        if (!components->isAnySelected())
            throw error(error::user, 1, 1, 1).setFlag(error::flag_expected_stop)
                << Messages().getMessage("components_allready_installed");
        examination = std::make_unique<ComponentsExamine>(components.get(), fetcher.get());
        pages.setCurrent("examine");
        if (examination->doPreExamine(options.skipComponentsCheck)) {
            examinationPassed = true;
            return;
        }
        const std::string unpassed = Messages().getMessage("examine_unpassed");
        ReportError::Stream(-1) << unpassed << std::endl
                                << ComponentsExamine::formatResults(ExamineResultFormatter(),
                                                                    examination->getPreResults())
                                << std::endl;
        ReportError::Info info;
        info.warning = true;
        info.component = "precheck";
        info.summary = unpassed;
        info.userContinued = 2;
        ReportError::send(info);
    } catch (const error& failed) {
        answerFailure(failed);
    }
}

void WebBackend::settingsPageStep() {
    examinationPassed = false;
    try {
        Log::stream(3, true) << "DEBUG: web_ui: pre examine passed, go to params page.";
        settings->prepare(*components);
        settings->loadFromOptions();
        if (settings->countComponentsWithParams() < 1) {
            Log::stream(3, true) << "DEBUG: web_ui: all comp params have answer, jump to installation.";
            startPending = true;
        } else {
            pages.setCurrent("params");
        }
    } catch (const error& failed) {
        answerFailure(failed);
    }
}

void WebBackend::settingsValuesStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: apply 'component_params' values from user.";
        const ParamManager::values_t values = settingsValues;
        settingsValues.clear();
        ParamManager::ParamLoader loader(&values);
        settings->accept(loader, nullptr, true);
        if (!loader.getErrors().empty()) {
            Log::stream(3, true)
                << "DEBUG: web_ui: error while processing component_params, stay on params page.";
            protocol.sendComponentParams(settings.get());
        } else {
            startPending = true;
        }
    } catch (const error& failed) {
        settingsValues.clear();
        answerFailure(failed);
    }
}

void WebBackend::installationStartStep() {
    try {
        Log::stream(3, true) << "DEBUG: web_ui: start background installation job here.";
        ReportError::set_components(catalogue.get(), components.get());
        Progress::stage(2, 3);
        if (reinstallOldPatch)
            patches->setForceReinstall(true);
        stages = std::make_unique<RunStageActions>(*components, *repository);
        installer = createInstaller(*repository, *components, configurator.get(), sources.get(), *stages);
        job.reset();
        job = std::make_unique<InstallationThread>([this] { installInBackground(); });
        startInstallationThread(*job);
        Log::stream(0, true) << "Installation started in background";
        pages.setCurrent("installation");
        startPending = false;
    } catch (const error& failed) {
        Log::stream(0, true) << "Error: " << failed.getText();
        saveFailure(failed.getText());
    }
}

// The body of the installation job, on its own thread.
void WebBackend::installInBackground() {
    const cpkgs_t& plan = installer->resolveDependencies();
    ReportError::set_packages(plan, repository.get());
    if (plan.empty()) {
        if (!installPatchesOnly(*catalogue, *components, *examination, *fetcher, *installer, *patches,
                                *repository, *sources, configurator))
            throw error(error::user, 1, 1, 1).setFlag(error::flag_expected_stop)
                << Messages().getMessage("components_allready_installed");
        return;
    }
    patches->setForceReinstall(false);
    installer->checkPackages();
    std::string added;
    for (const std::string& name : components->needAlsoInstall(installer->getPackages()))
        added += " '" + name + "'";
    if (!added.empty())
        Log::stream(0, true) << Messages().getMessage("added_comps_by_deps") << added;
    installPackages(*catalogue, *components, *examination, *fetcher, *installer, *patches, *settings,
                    *repository, *sources, configurator);
}

} // namespace driver
