#include "installer/driver/WebBackend.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Driver.h"
#include "installer/driver/InstallationThread.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/Installer.h"
#include "installer/engine/RunStageActions.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/DownloadUrl.h"
#include "installer/sources/Downloader.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceUrl.h"

#include <tinyxml.h>

namespace driver {

namespace {

error internalFailure(const std::string& text) {
    return error(error::internal, 1, 1, 3) << text;
}

} // namespace

void WebBackend::ping(const TiXmlElement&) {
    protocol.sendOk();
}

void WebBackend::getCurrentPage(const TiXmlElement&) {
    protocol.sendPage(pages.current());
}

void WebBackend::setLocale(const TiXmlElement& request) {
    refuseWhileJobExists();
    const std::string name = protocol.parseSetLocale(&request);
    Log::stream(3, true) << "DEBUG: web_ui: set locale command. Try to set new locale: " << name;
    Messages::setLocale(name);
}

void WebBackend::getReleasesList(const TiXmlElement&) {
    Log::stream(3, true) << "DEBUG: web_ui: get_releases_list command arrives.";
    if (!fetcher || !catalogue)
        rethrowSavedFailure();
    if (jobRunning())
        throw bad_page();
    if (job && !job->finalStatusAsked()) {
        job->setFinalStatusAsked();
        throw bad_page();
    }
    if (job) {
        Log::stream(3, true) << "DEBUG: web_ui: clean-up bg_installation_job and all objects.";
        pages.reset();
        presetProducts.clear();
        job.reset();
        dropEngineObjects();
    }
    sendReleases = true;
}

// The source is locked when the command line named one other than the default update server.
bool WebBackend::locked() const {
    return source == options.source.str() && source != Options::defaultSource;
}

void WebBackend::getPreferences(const TiXmlElement&) {
    protocol.sendPreferences(source, locked(), target, Downloader::getProxy());
}

void WebBackend::setPreferences(const TiXmlElement& request) {
    refuseWhileJobExists();
    const Downloader::Proxy proxy = Downloader::getProxy();
    PreferencesRecord record{source, target, proxy.host, proxy.port, proxy.user, proxy.password};
    if (!protocol.parsePreferences(record, tinybind::Element(&request).child("preferences")))
        return;
    bool changed = false;
    if (!record.source.empty() && record.source != source && !locked()) {
        source = SourceUrl(record.source).str();
        ReportError::set_source_url(source);
        changed = true;
    }
    if (!record.target.empty() && record.target != target) {
        target = record.target;
        changed = true;
    }
    if (changed || record.proxyHost != proxy.host || record.proxyPort != proxy.port ||
        record.proxyUser != proxy.user || record.proxyPassword != proxy.password) {
        fetcher.reset();
        catalogue.reset();
        invalidate();
        reinstallOldPatch = false;
    }
    setProxyEnvironment(record.proxyHost, record.proxyPort, record.proxyUser, record.proxyPassword);
    pages.reset();
}

void WebBackend::readProductRequests(const TiXmlElement& request) {
    refuseWhileJobExists();
    rethrowSavedFailure();
    releaseRequests.clear();
    for (const ProductSelection& selection : protocol.parseProductSelection(&request))
        releaseRequests.push_back(
            {selection.productId, selection.releaseId, selection.installationType, selection.customize});
    pages.reset();
}

void WebBackend::productSelection(const TiXmlElement& request) {
    readProductRequests(request);
    productDecision = true;
}

void WebBackend::installationTypeSelection(const TiXmlElement& request) {
    readProductRequests(request);
    presetsPending = true;
}

void WebBackend::getComponentsList(const TiXmlElement&) {
    rethrowSavedFailure();
    requireComponentTree();
    protocol.sendComponents(components.get(), presetProducts, nullptr);
    if (!job) {
        pages.reset();
        pages.setCurrent("components");
    }
}

void WebBackend::getComponentsForUpdate(const TiXmlElement&) {
    rethrowSavedFailure();
    if (job)
        throw bad_page();
    if (!catalogue)
        throw internalFailure("releases not selected yet");
    const std::vector<std::string> before = catalogue->getSelectedReleaseIds();
    catalogue->unselectAll();
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
        if (release->isCurrentlyInstalled())
            catalogue->selectRelease(release->prod()->_id, release->_id);
    if (catalogue->getSelectedReleaseIds() != before) {
        invalidate();
        reinstallOldPatch = false;
    }
    sendComponents = true;
}

void WebBackend::componentSelection(const TiXmlElement& request) {
    refuseWhileJobExists();
    if (!pages.contains("components") && !pages.contains("params"))
        throw bad_page();
    Log::stream(3, true) << "DEBUG: web_ui: component_select = wur.parseComponentSelection(root)  - before";
    componentRequests.clear();
    for (const ComponentSelection& selection : protocol.parseComponentSelection(&request))
        componentRequests.push_back({selection.productId, selection.idsToInstall, selection.idsToRemove});
    Log::stream(3, true) << "DEBUG: web_ui: component_select = wur.parseComponentSelection(root)  - after";
    bool confirm = false;
    if (protocol.parseConfirmReinstallOldPatch(&request, confirm)) {
        reinstallOldPatch = confirm;
        oldPatchAnswered = true;
    }
    if (pages.contains("params")) {
        pages.reset();
        pages.setCurrent("components");
    }
}

void WebBackend::getPreExamine(const TiXmlElement&) {
    rethrowSavedFailure();
    requireComponentTree();
    requirePage("examine");
    if (!examination)
        throw internal_error("installer/main", 3448);
    protocol.sendPreExamine(*examination);
}

void WebBackend::setPreExamine(const TiXmlElement& request) {
    rethrowSavedFailure();
    requireComponentTree();
    requirePage("examine");
    if (!examination)
        throw internal_error("installer/main", 3448);
    examinationPassed = protocol.parsePreExamine(&request, *examination);
}

void WebBackend::getComponentsSettings(const TiXmlElement&) {
    rethrowSavedFailure();
    requireComponentTree();
    protocol.sendComponentParams(settings.get());
    if (!job) {
        pages.reset();
        pages.setCurrent("components");
        pages.setCurrent("params");
    }
}

void WebBackend::setComponentParams(const TiXmlElement& request) {
    refuseWhileJobExists();
    requirePage("params");
    settingsValues = protocol.parseComponentParams(&request);
}

void WebBackend::getProgress(const TiXmlElement&) {
    answerProgress(false);
}

void WebBackend::getProgressDelta(const TiXmlElement&) {
    answerProgress(true);
}

// The answer that says "finished" is written before a kept exception is raised, so that the
// browser learns the outcome even when the back end then ends.
void WebBackend::answerProgress(bool delta) {
    if (!job)
        throw bad_page();
    Log::stream(3, true) << "DEBUG: web_ui: begin of 'get_progress' command processing.";
    const bool jobFinished = job->finished();
    const std::string text =
        delta ? util::js_string(job->console.get_new_lines()) : util::nl2br(job->console.get_messages());
    const bool finished = jobFinished && text.size() <= 2;
    protocol.sendProgress(text, finished, job->completed(), *catalogue);
    Log::stream(3, true) << "DEBUG: web_ui: bg_installation_job: finished = "
                         << (finished ? "true" : "false");
    if (jobFinished) {
        job->setFinalStatusAsked();
        Log::stream(3, true)
            << "DEBUG: web_ui: bg_installation_job->final_status_asked = true in get_progress.";
        if (finished && job->savedException()) {
            Log::stream(3, true) << "DEBUG: web_ui: re-throwing exception that occurred in background thread";
            transport->sendAnswer(protocol.getAnswer());
            std::rethrow_exception(job->savedException());
        }
    }
    Log::stream(3, true) << "DEBUG: web_ui: end of 'get_progress' command processing.";
}

void WebBackend::getLog(const TiXmlElement& request) {
    if (!job)
        throw bad_page();
    const long size = protocol.parseGetLog(&request);
    protocol.sendLog(job->console.get_log(size > 0 ? static_cast<size_t>(size) : 0));
}

void WebBackend::getProductIcon(const TiXmlElement& request) {
    if (!catalogue)
        throw internal_error("installer/main", 3524);
    const ProductIconRequest wanted = protocol.parseGetProductIcon(&request);
    const boost::shared_ptr<Product> product = catalogue->findProduct(wanted.productId);
    if (!product)
        throw internalFailure("Unknown product '" + wanted.productId + "'");
    const std::string url = wanted.enabled ? product->_active_icon : product->_disabled_icon;
    if (url.empty())
        throw error(error::internal, 1, 1, 1) << "A URL for a product icon is not defined.";
    protocol.sendData(downloadUrl(url));
}

void WebBackend::clear(const TiXmlElement&) {
    if (job)
        throw bad_page();
    dropEngineObjects();
    pages.reset();
    presetProducts.clear();
}

void WebBackend::exit(const TiXmlElement&) {
    exitRequested = true;
}

void WebBackend::anotherCommand(const TiXmlElement&) {
    throw internalFailure("not implemented yet");
}

} // namespace driver
