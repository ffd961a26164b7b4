#pragma once

#include "common/packages/Source.h"

#include <string>

// The packages installed on an RPM system, read through rpm's query formats; type 's'.
class SourceSysRPM : public Source {
public:
    explicit SourceSysRPM(Repository* repository);
    ~SourceSysRPM() override;

    // The installed version of the package (without release), or "" when it is not installed.
    std::string getPkgVersionFromSystemDirectly(const std::string& name);

protected:
    void doGetBrief() override;
    void doGetFull() override;
};
