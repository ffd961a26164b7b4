#include "common/packages/DebVersion.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/packages/SourceSysDeb.h"
#include "common/packages/SourceSysRPM.h"
#include "common/runtime/error.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using namespace packagetest;

namespace {

std::vector<std::string> names(const Repository& repository, const std::string& prefix) {
    std::vector<std::string> result;
    for (const Package* package : repository.getPackages())
        if (package->getName().str().compare(0, prefix.size(), prefix) == 0)
            result.push_back(package->getName().str());
    return result;
}

Package* find(const Repository& repository, const std::string& name) {
    for (Package* package : repository.getPackages())
        if (package->getName().str() == name)
            return package;
    return nullptr;
}

// dpkg's database and lock are the host's; other runs may hold the lock for a moment.
int dpkg(const std::string& arguments, const std::string& scratch) {
    for (int attempt = 0;; ++attempt) {
        int rc = run("dpkg " + arguments + " >" + scratch + " 2>&1");
        if (rc == 0 || attempt == 120 || run("grep -q lock " + scratch) != 0)
            return rc;
        sleep(1);
    }
}

// A package of our own in the host's dpkg database for the length of a test, purged whatever
// happens.
class InstalledDeb {
public:
    InstalledDeb(const testsupport::TempDir& dir, const std::string& name)
        : name(name), scratch(dir.file("dpkg.out")) {
        std::string root = dir.file("debroot");
        run("mkdir -p " + root + "/DEBIAN " + root + "/etc");
        testsupport::writeFile(root + "/DEBIAN/control",
                               "Package: " + name + "\nVersion: 1:2.3-4\n" + "Architecture: all\n" +
                                   "Maintainer: Moxel Test <test@moxel.invalid>\n" + "Provides: " + name +
                                   "-a, " + name + "-b (= 1)\n" + "Description: installer test package\n");
        // A configuration file keeps the package known to dpkg after a plain removal.
        testsupport::writeFile(root + "/DEBIAN/conffiles", "/etc/" + name + ".conf\n");
        testsupport::writeFile(root + "/etc/" + name + ".conf", "setting=1\n");
        deb = dir.file(name + ".deb");
        build = debBuild(root, deb);
    }
    InstalledDeb(const InstalledDeb&) = delete;
    InstalledDeb& operator=(const InstalledDeb&) = delete;
    ~InstalledDeb() { purge(); }

    int install() { return build == 0 ? dpkg("-i " + deb, scratch) : build; }
    int remove() { return dpkg("-r " + name, scratch); }
    int purge() { return dpkg("--purge " + name, scratch); }

    const std::string name;

private:
    std::string scratch;
    std::string deb;
    int build;
};

TEST(SourceSysSandboxTest, DebianSourceReadsTheRealDpkgDatabase) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    InstalledDeb package(dir, "moxeltest-src" + std::to_string(getpid()));
    ASSERT_EQ(package.install(), 0);

    Repository repository;
    SourceSysDeb source(&repository);
    repository.getFull();
    EXPECT_TRUE(source.isFullRead());
    EXPECT_NE(find(repository, "dpkg"), nullptr);
    Package* ours = find(repository, package.name);
    ASSERT_NE(ours, nullptr);
    EXPECT_EQ(ours->getType(), 's');
    EXPECT_EQ(ours->getSource(), &source);
    EXPECT_EQ(ours->getFileName(), package.name + "_installed.deb");
    ASSERT_NE(dynamic_cast<const DebVersion*>(&ours->getVersion()), nullptr);
    EXPECT_EQ(ours->getVersion().toString(), "1:2.3-4");
    EXPECT_EQ(ours->getArch().str(), "all");
    EXPECT_THAT(texts(ours->getProvides()), ElementsAre(package.name + "-a", package.name + "-b = 1"));
    EXPECT_EQ(repository.getPkgVersionFromSystemDirectly(package.name), "1:2.3");
    EXPECT_EQ(source.getPkgVersionFromSystemDirectly(package.name + "-none"), "");

    // Removed but with its configuration left: not installed.
    ASSERT_EQ(package.remove(), 0);
    source.reloadBrief();
    EXPECT_EQ(find(repository, package.name), nullptr);
    EXPECT_NE(find(repository, "dpkg"), nullptr);
    EXPECT_EQ(source.getPkgVersionFromSystemDirectly(package.name), "");

    ASSERT_EQ(package.purge(), 0);
    source.reloadBrief();
    EXPECT_EQ(find(repository, package.name), nullptr);
    EXPECT_NE(run("dpkg-query -W " + package.name + " >/dev/null 2>&1"), 0);
}

