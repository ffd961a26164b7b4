#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

class BuildManager;

// The releases a run is about to change and the installed ones, as plain text for the error report.
class ToInstallReleasesReporter : public Reporter {
public:
    explicit ToInstallReleasesReporter(BuildManager* catalogue);

    std::ostream& put(std::ostream& out) const override;

private:
    checked_pointer<BuildManager> catalogue;
};
