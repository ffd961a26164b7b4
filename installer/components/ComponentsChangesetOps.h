#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentsChangeset.h"

#include <set>
#include <string>
#include <vector>

// Records one request mode for the components and radio groups named in a list. Components are
// recorded whatever their status; names not met are warned about in done() and, in a strict run,
// refused with a user error after the known names were recorded.
class ComponentsChangeset::MarkComponentsByName : public ComponentManager::Visitor {
public:
    // An empty product id matches every product.
    MarkComponentsByName(ComponentsChangeset* changeset, const std::string& productId,
                         const std::vector<std::string>& names, request_mode_t mode, bool explicitMark);

    void visit(const comp_ptr_t& component) override;
    // REQ_LEAVE and REQ_REMOVE reach every child, REQ_INSTALL only the effective one.
    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    void done() override;

private:
    void record(const comp_ptr_t& component);

    checked_pointer<ComponentsChangeset> changeset;
    std::string productId;
    request_mode_t mode;
    bool explicitMark;
    // Names not met yet.
    std::set<std::string> names;
};

// Records one request mode for every component under a part of the tree (select all, deselect
// all).
class ComponentsChangeset::MarkAllComponents {
public:
    // With skipHidden, a hidden component is marked only when it is installed and shown as such.
    MarkAllComponents(ComponentsChangeset* changeset, const std::string& productId, request_mode_t mode,
                      bool skipHidden, bool explicitMark);

    void mark(nodes_t::const_iterator first, nodes_t::const_iterator last);

private:
    void record(const comp_ptr_t& component);

    checked_pointer<ComponentsChangeset> changeset;
    std::string productId;
    request_mode_t mode;
    bool explicitMark;
    bool skipHidden;
};
