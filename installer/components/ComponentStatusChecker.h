#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/components/AiComponent.h"

#include <cstdint>
#include <vector>

class Package;
class Repository;
class SystemSpecificConfigurator;
class Version;

// One status check of one component (AiComponent::checkInstalled): compares the key-package
// sections and the build packages with the installed packages and with what the source and the
// package manager can deliver.
class ComponentStatusChecker {
public:
    ComponentStatusChecker(AiComponent& component, const Repository* repository,
                           SystemSpecificConfigurator* configurator);

    void check();

private:
    // The highest build time and the highest version seen; they may come from different packages.
    struct Record {
        int64_t buildTime = 0;
        // Owned by a package, and packages outlive the run.
        const Version* version = nullptr;

        void update(const Package* package);
    };

    void checkKeypackages();
    void checkSection(const Component::keypackages_t& section);
    void checkBuildPackages();
    const Package* findInstalled(const std::string& name) const;
    const Package* findInstalledProvider(const std::string& capability) const;
    const Package* findAvailable(const std::string& name) const;
    bool hasOwnPackage(const Package* package) const;
    void addMissedBase(const Package* package);
    int status() const;
    void record(int mode);

    AiComponent& component;
    checked_pointer<const Repository> repository;
    SystemSpecificConfigurator* configurator;
    bool is_comp_installed_latest = false;
    bool is_comp_installed = false;
    bool is_comp_available = false;
    // Installed key packages that the build does not list.
    cpkgs_t missedBase;
    Record available;
    Record installed;
};
