#include "installer/engine/RepositoryProcessor.h"

#include "common/runtime/Log.h"
#include "installer/catalogue/Build.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "installer/sources/SourceDistMoxel.h"
#include "installer/sources/SourceManager.h"

#include <algorithm>
#include <set>

RepositoryProcessor::RepositoryProcessor(Repository* /*repository*/, FileFetcher* fetcher,
                                         SourceManager* sources, SystemSpecificConfigurator* configurator)
    : fetcher(fetcher), sources(sources), configurator(configurator) {
    Log::stream(3, true)
        << "DEBUG: Determining components that need to be obtained from addons repositories...";
}

void RepositoryProcessor::visit(const comp_ptr_t& component) {
    auto entry = std::find_if(needed.begin(), needed.end(),
                              [&](const auto& known) { return known.first == component->build; });
    if (entry == needed.end())
        entry = needed.insert(needed.end(), {component->build, false});
    if (component->willBeInstalled())
        entry->second = true;
}

void RepositoryProcessor::done() {
    std::set<Build*> withSources;
    for (const auto& source : sources->getSources())
        if (const auto dist = boost::dynamic_pointer_cast<SourceDistMoxel>(source))
            withSources.insert(dist->getBuild().get());

    bool changed = false;
    for (const auto& entry : needed) {
        const boost::shared_ptr<Build>& build = entry.first;
        const bool hasSources = withSources.count(build.get()) != 0;
        if (entry.second && !hasSources) {
            Log::stream(3, true) << "DEBUG: activating repositories from " << *build << ".";
            sources->addBuildSources(fetcher, build);
            changed = true;
        } else if (!entry.second && hasSources) {
            Log::stream(3, true) << "DEBUG: deactivating repositories from " << *build << ".";
            sources->dropBuildSources(build);
            changed = true;
        }
    }
    if (changed && configurator) {
        Log::stream(2, true) << "Info: dynamic components selection was changed, reconfiguring sources.";
        configurator->reconfigureSources();
    }
}
