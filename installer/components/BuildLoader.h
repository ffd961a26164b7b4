#pragma once

#include "common/runtime/error.h"
#include "installer/catalogue/BuildInfFile.h"
#include "installer/catalogue/BuildManager.h"

#include <boost/shared_ptr.hpp>
#include <boost/smart_ptr/owner_less.hpp>
#include <boost/weak_ptr.hpp>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class AiComponent;
class AiGroup;
class ComponentManager;
class FileFetcher;
class MicroUpdateManager;
class ParamManager;
class ProductInf3FileGuard;
class Repository;
class SourceConfig;
class SourceConfigLazyAddon;
class SourceManager;

// Turns the selected releases of the catalogue and the add-ons that fit them into the component tree.
// Used in one fixed sequence: construct, set skipPagewrightComponent when needed, walk the catalogue
// with it, commit, destroy. Whatever it registered with its collaborators stays there, also when the
// walk fails.
class BuildLoader : public BuildManager::Visitor {
public:
    // The error that stopped loading a release or an add-on merged into it, and that release.
    class ErrLoadRelease : public error {
    public:
        ErrLoadRelease(const error& cause, const boost::weak_ptr<Release>& release);

        boost::weak_ptr<Release> getRelease() const { return release; }

    private:
        boost::weak_ptr<Release> release;
    };

    // The file guards go to the caller's list, which keeps them for the rest of the run.
    BuildLoader(Repository* repository, ComponentManager* componentManager, FileFetcher* fetcher,
                SourceManager* sourceManager, ParamManager* paramManager,
                MicroUpdateManager* microUpdateManager,
                std::vector<boost::shared_ptr<ProductInf3FileGuard>>* fileGuards);
    BuildLoader(const BuildLoader&) = delete;
    BuildLoader& operator=(const BuildLoader&) = delete;
    // Warns when commit never ran.
    ~BuildLoader() override;

    // Loads the best build of a selected release; others are passed over.
    void visitRelease(boost::shared_ptr<Release> release) override;
    void leaveRelease(boost::shared_ptr<Release> release) override;
    // Merges the add-on's best build into the first visited release it applies to.
    void visitAddon(Addon& addon) override;
    void visitBuild(Build& build) override;

    // Groups the loaded components and hands the top-level nodes to the component manager.
    void commit();

    // Leaves out the component "pagewright" of the product "moxel": set when the site-builder product
    // itself is selected.
    bool skipPagewrightComponent = false;

private:
    enum build_kind_t { kind_release = 0, kind_addon = 1, kind_lazy_addon = 2 };

    struct loaded_component_t {
        std::shared_ptr<AiComponent> node;
        bool grouped;
    };

    // Fetches the build's description under a file guard and attaches it to the build.
    void readDescription(const boost::shared_ptr<Build>& build);
    void loadBuild(const boost::shared_ptr<Build>& build, build_kind_t kind, SourceConfig* source);
    void loadBootstrapper(const boost::shared_ptr<Build>& build, SourceConfig* source);
    void loadComponents(const boost::shared_ptr<Build>& build, build_kind_t kind, SourceConfig* source);
    // The types of a release build for a clean installation, then the built-in "Full" and "Custom".
    void addInstallationTypes(const boost::shared_ptr<Build>& build);
    std::shared_ptr<AiGroup> makeGroup(const BuildInfFile::group_t& group,
                                       const boost::shared_ptr<Build>& build, const std::string& productId);
    // The first loaded entry of that component name and product, or null.
    loaded_component_t* findLoaded(const std::string& name, const std::string& productId);

    Repository* repository;
    ComponentManager* componentManager;
    FileFetcher* fetcher;
    SourceManager* sourceManager;
    ParamManager* paramManager;
    MicroUpdateManager* microUpdateManager;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>>* fileGuards;
    // Owns the packages that the descriptions of releases and ordinary add-ons name.
    SourceConfig* configSource;
    std::map<boost::shared_ptr<Build>, SourceConfigLazyAddon*, boost::owner_less<boost::shared_ptr<Build>>>
        lazySources;
    bool committed = false;
    // As the release description read last asks.
    bool feedbackRequested = false;
    std::vector<loaded_component_t> loadedComponents;
    std::vector<std::shared_ptr<AiGroup>> groupNodes;
    std::set<std::string> removerNames;
    std::vector<boost::shared_ptr<Release>> visitedReleases;
    std::vector<boost::shared_ptr<Build>> loadedBuilds;
};
