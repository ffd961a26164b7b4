#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentsChangeset.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class Repository;
class SystemSpecificConfigurator;

// The names of every component's key packages (negative sets first, section by section), whose
// installed state the status check needs.
class ComponentManager::PreparePackagesList : public ComponentManager::Visitor {
public:
    void visit(const comp_ptr_t& component) override;

    const std::vector<std::string>& getNames() const { return names; }

private:
    std::vector<std::string> names;
};

// Determines the installation status of every component.
class ComponentManager::CheckInstalled : public ComponentManager::Visitor {
public:
    // Publishes the progress step of the check. The configurator may be null.
    CheckInstalled(const Repository* repository, SystemSpecificConfigurator* configurator);

    void visit(const comp_ptr_t& component) override;

private:
    const Repository* repository;
    SystemSpecificConfigurator* configurator;
};

// Shrinks radio groups to the alternatives the installed state allows: a group left without
// children is taken out of the tree, and a group left with one child is replaced by that child,
// which takes the group's name so that requests and requirements naming the group reach it.
class ComponentManager::ShriveledRadioGroupsRemover : public ComponentManager::Visitor {
public:
    explicit ShriveledRadioGroupsRemover(ComponentManager* manager);

    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    void visit(const comp_ptr_t& component) override;
    // The tree is edited here, after the walk.
    void done() override;

private:
    checked_pointer<ComponentManager> manager;
    // A group with one child left, until that child is visited.
    std::shared_ptr<AiRadioGroup> pending;
    std::vector<std::shared_ptr<AiRadioGroup>> toErase;
    std::vector<std::pair<std::shared_ptr<AiRadioGroup>, comp_ptr_t>> toReplace;
};

// Applies one request to the components and radio groups named in a list, through the checked
// requests of the components: a user error of a request ends the walk. Asking to install an
// up-to-date component, or to remove one that is not installed, leaves it.
class ComponentManager::MarkSpecifiedNamesComponents : public ComponentManager::Visitor {
public:
    // An empty product id matches every product.
    MarkSpecifiedNamesComponents(ComponentManager* manager, const std::string& productId,
                                 const std::vector<std::string>& names, request_mode_t mode);

    void visit(const comp_ptr_t& component) override;
    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    // Warns about the names not met.
    void done() override;

private:
    bool take(const std::string& name, const std::string& productIdOfNode);

    std::string productId;
    request_mode_t mode;
    // Names not met yet.
    std::set<std::string> names;
};

// Requests for install what every required component needs and is not up to date.
class ComponentManager::MarkNeedForRequired : public ComponentManager::Visitor {
public:
    explicit MarkNeedForRequired(ComponentManager* manager);

    void visit(const comp_ptr_t& component) override;

private:
    checked_pointer<ComponentManager> manager;
};

// Collects the upgrades of components installed in an older state: the whole component when the
// class filter is empty or names one of its classes, otherwise only its packages of those classes.
// commit() applies them after the walk.
class ComponentManager::MarkComponentsForUpgrade : public ComponentManager::Visitor {
public:
    explicit MarkComponentsForUpgrade(const std::vector<std::string>& classFilter);

    void visit(const comp_ptr_t& component) override;
    // Resolves and applies the collected changes (an error when they conflict), then hands the
    // single packages to the manager.
    virtual void commit(ComponentManager& manager);

private:
    bool matches(const std::set<std::string>& classes) const;

    std::vector<std::string> filter;
    ComponentsChangeset changeset;
    cpkgs_t packages;
};

// Per group, how many items are selected out of how many, for one product. A radio group counts as
// one item; hidden components count only when installed and shown as such.
class ComponentManager::SelectedCounter : public ComponentManager::Visitor {
public:
    // (selected, total)
    using counts_t = std::map<std::string, std::pair<int, int>>;

    explicit SelectedCounter(const std::string& productId);

    void visit(const comp_ptr_t& component) override;
    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    void endRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    void beginSubGroup(const std::shared_ptr<AiSubGroup>& group) override;
    // Adds the group's counts to those of the enclosing group.
    void endSubGroup(const std::shared_ptr<AiSubGroup>& group) override;

    // By group name; the product level is the empty name.
    const counts_t& getCounts() const { return counts; }

private:
    std::pair<int, int>& top();

    std::string productId;
    counts_t counts;
    std::vector<std::string> groups{std::string()};
    bool inRadioGroup = false;
};
