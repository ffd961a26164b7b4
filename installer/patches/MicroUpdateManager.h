#pragma once

#include <boost/weak_ptr.hpp>

class Build;

// The run's knowledge of micro-update patches.
// GAP: the patch lists are read once the micro-update manager is built.
class MicroUpdateManager {
public:
    // Called once for every release build the loader loads. An expired build is passed over.
    void loadPatches(const boost::weak_ptr<Build>& build);
};
