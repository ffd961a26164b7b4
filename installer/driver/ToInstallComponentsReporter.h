#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

class ComponentManager;

// Each component with its request, state and versions, as plain text for the error report.
class ToInstallComponentsReporter : public Reporter {
public:
    explicit ToInstallComponentsReporter(ComponentManager* components);

    std::ostream& put(std::ostream& out) const override;

private:
    checked_pointer<ComponentManager> components;
};
