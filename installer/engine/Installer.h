#pragma once

#include "common/packages/PkgManager.h"
#include "common/runtime/checked_pointer.h"

#include <memory>
#include <string>
#include <unordered_set>

class ComponentManager;
class GroupResolutions;
class Package;
class ProductsProgress;
class Repository;
class StageActions;
class SystemSpecificConfigurator;

// The installation back end of one run: it resolves the package plan, refuses downgrades, and
// carries the plan through download, the "prep" stage, the package transaction and the "post" stage.
// The base installs the plan group by group: each group is the next package together with the not
// yet installed packages it needs, run as one rpm transaction.
class Installer {
public:
    // The configurator may be null. `rpmRoot` is the root directory of the rpm transactions.
    Installer(Repository* repository, ComponentManager* componentManager,
              SystemSpecificConfigurator* configurator, StageActions& stages,
              const std::string& rpmRoot = "/");
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;
    virtual ~Installer();

    // Fills the bootstrapper packages and the main list; returns the main list.
    virtual const cpkgs_t& resolveDependencies() = 0;
    // Refuses a plan that would replace an installed package by an older version.
    virtual void checkPackages();
    // Download, extensions, "prep", the transaction, "post", extensions.
    virtual void install();
    // Installs or removes the packages of the list.
    virtual void installPackages(const cpkgs_t& list);

    const cpkgs_t& getPackages() const { return packages; }
    // The configurator keeps its persistent repository changes at the end of the run.
    void setCommitChanges();

protected:
    // One group as one rpm transaction.
    virtual void executeGroup(const cpkgs_t& group);
    virtual void installPrep();
    virtual void installPost();
    // Makes the packages of the main list available locally.
    virtual void download();

    // The next group of packages that can be installed together, from the first package of the
    // install list that is not installed yet.
    void prepareInstallStep(cpkgs_t& group, const cpkgs_t& installList, Repository& tiny,
                            GroupResolutions& resolutions);
    // Records the group as installed in the run's repository: what it obsoletes or upgrades goes.
    void updateSystemRepository(const cpkgs_t& group);

    checked_pointer<Repository> repository;
    checked_pointer<ComponentManager> componentManager;
    checked_pointer<SystemSpecificConfigurator> configurator;
    StageActions& stages;
    const std::string rpmRoot;
    cpkgs_t bootstrapperPackages;
    cpkgs_t packages;
    std::unique_ptr<ProductsProgress> productsProgress;

private:
    // Adds what the current package still needs to the group; when it needs nothing more, the group
    // becomes the package (with its twin) and is final: returns true.
    bool growGroup(cpkgs_t& group, std::unordered_set<const Package*>& members, const cpkgs_t& needed,
                   const Package* current, const Package* twin);
    // What the package and its twin need, by a fresh resolver over the tiny repository, retried while
    // the resolver black-lists its way to a solution.
    cpkgs_t resolveFor(Repository& tiny, const cpkgs_t& installList, const Package* package,
                       const Package* twin);
    // Progress, log and report lines of a group.
    void announceGroup(const cpkgs_t& group);
    void runTransaction(const cpkgs_t& group);
};
