#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

class BuildManager;

// The products of the catalogue, each once, in the order of their first release. With the upgrade
// command it fails after the table, so that the caller sees what to name.
class ProductsReporter : public Reporter {
public:
    explicit ProductsReporter(BuildManager* catalogue);

    std::ostream& put(std::ostream& out) const override;

private:
    checked_pointer<BuildManager> catalogue;
};
