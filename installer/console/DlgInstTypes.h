#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/console/Dialog.h"

#include <string>
#include <utility>
#include <vector>

class BuildManager;
class ComponentManager;

// The installation type chosen per product.
class DlgInstTypes : public Dialog {
public:
    // (product id, installation type name)
    using Selection = std::pair<std::string, std::string>;

    // Every product of the manager's installation types starts with its first type.
    DlgInstTypes(BuildManager* catalogue, ComponentManager* manager);

    // The pair of the product; null when it has none.
    const Selection* findSelection(const std::string& productId) const;
    // The pair of the product, appended with an empty type name when it has none.
    Selection& selectionFor(const std::string& productId);

    std::vector<Selection> selections;
    // The user asked for the components page of every product.
    bool customize = false;

protected:
    checked_pointer<ComponentManager> manager;
    BuildManager* catalogue;
};
