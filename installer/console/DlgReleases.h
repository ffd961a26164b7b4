#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/console/Dialog.h"

class BuildManager;
class DlgAdvSettings;
class Repository;

// The choice of products and their releases.
class DlgReleases : public Dialog {
public:
    DlgReleases(BuildManager* catalogue, Repository* repository)
        : catalogue(catalogue), repository(repository) {}

    // Whether the chosen releases may be taken forward: something is chosen, every upgrade is
    // confirmed and the compatibility check raises no error or an accepted warning. Asks and tells
    // the user through dialogs of its own.
    bool canContinue();

    // Not owned; empty when the page has no settings display.
    DlgAdvSettings* settingsDialog = nullptr;

protected:
    BuildManager* catalogue;
    checked_pointer<Repository> repository;
};
