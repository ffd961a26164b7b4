#pragma once

// One installer run as far as patches go, on a source location: the catalogue, the component tree of
// the selected Moxel release with its installed state from dpkg, and the micro-update manager, made
// in the order the run driver makes them.

#include "common/packages/Repository.h"
#include "common/packages/SourceSysDeb.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ParamManager.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct PatchRun {
    // `source` ends in '/'.
    PatchRun(const std::string& source, const std::string& target)
        : dpkg(&repository), fetcher(source, target), sources(&repository), patches(&fetcher, &components) {
        repository.getBrief();
        catalogue = std::make_unique<BuildManager>(fetcher, "");
        catalogue->calculateReleaseStates(&repository);
        catalogue->removeNotActualReleases();
        catalogue->selectRelease("moxel", "moxel-18.0.1");
        {
            BuildLoader loader(&repository, &components, &fetcher, &sources, &params, &patches, &guards);
            catalogue->accept(loader);
            loader.commit();
        }
        ComponentManager::PreparePackagesList keyNames;
        components.accept(keyNames);
        ComponentManager::CheckInstalled installedState(&repository, nullptr);
        components.accept(installedState);
        patches.markComponentsWithMicroUpdates();
    }

    Repository repository;
    SourceSysDeb dpkg;
    FileFetcher fetcher;
    std::unique_ptr<BuildManager> catalogue;
    ComponentManager components;
    SourceManager sources;
    ParamManager params;
    MicroUpdateManager patches;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> guards;
};

} // namespace testsupport