// Names reach the package tools' command lines: a name that their rules do not allow, an option
// above all, is refused before any tool runs.
TEST(SourceSysSandboxTest, PackageNamesOutsideThePackagingRulesAreRefused) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    Repository repository;
    SourceSysDeb deb(&repository);
    SourceSysRPM rpm(&repository);
    const char* const names[] = {
        "--eval=%(touch moxeltest-injected)",
        "-x",
        "a; touch moxeltest-injected",
        "",
        "a",
        "Upper",
        "a b",
        "moxeltest-*",
    };
    for (const char* name : names) {
        EXPECT_THROW(deb.getPkgVersionFromSystemDirectly(name), error) << name;
        const bool rpm_allows = std::string(name) == "a" || std::string(name) == "Upper";
        if (!rpm_allows) {
            EXPECT_THROW(rpm.getPkgVersionFromSystemDirectly(name), error) << name;
        }
    }
    EXPECT_EQ(deb.getPkgVersionFromSystemDirectly("moxeltest-none"), "");
    EXPECT_EQ(deb.getPkgVersionFromSystemDirectly("moxeltest-none:amd64"), "");
    EXPECT_EQ(rpm.getPkgVersionFromSystemDirectly("Upper"), "");
    EXPECT_EQ(access("moxeltest-injected", F_OK), -1);
}

// The installed-package list must not pass for empty when dpkg-query fails.
TEST(SourceSysSandboxTest, FailingDpkgQueryIsAnError) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("dpkg-query"), "#!/bin/sh\necho 's:install ok installed'\nexit 2\n");
    ASSERT_EQ(chmod(dir.file("dpkg-query").c_str(), 0755), 0);
    const std::string path = getenv("PATH");
    setenv("PATH", (dir.path() + ":" + path).c_str(), 1);
    Repository repository;
    SourceSysDeb source(&repository);
    EXPECT_THROW(repository.getBrief(), error);
    setenv("PATH", path.c_str(), 1);
}

// Packages recorded for the length of a test, taken out of the database at its end.
class RpmDatabase {
public:
    explicit RpmDatabase(const testsupport::TempDir& dir) : dir(dir) {}
    RpmDatabase(const RpmDatabase&) = delete;
    RpmDatabase& operator=(const RpmDatabase&) = delete;
    ~RpmDatabase() {
        for (const std::string& name : installed)
            run("rpm -e --nodeps --justdb " + name + " >/dev/null 2>&1");
    }

    // A noarch rpm with the given spec lines and files (path and content), recorded in the database.
    int install(const std::string& name, const std::string& version, const std::string& header,
                const std::vector<std::pair<std::string, std::string>>& files) {
        std::string spec = dir.file(name + ".spec");
        std::string text = "Name: " + name + "\nVersion: " + version +
                           "\nRelease: 1\nSummary: test\n"
                           "License: none\nBuildArch: noarch\nAutoReqProv: no\n" +
                           header + "%description\ntest\n%install\n";
        std::string list = "%files\n";
        for (const auto& file : files) {
            text += "mkdir -p $(dirname %{buildroot}" + file.first + ")\nprintf '" + file.second +
                    "' > %{buildroot}" + file.first + "\n";
            list += file.first + "\n";
        }
        testsupport::writeFile(spec, text + list);
        std::string top = dir.file("rpmbuild");
        int rc = rpmbuild(top, spec);
        if (rc != 0)
            return rc;
        rc = run("rpm -i --nodeps --justdb --replacefiles " + top + "/RPMS/noarch/" + name + "-" + version +
                 "-1.noarch.rpm >/dev/null 2>&1");
        if (rc == 0)
            installed.push_back(name + "-" + version);
        return rc;
    }

private:
    const testsupport::TempDir& dir;
    std::vector<std::string> installed;
};

bool leftovers() {
    glob_t found{};
    int rc = glob("/tmp/moxel-installed.*", 0, nullptr, &found);
    globfree(&found);
    return rc == 0;
}

