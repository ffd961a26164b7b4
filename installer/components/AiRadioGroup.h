#pragma once

#include "installer/components/AiComponent.h"
#include "installer/components/AiGroup.h"

#include <string>
#include <utility>
#include <vector>

// The alternatives of one feature: components of which at most one is meant to be installed.
// Switch rules, when a group has them, restrict which alternatives an installed child may be
// switched to.
class AiRadioGroup : public AiGroup {
public:
    AiRadioGroup(const std::string& name, const std::string& description, boost::shared_ptr<Build> build,
                 const std::string& defaultName);
    ~AiRadioGroup() override;

    // '*' when a child will be installed under the process-wide changeset.
    char getStatusChar() const override;
    bool isEmpty() const override { return children.empty(); }

    void addChild(const comp_ptr_t& component);
    void addSwitch(const std::string& from, const std::string& to);

    // A null changeset means the process-wide one. The first child, in order, that will be
    // installed under it; empty when none.
    comp_ptr_t getWillBeInstalled(ComponentsChangeset* changeset = nullptr) const;
    bool hasWillBeInstalled(ComponentsChangeset* changeset = nullptr) const;
    // The child named as default, else the first child.
    comp_ptr_t getDefault() const;
    // The child that will be installed, else the default child.
    comp_ptr_t getEffective(ComponentsChangeset* changeset = nullptr) const;

    // Drops the alternatives that the switch rules do not allow from the installed child; needs
    // the installation states.
    void drop_not_allowed_switches();

    // Document order.
    std::vector<comp_ptr_t> children;
    // May name no child.
    std::string defaultName;
    // (from, to) component names, document order.
    std::vector<std::pair<std::string, std::string>> switches;
    bool hasSwitchRules = false;
};
