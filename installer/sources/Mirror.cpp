#include "installer/sources/Mirror.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Release.h"
#include "installer/sources/BuildMirror.h"

#include <tinyxml.h>

#include <algorithm>

namespace {

const char* const unit = "installer/Mirror";

Opsys opsysOf(const Build& build) {
    return Opsys(build._os_name, build._os_vendor, build._os_version, build._os_arch, build._environment);
}

} // namespace

Mirror::Mirror(const FileFetcher& fetcher, requested_t requested)
    : fetcher(fetcher), requested(std::move(requested)) {}

void Mirror::visitRelease(boost::shared_ptr<Release> release) {
    current = release;
}

void Mirror::visitBuild(Build& build) {
    const auto key = std::make_pair(current->_id, fileops::basename(build._config));
    const auto found = std::find(requested.begin(), requested.end(), key);
    if (found == requested.end())
        return;
    requested.erase(found);
    builds[current].push_back(&build);
}

void Mirror::leaveRelease(boost::shared_ptr<Release> release) {
    bool missing = false;
    for (const auto& pair : requested) {
        if (pair.first != release->_id)
            continue;
        Log::stream(0, true) << "Unable to find build " << pair.second << " in release " << pair.first;
        missing = true;
    }
    if (missing)
        throw error(error::user, 1, 1, 2) << Messages().getMessage("err_build_notfound");
}

void Mirror::visitAddon(Addon& addon) {
    Log::stream(3, true) << "DEBUG: mirror: visit addon " << addon;
    requireKnownReleases();
    for (const auto& entry : builds) {
        if (!addon.applicableTo(*entry.first))
            continue;
        Log::stream(3, true) << "DEBUG: do mirror for " << addon;
        for (const Build* build : entry.second) {
            const Opsys os = opsysOf(*build);
            Log::stream(3, true) << "DEBUG: iterate " << *build << " (opsys " << os << ")";
            const boost::shared_ptr<Build> best = addon._builds.getBestBuild(os);
            if (!best) {
                Log::stream(3, true) << "DEBUG: no build for " << os << " in " << addon;
                continue;
            }
            addon_builds.insert(best.get());
            Log::stream(3, true) << "DEBUG: build " << *best << " added to 'addons_to_mirror'";
        }
    }
}

// Pairs left after the releases were walked name releases the catalogue does not have.
void Mirror::requireKnownReleases() const {
    if (requested.empty())
        return;
    std::vector<std::string> ids;
    for (const auto& pair : requested)
        if (std::find(ids.begin(), ids.end(), pair.first) == ids.end())
            ids.push_back(pair.first);
    Messages messages;
    error failure(error::user, 1, 1, 2);
    failure << messages.getMessage("err_rel_notfound");
    // Lines print last first: these follow the main text in request order.
    for (const std::string& id : ids)
        failure.prependLine(0, 0, 0, 0) << messages.format("err_opt_no_rel_id", id);
    throw failure;
}

void Mirror::update() {
    requireKnownReleases();
    std::set<const Build*> done;
    for (const auto& entry : builds)
        for (const Build* build : entry.second)
            if (done.insert(build).second)
                mirrorBuild(*build);
    for (const Build* build : addon_builds)
        if (done.insert(build).second)
            mirrorBuild(*build);
}

void Mirror::mirrorBuild(const Build& build) {
    BuildMirror worker(fetcher, build._config, build._base_dir);
    for (const std::string& patches : build._patches)
        mirrorPatchList(worker, patches);
    worker.run();
}

void Mirror::mirrorPatchList(BuildMirror& worker, const std::string& patch_list_path) {
    FileFetcher files(worker.getFetcher());
    const std::string local = files.getFile(patch_list_path);
    files.addSubdirOffset(fileops::dirname(patch_list_path));
    tinybind::Document document(local);
    const TiXmlElement* root = document.root("patches");
    for (const TiXmlElement* product = root->FirstChildElement("product"); product;
         product = product->NextSiblingElement("product")) {
        for (const TiXmlElement* patch = product->FirstChildElement("patch"); patch;
             patch = patch->NextSiblingElement("patch")) {
            const TiXmlElement* package = patch->FirstChildElement("package");
            if (!package)
                throw internal_error(unit, 474);
            for (const TiXmlElement* item = package->FirstChildElement("file"); item;
                 item = item->NextSiblingElement("file")) {
                const char* name = item->Attribute("name");
                files.getFile(name ? name : "");
            }
        }
    }
}
