#pragma once

#include "common/packages/Source.h"

#include <string>

// The packages installed on an RPM system, read through rpm's query formats; type 's'.
class SourceSysRPM : public Source {
public:
    explicit SourceSysRPM(Repository* repository);
    ~SourceSysRPM() override;

    // The full package list goes through a private temporary file; when set, the file stays and its
    // path is logged, so that a run that skips its clean-up leaves the list behind.
    static bool keepFullListFile;

    // The installed version of the package (without release), or "" when it is not installed.
    std::string getPkgVersionFromSystemDirectly(const std::string& name);

protected:
    void doGetBrief() override;
    void doGetFull() override;
};
