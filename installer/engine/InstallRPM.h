#pragma once

#include "installer/components/ComponentManager.h"
#include "installer/engine/Installer.h"

#include <set>

// The back end of RPM systems without a package manager of their own: the plan comes from the
// installer's own resolver and is installed group by group through librpm.
class InstallRPM : public Installer {
public:
    // Keeps the packages of components that are not selected for install out of the plan's upgrades:
    // their build packages become thirdparty ones, which the resolver does not upgrade to by itself.
    class NotCheckedToUpdates : public ComponentManager::Visitor {
    public:
        explicit NotCheckedToUpdates(Repository* repository);
        void visit(const comp_ptr_t& component) override;
        void done() override;

    private:
        Repository* repository;
        std::set<const Package*> all;
        std::set<const Package*> selected;
    };

    using Installer::Installer;

    const cpkgs_t& resolveDependencies() override;
};
