#pragma once

#include "common/packages/PkgManager.h"
#include "installer/console/Dialog.h"

class Repository;

// The planned packages, counted as installations, upgrades and removals.
class DlgPackages : public Dialog {
public:
    DlgPackages(const cpkgs_t* packages, Repository* repository);

    int installCount = 0;
    int upgradeCount = 0;
    int removeCount = 0;

protected:
    const cpkgs_t* packages;
    Repository* repository;
};
