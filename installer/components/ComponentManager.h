#pragma once

#include "installer/components/AiComponent.h"

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>
#include <vector>

class AiGroup;
class AiRadioGroup;
class AiSubGroup;
class ComponentsChangeset;
class Release;

// Owner of the component trees of all builds selected for the run, and the one way to go over them.
class ComponentManager {
public:
    // A walk over the trees. Visitors must not change child lists while they are walked: edits
    // belong in done(), after the walk.
    class Visitor {
    public:
        virtual void visit(const comp_ptr_t& component) = 0;
        virtual void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group);
        virtual void beginSubGroup(const std::shared_ptr<AiSubGroup>& group);
        virtual void endSubGroup(const std::shared_ptr<AiSubGroup>& group);
        virtual void endRadioGroup(const std::shared_ptr<AiRadioGroup>& group);
        // Called once after the whole walk.
        virtual void done();
        virtual ~Visitor();
    };

    // Thrown by the tree editor to end its search after one edit.
    class done {};

    ComponentManager();
    ComponentManager(const ComponentManager&) = delete;
    ComponentManager& operator=(const ComponentManager&) = delete;
    ~ComponentManager();

    // Each top-level node in order: a component is visited; a radio group is begun, its children
    // visited and ended; a sub-group is begun, its children walked and ended. Then done().
    void accept(Visitor& visitor);

    // Takes a group out of the trees. A group inside a radio group is never found.
    void edit_components_tree_remove(const std::shared_ptr<AiGroup>& group);
    // Puts the component in the group's place, then swaps it with the first group of that list so
    // that components stay ahead of groups.
    void edit_components_tree_replace(const std::shared_ptr<AiGroup>& group, const comp_ptr_t& component);

    // The first top-level component named "base" of the product (any product for an empty id),
    // else the product's first top-level component.
    comp_ptr_t getBaseComponent(const std::string& productId) const;
    // Unless its build supports uninstalling, the base component is selected and made required.
    void selectBaseComponent();

    // Sets the request mode directly, without the checks of the requests: sub-groups are entered,
    // a radio group passes it on to its effective child. Unavailable components, required ones
    // when leaving and, with visibleOnly, hidden ones are skipped.
    void markComponents(nodes_t::const_iterator first, nodes_t::const_iterator last, request_mode_t mode,
                        const std::string& productId, bool visibleOnly);
    void markAdditionalPackagesForUpgrade(const cpkgs_t& packages);

    // Every component is up to date.
    bool isAllInstalled();
    // Some component is requested for install or removal.
    bool isAnySelected();
    // Full names of the components requested for install, in walk order.
    std::vector<std::string> getSelection();
    bool isSelectedFromRelease(const boost::shared_ptr<Release>& release);
    // EZ templates of the components requested for install, sorted, without repetitions.
    std::vector<std::string> getEZTemplListToInstall();
    // Records the current install and removal marks of the tree as explicit changes.
    void getCurrentChanges(ComponentsChangeset* changeset);

    // Top-level nodes of all loaded builds, in load order.
    nodes_t nodes;
    // Packages the run driver adds to the installation list.
    cpkgs_t extraPackages;
    // Single packages chosen for upgrade without their component.
    cpkgs_t additionalUpgradePackages;

private:
    static void walk(const std::shared_ptr<AiCompNode>& node, Visitor& visitor);
    // Throws done after the edit; returns when the target is not in the list.
    static void find_and_edit(nodes_t& list, const std::shared_ptr<AiGroup>& target,
                              const comp_ptr_t& replacement);
};
