#include "installer/patches/MicroUpdateManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/PatchingProgressRenderer.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "installer/engine/Bootstrapper.h"
#include "installer/patches/MUInstalledDB.h"

namespace {

const char* const panelInitScript = "/etc/init.d/zeq";

using comp_ptr = std::shared_ptr<AiComponent>;
using patch_ptr = MicroUpdateManager::patch_ptr;

class Mark : public MicroUpdateManager::Visitor {
public:
    void visit(const patch_ptr&, const comp_ptr& base, int) override {
        Log::stream(3, true) << "DEBUG: MicroUpdateManager::markComponentsWithMicroUpdates: mark "
                             << base->name << " " << base->getDescription();
        base->setMicroUpdateAvailable();
    }
};

class Check : public MicroUpdateManager::Visitor {
public:
    void visit(const patch_ptr& patch, const comp_ptr&, int) override { patch->check(); }
};

class Prepare : public MicroUpdateManager::Visitor {
public:
    void visit(const patch_ptr& patch, const comp_ptr&, int) override { patch->prepare(); }
};

class Apply : public MicroUpdateManager::Visitor {
public:
    void visit(const patch_ptr& patch, const comp_ptr& base, int) override {
        const std::string name = base->name + " patches";
        ProductsProgress* progress = ProductsProgress::instance();
        if (progress)
            progress->add_product_package(base->getRelease(), name);
        patch->apply();
        if (progress)
            progress->set_progress(3, name);
    }
};

// Registers the installed releases selected for the run.
class V : public BuildManager::Visitor {
public:
    explicit V(MUInstalledDB& database) : database(database) {}
    void visitRelease(boost::shared_ptr<Release> release) override {
        if (release->_selected && release->isCurrentlyInstalled())
            database.registerProduct(release->prod()->_id, release->_version.toString());
    }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

private:
    MUInstalledDB& database;
};

// The patch is not the newest of its entry and has items.
bool isNonEmptyOlder(const patch_ptr& patch, const MicroUpdateManager::ProductPatches& entry) {
    return !patch->getItems().empty() && patch != *entry.patches.rbegin();
}

} // namespace

void MicroUpdateManager::PatchesCheck::visit(const patch_ptr&, const comp_ptr&, int kind) {
    if (kind >= 0 && kind < 3)
        visited[kind] = true;
}

MicroUpdateManager::MicroUpdateManager(FileFetcher* fetcher, ComponentManager* components)
    : fetcher(fetcher), patchFetcher(*fetcher), steps(std::make_shared<ProgressValue<unsigned long>>()),
      files(std::make_shared<ProgressValue<unsigned long>>()), components(components) {
    if (Options::instance().reinstallPatch)
        setForceReinstall(true);
}

MicroUpdateManager::~MicroUpdateManager() {
    Log::stream(3, true) << "MicroUpdateManager::~MicroUpdateManager entry";
    const char* const failed = "Error: failed to read or save microupdates.xml: ";
    try {
        MUInstalledDB::instance().flush();
    } catch (const error& e) {
        Log::stream(1, true) << failed << e.getText();
    } catch (const tinybind::err& e) {
        Log::stream(1, true) << failed << e.text;
    } catch (...) {
        Log::stream(1, true) << failed << "unexpected error";
    }
}

void MicroUpdateManager::loadPatches(const boost::weak_ptr<Build>& build) {
    const boost::shared_ptr<Build> loaded = build.lock();
    if (!loaded)
        return;
    for (const std::string& path : loaded->_patches)
        parseUrl(loaded, path);
}

void MicroUpdateManager::addPatch(const patch_ptr& patch) {
    for (ProductPatches& entry : products) {
        if (entry.productId == patch->getProductId() && entry.productVersion == patch->getProductVersion()) {
            entry.patches.insert(patch);
            return;
        }
    }
    products.push_back(ProductPatches{patch->getProductId(), patch->getProductVersion(), {patch}});
}

bool MicroUpdateManager::isLoadedRelease(const ProductPatches& entry, const comp_ptr& base) {
    return base->getRelease()->_version == Version(entry.productVersion);
}

