#include "installer/engine/InstallRPM.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/driver/Options.h"
#include "installer/engine/StageActions.h"

InstallRPM::NotCheckedToUpdates::NotCheckedToUpdates(Repository* repository) : repository(repository) {}

void InstallRPM::NotCheckedToUpdates::visit(const comp_ptr_t& component) {
    for (const Package* package : component->packages) {
        all.insert(package);
        if (component->requestMode == REQ_INSTALL)
            selected.insert(package);
    }
}

void InstallRPM::NotCheckedToUpdates::done() {
    for (const Package* package : all) {
        if (selected.count(package) || !package->hasVersion())
            continue;
        Package* listed =
            repository->findPackage(package->getName(), package->getVersion(), package->getArch().str());
        if (listed && listed->getType() == 'b')
            listed->setType('t');
    }
}

const cpkgs_t& InstallRPM::resolveDependencies() {
    repository->getFull();
    stages.reportProgressStep("searching_need_pkgs", Messages().getMessage("searching_need_pkgs"));
    bootstrapperPackages.clear();
    componentManager->getBootstrapperPackagesToInstall(bootstrapperPackages, repository.get());
    if (!packages.empty())
        throw internal_error("installer/InstallRPM", 88);
    packages = bootstrapperPackages;
    componentManager->getPackagesToInstall(packages, repository.get(), configurator);
    if (packages.empty())
        return packages;

    NotCheckedToUpdates keepOut(repository.get());
    componentManager->accept(keepOut);
    repository->resolveRequires();

    PkgManager resolver(repository.get(), &packages, Options::instance().forceRemovePackagesTree);
    resolver.setOsArch(Opsys().getArch());
    resolver.blackListUnresolved();
    resolver.findNecessaryPackages(false);
    PkgManager::Statistics statistics;
    resolver.getStatistics(statistics);
    return packages;
}
