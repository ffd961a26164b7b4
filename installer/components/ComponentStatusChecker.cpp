#include "installer/components/ComponentStatusChecker.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/packages/Version.h"
#include "common/runtime/Log.h"
#include "common/runtime/fileops.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Release.h"

#include <algorithm>

namespace {

bool lower(const Package* package, const Package* than) {
    return package->getVersion().compare(than->getVersion()) < 0;
}

const char* flag(bool value) {
    return value ? "true" : "false";
}

} // namespace

void ComponentStatusChecker::Record::update(const Package* package) {
    if (!package)
        return;
    buildTime = std::max(buildTime, package->getBuildTime());
    if (!version || version->compare(package->getVersion()) < 0)
        version = &package->getVersion();
}

ComponentStatusChecker::ComponentStatusChecker(AiComponent& checked, const Repository* packages,
                                               SystemSpecificConfigurator* packageManager)
    : component(checked), repository(packages), configurator(packageManager) {}

void ComponentStatusChecker::check() {
    Log::stream(3, true) << "Check installation state for component " << component.getFullName() << ":";
    if (component.installMode == AiComponent::NOT_AVAILABLE)
        return;

    checkKeypackages();
    Log::stream(3, true) << " by keypackages: installed_latest=" << flag(is_comp_installed_latest)
                         << " installed=" << flag(is_comp_installed)
                         << " available=" << flag(is_comp_available)
                         << " available_buildtime=" << available.buildTime
                         << " available_version=" << (available.version ? available.version->toString() : "")
                         << " installed_version=" << (installed.version ? installed.version->toString() : "");
    checkBuildPackages();

    const int mode = status();
    component.installMode = mode;
    component.packages.insert(component.packages.end(), missedBase.begin(), missedBase.end());
    record(mode);
}

void ComponentStatusChecker::checkKeypackages() {
    for (const Component::keypackages_t& section : component.keyPackageSets) {
        // The first section found installed in its latest state decides.
        if (is_comp_installed_latest)
            break;
        checkSection(section);
    }
}

void ComponentStatusChecker::checkSection(const Component::keypackages_t& section) {
    bool latest = true;
    for (const std::string& name : section.nokeypackages) {
        if (!latest)
            break;
        if (const Package* present = findInstalled(name)) {
            latest = false;
            Log::stream(3, true) << "  In system installed " << *present;
        } else {
            Log::stream(3, true) << "  Package " << name << " is not installed";
        }
    }

    bool sectionInstalled = latest;
    bool sectionAvailable = true;
    for (const std::string& name : section.keypackages) {
        if (!sectionInstalled && !sectionAvailable)
            break;
        const Package* present = findInstalled(name);
        if (!present)
            sectionInstalled = latest = false;
        // On FreeBSD the package manager cannot tell the available version of a bare name.
        if (name.find('/') == std::string::npos && configurator && component.build->_os_vendor == "FreeBSD")
            continue;
        const Package* offered = findAvailable(name);
        if (offered)
            Log::stream(3, true) << "  Following package is available: " << *offered;
        else
            Log::stream(3, true) << "  New version of package " << name << " is not available.";
        installed.update(present);
        available.update(offered);
        if (present && !hasOwnPackage(present))
            addMissedBase(present);
        if (!present && !offered)
            sectionAvailable = false;
        if (present && offered && lower(present, offered))
            latest = false;
    }

    for (const std::string& capability : section.keyprovides) {
        if (!sectionAvailable)
            break;
        const Package* provider = findInstalledProvider(capability);
        installed.update(provider);
        if (!provider) {
            Log::stream(3, true) << "  No package installed in system provides " << capability;
            sectionInstalled = sectionAvailable = false;
            break;
        }
        const Package* offered = findAvailable(provider->getName().str());
        available.update(offered);
        if (!offered) {
            Log::stream(3, true) << "  New version of package " << *provider << " that provides "
                                 << capability << " is not available";
            sectionAvailable = false;
        } else if (lower(provider, offered)) {
            latest = false;
        }
    }

    if (!sectionInstalled)
        latest = false;
    is_comp_installed_latest = latest;
    is_comp_installed |= sectionInstalled;
    is_comp_available |= sectionAvailable;
}

void ComponentStatusChecker::checkBuildPackages() {
    const cpkgs_t& packages = component.packages;
    if (!component.keyPackageSets.empty() && !(is_comp_available && is_comp_installed_latest)) {
        for (const Package* package : packages)
            available.buildTime = std::max(available.buildTime, package->getBuildTime());
        return;
    }
    Log::stream(3, true) << " Iterate for build packages...";
    if (packages.empty())
        return;
    is_comp_installed_latest = is_comp_available = true;
    for (const Package* package : packages) {
        available.update(package);
        const Package* present = findInstalled(package->getName().str());
        installed.update(present);
        if (present) {
            is_comp_installed = true;
            if (lower(present, package))
                is_comp_installed_latest = false;
        } else {
            Log::stream(3, true) << "  Package " << package->getName().str() << " is not installed";
            is_comp_installed_latest = false;
        }
    }
}

const Package* ComponentStatusChecker::findInstalled(const std::string& name) const {
    return repository->findInstalled(PooledString(fileops::basename(name)));
}

// A newer provider offered by a source does not make the capability installed.
const Package* ComponentStatusChecker::findInstalledProvider(const std::string& capability) const {
    return repository->findBestInstalledProvider(capability);
}

const Package* ComponentStatusChecker::findAvailable(const std::string& name) const {
    return component.findBestPackage(name, repository.get(), configurator, true);
}

bool ComponentStatusChecker::hasOwnPackage(const Package* package) const {
    for (const Package* own : component.packages)
        if (own->getName() == package->getName())
            return true;
    return false;
}

void ComponentStatusChecker::addMissedBase(const Package* package) {
    // Two sections may name the same key package: list it once.
    if (std::find(missedBase.begin(), missedBase.end(), package) != missedBase.end())
        return;
    Log::stream(3, true) << "adding missed base package " << *package << " to component "
                         << component.getFullName();
    missedBase.push_back(package);
}

int ComponentStatusChecker::status() const {
    if (is_comp_installed_latest)
        return AiComponent::UP2DATE;
    if (is_comp_installed)
        return AiComponent::UPGRADE;
    if (is_comp_available)
        return AiComponent::INSTALL;
    return AiComponent::NOT_AVAILABLE;
}

void ComponentStatusChecker::record(int mode) {
    if (mode != AiComponent::NOT_AVAILABLE) {
        component.availableBuildTime = available.buildTime;
        component.availableVersion = available.version ? available.version->toString() : "";
    }
    if (mode == AiComponent::UPGRADE || mode == AiComponent::UP2DATE) {
        component.installedBuildTime = installed.buildTime;
        component.installedVersion = installed.version ? installed.version->toString() : "";
    }
    Log::stream(3, true) << "Component " << component.getFullName() << ": mode=" << mode;
    Log::stream(1, true) << "Component " << component.getFullName() << ": mode "
                         << component.getInstallModeName() << ", "
                         << " installed_buildtime=" << component.installedBuildTime << ", "
                         << " available_buildtime=" << component.availableBuildTime;

    const boost::shared_ptr<Release> release = component.getRelease();
    if (mode == AiComponent::UPGRADE && release)
        release->setComponentUpgradeAvailable();
    else if (mode == AiComponent::INSTALL && release)
        release->addNotInstalledComponent(component.name);
}
