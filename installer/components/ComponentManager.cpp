#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentsChangeset.h"

#include <set>

namespace {

const char* const unit = "installer/ComponentManager";

const void* address(const void* object) {
    return object;
}

} // namespace

void ComponentManager::Visitor::beginRadioGroup(const std::shared_ptr<AiRadioGroup>&) {}
void ComponentManager::Visitor::beginSubGroup(const std::shared_ptr<AiSubGroup>&) {}
void ComponentManager::Visitor::endSubGroup(const std::shared_ptr<AiSubGroup>&) {}
void ComponentManager::Visitor::endRadioGroup(const std::shared_ptr<AiRadioGroup>&) {}
void ComponentManager::Visitor::done() {}
ComponentManager::Visitor::~Visitor() = default;

ComponentManager::ComponentManager() = default;

ComponentManager::~ComponentManager() = default;

void ComponentManager::accept(Visitor& visitor) {
    // Walk copies of the lists: a visitor that edits a list by mistake cannot invalidate the walk.
    const nodes_t topLevel = nodes;
    for (const std::shared_ptr<AiCompNode>& node : topLevel)
        walk(node, visitor);
    visitor.done();
}

void ComponentManager::walk(const std::shared_ptr<AiCompNode>& node, Visitor& visitor) {
    if (const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node)) {
        visitor.visit(component);
    } else if (const auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node)) {
        visitor.beginRadioGroup(radio);
        const std::vector<comp_ptr_t> children = radio->children;
        for (const comp_ptr_t& child : children)
            visitor.visit(child);
        visitor.endRadioGroup(radio);
    } else if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(node)) {
        visitor.beginSubGroup(sub);
        const nodes_t children = sub->children;
        for (const std::shared_ptr<AiCompNode>& child : children)
            walk(child, visitor);
        visitor.endSubGroup(sub);
    } else {
        throw internal_error(unit, 1046);
    }
}

void ComponentManager::find_and_edit(nodes_t& list, const std::shared_ptr<AiGroup>& target,
                                     const comp_ptr_t& replacement) {
    for (size_t i = 0; i < list.size(); ++i) {
        const auto group = std::dynamic_pointer_cast<AiGroup>(list[i]);
        if (group && group == target) {
            if (!replacement) {
                Log::stream(3, true) << "DEBUG: find_and_edit: erase " << address(target.get());
                list.erase(list.begin() + i);
                throw done();
            }
            Log::stream(3, true) << "DEBUG: find_and_edit: replace " << target->name << " ("
                                 << address(target.get()) << ") with " << replacement->name << " ("
                                 << address(replacement.get()) << ")";
            list[i] = replacement;
            replacement->radioGroup = nullptr;
            for (size_t j = 0; j < list.size(); ++j) {
                if (std::dynamic_pointer_cast<AiGroup>(list[j])) {
                    std::swap(list[i], list[j]);
                    break;
                }
            }
            throw done();
        }
        if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(list[i]))
            find_and_edit(sub->children, target, replacement);
    }
}

void ComponentManager::edit_components_tree_remove(const std::shared_ptr<AiGroup>& group) {
    try {
        find_and_edit(nodes, group, comp_ptr_t());
    } catch (const done&) {
        return;
    }
    Log::stream(3, true) << "DEBUG: edit_components_tree_remove: " << address(group.get()) << " not found!";
}

void ComponentManager::edit_components_tree_replace(const std::shared_ptr<AiGroup>& group,
                                                    const comp_ptr_t& component) {
    try {
        find_and_edit(nodes, group, component);
    } catch (const done&) {
        return;
    }
    Log::stream(3, true) << "DEBUG: edit_components_tree_replace: " << address(group.get()) << " not found!";
}

comp_ptr_t ComponentManager::getBaseComponent(const std::string& productId) const {
    if (nodes.empty())
        throw error(3, 1, 1, 3) << Messages().getMessage("err_binf3_nocomps2");
    comp_ptr_t first;
    for (const std::shared_ptr<AiCompNode>& node : nodes) {
        const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node);
        if (!component || (!productId.empty() && component->getProductId() != productId))
            continue;
        if (component->name == "base")
            return component;
        if (!first)
            first = component;
    }
    if (!first)
        throw internal_error(unit, 86);
    return first;
}

