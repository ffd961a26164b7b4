#pragma once

#include "common/transport/WebUiTransport.h"
#include "installer/driver/WebPages.h"
#include "installer/driver/auto_configurator.h"
#include "installer/web/BackendProtocol.h"

#include <boost/shared_ptr.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

class BuildManager;
class ComponentManager;
class ComponentsChangeset;
class ComponentsExamine;
class FileFetcher;
class Installer;
class MicroUpdateManager;
class Options;
class ParamManager;
class ProductInf3FileGuard;
class Repository;
class RunStageActions;
class SourceManager;
class TiXmlElement;

namespace driver {

class InstallationThread;
class bg_self_upgrade_task;

// The web wizard's back end: serves the web server's requests one at a time over the transport.
// A command only records what is to be done; the steps of the next pass do the engine work and add
// their outcome to the same answer before it is sent.
class WebBackend {
public:
    // The command does not fit the pages reached or the state of the installation job.
    struct bad_page {};

    WebBackend(const Options& options, std::chrono::milliseconds idleTimeout);
    WebBackend(const WebBackend&) = delete;
    WebBackend& operator=(const WebBackend&) = delete;
    ~WebBackend();

    // Returns after the exit command; throws WebUiTransport::timeout when idle without a running job.
    void run();

private:
    struct SavedFailure {
        std::vector<std::string> pages;
        std::string text;
        bool saved() const { return !text.empty(); }
    };
    struct ReleaseRequest {
        std::string productId;
        std::string releaseId;
        std::string installationType;
        bool customize = false;
    };
    struct ComponentRequest {
        std::string productId;
        std::vector<std::string> idsToInstall;
        std::vector<std::string> idsToRemove;
    };
    using Command = void (WebBackend::*)(const TiXmlElement& request);

    // One pass of the loop; false once the loop is to end.
    bool pass();
    bool endRequested();
    void waitForRequest();
    void serveRequest(const std::string& text);
    void dispatch(const TiXmlElement& request, const std::string& command);
    void answerFromSelfUpgrade(const TiXmlElement& request, const std::string& command);
    void restartIntoNewInstaller();

    // Preparation steps, in the order they run.
    void prepare();
    void loadCatalogueStep();
    bool releaseRequestsStep();
    void componentTreeStep();
    void presetsStep();
    void releaseListStep();
    void componentListStep();
    bool componentRequestsStep();
    void examinationStep();
    void settingsPageStep();
    void settingsValuesStep();
    void installationStartStep();
    void preselectFromCommandLine();
    bool checkCompatibility();
    bool answerChanges(ComponentsChangeset& changeset);
    std::shared_ptr<Installer> resolvedPlan(std::unique_ptr<RunStageActions>& planStages);
    void installInBackground();
    void startSelfUpgrade();

    // Commands.
    void ping(const TiXmlElement&);
    void getCurrentPage(const TiXmlElement&);
    void setLocale(const TiXmlElement& request);
    void getReleasesList(const TiXmlElement& request);
    void getPreferences(const TiXmlElement&);
    void setPreferences(const TiXmlElement& request);
    void productSelection(const TiXmlElement& request);
    void installationTypeSelection(const TiXmlElement& request);
    void getComponentsList(const TiXmlElement&);
    void getComponentsForUpdate(const TiXmlElement&);
    void componentSelection(const TiXmlElement& request);
    void getPreExamine(const TiXmlElement&);
    void setPreExamine(const TiXmlElement& request);
    void getComponentsSettings(const TiXmlElement&);
    void setComponentParams(const TiXmlElement& request);
    void getProgress(const TiXmlElement&);
    void getProgressDelta(const TiXmlElement&);
    void getLog(const TiXmlElement& request);
    void getProductIcon(const TiXmlElement& request);
    void clear(const TiXmlElement&);
    void exit(const TiXmlElement&);
    void anotherCommand(const TiXmlElement&);

    // Refusals shared by the commands.
    void refuseWhileJobExists() const;
    void rethrowSavedFailure() const;
    void requireComponentTree() const;
    void requirePage(const std::string& page) const;

    void answerProgress(bool delta);
    void readProductRequests(const TiXmlElement& request);
    void saveFailure(const std::string& text);
    void answerFailure(const error& failure);
    void invalidate();
    void dropEngineObjects();
    bool jobRunning() const;
    bool locked() const;

    const Options& options;
    auto_configurator configurator;
    BackendProtocol protocol;
    std::unique_ptr<WebUiTransport> transport;
    WebPages pages;
    SavedFailure failure;
    std::string source;
    std::string target;
    std::string defaultPage;

    std::unique_ptr<Repository> repository;
    std::unique_ptr<FileFetcher> fetcher;
    std::unique_ptr<BuildManager> catalogue;

    std::unique_ptr<ComponentManager> components;
    std::unique_ptr<SourceManager> sources;
    std::unique_ptr<ParamManager> settings;
    std::unique_ptr<MicroUpdateManager> patches;
    std::unique_ptr<RunStageActions> stages;
    std::shared_ptr<Installer> installer;
    std::unique_ptr<ComponentsExamine> examination;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> fileGuards;
    std::vector<std::string> configurationWarnings;

    std::unique_ptr<InstallationThread> job;
    std::unique_ptr<bg_self_upgrade_task> selfUpgrade;

    std::vector<ReleaseRequest> releaseRequests;
    std::vector<ComponentRequest> componentRequests;
    std::map<std::string, std::map<std::string, std::string>> settingsValues;
    std::vector<std::string> presetProducts;

    bool sendReleases = false;
    bool productDecision = false;
    bool presetsPending = false;
    bool sendComponents = false;
    bool selectionAccepted = false;
    bool examinationPassed = false;
    bool startPending = false;
    bool oldPatchAnswered = false;
    bool reinstallOldPatch = false;
    bool preselectionDone = false;
    bool exitRequested = false;
    bool timedOut = false;
    bool restartPass = false;
};

// The web wizard mode of the run body.
void web_ui();

} // namespace driver
