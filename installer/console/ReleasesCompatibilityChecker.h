#pragma once

#include "installer/catalogue/BuildManager.h"
#include "installer/console/BestWithInfo.h"

#include <boost/shared_ptr.hpp>

#include <sstream>
#include <string>
#include <vector>

class Repository;

// Checks the chosen releases against each other in one walk of the catalogue: products declared
// incompatible are errors; a product that names other versions of a chosen partner product gives a
// warning and a BestWithInfo record. Each chosen release reports only what its own product declares.
class ReleasesCompatibilityChecker : public BuildManager::Visitor {
public:
    // The repository is not consulted; it is taken so all callers build the checker alike.
    ReleasesCompatibilityChecker(BuildManager& manager, Repository& repository);

    void visitRelease(boost::shared_ptr<Release> release) override { visit(release); }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

    // Compares one release, when chosen, with the chosen releases of other products.
    void visit(const boost::shared_ptr<Release>& release);

    bool isError() const;
    bool isWarning() const;
    // One line per incompatible pair, separated by line breaks.
    std::string getErrorText() const { return errors.str(); }
    // Each warning line begins with a line break.
    std::string getWarningText() const { return warnings.str(); }
    // One record per declaring product, in the order of their first warning.
    const std::vector<BestWithInfo>& getBestWith() const { return bestWith; }

    // Whether some release of the first release's product names the other's product. Two releases
    // of one product raise an internal error.
    bool isBestWith(const Release& release, const Release& other);
    // Warns when the release names versions of the other's product but not the chosen one.
    void reportBest(const Release& release, const Release& other);
    void checkIncompatible(const Release& release, const Release& other);

private:
    std::ostringstream warnings;
    std::vector<BestWithInfo> bestWith;
    std::ostringstream errors;
    BuildManager& manager;
};
