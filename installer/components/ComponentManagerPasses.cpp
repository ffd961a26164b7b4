#include "installer/components/ComponentManagerPasses.h"

#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"

#include <map>

namespace {

const char* const unit = "installer/ComponentManager";

bool sharesWord(const std::set<std::string>& words, const std::vector<std::string>& wanted) {
    for (const std::string& word : wanted)
        if (words.count(word))
            return true;
    return false;
}

template <typename Names> void writeNames(Log::stream& line, const Names& names) {
    for (const std::string& name : names)
        line << " '" << name << "'";
}

} // namespace

void ComponentManager::PreparePackagesList::visit(const comp_ptr_t& component) {
    component->appendPackageNames(names);
}

ComponentManager::CheckInstalled::CheckInstalled(const Repository* packages,
                                                 SystemSpecificConfigurator* packageManager)
    : repository(packages), configurator(packageManager) {
    const std::string text = Messages().getMessage("checking_comps_status");
    Progress::step("checking_comps_status", text);
    Log::stream(0, true) << text;
}

void ComponentManager::CheckInstalled::visit(const comp_ptr_t& component) {
    component->checkInstalled(repository, configurator);
}

ComponentManager::ShriveledRadioGroupsRemover::ShriveledRadioGroupsRemover(ComponentManager* owner)
    : manager(owner) {}

void ComponentManager::ShriveledRadioGroupsRemover::beginRadioGroup(
    const std::shared_ptr<AiRadioGroup>& group) {
    group->drop_not_allowed_switches();
    const size_t left = group->children.size();
    if (left > 1)
        return;
    if (left == 1) {
        pending = group;
        return;
    }
    if (!group->isEmpty())
        throw internal_error(unit, 1328);
    toErase.push_back(group);
}

void ComponentManager::ShriveledRadioGroupsRemover::visit(const comp_ptr_t& component) {
    // The walk visits a radio group's children right after beginning it: this is its only child.
    if (!pending)
        return;
    toReplace.emplace_back(pending, component);
    pending.reset();
}

void ComponentManager::ShriveledRadioGroupsRemover::done() {
    for (const std::shared_ptr<AiRadioGroup>& group : toErase)
        manager->edit_components_tree_remove(group);
    for (const auto& [group, component] : toReplace) {
        Log::stream(3, true) << "rename component " << component->name << "("
                             << static_cast<const void*>(component.get()) << ") to " << group->name;
        manager->edit_components_tree_replace(group, component);
        component->name = group->name;
    }
}

ComponentManager::MarkSpecifiedNamesComponents::MarkSpecifiedNamesComponents(
    ComponentManager* /*manager*/, const std::string& product, const std::vector<std::string>& wanted,
    request_mode_t request)
    : productId(product), mode(request), names(wanted.begin(), wanted.end()) {}

bool ComponentManager::MarkSpecifiedNamesComponents::take(const std::string& name,
                                                          const std::string& productIdOfNode) {
    auto found = names.find(name);
    if (found == names.end())
        return false;
    // The name stays wanted for the product it was given for.
    if (!productId.empty() && productIdOfNode != productId)
        return false;
    names.erase(found);
    return true;
}

void ComponentManager::MarkSpecifiedNamesComponents::visit(const comp_ptr_t& component) {
    if (!take(component->name, component->getProductId()))
        return;
    const int status = component->getInstallMode();
    if (status == AiComponent::NOT_AVAILABLE) {
        Log::stream(2, true) << " skip component " << component->name << ": not available";
        return;
    }
    switch (mode) {
    case REQ_LEAVE:
        component->leave();
        break;
    case REQ_INSTALL:
        if (status == AiComponent::UP2DATE)
            component->leave();
        else
            component->select();
        break;
    case REQ_REMOVE:
        if (status == AiComponent::INSTALL)
            component->leave();
        else
            component->remove();
        break;
    default:
        throw error(3, 1, 1, 3) << "MarkSpecifiedNamesComponents::visit: unexpected request_mode_t: "
                                << static_cast<int>(mode);
    }
}

void ComponentManager::MarkSpecifiedNamesComponents::beginRadioGroup(
    const std::shared_ptr<AiRadioGroup>& group) {
    if (!take(group->name, group->getProductId()))
        return;
    if (mode == REQ_INSTALL && !group->hasWillBeInstalled()) {
        const comp_ptr_t alternative = group->getEffective();
        if (alternative->getInstallMode() != AiComponent::NOT_AVAILABLE)
            alternative->select();
    } else if (mode == REQ_REMOVE && group->hasWillBeInstalled()) {
        const comp_ptr_t alternative = group->getEffective();
        if (alternative->getInstallMode() != AiComponent::NOT_AVAILABLE)
            alternative->remove();
    }
}

