#pragma once

#include "common/packages/Source.h"

#include <string>

// The packages installed on a Debian system, read through dpkg-query; type 's'. The brief read is
// all there is.
class SourceSysDeb : public Source {
public:
    explicit SourceSysDeb(Repository* repository);
    ~SourceSysDeb() override;

    // The installed version up to its first '-', or "" when the package is not installed.
    std::string getPkgVersionFromSystemDirectly(const std::string& name);

protected:
    void doGetBrief() override;
    void doGetFull() override;
};
