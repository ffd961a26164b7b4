#pragma once

// Recording doubles of the installation stages and a back end that takes its plan from the test.

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/error.h"
#include "installer/driver/auto_configurator.h"
#include "installer/engine/Installer.h"
#include "installer/engine/StageActions.h"

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace enginetest {

// Appends one line per call to a shared trace; sequences named in `failing` report failure.
class RecordingStages : public StageActions {
public:
    explicit RecordingStages(std::vector<std::string>& trace) : trace(trace) {}

    bool performActions(const std::string& sequence) override {
        trace.push_back("actions " + sequence);
        return failing.count(sequence) == 0;
    }
    bool performPkgsFailureActions() override {
        trace.push_back("actions pkgs rollback");
        return true;
    }
    void reportProgressStep(const std::string& step, const std::string& text) override {
        trace.push_back("step " + step + ": " + text);
    }
    void removeExtensions(const cpkgs_t& plan) override {
        trace.push_back("remove extensions of " + count(plan));
    }
    void installExtensions(const cpkgs_t& plan) override {
        trace.push_back("install extensions of " + count(plan));
    }

    std::set<std::string> failing;

private:
    static std::string count(const cpkgs_t& plan) { return std::to_string(plan.size()); }

    std::vector<std::string>& trace;
};

// Names, with the architecture when it is not "noarch".
inline std::string names(const cpkgs_t& packages) {
    std::ostringstream text;
    for (size_t i = 0; i < packages.size(); ++i) {
        text << (i ? " " : "") << packages[i]->getName().str();
        const std::string arch = packages[i]->getArch().str();
        if (!arch.empty() && arch != "noarch")
            text << "." << arch;
    }
    return text.str();
}

// The plan is the test's; groups run through the base class's rpm step unless `recordGroups`.
class PlannedInstaller : public Installer {
public:
    PlannedInstaller(Repository* repository, StageActions& stages, std::vector<std::string>& trace,
                     SystemSpecificConfigurator* configurator = nullptr, const std::string& rpmRoot = "/")
        : Installer(repository, nullptr, configurator, stages, rpmRoot), trace(trace) {}

    // One group through the base class's rpm step.
    void runGroup(const cpkgs_t& group) { Installer::executeGroup(group); }

    const cpkgs_t& resolveDependencies() override {
        packages = plan;
        bootstrapperPackages = bootstrapper;
        return packages;
    }

    cpkgs_t plan;
    cpkgs_t bootstrapper;
    bool recordGroups = true;
    // The group that starts with a package of this name fails.
    std::string failingGroup;
    bool failingDownload = false;

protected:
    void download() override {
        if (failingDownload)
            throw error(error::repository, 1, 1, 2) << "the update server is gone";
        trace.push_back("download");
    }
    void executeGroup(const cpkgs_t& group) override {
        if (!recordGroups)
            return Installer::executeGroup(group);
        trace.push_back("group " + names(group));
        if (group.front()->getName().str() == failingGroup)
            throw error(error::packages, 1, 2, 2) << "transaction of " << failingGroup << " failed";
    }

    std::vector<std::string>& trace;
};

// Counts reconfigurations; may settle versions as yum and apt do; offers no back end of its own.
class RecordingConfigurator : public driver::auto_configurator::DummyConfigurator {
public:
    void reconfigureSources() override { ++reconfigured; }
    bool settlesVersions() const override { return settling; }

    int reconfigured = 0;
    bool settling = false;
};

// Packages that outlive every repository of the test.
class PackageStore {
public:
    Package* add(Repository& repository, const std::string& name, const std::string& version,
                 Package::type_t type, const std::vector<std::string>& requires = {},
                 const std::string& arch = "noarch") {
        owned.push_back(std::make_unique<Package>(name, version));
        Package* package = owned.back().get();
        package->setType(type);
        package->setArch(arch);
        package->addProvide(package->getSelfProvide());
        for (const std::string& requirement : requires)
            package->addRequire(requirement);
        repository.addPackage(package, nullptr);
        return package;
    }

private:
    std::vector<std::unique_ptr<Package>> owned;
};

} // namespace enginetest
