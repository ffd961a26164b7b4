#include "installer/engine/Installer.h"

#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/GroupResolutions.h"
#include "installer/engine/RpmTransaction.h"
#include "installer/engine/StageActions.h"
#include "installer/engine/SystemSpecificConfigurator.h"

#include <algorithm>
#include <sstream>
#include <unordered_set>

namespace {

const char* const unit = "installer/Installer";
const int resolverAttempts = 100;

// A dummy whose first requirement names what must be installed.
bool isRequirer(const Package* package) {
    return package->getType() == 'd' && package->getRequire(0) != nullptr;
}

bool isInstalled(const Package* package) {
    return package->getType() == 's';
}

std::string joined(const cpkgs_t& group, const std::string& separator) {
    std::ostringstream text;
    for (size_t i = 0; i < group.size(); ++i)
        text << (i ? separator : "") << *group[i];
    return text.str();
}

// The error-report block of a failed rpm step.
void reportRpmFailure(const error& failure, int code, const std::string& output) {
    ReportError::Stream(-1) << "Rpm failed to install packages:" << std::endl
                            << "Error: " << failure.getText() << std::endl
                            << "Command line: " << std::endl
                            << "Return code: " << code << std::endl
                            << "Output:\n"
                            << output << std::endl;
}

} // namespace

Installer::Installer(Repository* repository, ComponentManager* componentManager,
                     SystemSpecificConfigurator* configurator, StageActions& stages,
                     const std::string& rpmRoot)
    : repository(repository), componentManager(componentManager), configurator(configurator), stages(stages),
      rpmRoot(rpmRoot) {
    Log::stream(3, true) << "Installer::Installer: create ProductsProgress";
    productsProgress = std::make_unique<ProductsProgress>();
}

Installer::~Installer() = default;

void Installer::setCommitChanges() {
    configurator->setCommitChanges();
}

void Installer::download() {
    repository->downloadPackages(packages, ProductsProgress::instance());
}

void Installer::checkPackages() {
    Log::stream(1, true) << "Check package set before installation";
    if (configurator.raw() && configurator->settlesVersions())
        return;
    for (const Package* package : packages) {
        if (isInstalled(package))
            continue;
        const Package* installed = repository->findInstalled(package->getName());
        if (!installed || !(package->getVersion() < installed->getVersion()))
            continue;
        Log::stream(1, true) << "Package " << *package << " is within installation list\nbut newer package "
                             << *installed << " is already installed in system.";
        throw error(error::dependencies, 1, 1, 2)
            << Messages().format("err_downgrade", installed->getName().str());
    }
}

void Installer::install() {
    Progress::checkTermination();
    download();
    Progress::checkTermination();
    Progress::stage(4, 1);
    stages.reportProgressStep("install_start", Messages().getMessage("installling_pkgs"));
    stages.removeExtensions(packages);
    Progress::checkTermination();
    installPrep();
    try {
        installPackages(packages);
    } catch (const error&) {
        Log::stream(3, true) << "DEBUG: Bootstrapper::performPkgsFailureActions";
        stages.performPkgsFailureActions();
        throw;
    }
    installPost();
    Progress::checkTermination();
    stages.installExtensions(packages);
    Progress::checkTermination();
    Log::stream(1, true) << "Install command successfully completed";
}

void Installer::installPrep() {
    if (!bootstrapperPackages.empty())
        installPackages(bootstrapperPackages);
    Log::stream(3, true) << "installPrep: Perform PREP actions";
    if (!stages.performActions("prep"))
        throw error(error::system, 0, 2, 2) << Messages().getMessage("err_prep_actions_failed");
}

void Installer::installPost() {
    Log::stream(3, true) << "installPost: Perform POST actions";
    if (!stages.performActions("post"))
        throw error(error::system, 0, 2, 2) << Messages().getMessage("err_post_actions_failed");
}

