#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Extends a changeset with the changes the relations between components imply.
class Resolver : public ComponentManager::Visitor {
public:
    explicit Resolver(ComponentsChangeset* target) : cs(target) {}

    // Components without an entry are the ones the relation rules may still change.
    void visit(const comp_ptr_t& component) override {
        if (component->getInstallMode() != AiComponent::NOT_AVAILABLE && !cs->contains(component))
            others.emplace(component, true);
    }

    void resolve() {
        for (const auto& entry : cs->getModeMap()) {
            queue.push_back(entry.first);
            initial.insert(entry.first);
            cs->setExplicit(entry.first);
        }
        while (!queue.empty()) {
            const comp_cptr_t current = queue.front();
            applyRadioRule(current);
            applyRelationRules(current);
            queue.pop_front();
        }
    }

    // Stops at the first conflicting pair.
    void checkConflicts() {
        const ComponentsChangeset::mode_map_t& entries = cs->getModeMap();
        for (const auto& outer : entries) {
            for (const auto& inner : entries) {
                const comp_cptr_t& a = outer.first;
                const comp_cptr_t& b = inner.first;
                if (a == b || !inConflict(a, b))
                    continue;
                conflict = true;
                cs->addConflict(a);
                cs->addConflict(b);
                logConflict(a, b);
                return;
            }
        }
    }

    bool conflict = false;

private:
    void record(const comp_cptr_t& component, request_mode_t mode, bool isExplicit) {
        cs->setMode(component, mode);
        queue.push_back(component);
        if (isExplicit)
            cs->setExplicit(component);
    }

    // One alternative of a radio group going in takes the others out.
    void applyRadioRule(const comp_cptr_t& current) {
        const AiRadioGroup* group = current->radioGroup.raw();
        if (!group || !cs->willBeInstalled(current))
            return;
        const bool asked = initial.count(current) != 0;
        for (const comp_ptr_t& sibling : group->children) {
            if (sibling == current)
                continue;
            record(sibling, REQ_REMOVE, !sibling->willBeInstalled() || asked);
            const auto other = others.find(sibling);
            if (other != others.end())
                other->second = false;
        }
    }

    void applyRelationRules(const comp_cptr_t& current) {
        for (auto& entry : others) {
            if (!entry.second)
                continue;
            const comp_cptr_t candidate = entry.first;
            request_mode_t mode = REQ_UNSPECIFIED;
            if (cs->willBeInstalled(current) && current->conflictsWith(candidate, cs.get()) &&
                candidate->willBeInstalled()) {
                mode = REQ_REMOVE;
            } else if (cs->willBeInstalledOlder(current) && candidate->hardwiredToOlder(current, cs.get()) &&
                       candidate->willBeInstalledNew()) {
                mode = candidate->getInstallMode() == AiComponent::UPGRADE ? REQ_LEAVE : REQ_REMOVE;
            } else if (cs->willBeInstalledNew(current) && current->hardwiredToOlder(candidate, cs.get()) &&
                       candidate->willBeInstalledOlder()) {
                mode = REQ_INSTALL;
            } else if (cs->willBeInstalled(current) && current->needs(candidate, cs.get()) &&
                       candidate->willBeNotInstalled()) {
                mode = REQ_INSTALL;
            } else if (cs->willBeNotInstalled(current) && candidate->needs(current, cs.get()) &&
                       candidate->willBeInstalled()) {
                mode = REQ_REMOVE;
            }
            if (mode == REQ_UNSPECIFIED)
                continue;
            record(candidate, mode, false);
            entry.second = false;
        }
    }

    bool inConflict(const comp_cptr_t& a, const comp_cptr_t& b) const {
        if (a->needs(b, cs.get()) && cs->willBeInstalled(a) && cs->willBeNotInstalled(b))
            return true;
        if (b->needs(a, cs.get()) && cs->willBeInstalled(b) && cs->willBeNotInstalled(a))
            return true;
        if (a->conflictsWith(b, cs.get()) && cs->willBeInstalled(a) && cs->willBeInstalled(b))
            return true;
        const AiRadioGroup* group = a->radioGroup.raw();
        return group && group == b->radioGroup.raw() && cs->willBeInstalled(a) && cs->willBeInstalled(b);
    }

    void logConflict(const comp_cptr_t& a, const comp_cptr_t& b) const {
        Log::stream line(2, true);
        line << "Warning: found inter-component dependencies conflict between "
             << "'" << a->name << "' (will be installed: " << (cs->willBeInstalled(a) ? 1 : 0)
             << ", request = " << requestModeName(cs->getMode(a)) << ") and "
             << "'" << b->name << "' (will be installed: " << (cs->willBeInstalled(b) ? 1 : 0)
             << ", request = " << requestModeName(cs->getMode(b)) << ") "
             << "while trying to resolve ";
        if (initial.empty()) {
            line << "unknown (empty) initial component change";
            return;
        }
        const comp_cptr_t& first = *initial.begin();
        line << requestModeName(cs->getMode(first)) << " of component '" << first->name << "'";
        if (initial.size() > 1)
            line << " and " << static_cast<int>(initial.size() - 1) << " more change(s)";
    }

    checked_pointer<ComponentsChangeset> cs;
    std::deque<comp_cptr_t> queue;
    // Open while no rule has changed the component yet.
    std::map<comp_cptr_t, bool> others;
    std::set<comp_cptr_t> initial;
};

std::string quotedNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += " '" + name + "'";
    return text;
}

std::vector<std::string> keyPackageNames(const AiComponent& component) {
    std::vector<std::string> names;
    for (const Component::keypackages_t& section : component.keyPackageSets)
        for (const std::string& name : section.keypackages)
            names.push_back(fileops::basename(name));
    return names;
}

} // namespace

