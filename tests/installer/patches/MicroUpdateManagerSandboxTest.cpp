// Patches from the test installation source, applied for real inside the sandbox: the patch list comes
// over HTTP from 127.0.0.1, the installed state from the sandbox's dpkg database, and every run is a
// process of its own, as installer runs are.

#include "common/runtime/Opsys.h"
#include "installer/driver/Options.h"
#include "installer/patches/MUInstalledDB.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/patches/PatchRunSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <regex>
#include <string>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";
const std::string patchFiles = fixtures + "/source/moxel/18.0.1/patches/2-1/";

void sh(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct FileFacts {
    std::string content;
    unsigned mode;
    std::string owner;
    std::string group;
};

FileFacts facts(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {"(missing)", 0, "", ""};
    const passwd* user = getpwuid(st.st_uid);
    const group* grp = getgrgid(st.st_gid);
    return {testsupport::readFile(path), st.st_mode & 07777u, user ? user->pw_name : "?",
            grp ? grp->gr_name : "?"};
}

// Times change from run to run.
std::string withoutTimes(const std::string& text) {
    return std::regex_replace(text, std::regex("installed-at=\"\\d{8}T\\d{6}\""), "installed-at=\"TIME\"");
}

class MicroUpdateManagerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        Opsys::override_name = "Linux";
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        // Nobody listens at the add-on's feed address: one quick failure is enough.
        Options::instance().downloadRetryCount = 1;
    }

    // A key package without files, installed with dpkg.
    void dpkgInstall(const std::string& name, const std::string& version) const {
        const std::string root = work.file(name + "-" + version);
        sh("mkdir -p '" + root + "/DEBIAN'");
        testsupport::writeFile(root + "/DEBIAN/control",
                               "Package: " + name + "\nVersion: " + version +
                                   "\nArchitecture: all\nMaintainer: Moxel Test <test@moxel.invalid>\n"
                                   "Description: installer test package\n");
        sh("dpkg-deb --root-owner-group --build '" + root + "' '" + root + ".deb' >/dev/null && dpkg -i '" +
           root + ".deb' >/dev/null");
    }

    // The panel's files as a server would have them before the patch.
    void preparePanel() const {
        sh("groupadd moxeltest-admins && useradd --no-create-home --gid moxeltest-admins moxeltest-panel && "
           "useradd --no-create-home moxeltest-owner");
        sh("mkdir -p /usr/local/zeq/etc/releases /usr/local/zeq/var && cp '" + fixtures +
           "/panel/zeq-init' /etc/init.d/zeq");
        testsupport::writeFile("/usr/local/zeq/etc/panel.conf", "listen = 8880\n");
        sh("chmod 0666 /usr/local/zeq/etc/panel.conf");
        testsupport::writeFile("/usr/local/zeq/etc/releases/18.0.1.conf", "release = 18.0.1\n");
        sh("chown moxeltest-owner:moxeltest-admins /usr/local/zeq/etc/releases/18.0.1.conf && "
           "chmod 0640 /usr/local/zeq/etc/releases/18.0.1.conf && "
           "ln -s releases/18.0.1.conf /usr/local/zeq/etc/release.conf");
    }

    // One installer run in a process of its own; its answer from installPatches.
    bool installRun(
        const std::string& source, const std::function<void()>& setUp = [] {}) const {
        testsupport::ForkedChild child([&](testsupport::ForkedChild&) {
            setUp();
            testsupport::PatchRun run(source, target.path());
            return run.patches.installPatches(nullptr, &run.repository) ? 1 : 0;
        });
        const int code = child.wait();
        EXPECT_LE(code, 1) << "the run failed";
        return code == 1;
    }

    std::string logText() const { return testsupport::readFile(work.file("installer.log")); }

    testsupport::TempDir work;
    testsupport::TempDir target;
};

