#pragma once

#include "installer/components/AiComponent.h"
#include "installer/console/InstTypes.h"

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>
#include <vector>

class AiGroup;
class AiRadioGroup;
class AiSubGroup;
class ComponentsChangeset;
class Release;
class Repository;
class SystemSpecificConfigurator;

// Owner of the component trees of all builds selected for the run, with their installation types, and
// the one way to go over the trees.
class ComponentManager : public InstTypes {
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

    // The passes that prepare the trees after loading (ComponentManagerPasses.h), in the order the
    // front ends run them: collect key-package names, determine every status, shrink radio groups,
    // then mark what must be marked and count selections.
    class PreparePackagesList;
    class CheckInstalled;
    class ShriveledRadioGroupsRemover;
    class MarkSpecifiedNamesComponents;
    class MarkNeedForRequired;
    class MarkComponentsForUpgrade;
    class SelectedCounter;

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
    // Names of the components that the required component needs, directly or through other needed
    // components, that are not up to date and not yet requested for install.
    std::vector<std::string> getComponentsForCheckWith(const comp_ptr_t& required);

    // Extends the changeset with every change that radio groups, requirements, conflicts and
    // hard-wiring imply, and marks conflicting names in it. False on a conflict. The tree is not
    // changed.
    bool resolveComponents(ComponentsChangeset* changeset);
    // Applies the changeset to the request modes of the tree: removals first, then installs, then
    // leaves, each product by itself.
    void setRequestModes(const ComponentsChangeset& changeset);
    // Resolves, then applies; a conflict raises an error.
    void resolveAndApply(ComponentsChangeset* changeset);
    // Resolves and applies the one change; a conflict raises an error.
    void changeComponentState(const comp_ptr_t& component, request_mode_t mode);
    // Names of the components, not requested for install, whose build packages the package
    // resolver planned anyway; sorted.
    std::vector<std::string> needAlsoInstall(const cpkgs_t& planned);
    // Installed components whose key packages the planned removers take out. When `denied` is given
    // and some of them deny implicit removal, only those are returned and *denied becomes true.
    std::vector<comp_cptr_t> needAlsoRemove(const cpkgs_t& planned, const Repository* repository,
                                            bool* denied);

    // Appends the packages to install for the selection: build packages, removers and key packages
    // of the marked components, then the extra and additional upgrade packages. The configurator
    // may be empty.
    void getPackagesToInstall(cpkgs_t& out, Repository* repository,
                              checked_pointer<SystemSpecificConfigurator> configurator);
    // Appends the bootstrapper packages of the components marked for install, and once per product
    // those of its build.
    void getBootstrapperPackagesToInstall(cpkgs_t& out, Repository* repository);

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
