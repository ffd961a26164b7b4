#include "installer/components/ComponentsChangeset.h"

#include "common/runtime/checked_pointer.h"

#include <algorithm>
#include <ostream>

namespace {

// The marking queries need a component.
const AiComponent& needed(const comp_cptr_t& component) {
    return *checked_pointer<const AiComponent>(component.get());
}

char modeMark(request_mode_t mode) {
    switch (mode) {
    case REQ_LEAVE:
        return '=';
    case REQ_INSTALL:
        return '+';
    case REQ_REMOVE:
        return '~';
    default:
        return '?';
    }
}

} // namespace

ComponentsChangeset::ComponentsChangeset() = default;

ComponentsChangeset::~ComponentsChangeset() = default;

ComponentsChangeset* ComponentsChangeset::instance(ComponentsChangeset* changeset) {
    if (changeset)
        return changeset;
    static ComponentsChangeset processWide;
    return &processWide;
}

void ComponentsChangeset::setMode(const comp_cptr_t& component, request_mode_t mode) {
    modeMap.emplace(component, REQ_UNSPECIFIED).first->second = mode;
}

void ComponentsChangeset::setExplicit(const comp_cptr_t& component) {
    explicitNames.insert(needed(component).name);
}

void ComponentsChangeset::addConflict(const comp_cptr_t& component) {
    conflictNames.insert(needed(component).name);
}

bool ComponentsChangeset::contains(const comp_cptr_t& component) const {
    return modeMap.count(component) != 0;
}

request_mode_t ComponentsChangeset::getMode(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    return entry == modeMap.end() ? REQ_UNSPECIFIED : entry->second;
}

bool ComponentsChangeset::isMarkedForInstall(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return needed(component).requestMode == REQ_INSTALL;
    return entry->second == REQ_INSTALL;
}

bool ComponentsChangeset::isMarkedForRemove(const comp_cptr_t& component, bool checkDenied) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return needed(component).requestMode == REQ_REMOVE;
    if (entry->second != REQ_REMOVE)
        return false;
    return !checkDenied || !component->denyImplicitRemoval || isExplicit(component);
}

bool ComponentsChangeset::willBeInstalled(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return component->willBeInstalled();
    if (entry->second == REQ_INSTALL)
        return component->getInstallMode() != AiComponent::NOT_AVAILABLE;
    if (entry->second == REQ_LEAVE)
        return component->isInstalled();
    return false;
}

bool ComponentsChangeset::willBeInstalledOlder(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return component->willBeInstalledOlder();
    return entry->second == REQ_LEAVE && component->getInstallMode() == AiComponent::UPGRADE;
}

bool ComponentsChangeset::willBeInstalledNew(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return component->willBeInstalledNew();
    if (entry->second == REQ_INSTALL)
        return component->getInstallMode() != AiComponent::NOT_AVAILABLE;
    if (entry->second == REQ_LEAVE)
        return component->getInstallMode() == AiComponent::UP2DATE;
    return false;
}

bool ComponentsChangeset::willBeNotInstalled(const comp_cptr_t& component) const {
    const auto entry = modeMap.find(component);
    if (entry == modeMap.end())
        return component->willBeNotInstalled();
    if (entry->second == REQ_REMOVE)
        return true;
    if (entry->second == REQ_LEAVE)
        return !component->isInstalled();
    return false;
}

bool ComponentsChangeset::isExplicit(const comp_cptr_t& component) const {
    return component && explicitNames.count(component->name) != 0;
}

bool ComponentsChangeset::isConflicting(const comp_cptr_t& component) const {
    return component && conflictNames.count(component->name) != 0;
}

std::vector<std::string> ComponentsChangeset::namesWithMode(request_mode_t mode) const {
    std::vector<std::string> names;
    for (const auto& entry : modeMap)
        if (entry.second == mode)
            names.push_back(entry.first->name);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ComponentsChangeset::implicitOnly(std::vector<std::string> names) const {
    // Every component of an explicit name is explicit, so all its occurrences go.
    names.erase(std::remove_if(names.begin(), names.end(),
                               [this](const std::string& name) { return explicitNames.count(name) != 0; }),
                names.end());
    return names;
}

std::vector<std::string> ComponentsChangeset::getNamesToLeave() const {
    return namesWithMode(REQ_LEAVE);
}

std::vector<std::string> ComponentsChangeset::getNamesToInstall() const {
    return namesWithMode(REQ_INSTALL);
}

std::vector<std::string> ComponentsChangeset::getNamesToRemove() const {
    return namesWithMode(REQ_REMOVE);
}

std::vector<std::string> ComponentsChangeset::getImplicitNamesToLeave() const {
    return implicitOnly(getNamesToLeave());
}

std::vector<std::string> ComponentsChangeset::getImplicitNamesToInstall() const {
    return implicitOnly(getNamesToInstall());
}

std::vector<std::string> ComponentsChangeset::getImplicitNamesToRemove() const {
    return implicitOnly(getNamesToRemove());
}

bool ComponentsChangeset::hasImplicitChanges() const {
    return !getImplicitNamesToRemove().empty() || !getImplicitNamesToInstall().empty() ||
           !getImplicitNamesToLeave().empty();
}

std::vector<comp_cptr_t> ComponentsChangeset::getDeniedImplicitRemovals() const {
    std::vector<comp_cptr_t> denied;
    for (const auto& entry : modeMap)
        if (entry.second == REQ_REMOVE && entry.first->denyImplicitRemoval && !isExplicit(entry.first))
            denied.push_back(entry.first);
    return denied;
}

std::vector<std::string> ComponentsChangeset::getConflictNames() const {
    return std::vector<std::string>(conflictNames.begin(), conflictNames.end());
}

std::ostream& operator<<(std::ostream& out, const ComponentsChangeset& changeset) {
    out << "ComponentsChangeset[";
    bool first = true;
    for (const auto& entry : changeset.getModeMap()) {
        const comp_cptr_t& component = entry.first;
        out << (first ? " " : ", ");
        first = false;
        if (changeset.isExplicit(component))
            out << '!';
        out << modeMark(entry.second) << component->getProductId() << '/' << component->name;
        if (changeset.isConflicting(component))
            out << " (conflict)";
    }
    return out << " ] (! is explicit, = is leave, + is install, ~ is remove)";
}