void Installer::installPackages(const cpkgs_t& list) {
    Log::stream(2, true) << "Create tiny repository only with resolved list and system packages";
    Repository tiny;
    for (const Package* package : packages)
        if (!isRequirer(package))
            tiny.addPackage(const_cast<Package*>(package), package->getSource());
    for (Package* package : repository->getPackages())
        if (isInstalled(package))
            tiny.addPackage(package, package->getSource());
    tiny.resolveRequires();
    {
        Log::stream listing(3, true);
        listing << "Installer::installPackages: tiny repository following:\n"
                << "Number of packages: " << tiny.getPackages().size() << "\n";
        for (const Package* package : tiny.getPackages())
            listing << "  " << package->getType() << " " << *package << "\n";
    }

    Log::stream(3, true) << "installPackages: find non-system package to installation";
    cpkgs_t installList;
    for (const Package* package : list) {
        if (isInstalled(package) || isRequirer(package))
            continue;
        installList.push_back(package);
        Log::stream(3, true) << "  add to installList " << *package;
    }

    Progress::stage(4, static_cast<uint32_t>(installList.size()));
    ProductsProgress* progress = ProductsProgress::instance();
    GroupResolutions resolutions(tiny, installList);
    cpkgs_t group;
    while (std::any_of(installList.begin(), installList.end(),
                       [](const Package* p) { return !isInstalled(p); })) {
        Progress::checkTermination();
        prepareInstallStep(group, installList, tiny, resolutions);
        executeGroup(group);
        if (progress)
            for (const Package* member : group)
                progress->set_progress(3, member->getName().str());
        updateSystemRepository(group);
        resolutions.forget(group);
    }
}

void Installer::prepareInstallStep(cpkgs_t& group, const cpkgs_t& installList, Repository& tiny,
                                   GroupResolutions& resolutions) {
    group.clear();
    auto first = std::find_if(installList.begin(), installList.end(),
                              [](const Package* p) { return !isInstalled(p); });
    if (first == installList.end())
        throw internal_error(unit, 355);
    group.push_back(*first);
    Log::stream(3, true) << "DEBUG: prepareInstallStep: add init package " << (*first)->getFileName();

    bool stepReady = false;
    for (;;) {
        bool groupReady = false;
        std::unordered_set<const Package*> members(group.begin(), group.end());
        for (size_t index = 0; index < group.size(); ++index) {
            const Package* current = group[index];
            const Package* twin = resolutions.findTwin(current);
            Log::stream(3, true) << "DEBUG: prepareInstallStep: currPackage is " << current->getFileName();
            if (twin)
                Log::stream(3, true) << "DEBUG: prepareInstallStep: currPackage2 is " << twin->getFileName();
            const cpkgs_t* needed = resolutions.find(current, twin);
            if (!needed)
                needed = &resolutions.keep(current, twin, resolveFor(tiny, installList, current, twin));
            if (growGroup(group, members, *needed, current, twin))
                groupReady = true;
        }
        if (groupReady)
            return;
        if (stepReady) {
            Log::stream(3, true) << "DEBUG: prepareInstallStep: stepReady, set groupReady too";
            return;
        }
        Log::stream(3, true) << "DEBUG: prepareInstallStep: !groupReady && !stepready: "
                             << "remove all except last from installGroup, set stepReady flag";
        group.erase(group.begin(), group.end() - 1);
        Log::stream(3, true) << "DEBUG: prepareInstallStep: now in installGroup only "
                             << group.back()->getFileName();
        stepReady = true;
    }
}

cpkgs_t Installer::resolveFor(Repository& tiny, const cpkgs_t& installList, const Package* package,
                              const Package* twin) {
    cpkgs_t needed;
    PkgManager resolver(&tiny, &needed, Options::instance().forceRemovePackagesTree);
    resolver.setOsArch(Opsys().getArch());
    resolver.setSolutionLevel(5);
    resolver.addRequested(installList);
    for (int attempt = 1;; ++attempt) {
        try {
            resolver.clearNecessary();
            resolver.findRequiredFor(package);
            if (twin)
                resolver.findRequiredFor(twin);
            break;
        } catch (const error&) {
            if (attempt == resolverAttempts)
                throw error(error::dependencies, 1, 1, 3) << Messages().getMessage("err_prep_group");
        } catch (const PkgManager::unhappy&) {
            if (attempt == resolverAttempts)
                throw error(error::dependencies, 1, 1, 3) << Messages().getMessage("err_prep_group");
        }
        Log::stream(1, true) << "In prepareInstallGroup: resolver failed, will try again now";
    }
    Log::stream(3, true) << "DEBUG: prepareInstallStep: resolve results for package(s):";
    for (const Package* result : needed)
        Log::stream(3, true) << "DEBUG: (" << result->getType() << ") " << result->getFileName();
    Log::stream(3, true) << "DEBUG: ----  end of resolving results ---- ";
    return needed;
}

