#pragma once

#include "installer/catalogue/BuildManager.h"
#include "installer/sources/FileFetcher.h"

#include <boost/shared_ptr.hpp>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class BuildMirror;

// Copies requested builds of an update server, with the add-on builds that fit them, into the
// fetcher's target directory. Walk the catalogue with it, then call update().
class Mirror : public BuildManager::Visitor {
public:
    // (release id, file name of a build description) pairs.
    using requested_t = std::vector<std::pair<std::string, std::string>>;

    Mirror(const FileFetcher& fetcher, requested_t requested);

    void visitRelease(boost::shared_ptr<Release> release) override;
    // Raises err_build_notfound when a pair of this release found no build.
    void leaveRelease(boost::shared_ptr<Release> release) override;
    void visitAddon(Addon& addon) override;
    void visitBuild(Build& build) override;

    // Raises err_rel_notfound, naming them, when pairs name releases the catalogue lacks; then
    // mirrors every collected build once.
    void update();

    void mirrorPatchList(BuildMirror& worker, const std::string& patch_list_path);

private:
    void requireKnownReleases() const;
    void mirrorBuild(const Build& build);

    FileFetcher fetcher;
    requested_t requested;
    boost::shared_ptr<Release> current;
    std::map<boost::shared_ptr<Release>, std::vector<const Build*>> builds;
    std::set<const Build*> addon_builds;
};
