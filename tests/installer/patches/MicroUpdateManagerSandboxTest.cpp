// Patches from the test installation source, applied for real inside the sandbox: the patch list comes
// over HTTP from 127.0.0.1, the installed state from the sandbox's dpkg database, and every run is a
// process of its own, as installer runs are.

#include "common/runtime/Opsys.h"
#include "installer/components/AiComponent.h"
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

    // A copy of the test installation source whose Debian patch list has this product element holding
    // `patches`: by default patches 2 and 3, each with one command.
    std::string sourceWithList(const std::string& product,
                               const std::string& patches = "<patch version=\"2\">" + command("echo 2") +
                                                            "</patch>\n<patch version=\"3\">" +
                                                            command("echo 3") + "</patch>\n") const {
        sh("rm -rf '" + source.path() + "' && mkdir -p '" + source.path() + "' && cp -R '" + fixtures +
           "/source/.' '" + source.path() + "'");
        testsupport::writeFile(source.file("moxel/18.0.1/debian-12-patches.xml"),
                               "<patches>\n<product " + product + ">\n" + patches +
                                   "</product>\n</patches>\n");
        return source.path() + "/";
    }

    // A package whose command appends its output to the patch log.
    static std::string command(const std::string& text) {
        return "<package><shell cmd=\"" + text +
               " &gt;&gt; /usr/local/zeq/var/moxeltest-patch.log\"/></package>";
    }

    testsupport::TempDir work;
    testsupport::TempDir target;
    testsupport::TempDir source;
};

// What accept() visits, as "version:kind" words.
class Recorder : public MicroUpdateManager::Visitor {
public:
    void visit(const MicroUpdateManager::patch_ptr& patch, const std::shared_ptr<AiComponent>&,
               int kind) override {
        text += (text.empty() ? "" : " ") + patch->getVersion().toString() + ":" + std::to_string(kind);
    }
    std::string text;
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

TEST_F(MicroUpdateManagerSandboxTest, AcceptanceFollowsVersionsReleasesSystemAndInstalledState) {
    struct Row {
        const char* name;
        const char* vendor;   // of this server
        const char* product;  // attributes of the list's product element
        const char* core;     // installed version of the base component's key package
        const char* recorded; // patch version recorded as installed
        int force;            // 1 --reinstall-patch for the installed patch, 2 for older ones too
        bool upgrade;         // the base component is upgraded in this run
        bool skip;            // --skip-patch
        const char* accepted; // what accept() visits
        bool unsafe;
        const char* applied; // commands that ran
        const char* logged;  // the line that says why
    };
    const char* const moxel = "id=\"moxel\" version=\"18.0.1\"";
    const char* const current = "18.0.1-2";
    const char* const willInstall = "Patch for moxel 18.0.1 will be installed.";
    const Row rows[] = {
        {"not installed", "Debian", moxel, current, "", 0, false, false, "2:0 3:0", false, "2\n3\n",
         willInstall},
        {"other release", "Debian", "id=\"moxel\" version=\"18.0.2\"", current, "", 0, false, false, "",
         false, "",
         "Skipping the patch from moxel/18.0.1/debian-12-patches.xml for moxel version 18.0.2 because"},
        {"other product", "Debian", "id=\"pagewright\" version=\"18.0.1\"", current, "", 0, false, false, "",
         false, "",
         "Skipping the patch from moxel/18.0.1/debian-12-patches.xml for pagewright version 18.0.1 because"},
        {"equal as versions", "Debian", "id=\"moxel\" version=\"18.0.01\"", current, "", 0, false, false,
         "2:0 3:0", false, "2\n3\n", "Patch for moxel 18.0.01 will be installed."},
        {"newest applied", "Debian", moxel, current, "3", 0, false, false, "", false, "",
         "Patch for moxel 18.0.1 will not be installed since it is already applied."},
        {"older applied", "Debian", moxel, current, "2", 0, false, false, "3:0", false, "3\n", willInstall},
        {"reinstall", "Debian", moxel, current, "3", 1, false, false, "3:1", true, "3\n", willInstall},
        {"reinstall older", "Debian", moxel, current, "3", 2, false, false, "2:2 3:1", true, "2\n3\n",
         willInstall},
        {"release not installed", "Debian", moxel, "", "", 0, false, false, "2:0 3:0", false, "",
         "Patch for moxel 18.0.1 will not be installed since the product is not installed."},
        {"not up to date", "Debian", moxel, "18.0.1-1", "", 0, false, false, "2:0 3:0", false, "",
         "Patch for moxel 18.0.1 will not be installed since the product is not up-to-date."},
        {"upgraded in this run", "Debian", moxel, "18.0.1-1", "", 0, true, false, "2:0 3:0", false, "2\n3\n",
         willInstall},
        {"skip-patch", "Debian", moxel, current, "", 0, false, true, "2:0 3:0", false, "",
         "Patches will not be installed since --skip-patch option was specified."},
        {"other system's list", "CentOS", moxel, current, "", 0, false, false, "7:0", false, "",
         "Patch for moxel 18.0.1 will not be installed since the product is not up-to-date."},
    };
    sh("mkdir -p /usr/local/zeq/var");
    testservers::HttpServer feed(fixtures + "/source");
    feed.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = feed.url("feed/");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string location = sourceWithList(row.product);
        if (*row.core)
            dpkgInstall("moxeltest-core", row.core);
        const std::string result = work.file("result");
        const std::string before = logText();
        testsupport::ForkedChild child([&](testsupport::ForkedChild&) {
            Opsys::override_vendor = row.vendor;
            Opsys::override_version = std::string(row.vendor) == "Debian" ? "12" : "8";
            Options::instance().skipPatch = row.skip;
            if (*row.recorded)
                MUInstalledDB::instance().setInstalled(
                    MUPatch("moxel", "18.0.1", row.recorded, "", false, false, "", ""));
            testsupport::PatchRun run(location, target.path());
            if (row.force)
                run.patches.setForceReinstall(row.force == 2);
            if (row.upgrade)
                run.components.getBaseComponent("moxel")->select();
            Recorder recorder;
            run.patches.accept(recorder, "moxel");
            const bool unsafe = run.patches.isPatchUnsafe();
            try {
                run.patches.installPatches(nullptr, &run.repository);
            } catch (const error& e) {
                recorder.text += " raised " + e.getText();
            }
            testsupport::writeFile(result, recorder.text + "|" + (unsafe ? "unsafe" : "safe"));
            return 0;
        });
        ASSERT_EQ(child.wait(), 0);
        EXPECT_EQ(testsupport::readFile(result),
                  std::string(row.accepted) + "|" + (row.unsafe ? "unsafe" : "safe"));
        EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-patch.log"), row.applied);
        EXPECT_THAT(logText().substr(before.size()), HasSubstr(row.logged));
        sh("rm -rf /root/.dizadizezeroz /var/cordavine/installed-patches /usr/local/zeq/var/* && "
           "dpkg --purge moxeltest-core >/dev/null 2>&1");
    }
}

