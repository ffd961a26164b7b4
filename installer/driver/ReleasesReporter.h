#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

#include <boost/shared_ptr.hpp>

#include <vector>

class BuildManager;
class MicroUpdateManager;
class Release;
class TiXmlElement;

// The releases of the catalogue with their state, versions, patches and update grade; only those of
// the selected products when some product is selected. With the upgrade command it fails after the
// table, so that the caller sees what to name.
class ReleasesReporter : public Reporter {
public:
    enum mode_t { all_releases = 0, updates_only = 1 };

    // Without micro-update manager no patch information is printed.
    ReleasesReporter(BuildManager* catalogue, MicroUpdateManager* patches, int mode);

    std::ostream& put(std::ostream& out) const override;

private:
    std::vector<boost::shared_ptr<Release>> listed() const;
    void putText(std::ostream& out) const;
    void putXml(std::ostream& out) const;
    void addInstalledState(TiXmlElement& element, const Release& release) const;

    checked_pointer<BuildManager> catalogue;
    MicroUpdateManager* patches;
    int mode;
};
