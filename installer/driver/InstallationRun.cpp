#include "installer/driver/InstallationRun.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/TimeReport.h"
#include "installer/driver/auto_configurator.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/engine/InstallRPM.h"
#include "installer/engine/RepositoryProcessor.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "installer/patches/MicroUpdateManager.h"

namespace driver {

namespace {

// A stop command's SIGHUP waits until the phase is over; SIGINT and SIGTERM do not.
class UnsafePhase {
public:
    UnsafePhase() { Progress::markUnsafe(); }
    UnsafePhase(const UnsafePhase&) = delete;
    UnsafePhase& operator=(const UnsafePhase&) = delete;
    ~UnsafePhase() { Progress::markSafe(); }
};

void alignRepositories(ComponentManager& components, FileFetcher& fetcher, Repository& repository,
                       SourceManager& sources, auto_configurator& configurator) {
    RepositoryProcessor processor(&repository, &fetcher, &sources, configurator.get());
    components.accept(processor);
}

// After a failed change: the examinations that run whatever happened, their findings logged.
void examineFailure(ComponentsExamine& examinations) {
    if (!examinations.doFailurePostExamine())
        Log::stream(0, true) << Messages().getMessage("examine_post_results") << "\n"
                             << ComponentsExamine::formatResults(ExamineResultFormatter(),
                                                                 examinations.getPostResults());
}

void logInstallationTime(Timer& stopwatch) {
    Log::stream(2, true) << Messages().getMessage("Dizadizezeroz") << ": installation time "
                         << stopwatch.elapsed() << " sec.";
}

} // namespace

std::shared_ptr<Installer> createInstaller(Repository& repository, ComponentManager& components,
                                           SystemSpecificConfigurator* configurator, SourceManager*,
                                           StageActions& stages) {
    if (configurator)
        if (std::shared_ptr<Installer> own = configurator->createInstaller(components, stages))
            return own;
    if (components.getBaseComponent("")->isRPMBased())
        return std::make_shared<InstallRPM>(&repository, &components, configurator, stages);
    Log::stream(1, true) << "no installation back end for this system";
    throw error(error::system, 1, 1, 2) << Messages().getMessage("err_unkn_pkgsys");
}

bool installPatchesOnly(BuildManager& catalogue, ComponentManager& components,
                        ComponentsExamine& examinations, FileFetcher& fetcher, Installer& installer,
                        MicroUpdateManager& patches, Repository& repository, SourceManager& sources,
                        auto_configurator& configurator) {
    const UnsafePhase unsafe;
    Timer stopwatch;
    stopwatch.start();
    TimeReport action;
    bool patched = false;
    try {
        alignRepositories(components, fetcher, repository, sources, configurator);
        patched = patches.installPatches(&installer, &repository);
        if (patched) {
            action.report(&catalogue, nullptr, true);
            Log::stream(0, true) << "\n" << Messages().getMessage("install_ok");
        } else {
            Log::stream(0, true) << Messages().getMessage("components_allready_installed");
        }
        postExamine(installer, examinations);
    } catch (...) {
        examineFailure(examinations);
        throw;
    }
    logInstallationTime(stopwatch);
    return patched;
}

void installPackages(BuildManager& catalogue, ComponentManager& components, ComponentsExamine& examinations,
                     FileFetcher& fetcher, Installer& installer, MicroUpdateManager& patches,
                     ParamManager& settings, Repository& repository, SourceManager& sources,
                     auto_configurator& configurator) {
    const UnsafePhase unsafe;
    settings.exportToFiles();
    ReportError::prepareUtility();
    Timer stopwatch;
    stopwatch.start();
    TimeReport action;
    try {
        alignRepositories(components, fetcher, repository, sources, configurator);
        try {
            installer.install();
        } catch (...) {
            action.report(&catalogue, &components, false);
            throw;
        }
        action.report(&catalogue, &components, true);
        catalogue.calculateReleaseStates(&repository);
        patches.cleanInstalledMUDB(&catalogue);
        TimeReport patchAction;
        if (patches.installPatches(&installer, &repository))
            patchAction.report(&catalogue, nullptr, true);
        postExamine(installer, examinations);
    } catch (...) {
        examineFailure(examinations);
        throw;
    }
    logInstallationTime(stopwatch);
    Log::stream(0, true) << "\n" << Messages().getMessage("install_ok");
}

void postExamine(Installer& installer, ComponentsExamine& examinations) {
    installer.setCommitChanges();
    if (!examinations.doPostExamine(Options::instance().skipComponentsCheck)) {
        const std::string results =
            ComponentsExamine::formatResults(ExamineResultFormatter(), examinations.getPostResults());
        if (ComponentsExamine::hasErrors(examinations.getPostResults()))
            throw error(error::packages, 1, 1, 2) << Messages().getMessage("examine_unpassed") << "\n"
                                                  << results;
        Log::stream(0, true) << Messages().getMessage("examine_post_results") << "\n" << results;
    }
}

} // namespace driver
