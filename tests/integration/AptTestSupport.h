#pragma once

// The signed test apt repositories (tests/fixtures/apt/build-repos.sh), built once for the test
// binary, and the sandbox's /etc/apt emptied of the host's sources so that apt asks only them.

#include "common/packages/Repository.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/installer/sources/SourceTestSupport.h"
#include "tests/support/BuildOnce.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace apttest {

const std::string reposDir = std::string(MOXEL_BINARY_DIR) + "/tests/moxeltest-apt";
const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";
const std::string moxelConfig = "moxel/18.0.1/debian-12-x86_64.build.inf3";
const std::string pagewrightConfig = "pagewright/2.5.0/debian-12-x86_64.build.inf3";

inline void buildReposOnce() {
    const std::string script = fixtures + "/apt/build-repos.sh";
    testsupport::buildOnce(reposDir, testsupport::readFile(script), [&] {
        ASSERT_EQ(0, packagetest::run(util::shell_quote(script) + " " + util::shell_quote(reposDir)));
    });
}

// Only the lists the test writes are left for apt; the apt lists themselves start empty.
inline void forgetSystemSources() {
    ASSERT_EQ(
        0,
        packagetest::run(
            "rm -f /etc/apt/sources.list /etc/apt/sources.list.d/* /etc/apt/trusted.gpg "
            "/etc/apt/trusted.gpg~ && rm -rf /var/lib/apt/lists/* && mkdir -p /var/lib/apt/lists/partial"));
}

// The host's sources give way to a local one of the system's release in `directory`, with one
// package that nothing installs (apt needs a release of that name once a test's repository is
// gone), readable by apt's unprivileged fetcher.
inline void useLocalSystemRelease(const std::string& directory) {
    forgetSystemSources();
    const std::string packages = "dists/bookworm/main/binary-amd64/Packages";
    ASSERT_EQ(0,
              packagetest::run(
                  "set -e; d=" + util::shell_quote(directory) + "; chmod 755 $d; mkdir -p $d/$(dirname " +
                  packages +
                  "); cd $d; printf 'Package: moxeltest-placeholder\\nVersion: 1\\n"
                  "Architecture: all\\nFilename: none.deb\\nSize: 1\\nDescription: none\\n' > " +
                  packages +
                  "; apt-ftparchive -o APT::FTPArchive::Release::Suite=bookworm release dists/bookworm"
                  " > Release; mv Release dists/bookworm/; echo \"deb [trusted=yes] file:$d bookworm main\""
                  " > /etc/apt/sources.list.d/system.list"));
}

inline std::string repositoryKey() {
    return testsupport::readFile(fixtures + "/source/keys/moxeltest-repo.asc");
}

// The source manager of a run that loaded the Moxel build (signed, with its key) and, when asked,
// the Pagewright build (unsigned).
class RunSources {
public:
    RunSources(bool withPagewright, const std::string& key = repositoryKey()) {
        moxel = sourcetest::loadedBuild(fixtures + "/source", moxelConfig, "moxel", true, key);
        manager.addBuildSources(&fetcher, moxel);
        if (withPagewright) {
            pagewright = sourcetest::loadedBuild(fixtures + "/source", pagewrightConfig, "pagewright");
            manager.addBuildSources(&fetcher, pagewright);
        }
    }

    testsupport::TempDir target;
    Repository repository;
    FileFetcher fetcher{fixtures + "/source/", target.path()};
    SourceManager manager{&repository};
    boost::shared_ptr<Build> moxel;
    boost::shared_ptr<Build> pagewright;
};

} // namespace apttest

namespace apttest {

// A fresh signing key of its own for `uid`: its armored public half, and its binary key ring in
// dir/<file>.
inline std::string generateKey(const testsupport::TempDir& dir, const std::string& uid,
                               const std::string& file) {
    const std::string home = util::shell_quote(dir.file("gnupg"));
    const std::string command =
        "mkdir -p -m 0700 " + home + " && GNUPGHOME=" + home +
        " gpg --batch --quiet --passphrase '' --quick-generate-key " + util::shell_quote(uid) +
        " ed25519 sign 1y 2>/dev/null && GNUPGHOME=" + home + " gpg --batch --export " +
        util::shell_quote(uid) + " > " + util::shell_quote(dir.file(file)) + " && GNUPGHOME=" + home +
        " gpg --batch --armor --export " + util::shell_quote(uid) + " > " +
        util::shell_quote(dir.file(file + ".asc")) + "; GNUPGHOME=" + home + " gpgconf --kill gpg-agent";
    EXPECT_EQ(0, packagetest::run(command));
    return testsupport::readFile(dir.file(file + ".asc"));
}

} // namespace apttest
