#pragma once

#include "installer/components/AiComponent.h"
#include "installer/console/Dialog.h"

#include <set>
#include <string>

class ComponentManager;

// The selection of components in the component trees.
class DlgComponents : public Dialog {
public:
    // Selects the base component when it is not installed yet and marks what required components need.
    explicit DlgComponents(ComponentManager* manager);

    // Moves the component to the next state of its cycle and applies it, asking the user about the
    // consequences first.
    void toggleComponent(const comp_ptr_t& component);

    // Products whose components the page shows.
    std::set<std::string> productIds;

protected:
    ComponentManager* manager;
};
