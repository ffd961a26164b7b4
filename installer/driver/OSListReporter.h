#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

class BuildManager;

// The operating systems for which the selected releases have builds, with each build's description
// file. Text only.
class OSListReporter : public Reporter {
public:
    explicit OSListReporter(BuildManager* catalogue);

    std::ostream& put(std::ostream& out) const override;

private:
    checked_pointer<BuildManager> catalogue;
};