TEST_F(MicroUpdateManagerSandboxTest, PatchListFromTheServerIsAppliedOnceAndAgainOnRequest) {
    preparePanel();
    // The update package of the description: the base component is up to date.
    dpkgInstall("moxeltest-core", "18.0.1-2");
    testservers::HttpServer http(fixtures + "/source");
    // The add-on's description asks the extension catalogue for its feed.
    http.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = http.url("feed/");

    ASSERT_TRUE(installRun(http.url())) << logText();

    // Forced owner, group and mode; the old mode 0666 loses what the list clears.
    const FileFacts panel = facts("/usr/local/zeq/etc/panel.conf");
    EXPECT_EQ(panel.content, testsupport::readFile(patchFiles + "panel.conf"));
    EXPECT_EQ(panel.mode, 0640u);
    EXPECT_EQ(panel.owner, "moxeltest-panel");
    EXPECT_EQ(panel.group, "moxeltest-admins");
    // Through the symbolic link, the file it points to is replaced with its own owner and mode.
    struct stat link {};
    ASSERT_EQ(::lstat("/usr/local/zeq/etc/release.conf", &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    const FileFacts release = facts("/usr/local/zeq/etc/releases/18.0.1.conf");
    EXPECT_EQ(release.content, testsupport::readFile(patchFiles + "release.conf"));
    EXPECT_EQ(release.mode, 0640u);
    EXPECT_EQ(release.owner, "moxeltest-owner");
    EXPECT_EQ(release.group, "moxeltest-admins");
    // create_new in an existing directory: the running user's file with mode 0644.
    const FileFacts motd = facts("/usr/local/zeq/var/motd");
    EXPECT_EQ(motd.content, testsupport::readFile(patchFiles + "motd"));
    EXPECT_EQ(motd.mode, 0644u);
    EXPECT_EQ(motd.owner, "root");
    // Skipped: a directory that does not exist, a target that does not exist.
    EXPECT_EQ(facts("/usr/local/zeq/no-such-dir/motd").content, "(missing)");
    EXPECT_EQ(facts("/usr/local/zeq/etc/legacy.conf").content, "(missing)");
    // No temporary files are left beside the targets.
    EXPECT_EQ(std::system("ls /usr/local/zeq/etc /usr/local/zeq/var | grep -q update"), 256);

    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-patch.log"), "patch 18.0.1 2-1\n");
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-actions.log"), "build post-patch 2\n");
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-init-requests.log"), "restart\n");

    const std::string log = logText();
    EXPECT_THAT(
        log, HasSubstr("Skipping the patch from moxel/18.0.1/debian-12-patches.xml for moxel version 17.0.0 "
                       "because it is incompatible with build for Linux Debian 12 x86_64"));
    EXPECT_THAT(log, HasSubstr("Installing patches...\n"));
    EXPECT_THAT(log,
                HasSubstr("Patch moxel-18.0.1~patch1 installation summary: 0 items applied, 0 items skipped, "
                          "0 items failed.\n"));
    EXPECT_THAT(log, HasSubstr("Patch moxel-18.0.1~patch2-1 installation summary: 4 items applied, 2 items "
                               "skipped, 0 items failed.\n"));
    EXPECT_THAT(log, HasSubstr("Patches were installed successfully.\n"));

    EXPECT_EQ(
        withoutTimes(testsupport::readFile("/root/.dizadizezeroz/microupdates.xml")),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
        "<patches>\n"
        "    <product id=\"moxel\" version=\"18.0.1\" installed-at=\"TIME\">\n"
        "        <patch version=\"2-1\" timestamp=\"2026-11-15\" installed-at=\"TIME\" revision=\"1002\" />\n"
        "    </product>\n"
        "</patches>\n");
    EXPECT_EQ(testsupport::readFile(MUInstalledDB::summaryPath), "moxel-18.0.1-2-1");

    // The second run finds everything applied.
    const std::string before = logText();
    EXPECT_FALSE(installRun(http.url()));
    EXPECT_THAT(logText().substr(before.size()),
                HasSubstr("Patch for moxel 18.0.1 will not be installed since it is already applied.\n"));
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-patch.log"), "patch 18.0.1 2-1\n");
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-init-requests.log"), "restart\n");

    // --reinstall-patch applies the installed patch again, and the older one before it.
    const std::string beforeReinstall = logText();
    EXPECT_TRUE(installRun(http.url(), [] { Options::instance().reinstallPatch = true; }));
    const std::string reinstallLog = logText().substr(beforeReinstall.size());
    EXPECT_THAT(reinstallLog,
                HasSubstr("DEBUG: accept patch moxel-18.0.1~patch2-1 because force_reinstall.\n"));
    EXPECT_THAT(reinstallLog,
                HasSubstr("DEBUG: accept patch moxel-18.0.1~patch1 because --reinstall-patch forces "
                          "reinstallation of old patches\n"));
    EXPECT_THAT(reinstallLog, HasSubstr("Patch moxel-18.0.1~patch2-1 installation summary: 4 items applied"));
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-patch.log"),
              "patch 18.0.1 2-1\npatch 18.0.1 2-1\n");
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-init-requests.log"), "restart\nrestart\n");
    EXPECT_EQ(testsupport::readFile(MUInstalledDB::summaryPath), "moxel-18.0.1-2-1");
}

} // namespace
