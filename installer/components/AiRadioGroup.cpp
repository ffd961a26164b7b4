#include "installer/components/AiRadioGroup.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "installer/components/ComponentsChangeset.h"

#include <algorithm>

namespace {

const char* const unit = "installer/AiRadioGroup";

} // namespace

AiRadioGroup::AiRadioGroup(const std::string& groupName, const std::string& groupDescription,
                           boost::shared_ptr<Build> owner, const std::string& defaultChild)
    : AiGroup(groupName, groupDescription, std::move(owner)), defaultName(defaultChild) {}

AiRadioGroup::~AiRadioGroup() {
    try {
        Log::stream(3, true) << "DEBUG: ~AiRadioGroup: " << name << " (" << static_cast<const void*>(this)
                             << ")";
    } catch (...) {
        // A debug line is not worth ending the process for.
    }
    // Children that outlive the group must not point back at it.
    for (const comp_ptr_t& child : children)
        if (child && child->radioGroup.raw() == this)
            child->radioGroup = nullptr;
}

char AiRadioGroup::getStatusChar() const {
    return hasWillBeInstalled() ? '*' : ' ';
}

void AiRadioGroup::addChild(const comp_ptr_t& component) {
    component->radioGroup = this;
    children.push_back(component);
}

void AiRadioGroup::addSwitch(const std::string& from, const std::string& to) {
    switches.emplace_back(from, to);
    hasSwitchRules = true;
}

comp_ptr_t AiRadioGroup::getWillBeInstalled(ComponentsChangeset* changeset) const {
    ComponentsChangeset* const cs = ComponentsChangeset::instance(changeset);
    for (const comp_ptr_t& child : children)
        if (cs->willBeInstalled(child))
            return child;
    return comp_ptr_t();
}

bool AiRadioGroup::hasWillBeInstalled(ComponentsChangeset* changeset) const {
    return getWillBeInstalled(changeset) != nullptr;
}

comp_ptr_t AiRadioGroup::getDefault() const {
    if (children.empty())
        throw internal_error(unit, 127);
    for (const comp_ptr_t& child : children)
        if (child->name == defaultName)
            return child;
    return children.front();
}

comp_ptr_t AiRadioGroup::getEffective(ComponentsChangeset* changeset) const {
    comp_ptr_t effective = getWillBeInstalled(changeset);
    if (!effective && !children.empty())
        effective = getDefault();
    if (!effective)
        throw internal_error(unit, 211);
    return effective;
}

void AiRadioGroup::drop_not_allowed_switches() {
    if (!hasSwitchRules)
        return;
    comp_ptr_t installed;
    for (const comp_ptr_t& child : children) {
        const int status = child->getInstallMode();
        if (status == AiComponent::UPGRADE || status == AiComponent::UP2DATE) {
            installed = child;
            break;
        }
    }
    const std::string from = installed ? installed->name : std::string();
    Log::stream(3, true) << "DEBUG: drop_not_allowed_switches: from=" << from;
    // With nothing installed every alternative stays.
    if (from.empty())
        return;

    bool erased = true;
    while (erased) {
        erased = false;
        for (auto it = children.begin(); it != children.end(); ++it) {
            const comp_ptr_t child = *it;
            if (child == installed)
                continue;
            const std::string& to = child->name;
            Log::stream(3, true) << "DEBUG: drop_not_allowed_switches: to=" << to;
            const bool allowed =
                std::find(switches.begin(), switches.end(), std::make_pair(from, to)) != switches.end();
            Log::stream(3, true) << "DEBUG: drop_not_allowed_switches: allowed="
                                 << (allowed ? "true" : "false");
            if (!allowed) {
                Log::stream(3, true) << "DEBUG: drop_not_allowed_switches: erase component "
                                     << static_cast<const void*>(child.get()) << " " << to;
                child->radioGroup = nullptr;
                children.erase(it);
                erased = true;
                break;
            }
        }
    }
}
