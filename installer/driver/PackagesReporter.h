#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/driver/Reporter.h"

#include <vector>

class Package;
class Repository;

// The package plan as install, upgrade and remove entries, with the installed packages that the
// plan obsoletes: numbered text lines, or three XML groups.
class PackagesReporter : public Reporter {
public:
    enum action_t { install = 0, upgrade = 1, remove = 2 };
    using entry_t = std::pair<const Package*, action_t>;

    PackagesReporter(const std::vector<const Package*>& plan, const Repository* repository, bool xml);

    std::ostream& put(std::ostream& out) const override;

    // Sorted by action, then by name.
    std::vector<entry_t> entries() const;

private:
    void putText(std::ostream& out) const;
    void putXml(std::ostream& out) const;

    const std::vector<const Package*>& plan;
    checked_pointer<const Repository> repository;
    bool xml;
};