bool ComponentManager::resolveComponents(ComponentsChangeset* changeset) {
    Resolver resolver(checked_pointer<ComponentsChangeset>(changeset).get());
    accept(resolver);
    Log::stream(3, true) << "DEBUG: ComponentManager::resolveComponents() before resolve: " << *changeset;
    resolver.resolve();
    resolver.checkConflicts();
    Log::stream(3, true) << "DEBUG: ComponentManager::resolveComponents() after resolve: " << *changeset
                         << "; resolution " << (resolver.conflict ? "resulted in conflicts" : "succeeded");
    return !resolver.conflict;
}

void ComponentManager::setRequestModes(const ComponentsChangeset& changeset) {
    // Names are only unique within a product, so each product's entries are applied to that
    // product alone, in the order the products first appear.
    std::vector<std::string> productIds;
    std::map<std::string, ComponentsChangeset> byProduct;
    for (const auto& entry : changeset.getModeMap()) {
        const std::string productId = entry.first->getProductId();
        if (byProduct.count(productId) == 0)
            productIds.push_back(productId);
        byProduct[productId].setMode(entry.first, entry.second);
    }
    for (const std::string& productId : productIds) {
        const ComponentsChangeset& part = byProduct[productId];
        const std::pair<std::vector<std::string>, request_mode_t> steps[] = {
            {part.getNamesToRemove(), REQ_REMOVE},
            {part.getNamesToInstall(), REQ_INSTALL},
            {part.getNamesToLeave(), REQ_LEAVE},
        };
        for (const auto& step : steps) {
            MarkSpecifiedNamesComponents marker(this, productId, step.first, step.second);
            accept(marker);
        }
    }
}

void ComponentManager::resolveAndApply(ComponentsChangeset* changeset) {
    if (!resolveComponents(changeset))
        throw error(5, 1, 1, 2)
            << "Unable to resolve components request mode changeset due to inter-component "
               "dependencies. "
            << "You possibly need to remove some of the conflicting components. "
            << "Check '" << Log::get_file_name() << "' for more details.";
    setRequestModes(*changeset);
}

void ComponentManager::changeComponentState(const comp_ptr_t& component, request_mode_t mode) {
    const AiComponent& target = *checked_pointer<AiComponent>(component.get());
    ComponentsChangeset changeset;
    changeset.setMode(component, mode);
    if (!resolveComponents(&changeset))
        throw error(5, 1, 1, 2) << "Unable to change state for " << target.getFullName()
                                << " due to inter-component dependencies. "
                                << "Check '" << Log::get_file_name() << "' for more details.";
    setRequestModes(changeset);
}

std::vector<std::string> ComponentManager::needAlsoInstall(const cpkgs_t& planned) {
    class NeedAlso : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            std::vector<std::string> names;
            for (const Package* package : component->packages)
                names.push_back(package->getName().str());
            const std::vector<std::string> keyNames = keyPackageNames(*component);
            names.insert(names.end(), keyNames.begin(), keyNames.end());
            for (const std::string& name : names) {
                if (component->requestMode == REQ_INSTALL)
                    selected.insert(name);
                else
                    owner[name] = component->name;
            }
        }
        std::set<std::string> selected;
        std::map<std::string, std::string> owner;
    } visitor;
    accept(visitor);

    std::vector<std::string> dragged;
    std::set<std::string> result;
    for (const Package* package : planned) {
        if (package->getType() != 'b')
            continue;
        const std::string name = package->getName().str();
        const auto found = visitor.owner.find(name);
        if (visitor.selected.count(name) != 0 || found == visitor.owner.end())
            continue;
        dragged.push_back(name);
        result.insert(found->second);
    }
    Log::stream(2, true)
        << "The following packages from not selected components will be installed because they "
           "are required by other components' packages you selected for installation: "
        << quotedNames(dragged);
    return std::vector<std::string>(result.begin(), result.end());
}

std::vector<comp_cptr_t> ComponentManager::needAlsoRemove(const cpkgs_t& planned,
                                                          const Repository* repository, bool* denied) {
    class NeedAlsoRemove : public Visitor {
    public:
        void visit(const comp_ptr_t& component) override {
            if (!component->isInstalled() || component->requestMode == REQ_REMOVE)
                return;
            for (const std::string& name : keyPackageNames(*component))
                owner[name] = component;
        }
        std::map<std::string, comp_cptr_t> owner;
    } visitor;
    accept(visitor);

    const Repository& packages = *checked_pointer<const Repository>(repository);
    std::set<comp_cptr_t> affected;
    std::set<comp_cptr_t> deniedSet;
    const auto note = [&](const std::string& name) {
        const auto found = visitor.owner.find(name);
        if (found == visitor.owner.end())
            return;
        affected.insert(found->second);
        if (found->second->denyImplicitRemoval)
            deniedSet.insert(found->second);
    };
    for (const Package* remover : planned) {
        if (remover->getType() != 'd')
            continue;
        for (const Package* obsoleted : packages.getObsoletes(remover))
            note(obsoleted->getName().str());
        for (size_t i = 0; const std::shared_ptr<Dependency> obsolete = remover->getObsolete(i); ++i)
            note(obsolete->getName());
    }

    const bool onlyDenied = denied && !deniedSet.empty();
    if (denied)
        *denied = onlyDenied;
    const std::set<comp_cptr_t>& chosen = onlyDenied ? deniedSet : affected;
    std::vector<std::string> names;
    for (const comp_cptr_t& component : chosen)
        names.push_back(component->name);
    Log::stream(2, true) << "The following components should be removed due to packages dependencies: "
                         << quotedNames(names);
    return std::vector<comp_cptr_t>(chosen.begin(), chosen.end());
}