bool Installer::growGroup(cpkgs_t& group, std::unordered_set<const Package*>& members, const cpkgs_t& needed,
                          const Package* current, const Package* twin) {
    bool nonSystemFound = std::any_of(needed.begin(), needed.end(), [&](const Package* p) {
        return p != current && p != twin && !isInstalled(p);
    });
    if (nonSystemFound) {
        Log::stream(3, true) << "DEBUG: prepareInstallStep: nonsystem_found = true;  (type != SYSTEM)";
        Log::stream(3, true)
            << "DEBUG: prepareInstallStep: there is non-system packages in necessaryList, add "
               "all non-system packages to installGroup";
        for (const Package* result : needed) {
            if (isInstalled(result))
                continue;
            if (!members.insert(result).second) {
                Log::stream(3, true) << "DEBUG: prepareInstallStep: " << *result
                                     << " is already in installGroup.";
                continue;
            }
            group.push_back(result);
            Log::stream(3, true) << "DEBUG: prepareInstallStep: add " << result->getFileName()
                                 << " to installGroup";
        }
        return false;
    }
    Log::stream(3, true)
        << "DEBUG: prepareInstallStep: there is no non-system packages in necessaryList, push "
           "only currPackage in installGroup, set groupReady flag";
    group.assign(1, current);
    members = {current};
    if (twin) {
        members.insert(twin);
        Log::stream(3, true) << "DEBUG: prepareInstallStep: add currPackage2 " << *twin << " to installGroup";
        group.push_back(twin);
    }
    Log::stream(3, true)
        << "DEBUG: prepareInstallStep: groupReady = true; ( installGroup.push_back(currPackage2) )";
    return true;
}

void Installer::updateSystemRepository(const cpkgs_t& group) {
    Log::stream(3, true) << "DEBUG: Installer::updateSystemRepository() entry:";
    for (const Package* member : group)
        for (Package* old : repository->getObsoletes(member))
            if (isInstalled(old)) {
                old->setType('z');
                Log::stream(3, true)
                    << "DEBUG: The package " << *old
                    << " was removed from the system because it was replaced (obsoleted) with "
                       "package "
                    << *member;
            }
    for (const Package* member : group)
        for (Package* old : repository->getPackagesByName(member->getName()))
            if (isInstalled(old) && old->getVersion() < member->getVersion()) {
                old->setType('z');
                Log::stream(3, true) << "DEBUG: The package " << *old
                                     << " was removed from the system because it was replaced with the newer "
                                        "package "
                                     << *member;
            }
    for (const Package* member : group) {
        const_cast<Package*>(member)->setType('s');
        Log::stream(3, true) << "DEBUG: The package " << *member << " is now installed in the system";
    }
    repository->purgeRemoved();
}

void Installer::executeGroup(const cpkgs_t& group) {
    announceGroup(group);
    for (const Package* member : group) {
        if (dynamic_cast<const RPMPackage*>(member) || isRemoverPackage(member))
            continue;
        Log::stream(1, true) << "First package in install group is unknown type, can't install it ("
                             << *member << ")";
        error failure = error(error::internal, 1, 1, 3) << Messages().getMessage("err_unkn_pkgtype");
        reportRpmFailure(failure, -1, "");
        throw failure;
    }
    runTransaction(group);
}

void Installer::announceGroup(const cpkgs_t& group) {
    const bool hasRemover = std::any_of(group.begin(), group.end(), isRemoverPackage);
    if (hasRemover && group.size() == 1) {
        Log::stream(3, true) << "installPackages: removers found in installGroup, use 'rpm -e'";
        std::shared_ptr<Dependency> entry = group.front()->getObsolete(0);
        if (!entry)
            throw internal_error(unit, 534);
        const std::string text = Messages().getMessage("install_remove") + entry->getName();
        Progress::step("removing", text);
        stages.reportProgressStep("install_remove", text);
    } else if (hasRemover) {
        std::string text = Messages().getMessage("install_remove");
        for (const Package* member : group)
            text += member->getName().str() + " ";
        Progress::step("removing", text);
        stages.reportProgressStep("installing_pkglist", Messages().getMessage("installing_pkglist"));
        for (const Package* member : group)
            ReportError::Stream(0) << "package " << *member << std::endl;
    } else {
        stages.reportProgressStep("install_install_package",
                                  Messages().getMessage("install_install_package") + joined(group, ", "));
    }
}

void Installer::runTransaction(const cpkgs_t& group) {
    RpmTransaction transaction(rpmRoot);
    for (const Package* member : group) {
        if (isRemoverPackage(member))
            transaction.erase(member->getObsolete(0)->getName());
        else
            transaction.install(*member);
    }
    try {
        transaction.run(joined(group, ", "));
    } catch (const error& failure) {
        reportRpmFailure(failure, transaction.getResult(), transaction.getOutput());
        throw;
    }
}
