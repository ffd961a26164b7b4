#pragma once

#include "installer/engine/Installer.h"

#include <set>
#include <string>

class YumConfigurator;

// The back end of yum and dnf systems: the helper script that the configurator writes out settles
// the plan in solve mode and installs it in one transaction in perform mode.
class InstallYum : public Installer {
public:
    // Raises an internal error for any other configurator.
    InstallYum(Repository* repository, ComponentManager* componentManager,
               SystemSpecificConfigurator* configurator, StageActions& stages);

    const cpkgs_t& resolveDependencies() override;
    void installPackages(const cpkgs_t& list) override;

    struct Specs {
        // Name, or name@arch.
        std::set<std::string> install;
        std::set<std::string> remove;
    };
    Specs collectPackageSpecs(const cpkgs_t& list) const;
    // The helper's command line, every argument quoted; `mode` is "-s" or "-p".
    std::string buildHelperCommand(const std::string& mode, const Specs& specs) const;

protected:
    // The helper downloads during the transaction.
    void download() override {}

private:
    YumConfigurator* yumConfigurator;
};