void MicroUpdateManager::accept(Visitor& visitor, const std::string& productId) {
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::accept entry: iterate patches";
    MUInstalledDB& database = MUInstalledDB::instance();
    for (const ProductPatches& entry : products) {
        if (!productId.empty() && entry.productId != productId)
            continue;
        const comp_ptr base = components->getBaseComponent(entry.productId);
        if (!isLoadedRelease(entry, base)) {
            Log::stream(2, true) << "Skip patches for product " << entry.productId << "-"
                                 << entry.productVersion << "because loaded components for release version "
                                 << base->getRelease()->_version;
            continue;
        }
        Log::stream(3, true) << "DEBUG: MicroUpdateManager::accept: iterate patches for " << entry.productId
                             << "-" << entry.productVersion;
        for (const patch_ptr& patch : entry.patches) {
            const std::string text = patch->toString();
            int kind = kind_new;
            if (!database.isInstalledOrNewer(*patch)) {
                Log::stream(3, true) << "DEBUG: patch " << text << " not installed, accept.";
            } else if (forceReinstall && database.isInstalled(*patch)) {
                Log::stream(3, true) << "DEBUG: accept patch " << text << " because force_reinstall.";
                kind = kind_reinstall;
            } else if (forceReinstall && forceOld) {
                Log::stream(3, true) << "DEBUG: accept patch " << text
                                     << " because --reinstall-patch forces reinstallation of old patches";
                kind = kind_reinstall_older;
            } else if (forceReinstall) {
                Log::stream(3, true) << "DEBUG: patch " << text
                                     << " is older than already installed, skip it";
                continue;
            } else {
                Log::stream(3, true) << "DEBUG: patch " << text << " is already installed, skip it.";
                continue;
            }
            if (isNonEmptyOlder(patch, entry))
                Log::stream(3, true) << "DEBUG: Warning: product " << entry.productId << "-"
                                     << entry.productVersion << " contains non-empty patch "
                                     << patch->getVersion().getVersionWithEpoch()
                                     << " that is not last (among " << entry.patches.size()
                                     << " patches). Will process it anyway.";
            visitor.visit(patch, base, kind);
        }
    }
}

void MicroUpdateManager::markComponentsWithMicroUpdates() {
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::markComponentsWithMicroUpdates entry";
    if (products.empty())
        Log::stream(3, true) << "No any patches";
    Mark mark;
    accept(mark, "");
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::markComponentsWithMicroUpdates exit";
}

bool MicroUpdateManager::needsPatch(const std::string& productId) {
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::needsPatch entry";
    PatchesCheck check;
    accept(check, productId);
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::needsPatch(" << productId << "): exited with "
                         << check.any();
    return check.any();
}

bool MicroUpdateManager::isPatchUnsafe() {
    const bool previous = forceOld;
    forceOld = true;
    PatchesCheck check;
    try {
        accept(check, "");
    } catch (...) {
        forceOld = previous;
        throw;
    }
    forceOld = previous;
    Log::stream(3, true) << "DEBUG: MicroUpdateManager::isPatchUnsafe: exited with " << check.visited[2];
    return check.visited[2];
}

void MicroUpdateManager::setForceReinstall(bool old) {
    Log::stream(3, true) << "DEBUG: set force reinstall patches flag" << (old ? " (force_old)" : "");
    forceReinstall = true;
    if (old)
        forceOld = true;
}

void MicroUpdateManager::warnNotCumulative(const ProductPatches& entry) {
    for (const patch_ptr& patch : entry.patches) {
        if (isNonEmptyOlder(patch, entry)) {
            Log::stream(2, true) << "Warning: patch for product " << entry.productId << "-"
                                 << entry.productVersion << " is not cumulative";
            return;
        }
    }
}

void MicroUpdateManager::apply(const Installer*, const Repository*, const std::string& productId) {
    for (const ProductPatches& entry : products)
        warnNotCumulative(entry);

    patchFetcher.addProgressObserver(files);
    const std::shared_ptr<PatchingProgressRenderer> renderer = PatchingProgressRenderer::create();
    renderer->setProgress(steps);

    Check check;
    accept(check, productId);
    Prepare prepare;
    accept(prepare, productId);
    Apply apply;
    accept(apply, productId);
}