void ComponentManager::selectBaseComponent() {
    const comp_ptr_t base = getBaseComponent("");
    if (base->build->_uninstall_support)
        return;
    base->select();
    base->setRequired();
}

void ComponentManager::markComponents(nodes_t::const_iterator first, nodes_t::const_iterator last,
                                      request_mode_t mode, const std::string& productId, bool visibleOnly) {
    for (auto it = first; it != last; ++it) {
        const std::shared_ptr<AiCompNode>& node = *it;
        if (!productId.empty() && node->getProductId() != productId)
            continue;
        if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(node)) {
            markComponents(sub->children.cbegin(), sub->children.cend(), mode, "", visibleOnly);
            continue;
        }
        comp_ptr_t component;
        if (const auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node))
            component = radio->getEffective();
        else
            component = std::dynamic_pointer_cast<AiComponent>(node);
        if (!component)
            throw internal_error(unit, 1170);
        if (visibleOnly && !component->isVisible())
            continue;
        if (component->getInstallMode() == AiComponent::NOT_AVAILABLE)
            continue;
        if (mode == REQ_LEAVE && component->required)
            continue;
        component->requestMode = mode;
    }
}

void ComponentManager::markAdditionalPackagesForUpgrade(const cpkgs_t& packages) {
    {
        Log::stream line(3, true);
        line << "DEBUG ComponentManager::markAdditionalPackagesForUpgrade: ";
        for (const Package* package : packages)
            line << *package << " ";
    }
    additionalUpgradePackages.insert(additionalUpgradePackages.end(), packages.begin(), packages.end());
}

bool ComponentManager::isAllInstalled() {
    class IsAllInstalled : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            if (component->getInstallMode() != AiComponent::UP2DATE)
                all = false;
        }
        bool all = true;
    } visitor;
    accept(visitor);
    return visitor.all;
}

bool ComponentManager::isAnySelected() {
    class IsAnySelected : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            if (component->requestMode == REQ_INSTALL || component->requestMode == REQ_REMOVE)
                any = true;
        }
        bool any = false;
    } visitor;
    accept(visitor);
    return visitor.any;
}

std::vector<std::string> ComponentManager::getSelection() {
    class Selection : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            if (component->requestMode == REQ_INSTALL)
                names.push_back(component->getFullName());
        }
        std::vector<std::string> names;
    } visitor;
    accept(visitor);
    return visitor.names;
}

bool ComponentManager::isSelectedFromRelease(const boost::shared_ptr<Release>& release) {
    class Checker : public Visitor {
    public:
        explicit Checker(const boost::shared_ptr<Release>& wanted) : release(wanted) {}
        void visit(const comp_ptr_t& component) override {
            if (release && component->requestMode == REQ_INSTALL && component->getRelease() == release)
                found = true;
        }
        const boost::shared_ptr<Release>& release;
        bool found = false;
    } visitor(release);
    accept(visitor);
    return visitor.found;
}

std::vector<std::string> ComponentManager::getEZTemplListToInstall() {
    class EZTemplListToInstall : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            if (component->requestMode == REQ_INSTALL)
                names.insert(component->ezTemplates.begin(), component->ezTemplates.end());
        }
        std::set<std::string> names;
    } visitor;
    accept(visitor);
    return std::vector<std::string>(visitor.names.begin(), visitor.names.end());
}

void ComponentManager::getCurrentChanges(ComponentsChangeset* changeset) {
    class CurrentChanges : public Visitor {
    public:
        explicit CurrentChanges(ComponentsChangeset* target) : changeset(target) {}
        void visit(const comp_ptr_t& component) override {
            if (component->getInstallMode() == AiComponent::NOT_AVAILABLE)
                return;
            if (component->isMarkedForInstall())
                record(component, REQ_INSTALL);
            else if (component->isMarkedForRemove())
                record(component, REQ_REMOVE);
        }
        void record(const comp_ptr_t& component, request_mode_t mode) {
            changeset->setMode(component, mode);
            changeset->setExplicit(component);
        }
        ComponentsChangeset* changeset;
    } visitor(checked_pointer<ComponentsChangeset>(changeset).get());
    accept(visitor);
}