TEST_F(MicroUpdateManagerSandboxTest, InstalledReleasesAreRegisteredWithoutPatches) {
    dpkgInstall("moxeltest-core", "18.0.1-2");
    testservers::HttpServer http(fixtures + "/source");
    http.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = http.url("feed/");
    testsupport::ForkedChild child([&](testsupport::ForkedChild&) {
        testsupport::PatchRun run(http.url(), target.path());
        run.patches.cleanInstalledMUDB(run.catalogue.get());
        return 0;
    });
    ASSERT_EQ(child.wait(), 0);

    EXPECT_EQ(withoutTimes(testsupport::readFile("/root/.dizadizezeroz/microupdates.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
              "<patches>\n"
              "    <product id=\"moxel\" version=\"18.0.1\" installed-at=\"TIME\" />\n"
              "</patches>\n");
    struct stat st {};
    ASSERT_EQ(::stat(MUInstalledDB::summaryPath, &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(MicroUpdateManagerSandboxTest, PatchVersionGoesIntoPostPatchActionsAsOneWord) {
    sh("mkdir -p /usr/local/zeq/var");
    dpkgInstall("moxeltest-core", "18.0.1-2");
    testservers::HttpServer feed(fixtures + "/source");
    feed.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = feed.url("feed/");
    const std::string version = "5$(touch /usr/local/zeq/var/injected);x";
    const std::string location =
        sourceWithList("id=\"moxel\" version=\"18.0.1\"",
                       "<patch version=\"" + version + "\">" + command("true") + "</patch>\n");

    EXPECT_TRUE(installRun(location));
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/var/moxeltest-actions.log"),
              "build post-patch " + version + "\n");
    EXPECT_EQ(facts("/usr/local/zeq/var/injected").content, "(missing)");
}

} // namespace