bool MicroUpdateManager::shouldInstall(const ProductPatches& entry, const comp_ptr& base) {
    const std::string installed = base->getLocalVersion();
    const std::string server = base->getServerVersion();
    const bool upgraded = base->isMarkedForInstall();
    Log::stream(3, true) << "DEBUG: " << base->name << " v." << installed << " was installed, and we "
                         << (upgraded ? "did" : "did not") << " upgrade to v." << server;

    const char* reason = nullptr;
    if (!base->getRelease()->isCurrentlyInstalled())
        reason = " will not be installed since the product is not installed.";
    else if (!upgraded && installed != server)
        reason = " will not be installed since the product is not up-to-date.";
    else if (!needsPatch(entry.productId))
        reason = " will not be installed since it is already applied.";
    if (reason)
        Log::stream(1, true) << "Patch for " << entry.productId << " " << entry.productVersion << reason;
    return !reason;
}

bool MicroUpdateManager::installPatches(const Installer* installer, const Repository* repository) {
    if (Options::instance().skipPatch) {
        Log::stream(1, true) << "Patches will not be installed since --skip-patch option was specified.";
        return false;
    }
    bool installed = false;
    for (const ProductPatches& entry : products) {
        const comp_ptr base = components->getBaseComponent(entry.productId);
        if (!isLoadedRelease(entry, base)) {
            Log::stream(2, true)
                << "Skip patches for product " << entry.productId << "-" << entry.productVersion
                << "because components were loaded for other product version or not loaded at all.";
            continue;
        }
        if (!shouldInstall(entry, base))
            continue;
        Log::stream(1, true) << "Patch for " << entry.productId << " " << entry.productVersion
                             << " will be installed.";
        if (!installed)
            Log::stream(0, true) << Messages().getMessage("process_install_patches");
        installed = true;
        apply(installer, repository, entry.productId);
        applyPostPatchActions(entry.productId, base->build);
    }
    if (installed) {
        MUInstalledDB::instance().flush();
        restartPanel();
        Log::stream(0, true) << "\n" << Messages().getMessage("process_patches_installed");
    }
    return installed;
}

void MicroUpdateManager::applyPostPatchActions(const std::string& productId,
                                               const boost::shared_ptr<Build>& build) {
    const std::string version = build->_parent->_version.toString();
    const MUInstalledDB::PatchRecord* last = MUInstalledDB::instance().lastPatch(productId, version);
    if (!last)
        Log::stream(2, true) << "Warning: apply post-mu actions for product " << productId
                             << " but patch was not found";
    const std::vector<boost::shared_ptr<Bootstrapper::Action>> actions = build->_bootstrapper_actions;
    for (const boost::shared_ptr<Bootstrapper::Action>& action : actions) {
        if (action->sequence != Bootstrapper::sequencePostPatch)
            continue;
        const boost::shared_ptr<Bootstrapper::Action> copy = action->clone();
        if (last)
            copy->replaceInCommand("$MICROUPDATE_VERSION",
                                   util::shell_quote(last->version.getVersionWithEpoch()));
        copy->execute();
    }
}

void MicroUpdateManager::restartPanel() {
    if (fileops::exists(panelInitScript))
        exec::run_command(std::string(panelInitScript) + " restart", false, false, nullptr, nullptr);
}

void MicroUpdateManager::cleanInstalledMUDB(BuildManager* catalogue) {
    MUInstalledDB& database = MUInstalledDB::instance();
    V registrar(database);
    catalogue->accept(registrar);
    database.flush();
}

MicroUpdateManager::patch_ptr MicroUpdateManager::getLastPatch(const std::string& productId,
                                                               const std::string& productVersion) const {
    const patch_set found = getPatches(productId, productVersion);
    return found.empty() ? patch_ptr() : *found.rbegin();
}

MicroUpdateManager::patch_set MicroUpdateManager::getPatches(const std::string& productId,
                                                             const std::string& productVersion) const {
    for (const ProductPatches& entry : products)
        if (entry.productId == productId && entry.productVersion == productVersion)
            return entry.patches;
    return {};
}
