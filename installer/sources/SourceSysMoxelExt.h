#pragma once

#include "common/packages/Source.h"

#include <vector>

class ComponentManager;
class ExtCatalogPackage;
class Package;
class Repository;

// The installed extensions as installed packages ('s'): a copy of each catalogue extension that the
// extension tool reports installed, with its installed version, and of each installed extension that
// the catalogue does not offer.
class SourceSysMoxelExt : public Source {
public:
    SourceSysMoxelExt(Repository* repository, ComponentManager* components);
    ~SourceSysMoxelExt() override;

    // Appends an installed copy of the package when the tool knows its installed version.
    void addInstalledCopy(const ExtCatalogPackage& package, std::vector<Package*>& copies);

protected:
    void doGetBrief() override;
    void doGetFull() override;

private:
    ComponentManager* components;
};
