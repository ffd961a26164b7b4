#pragma once

#include "common/packages/Repository.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// Everything one run keeps while the component tree is built, in the order the run driver makes it.
struct LoadRun {
    // `installedCache`, when given, is a package cache text of the installed packages.
    LoadRun(const std::string& source, const std::string& target, const std::string& installedCache = "")
        : fetcher(source + "/", target), sources(&repository), patches(&fetcher, &components) {
        if (!installedCache.empty())
            addInstalled(installedCache);
        catalogue = std::make_unique<BuildManager>(fetcher, "");
        catalogue->calculateReleaseStates(&repository);
    }

    // Builds the tree of the selected releases; with `commit` the loader is committed before it goes.
    void loadTree(bool skipPagewright = false, bool commit = true) {
        BuildLoader loader(&repository, &components, &fetcher, &sources, &params, &patches, &guards);
        loader.skipPagewrightComponent = skipPagewright;
        catalogue->accept(loader);
        if (commit)
            loader.commit();
    }

    Repository repository;
    ComponentManager components;
    FileFetcher fetcher;
    SourceManager sources;
    ParamManager params;
    MicroUpdateManager patches;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> guards;
    std::unique_ptr<BuildManager> catalogue;

private:
    void addInstalled(const std::string& cache) {
        FILE* in = fopen(cache.c_str(), "re");
        if (!in)
            throw std::runtime_error("cannot read " + cache);
        repository.addFromCache(in, 's', Repository::DUPS_APPEND, nullptr);
        fclose(in);
    }
};

} // namespace testsupport
