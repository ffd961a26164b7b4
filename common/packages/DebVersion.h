#pragma once

#include "common/packages/Version.h"

// A version compared by the Debian (dpkg) rules. Only the whole comparison is meaningful; the
// partial ones raise err_no_debpartver.
class DebVersion : public Version {
public:
    explicit DebVersion(const std::string& text) : Version(text) {}
    DebVersion(const DebVersion& other) = default;
    DebVersion& operator=(const DebVersion& other) = default;
    ~DebVersion() override = default;

    int cmpEpoch(const Version& other) const override;
    int cmpVersion(const Version& other) const override;
    int cmpRelease(const Version& other) const override;
    // Both sides are compared as their toString() texts. A text that dpkg would reject, or one
    // with nothing in it, is reported on standard error and makes this side older (-255).
    int compare(const Version& other) const override;
    int cmpString(const char* a, const char* b) const override;
};
