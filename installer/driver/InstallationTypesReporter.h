#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

class ComponentManager;

// The installation types (presets) that each loaded product offers.
class InstallationTypesReporter : public Reporter {
public:
    explicit InstallationTypesReporter(ComponentManager* components);

    std::ostream& put(std::ostream& out) const override;

private:
    checked_pointer<ComponentManager> components;
};
