#pragma once

#include "common/packages/Version.h"
#include "installer/catalogue/BuildList.h"

#include <ostream>
#include <string>
#include <vector>

class Release;

// A set of builds that is merged into releases of other products whose versions lie in one of its
// compatibility windows.
class Addon {
public:
    // A window of product versions, both bounds inclusive.
    struct compatible_t {
        std::string _prod_id;
        Version _from;
        Version _to;
    };

    Addon(const std::string& id, const std::string& name, const std::string& version, bool lazy);
    Addon(const Addon&) = delete;
    Addon& operator=(const Addon&) = delete;

    // An empty bound raises the version error with a line naming the window.
    void addCompatible(const std::string& prod_id, const std::string& from, const std::string& to);
    bool hasCompatible() const { return !_compatible.empty(); }
    // Whether some window of the release's product holds the release's version.
    bool applicableTo(const Release& release) const;

    std::string _id;
    std::string _name;
    // Parsed whenever it is compared.
    std::string _version;
    // Read from a lazy add-on entry of the products list.
    bool _lazy;
    BuildList _builds;
    std::vector<compatible_t> _compatible;
};

// The id.
std::ostream& operator<<(std::ostream& out, const Addon& addon);