TEST(SourceSysSandboxTest, RpmFullListStaysInItsPrivateFileWhenAsked) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    RpmDatabase database(dir);
    ASSERT_EQ(database.install("moxeltest-base", "1.5", "", {{"/opt/moxeltest/base.txt", "base\\n"}}), 0);

    SourceSysRPM::keepFullListFile = true;
    Repository repository;
    SourceSysRPM source(&repository);
    repository.getFull();
    glob_t found{};
    ASSERT_EQ(glob("/tmp/moxel-installed.*/system_packages.cache", 0, nullptr, &found), 0);
    ASSERT_EQ(found.gl_pathc, 1u);
    const std::string kept = found.gl_pathv[0];
    globfree(&found);
    struct stat status {};
    ASSERT_EQ(stat(kept.substr(0, kept.rfind('/')).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_THAT(testsupport::readFile(kept), ::testing::HasSubstr("N:moxeltest-base\n"));
    // Kept for the user, who removes it.
    run("rm -rf " + kept.substr(0, kept.rfind('/')));
}

TEST(SourceSysSandboxTest, RpmSourceReadsBrieflyThenCompletesTheSamePackages) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    RpmDatabase database(dir);
    ASSERT_EQ(
        database.install("moxeltest-base", "1.5", "Provides: moxeltest-capability = 3\n",
                         {{"/opt/moxeltest/shared.txt", "base\\n"}, {"/opt/moxeltest/same.txt", "same\\n"}}),
        0);
    ASSERT_EQ(database.install(
                  "moxeltest-app", "2.0", "Requires: moxeltest-base >= 1.0\nConflicts: moxeltest-old\n",
                  {{"/opt/moxeltest/shared.txt", "app\\n"}, {"/opt/moxeltest/same.txt", "same\\n"}}),
              0);

    Repository repository;
    SourceSysRPM source(&repository);
    repository.getBrief();
    EXPECT_THAT(names(repository, ""), UnorderedElementsAre("moxeltest-base", "moxeltest-app"));
    Package* brief = find(repository, "moxeltest-app");
    ASSERT_NE(brief, nullptr);
    EXPECT_EQ(brief->getType(), 's');
    EXPECT_EQ(brief->getFileName(), "system_installed_brief_moxeltest-app-2.0-1.rpm");
    EXPECT_EQ(brief->getVersion().toString(), "2.0-1");
    EXPECT_FALSE(brief->getVersion().hasEpoch);
    EXPECT_GT(brief->getInstallTime(), 0);
    EXPECT_THAT(brief->getRequires(), IsEmpty());
    EXPECT_THAT(texts(find(repository, "moxeltest-base")->getProvides()),
                ElementsAre("moxeltest-base = 1.5-1", "moxeltest-capability = 3"));

    // Nothing is written through a name another user could prepare in /tmp.
    ASSERT_EQ(symlink(dir.file("planted").c_str(), "/tmp/dizadizezeroz_system_packages.cache"), 0);
    repository.getFull();
    EXPECT_EQ(access(dir.file("planted").c_str(), F_OK), -1);
    unlink("/tmp/dizadizezeroz_system_packages.cache");
    EXPECT_THAT(names(repository, ""), UnorderedElementsAre("moxeltest-base", "moxeltest-app"));
    Package* full = find(repository, "moxeltest-app");
    EXPECT_EQ(full->getFileName(), "system_installed_moxeltest-app-2.0-1.noarch.rpm");
    // The object read briefly received the full lists.
    EXPECT_THAT(texts(brief->getRequires()), ElementsAre("moxeltest-base >= 1.0"));
    EXPECT_THAT(texts(brief->getConflicts()), ElementsAre("moxeltest-old"));
    EXPECT_EQ(texts(brief->getProvides()), texts(full->getProvides()));
    EXPECT_FALSE(leftovers());

    // A second full read reads nothing.
    repository.getFull();
    EXPECT_EQ(find(repository, "moxeltest-app"), full);

    Package* base = find(repository, "moxeltest-base");
    repository.resolveRequires();
    EXPECT_TRUE(repository.requiresPackage(full, base));
    // One path with other content conflicts; the same content does not.
    EXPECT_TRUE(repository.isConflicting(full, base));
    bool sameFileSeen = false;
    for (const auto& provide : full->getProvides()) {
        if (provide->getName() != "/opt/moxeltest/same.txt")
            continue;
        sameFileSeen = true;
        ASSERT_EQ(provide->getKind(), Dependency::FILE_ENTRY);
        EXPECT_NE(static_cast<const DependencyFile&>(*provide).getMd5(), nullptr);
    }
    EXPECT_TRUE(sameFileSeen);

    EXPECT_EQ(repository.getPkgVersionFromSystemDirectly("moxeltest-app"), "2.0");
    EXPECT_EQ(source.getPkgVersionFromSystemDirectly("moxeltest-none"), "");
    EXPECT_EQ(access("moxeltest-injected", F_OK), -1);
}

TEST(SourceSysSandboxTest, DestroyingASourceTakesItsPackagesOut) {
    testsupport::TempDir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    RpmDatabase database(dir);
    ASSERT_EQ(database.install("moxeltest-one", "1", "", {{"/opt/moxeltest/one", "1\\n"}}), 0);
    Repository repository;
    auto source = std::make_unique<SourceSysRPM>(&repository);
    repository.getBrief();
    EXPECT_THAT(names(repository, "moxeltest"), ElementsAre("moxeltest-one"));
    source.reset();
    EXPECT_THAT(names(repository, ""), IsEmpty());
}

} // namespace
