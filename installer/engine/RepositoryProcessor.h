#pragma once

#include "installer/components/ComponentManager.h"

#include <boost/shared_ptr.hpp>

#include <utility>
#include <vector>

class Build;
class FileFetcher;
class Repository;
class SourceManager;
class SystemSpecificConfigurator;

// Walked over the component tree whenever the selection may have changed: the sources of every build
// with a component to install are added, those of builds without one dropped, and the package
// manager is reconfigured when anything changed.
class RepositoryProcessor : public ComponentManager::Visitor {
public:
    // The configurator may be null. The repository is part of the visitor's contract but not read.
    RepositoryProcessor(Repository* repository, FileFetcher* fetcher, SourceManager* sources,
                        SystemSpecificConfigurator* configurator);

    void visit(const comp_ptr_t& component) override;
    void done() override;

private:
    FileFetcher* fetcher;
    SourceManager* sources;
    SystemSpecificConfigurator* configurator;
    // Each build of the tree, in the order first met, and whether a component of it will be installed.
    std::vector<std::pair<boost::shared_ptr<Build>, bool>> needed;
};
