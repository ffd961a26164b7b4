#include "installer/components/AiComponent.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/ComponentStatusChecker.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "installer/sources/SourceConfigLazyAddon.h"

#include <algorithm>
#include <ostream>

namespace {

const char* const unit = "installer/AiComponent";

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

const char* requestModeName(request_mode_t mode) {
    switch (mode) {
    case REQ_UNSPECIFIED:
        return "REQ_UNSPECIFIED";
    case REQ_LEAVE:
        return "REQ_LEAVE";
    case REQ_INSTALL:
        return "REQ_INSTALL";
    case REQ_REMOVE:
        return "REQ_REMOVE";
    }
    return "REQ_UNKNOWN";
}

std::ostream& operator<<(std::ostream& out, request_mode_t mode) {
    return out << requestModeName(mode);
}

AiComponent::AiComponent(boost::shared_ptr<Build> owner, const std::string& componentName,
                         const std::string& componentDescription, const std::string& componentEnvironment,
                         std::vector<keypackages_t> sections)
    : build(std::move(owner)) {
    if (!build)
        throw internal_error(unit, 53);
    name = componentName;
    description = componentDescription;
    environment = componentEnvironment;
    keyPackageSets = std::move(sections);
}

AiComponent::AiComponent(boost::shared_ptr<Build> owner, const char* text)
    : Component(text), build(std::move(owner)) {
    if (!build)
        throw internal_error(unit, 42);
}

AiComponent::~AiComponent() = default;

char AiComponent::getStatusChar() const {
    if (requestMode == REQ_REMOVE)
        return 'X';
    const int status = getInstallMode();
    if (status == UP2DATE)
        return '=';
    if (status == NOT_AVAILABLE)
        return '!';
    if (requestMode == REQ_INSTALL)
        return '*';
    return ' ';
}

std::string AiComponent::getDescription() const {
    return description;
}

std::string AiComponent::getProductId() const {
    return productIdText();
}

const std::string& AiComponent::productIdText() const {
    static const std::string none;
    if (!build || !build->_parent || !build->_parent->prod())
        return none;
    return build->_parent->prod()->_id;
}

bool AiComponent::sameProduct(const comp_cptr_t& other) const {
    return other && productIdText() == other->productIdText();
}

boost::shared_ptr<Release> AiComponent::getRelease() const {
    return build ? build->_parent : boost::shared_ptr<Release>();
}

void AiComponent::requireChecked(int line) const {
    if (installMode == NOT_CHECKED)
        throw internal_error(unit, line);
}

int AiComponent::getInstallMode() const {
    requireChecked(64);
    if (installMode == UP2DATE && microUpdateAvailable)
        return UPGRADE;
    return installMode;
}

const char* AiComponent::getInstallModeName() const {
    switch (getInstallMode()) {
    case INSTALL:
        return "install";
    case UPGRADE:
        return "upgrade";
    case UP2DATE:
        return "up2date";
    case NOT_AVAILABLE:
        return "error";
    }
    throw error(3, 1, 1, 3) << Messages().getMessage("err_unkn_comp_status");
}

std::string AiComponent::getFullName() const {
    const std::string productId = getProductId();
    return productId.empty() ? name : productId + "/" + name;
}

void AiComponent::setMicroUpdateAvailable() {
    Log::stream(3, true) << "DEBUG: AiComponent::setMicroUpdateAvailable: " << name << " have microupdate";
    microUpdateAvailable = true;
    if (const boost::shared_ptr<Release> release = getRelease())
        release->setMicroUpdateAvailable();
}

void AiComponent::setPackagesUpgraded(bool upgraded) {
    packagesUpgraded = upgraded;
}

int64_t AiComponent::getServerBuildTime() const {
    requireChecked(160);
    return availableBuildTime;
}

int64_t AiComponent::getLocalBuildTime() const {
    requireChecked(166);
    return installedBuildTime;
}

const std::string& AiComponent::getLocalVersion() const {
    requireChecked(177);
    return installedVersion;
}

const std::string& AiComponent::getServerVersion() const {
    requireChecked(183);
    return availableVersion;
}

void AiComponent::checkAvailable() const {
    if (getInstallMode() == NOT_AVAILABLE)
        throw error(1, 1, 1, 2) << Messages().format("err_comp_notavail", getFullName());
}

void AiComponent::select() {
    checkAvailable();
    requestMode = REQ_INSTALL;
}

void AiComponent::remove() {
    checkAvailable();
    if (required && isInstalled() && requestMode != REQ_REMOVE)
        throw error(2, 1, 1, 1) << Messages().format("err_comprem_required", getFullName());
    requestMode = REQ_REMOVE;
}

void AiComponent::leave() {
    if (required && !isInstalled() && requestMode == REQ_INSTALL)
        throw error(2, 1, 1, 1) << Messages().format("err_comp_required", getFullName());
    requestMode = REQ_LEAVE;
}

void AiComponent::setRequired() {
    requestMode = REQ_INSTALL;
    required = true;
}

bool AiComponent::isInstalled() const {
    const int status = getInstallMode();
    return status == UPGRADE || status == UP2DATE;
}

bool AiComponent::isVisible() const {
    return !hidden || (showInstalledHidden && isInstalled());
}

bool AiComponent::isMarkedForRemove() const {
    return requestMode == REQ_REMOVE && isInstalled();
}

bool AiComponent::isMarkedForInstall() const {
    if (requestMode != REQ_INSTALL)
        return false;
    const int status = getInstallMode();
    return status == INSTALL || status == UPGRADE;
}

bool AiComponent::willBeInstalled() const {
    return (isInstalled() && requestMode != REQ_REMOVE) || isMarkedForInstall();
}

bool AiComponent::willBeNotInstalled() const {
    if (isInstalled() || requestMode == REQ_INSTALL)
        return isMarkedForRemove();
    return true;
}

bool AiComponent::willBeInstalledOlder() const {
    return getInstallMode() == UPGRADE && requestMode != REQ_INSTALL && requestMode != REQ_REMOVE;
}

bool AiComponent::willBeInstalledNew() const {
    return isMarkedForInstall() || (getInstallMode() == UP2DATE && requestMode != REQ_REMOVE);
}

bool AiComponent::conflictsWith(const comp_cptr_t& other, ComponentsChangeset*) const {
    if (!sameProduct(other))
        return false;
    return contains(conflicts, other->name) || contains(other->conflicts, name);
}

bool AiComponent::hardwiredToOlder(const comp_cptr_t& other, ComponentsChangeset* changeset) const {
    if (!sameProduct(other))
        return false;
    return contains(other->hardwired_with, name) &&
           ComponentsChangeset::instance(changeset)->willBeInstalledOlder(other);
}

bool AiComponent::needs(const comp_cptr_t& other, ComponentsChangeset* changeset) const {
    if (!sameProduct(other))
        return false;
    ComponentsChangeset* const cs = ComponentsChangeset::instance(changeset);
    if (contains(requires, other->name) && cs->willBeNotInstalled(other))
        return true;
    if (contains(other->hardwired_with, name) && cs->willBeInstalledOlder(other))
        return true;
    // A requirement on a whole radio group that only `other` can satisfy.
    AiRadioGroup* const group = other->radioGroup.raw();
    if (!group || !contains(requires, group->name) || group->hasWillBeInstalled(cs))
        return false;
    if (other->isInstalled() && cs->getMode(other) == REQ_REMOVE)
        return true;
    return other->name == group->getDefault()->name;
}

bool AiComponent::isEnvironmentCompatible() const {
    if (environment.empty())
        return true;
    const std::string& system = Opsys().getEnvironment();
    if (environment == "dedicated")
        return system.empty() || system == "dedicated";
    if (environment == "vz")
        return system == "vz";
    return false;
}

void AiComponent::checkInstalled(const Repository* repository, SystemSpecificConfigurator* configurator) {
    ComponentStatusChecker(*this, repository, configurator).check();
}

const Package* AiComponent::findBestPackage(const std::string& packageName, const Repository* repository,
                                            SystemSpecificConfigurator* configurator, bool lazy) const {
    const std::string base = fileops::basename(packageName);
    std::vector<const Package*> candidates;
    for (const Package* package : packages) {
        if (package->getName().str() == base) {
            candidates.push_back(package);
            break;
        }
    }
    if (repository)
        candidates.push_back(lazy ? findLatestLazy(repository, base) : repository->findLatest(base));
    if (configurator)
        candidates.push_back(configurator->getAvailablePackage(packageName));

    const Package* best = nullptr;
    for (const Package* candidate : candidates)
        if (candidate && (!best || candidate->getVersion().compare(best->getVersion()) > 0))
            best = candidate;
    return best;
}

const Package* AiComponent::findLatestLazy(const Repository* repository,
                                           const std::string& packageName) const {
    // Packages of a lazy add-on stay out unless the component came from that very add-on.
    const boost::shared_ptr<Build> addon = lazyAddonBuild.lock();
    return repository->findLatestIf(packageName, [&addon](const Package* package) {
        const auto* source = dynamic_cast<const SourceConfigLazyAddon*>(package->getSource());
        return !source || (addon && source->getAddon().lock() == addon);
    });
}

void AiComponent::appendPackageNames(std::vector<std::string>& names) const {
    for (const keypackages_t& section : keyPackageSets) {
        names.insert(names.end(), section.nokeypackages.begin(), section.nokeypackages.end());
        names.insert(names.end(), section.keypackages.begin(), section.keypackages.end());
    }
}

bool AiComponent::matchesKeySection(const keypackages_t& section, const Repository* repository) const {
    for (const std::string& name : section.nokeypackages)
        if (repository->findInstalled(PooledString(fileops::basename(name))))
            return false;
    for (const std::string& name : section.keypackages)
        if (!repository->findInstalled(PooledString(fileops::basename(name))))
            return false;
    for (const std::string& capability : section.keyprovides) {
        if (!repository->findBestInstalledProvider(capability))
            return false;
    }
    return true;
}
