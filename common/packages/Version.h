#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// A package version: epoch, upstream version and release, compared by the RPM rules. The left
// operand's class decides the rules (see DebVersion). Comparison results are read by sign only.
class Version {
public:
    // "[epoch:]version[-release]"; an empty text, or one beginning with '-', raises err_empty_version.
    explicit Version(const std::string& text);
    Version(const Version& other) = default;
    Version& operator=(const Version& other) = default;
    virtual ~Version() = default;

    virtual int cmpEpoch(const Version& other) const;
    virtual int cmpVersion(const Version& other) const;
    virtual int cmpRelease(const Version& other) const;
    virtual int compare(const Version& other) const;
    // RPM segment comparison of two version or release texts.
    virtual int cmpString(const char* a, const char* b) const;

    // A null or empty text leaves the release as it is and gives -1; else 0.
    int setRelease(const char* text);

    // "epoch:" when there is an epoch, then the version or "no_versioning_data".
    std::string getVersionWithEpoch() const;
    // getVersionWithEpoch() and "-release" when there is a release.
    std::string toString() const;
    std::ostream& print(std::ostream& out) const;

    bool operator==(const Version& other) const { return compare(other) == 0; }
    bool operator<(const Version& other) const { return compare(other) < 0; }
    bool operator>(const Version& other) const { return compare(other) > 0; }

    int64_t epoch = 0;
    bool hasEpoch = false; // also for an explicit epoch 0, which makes the version newer than none
    std::string version;
    std::string release;
};

std::ostream& operator<<(std::ostream& out, const Version& version);
