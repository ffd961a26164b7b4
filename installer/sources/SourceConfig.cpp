#include "installer/sources/SourceConfig.h"

#include "common/packages/Repository.h"

SourceConfig::SourceConfig(Repository* repository) : Source(repository) {}

SourceConfig::~SourceConfig() = default;

void SourceConfig::addPackage(Package* package) {
    if (Repository* repository = getRepository())
        repository->addPackage(package, this);
}

void SourceConfig::doGetBrief() {}

void SourceConfig::doGetFull() {
    removePackages();
}
