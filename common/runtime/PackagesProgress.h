#pragma once

#include <string>

// How the installation reports the progress of single packages: stages 0 (registered) to 3
// (complete), or -10000 for a package that failed.
class PackagesProgress {
public:
    virtual ~PackagesProgress() = default;
    // The installation has begun.
    virtual void set_started() = 0;
    virtual void set_progress(int stage, const std::string& package_name) = 0;
};
