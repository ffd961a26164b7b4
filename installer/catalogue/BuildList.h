#pragma once

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <vector>

class Build;
class Opsys;

// The builds of a release or an add-on, in file order.
class BuildList {
public:
    using const_iterator = std::vector<boost::shared_ptr<Build>>::const_iterator;

    void add(const boost::shared_ptr<Build>& build) { builds.push_back(build); }

    // The first build compatible with `os`, unless a later compatible build is made for exactly its
    // version and environment: then the last such one. Empty when no build fits.
    boost::shared_ptr<Build> getBestBuild(const Opsys& os) const;

    const_iterator begin() const { return builds.begin(); }
    const_iterator end() const { return builds.end(); }
    size_t size() const { return builds.size(); }
    bool empty() const { return builds.empty(); }
    const boost::shared_ptr<Build>& operator[](size_t index) const { return builds[index]; }
    void clear() { builds.clear(); }

private:
    std::vector<boost::shared_ptr<Build>> builds;
};