void ComponentManager::MarkSpecifiedNamesComponents::done() {
    if (names.empty())
        return;
    Log::stream line(2, true);
    if (productId.empty())
        line << "Warning: following component(s) not found: ";
    else
        line << "Warning: following component(s) not found in product " << productId << ": ";
    writeNames(line, names);
}

ComponentManager::MarkNeedForRequired::MarkNeedForRequired(ComponentManager* owner) : manager(owner) {}

void ComponentManager::MarkNeedForRequired::visit(const comp_ptr_t& component) {
    if (!component->required)
        return;
    const std::vector<std::string> names = manager->getComponentsForCheckWith(component);
    {
        Log::stream line(3, true);
        line << "MarkNeedForRequired: for " << component->name << " " << component->description
             << " also need: ";
        writeNames(line, names);
    }
    MarkSpecifiedNamesComponents marker(manager.get(), component->getProductId(), names, REQ_INSTALL);
    manager->accept(marker);
}

ComponentManager::MarkComponentsForUpgrade::MarkComponentsForUpgrade(
    const std::vector<std::string>& classFilter)
    : filter(classFilter) {}

bool ComponentManager::MarkComponentsForUpgrade::matches(const std::set<std::string>& classes) const {
    return sharesWord(classes, filter);
}

void ComponentManager::MarkComponentsForUpgrade::visit(const comp_ptr_t& component) {
    if (component->getInstallMode() != AiComponent::UPGRADE)
        return;
    if (filter.empty() || matches(component->classes)) {
        changeset.setMode(component, REQ_INSTALL);
        return;
    }
    // Only the packages of the wanted classes are upgraded; the component keeps its state.
    bool any = false;
    for (const Package* package : component->packages) {
        if (matches(package->getClasses())) {
            packages.push_back(package);
            any = true;
        }
    }
    if (any)
        component->setPackagesUpgraded(true);
}

void ComponentManager::MarkComponentsForUpgrade::commit(ComponentManager& manager) {
    manager.resolveAndApply(&changeset);
    manager.markAdditionalPackagesForUpgrade(packages);
}

ComponentManager::SelectedCounter::SelectedCounter(const std::string& product) : productId(product) {}

std::pair<int, int>& ComponentManager::SelectedCounter::top() {
    return counts[groups.back()];
}

void ComponentManager::SelectedCounter::visit(const comp_ptr_t& component) {
    if (inRadioGroup || component->getProductId() != productId)
        return;
    if (!component->isVisible())
        return;
    std::pair<int, int>& count = top();
    ++count.second;
    if (component->willBeInstalled())
        ++count.first;
}

void ComponentManager::SelectedCounter::beginRadioGroup(const std::shared_ptr<AiRadioGroup>&) {
    inRadioGroup = true;
}

void ComponentManager::SelectedCounter::endRadioGroup(const std::shared_ptr<AiRadioGroup>& group) {
    inRadioGroup = false;
    if (group->getProductId() != productId)
        return;
    std::pair<int, int>& count = top();
    ++count.second;
    if (group->hasWillBeInstalled())
        ++count.first;
}

void ComponentManager::SelectedCounter::beginSubGroup(const std::shared_ptr<AiSubGroup>& group) {
    groups.push_back(group->name);
}

void ComponentManager::SelectedCounter::endSubGroup(const std::shared_ptr<AiSubGroup>& group) {
    if (groups.empty())
        throw internal_error(unit, 1421);
    if (groups.back() != group->name)
        throw internal_error(unit, 1422);
    groups.pop_back();
    if (groups.empty())
        throw internal_error(unit, 1426);
    const std::pair<int, int> inner = counts[group->name];
    std::pair<int, int>& outer = top();
    outer.first += inner.first;
    outer.second += inner.second;
}

std::vector<std::string> ComponentManager::getComponentsForCheckWith(const comp_ptr_t& required) {
    class ComponentsForCheckWith : public Visitor {
    public:
        explicit ComponentsForCheckWith(const comp_ptr_t& component) : required(component) {}
        void visit(const comp_ptr_t& component) override {
            if (component == required || component->getInstallMode() == AiComponent::UP2DATE)
                return;
            if (required->needs(component))
                needed.push_back(component);
            else
                candidates.emplace(component, true);
        }
        const comp_ptr_t& required;
        std::vector<comp_ptr_t> needed;
        // Candidate -> still open.
        std::map<comp_ptr_t, bool> candidates;
    } visitor(required);
    accept(visitor);

    std::vector<std::string> names;
    std::vector<comp_ptr_t>& needed = visitor.needed;
    for (size_t i = 0; i < needed.size(); ++i) {
        const comp_ptr_t current = needed[i];
        for (auto& [candidate, open] : visitor.candidates) {
            if (open && current->needs(candidate)) {
                needed.push_back(candidate);
                open = false;
            }
        }
        if (current->requestMode != REQ_INSTALL)
            names.push_back(current->name);
    }
    return names;
}
