#include "installer/console/DlgPackages.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"

DlgPackages::DlgPackages(const cpkgs_t* packages, Repository* repository)
    : packages(packages), repository(repository) {
    for (const Package* package : *packages) {
        if (isRemoverPackage(package))
            ++removeCount;
        else if (repository->findInstalled(package->getName()))
            ++upgradeCount;
        else if (package->getType() != 'd')
            ++installCount;
    }
}
