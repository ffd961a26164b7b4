#include "installer/driver/WebBackend.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Driver.h"
#include "installer/driver/InstallationThread.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/bg_self_upgrade_task.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/Installer.h"
#include "installer/engine/RunStageActions.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/DownloadUrl.h"
#include "installer/sources/Downloader.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceUrl.h"

#include <tinyxml.h>

#include <thread>

namespace driver {

namespace {

error internalFailure(const std::string& text) {
    return error(error::internal, 1, 1, 3) << text;
}

} // namespace

WebBackend::WebBackend(const Options& options, std::chrono::milliseconds idleTimeout)
    : options(options), configurator(nullptr, !options.skipCleanup), protocol(options.allVersions),
      transport(std::make_unique<WebUiTransport>(WebUiTransport::server, idleTimeout)),
      source(options.source.str()), target(options.target), defaultPage(options.webDefaultPage) {
    ReportError::set_source_url(source);
}

// The job goes first: it uses the engine objects until it ends.
WebBackend::~WebBackend() {
    job.reset();
}

void WebBackend::run() {
    bool answerReady = false;
    for (;;) {
        if (!job || job->finalStatusAsked())
            Progress::checkTermination();
        if (timedOut) {
            timedOut = false;
            if (!jobRunning())
                throw WebUiTransport::timeout();
        }
        if (endRequested())
            return;
        restartPass = false;
        prepare();
        if (restartPass)
            continue;
        if (answerReady)
            transport->sendAnswer(protocol.getAnswer());
        protocol.reset();
        answerReady = true;
        waitForRequest();
    }
}

bool WebBackend::endRequested() {
    if (!exitRequested)
        return false;
    if (jobRunning()) {
        protocol.sendError("Unable to exit now. Background job is active", "user");
        exitRequested = false;
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    job.reset();
    dropEngineObjects();
    transport.reset();
    return true;
}

void WebBackend::waitForRequest() {
    try {
        transport->waitCommand();
    } catch (const WebUiTransport::timeout&) {
        timedOut = true;
        return;
    } catch (const Progress::Interrupted& interruption) {
        if (!jobRunning())
            throw;
        Log::stream(3, true) << "DEBUG: web_ui: swallowing interruption exception in main thread "
                             << "and reinjecting it to be thrown in background installation thread instead "
                             << "(signal=" << interruption.signal << ")";
        Progress::setTermination(interruption.signal);
        return;
    }
    const std::string text = transport->getCommand();
    Log::stream(3, true) << "DEBUG: web_ui: command arrives:\n" << text << "\n  =======";
    serveRequest(text);
}

void WebBackend::serveRequest(const std::string& text) {
    try {
        TiXmlDocument document;
        document.Parse(text.c_str());
        const TiXmlElement* root = document.RootElement();
        if (!root)
            throw internalFailure("no XML root node in request package");
        if (root->ValueStr() != "request")
            throw internalFailure("XML root node in request must have named 'request'.");
        const std::string command = tinybind::Element(root).child("command").attribute("value");
        if (command == "get_releases_list")
            util::set_env("AI_WEB_UI_SESSION_ID",
                          tinybind::Element(root).child("command").attribute("session_id"));
        if (selfUpgrade)
            answerFromSelfUpgrade(*root, command);
        else
            dispatch(*root, command);
    } catch (const bad_page&) {
        protocol.sendBadPage(pages.current());
    } catch (const tinybind::err& malformed) {
        protocol.sendError(malformed.text, "user");
    } catch (const error& failure) {
        protocol.sendError(failure.getText(), failure.getClassName());
    }
}

void WebBackend::dispatch(const TiXmlElement& request, const std::string& command) {
    static const std::map<std::string, Command> table = {
        {"ping", &WebBackend::ping},
        {"get_current_page", &WebBackend::getCurrentPage},
        {"set_locale", &WebBackend::setLocale},
        {"get_releases_list", &WebBackend::getReleasesList},
        {"get_preferences", &WebBackend::getPreferences},
        {"set_preferences", &WebBackend::setPreferences},
        {"product_selection", &WebBackend::productSelection},
        {"installation_type_selection", &WebBackend::installationTypeSelection},
        {"get_components_list", &WebBackend::getComponentsList},
        {"get_components_for_update", &WebBackend::getComponentsForUpdate},
        {"component_selection", &WebBackend::componentSelection},
        {"get_pre_examine", &WebBackend::getPreExamine},
        {"set_pre_examine", &WebBackend::setPreExamine},
        {"get_components_settings", &WebBackend::getComponentsSettings},
        {"set_component_params", &WebBackend::setComponentParams},
        {"get_progress", &WebBackend::getProgress},
        {"get_progress_delta", &WebBackend::getProgressDelta},
        {"get_log", &WebBackend::getLog},
        {"get_product_icon", &WebBackend::getProductIcon},
        {"clear", &WebBackend::clear},
        {"exit", &WebBackend::exit},
        {"another_command", &WebBackend::anotherCommand},
    };
    const auto found = table.find(command);
    if (found == table.end())
        throw internalFailure("Unknown command '" + command + "'");
    (this->*found->second)(request);
}

void WebBackend::answerFromSelfUpgrade(const TiXmlElement& request, const std::string& command) {
    if (command == "set_locale") {
        const std::string name = protocol.parseSetLocale(&request);
        Log::stream(3, true)
            << "DEBUG: web_ui: set locale command (during bg_prepareselfupgrade_job). Try to set new locale: "
            << name;
        Messages::setLocale(name);
        return;
    }
    switch (selfUpgrade->state()) {
    case bg_self_upgrade_task::downloading:
        protocol.sendPrepareSelfUpgrade();
        break;
    case bg_self_upgrade_task::done:
        restartIntoNewInstaller();
        break;
    default:
        protocol.sendError(Messages().getMessage("err_self_upgrade_failed") + selfUpgrade->message(),
                           selfUpgrade->errorClass());
    }
}

void WebBackend::restartIntoNewInstaller() {
    protocol.sendStartSelfUpgrade();
    transport->sendAnswer(protocol.getAnswer());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    job.reset();
    SelfUpgrade::do_restart(Options::savedArgv());
}

void WebBackend::refuseWhileJobExists() const {
    if (job)
        throw internalFailure("background installation task in progress");
}

void WebBackend::rethrowSavedFailure() const {
    if (failure.saved())
        throw internalFailure(failure.text);
}

void WebBackend::requireComponentTree() const {
    if (!components)
        throw internalFailure("releases not selected yet");
}

void WebBackend::requirePage(const std::string& page) const {
    if (!pages.contains(page))
        throw bad_page();
}

bool WebBackend::jobRunning() const {
    return job && !job->finished();
}

} // namespace driver

namespace driver {

void web_ui() {
    WebBackend backend(Options::instance(), WebUiTransport::defaultIdleTimeout);
    backend.run();
}

} // namespace driver
