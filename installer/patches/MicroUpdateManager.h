#pragma once

#include "common/runtime/ProgressValue.h"
#include "installer/patches/MUPatch.h"
#include "installer/sources/FileFetcher.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <list>
#include <memory>
#include <set>
#include <string>

class AiComponent;
class Build;
class BuildManager;
class ComponentManager;
class Installer;
class MUEntityFile;
class Repository;
class TiXmlElement;

// The run's knowledge of micro-update patches: it reads the patch lists of the loaded builds, decides
// which patches are to be applied, marks the components that have them, applies them after the
// package transaction, runs the post-patch actions and restarts the panel.
class MicroUpdateManager {
public:
    using patch_ptr = std::shared_ptr<MUPatch>;
    using patch_set = std::set<patch_ptr, MUPatchVersionLess>;
    using counter_ptr = std::shared_ptr<ProgressValue<unsigned long>>;

    // Kinds of an accepted patch.
    static constexpr int kind_new = 0;
    static constexpr int kind_reinstall = 1;
    static constexpr int kind_reinstall_older = 2;

    // The patches of one product release, by ascending version; never empty.
    struct ProductPatches {
        std::string productId;
        std::string productVersion;
        patch_set patches;
    };

    class Visitor {
    public:
        virtual ~Visitor() = default;
        virtual void visit(const patch_ptr& patch, const std::shared_ptr<AiComponent>& base, int kind) = 0;
    };

    // Which kinds were visited.
    class PatchesCheck : public Visitor {
    public:
        void visit(const patch_ptr& patch, const std::shared_ptr<AiComponent>& base, int kind) override;
        bool any() const { return visited[0] || visited[1] || visited[2]; }

        bool visited[3] = {false, false, false};
    };

    // Patch lists are fetched through `fetcher`, patch files through a copy of it.
    MicroUpdateManager(FileFetcher* fetcher, ComponentManager* components);
    MicroUpdateManager(const MicroUpdateManager&) = delete;
    MicroUpdateManager& operator=(const MicroUpdateManager&) = delete;
    // Saves the installed-patches database; failures are logged.
    ~MicroUpdateManager();

    // Reads the patch lists of a loaded build. An expired build is passed over.
    void loadPatches(const boost::weak_ptr<Build>& build);
    // Reads one patch list. Errors in its content are logged and end the list; a document that is not
    // XML or not a patch list raises tinybind::err.
    void parseUrl(const boost::shared_ptr<Build>& build, const std::string& path);

    // Visits the acceptable patches of the product (of every product for an empty id), oldest first.
    void accept(Visitor& visitor, const std::string& productId);
    void markComponentsWithMicroUpdates();
    bool needsPatch(const std::string& productId);
    // Whether some accepted patch is older than an installed one.
    bool isPatchUnsafe();
    void setForceReinstall(bool old);

    // Checks, fetches and applies the acceptable patches of one product, each pass over all of them.
    void apply(const Installer* installer, const Repository* repository, const std::string& productId);
    // The patch step of an installation; true when some product got patches.
    bool installPatches(const Installer* installer, const Repository* repository);
    // Registers the installed releases selected for the run and saves the database.
    void cleanInstalledMUDB(BuildManager* catalogue);

    // Empty when the product release has no patches.
    patch_ptr getLastPatch(const std::string& productId, const std::string& productVersion) const;
    patch_set getPatches(const std::string& productId, const std::string& productVersion) const;

    const std::list<ProductPatches>& getProducts() const { return products; }

private:
    void parsePackage(MUPatch& patch, const TiXmlElement* patchElement, const std::string& prefix);
    void parseItem(MUPatch& patch, const TiXmlElement* item, const std::string& prefix);
    void parse_file_entity(MUPatch& patch, const TiXmlElement* item, const std::string& prefix);
    static void parsePermissions(MUEntityFile& file, const TiXmlElement* permissions);
    void addPatch(const patch_ptr& patch);

    // Whether the entry's release is the one whose components are loaded.
    static bool isLoadedRelease(const ProductPatches& entry, const std::shared_ptr<AiComponent>& base);
    bool shouldInstall(const ProductPatches& entry, const std::shared_ptr<AiComponent>& base);
    void applyPostPatchActions(const std::string& productId, const boost::shared_ptr<Build>& build);
    static void restartPanel();
    static void warnNotCumulative(const ProductPatches& entry);

    FileFetcher* fetcher;
    FileFetcher patchFetcher;
    counter_ptr steps;
    counter_ptr files;
    ComponentManager* components;
    std::list<ProductPatches> products;
    bool forceReinstall = false;
    bool forceOld = false;
};
