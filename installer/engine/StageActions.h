#pragma once

#include "common/packages/PkgManager.h"

#include <string>

// What the installation stages run besides the package transaction: the bootstrapper actions of the
// run's component tree, the shared progress step with its log line, and the extension packages of
// the plan.
class StageActions {
public:
    virtual ~StageActions() = default;

    // The execute actions of the sequence, then its commit or rollback actions; false when a
    // critical execute action failed.
    virtual bool performActions(const std::string& sequence) = 0;
    // The rollback actions of the "pkgs" sequence.
    virtual bool performPkgsFailureActions() = 0;
    // Advances the shared progress record by one named step and logs the text at level 0.
    virtual void reportProgressStep(const std::string& step, const std::string& text) = 0;
    // The extension packages that the plan removes, and those it installs.
    virtual void removeExtensions(const cpkgs_t& plan) = 0;
    virtual void installExtensions(const cpkgs_t& plan) = 0;
};
