#pragma once

#include "installer/components/AiComponent.h"

#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

// Requested component changes not yet applied to the tree: the request mode each component is to
// get, which of those changes were asked for (explicit) and which components conflict. Its queries
// answer as if it were applied: a component with an entry answers from the entry's mode, one
// without from its current request mode.
class ComponentsChangeset {
public:
    // Fill a changeset from names or from a part of the tree (ComponentsChangesetOps.h).
    class MarkComponentsByName;
    class MarkAllComponents;

    // Keyed by component identity.
    using mode_map_t = std::map<comp_cptr_t, request_mode_t>;

    ComponentsChangeset();
    ~ComponentsChangeset();

    // The argument, or when it is null the process-wide changeset, created on first use.
    static ComponentsChangeset* instance(ComponentsChangeset* changeset);

    void setMode(const comp_cptr_t& component, request_mode_t mode);
    // Marks are kept by name: components of one name in different products share them.
    void setExplicit(const comp_cptr_t& component);
    void addConflict(const comp_cptr_t& component);

    bool contains(const comp_cptr_t& component) const;
    // REQ_UNSPECIFIED without an entry.
    request_mode_t getMode(const comp_cptr_t& component) const;
    bool isMarkedForInstall(const comp_cptr_t& component) const;
    // With checkDenied, a component that denies implicit removal counts only when its change is
    // explicit.
    bool isMarkedForRemove(const comp_cptr_t& component, bool checkDenied = false) const;
    // The state after application; the component's status must be known.
    bool willBeInstalled(const comp_cptr_t& component) const;
    bool willBeInstalledOlder(const comp_cptr_t& component) const;
    bool willBeInstalledNew(const comp_cptr_t& component) const;
    bool willBeNotInstalled(const comp_cptr_t& component) const;
    bool isExplicit(const comp_cptr_t& component) const;
    bool isConflicting(const comp_cptr_t& component) const;

    // Names of the entries with that mode, sorted by bytes; once per component.
    std::vector<std::string> getNamesToLeave() const;
    std::vector<std::string> getNamesToInstall() const;
    std::vector<std::string> getNamesToRemove() const;
    // The same without the explicit names.
    std::vector<std::string> getImplicitNamesToLeave() const;
    std::vector<std::string> getImplicitNamesToInstall() const;
    std::vector<std::string> getImplicitNamesToRemove() const;
    bool hasImplicitChanges() const;
    // Implicit removals of components that deny them, in entry order.
    std::vector<comp_cptr_t> getDeniedImplicitRemovals() const;
    std::vector<std::string> getConflictNames() const;

    const mode_map_t& getModeMap() const { return modeMap; }
    bool empty() const { return modeMap.empty(); }

private:
    std::vector<std::string> namesWithMode(request_mode_t mode) const;
    std::vector<std::string> implicitOnly(std::vector<std::string> names) const;

    mode_map_t modeMap;
    std::set<std::string> explicitNames;
    std::set<std::string> conflictNames;
};

// "ComponentsChangeset[ !+product/name, ~product/other (conflict) ] (! is explicit, ...)".
std::ostream& operator<<(std::ostream& out, const ComponentsChangeset& changeset);
