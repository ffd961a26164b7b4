#include "common/packages/Repository.h"
#include "common/packages/SourceSysDeb.h"
#include "common/runtime/fileops.h"
#include "installer/driver/Options.h"
#include "tests/installer/catalogue/ReleaseTestSupport.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const std::string fixture = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/";

class ReleaseSandboxTest : public releasetest::ReleaseCatalogueTest {
protected:
    // dpkg's database is a private overlay here: what the test installs vanishes with the sandbox.
    int dpkgInstall(const std::string& name, const std::string& version) const {
        const std::string root = source.file(name + "-" + version);
        const std::string deb = root + ".deb";
        if (mkdir(root.c_str(), 0755) != 0 || mkdir((root + "/DEBIAN").c_str(), 0755) != 0)
            return -1;
        testsupport::writeFile(root + "/DEBIAN/control", "Package: " + name + "\nVersion: " + version +
                                                             "\nArchitecture: all\n"
                                                             "Maintainer: Moxel Test <test@moxel.invalid>\n"
                                                             "Description: installer test key package\n");
        const std::string out = source.file("dpkg.out");
        if (std::system(
                ("dpkg-deb --root-owner-group --build '" + root + "' '" + deb + "' >'" + out + "' 2>&1")
                    .c_str()) != 0)
            return -2;
        return std::system(("dpkg -i '" + deb + "' >'" + out + "' 2>&1").c_str());
    }
};

TEST_F(ReleaseSandboxTest, StateFollowsTheInstalledKeyPackage) {
    struct Step {
        const char* install; // version of moxeltest-core put in before the look, or none
        int state;
        int mode;
        const char* action;
        const char* installed_version;
    };
    const Step steps[] = {
        {nullptr, 2, 1, "install", ""},
        {"17.5.0-1", 2, 2, "upgrade", "17.5.0"},
        {"18.0.1-3", 2, 4, "up2date", "18.0.1"},
        {"19.0.0-1", 1, 0, "", "19.0.0"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.install ? step.install : "nothing installed");
        if (step.install) {
            ASSERT_EQ(dpkgInstall("moxeltest-core", step.install), 0)
                << testsupport::readFile(source.file("dpkg.out"));
        }

        Repository installed;
        SourceSysDeb dpkg(&installed);
        installed.getBrief();
        FileFetcher fetcher(fixture, target.path());
        BuildManager manager(fetcher, "");
        manager.calculateReleaseStates(&installed);

        const boost::shared_ptr<Release> moxel = manager.findRelease("moxel-18.0.1");
        ASSERT_TRUE(moxel);
        EXPECT_EQ(moxel->_installed_version, step.installed_version);
        EXPECT_EQ(moxel->_state, step.state);
        EXPECT_EQ(moxel->_update_mode, step.mode);
        if (step.state == 2) {
            EXPECT_EQ(moxel->getActionName(), step.action);
        }
        EXPECT_EQ(manager.getInstalledProducts(), std::vector<std::string>(step.mode == 4 ? 1 : 0, "moxel"));
        // Another product's key package decides nothing here.
        EXPECT_EQ(manager.findRelease("pagewright-2.5.0")->getUpdateMode(), 1);
    }
}

// The tier filter and the command come from the run's options, read from root's (private) home.
TEST_F(ReleaseSandboxTest, DisplayTags) {
    ASSERT_EQ(fileops::get_home_dir(), "/root");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("WEB_SECRET");
    static char program[] = "installer";
    static char* argv[] = {program, nullptr};
    Options::saveArguments(1, argv);
    Options& options = Options::instance();

    struct Case {
        const char* what;
        std::string policy;
        std::string tags;
        bool installed;
        bool filtered;
        bool list_all;
        int ui;
        bool shown;
    };
    const Case cases[] = {
        {"untagged, hidden as autoassigned on the text interface", "autoassigned,cli", "", false, true, false,
         1, false},
        {"the policy names another interface", "autoassigned,cli", "", false, true, false, 2, true},
        {"a tier of its own is not autoassigned", "autoassigned,cli", "stable", false, true, false, 1, true},
        {"hidden in filtered listings, text interface", "filtered,web", "", false, true, false, 1, true},
        {"hidden in filtered listings, web interface", "filtered,web", "", false, true, false, 2, false},
        {"hidden in filtered listings, unfiltered one", "filtered,web", "current", false, false, false, 2,
         true},
        {"hidden in unfiltered listings, no tiers", "nonfiltered,all", "current", false, false, false, 4,
         false},
        {"hidden in unfiltered listings, list-all", "nonfiltered,all", "current", false, true, true, 8,
         false},
        {"hidden in unfiltered listings, filtered one", "nonfiltered,all", "current", false, true, false, 4,
         true},
        {"no interface named", "inanycase", "", false, false, false, 1, true},
        {"the installed release always", "inanycase,all", "", true, true, false, 1, true},
        {"no policy", "", "", false, true, false, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options.tier =
            c.filtered ? std::vector<std::string>{"stable", "release"} : std::vector<std::string>{};
        options.command = c.list_all ? Options::cmd_show_all_releases : Options::cmd_none;
        auto product = boost::make_shared<Product>();
        product->_id = "p";
        Release release(product, "r", "R", "", "2.0", "1.0");
        release._state = 2;
        release._installed_version = c.installed ? "2.0" : "";
        if (!c.tags.empty())
            release.addTags(c.tags);
        release._hide_policy = BuildManager::parseHidePolicy(c.policy);
        EXPECT_EQ(release.isDisplayTagShown(c.ui), c.shown);
    }
}

} // namespace
