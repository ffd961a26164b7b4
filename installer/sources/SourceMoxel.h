#pragma once

#include "common/packages/Source.h"
#include "installer/sources/FileFetcher.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <ostream>
#include <string>

class Build;
class Package;
class Repository;

// One package repository of a build on the update server: 'b' the build's own packages, 'u' its
// updates, 't' thirdparty, 'x' extras. Its packages come from the repository's headers file and are
// fetched before installation. The configurators read the rest to write the package manager's
// repository configuration.
class SourceMoxel : public Source {
public:
    // Works below the repository's directory on its own copy of `fetcher`.
    SourceMoxel(Repository* repository, const FileFetcher& fetcher, const boost::shared_ptr<Build>& build,
                char kind);
    ~SourceMoxel() override;

    // Fetches the file of an RPM package of non-zero size, checked against its MD5, and points the
    // package at the local copy; anything else is left alone.
    void downloadPackage(Package* package) override;
    bool isRemote() const override;
    // "MoxelSource_" + kind + "_" + release id
    std::ostream& print(std::ostream& out) const override;

    // Null once the build is gone.
    boost::shared_ptr<Build> getBuild() const { return build.lock(); }
    char getKind() const { return kind; }
    const std::string& getReleaseId() const { return releaseId; }
    // Relative to the repository directory; empty when the repository has none.
    const std::string& getHeadersFile() const { return headersFile; }
    // Its subdirectory offset is the repository directory below the source.
    const FileFetcher& getFetcher() const { return fetcher; }

    void setGpg(bool check, const std::string& key);
    bool getGpgCheck() const { return gpgCheck; }
    const std::string& getGpgKey() const { return gpgKey; }
    void setPersistent(bool value) { persistent = value; }
    bool isPersistent() const { return persistent; }
    // Empty: the configurator names the repository itself.
    void setYumRepoId(const std::string& id) { yumRepoId = id; }
    const std::string& getYumRepoId() const { return yumRepoId; }
    void setYumRepoName(const std::string& name) { yumRepoName = name; }
    const std::string& getYumRepoName() const { return yumRepoName; }

protected:
    void doGetBrief() override;
    // Reads the package records of the headers file.
    void doGetFull() override;

private:
    FileFetcher fetcher;
    boost::weak_ptr<Build> build;
    std::string headersFile;
    char kind;
    std::string releaseId;
    bool gpgCheck = false;
    std::string gpgKey;
    bool persistent = false;
    std::string yumRepoId;
    std::string yumRepoName;
};
