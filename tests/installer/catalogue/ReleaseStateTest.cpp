#include "tests/installer/catalogue/ReleaseTestSupport.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <string>
#include <utility>
#include <vector>

using releasetest::installed;
using releasetest::raised;

namespace {

// A Moxel-like product whose key packages come in two groups.
boost::shared_ptr<Product> twoGroupProduct() {
    auto product = boost::make_shared<Product>();
    product->_id = "moxel";
    product->_name = "Moxel";
    product->_keypackages = {{"moxeltest-core"}, {"moxeltest-core-libs"}};
    return product;
}

class ReleaseStateTest : public releasetest::ReleaseCatalogueTest {
protected:
    void TearDown() override {
        for (const boost::shared_ptr<Release>& release : made)
            release->_builds.clear();
    }

    // Release "r" of the product with one build per (architecture, deprecated) pair.
    boost::shared_ptr<Release> release(const std::string& version, const std::string& allowed_from,
                                       const std::vector<std::pair<std::string, bool>>& builds = {
                                           {"x86_64", false}}) {
        auto made_release =
            boost::make_shared<Release>(twoGroupProduct(), "r", "Release R", "", version, allowed_from);
        made_release->_caution = "Restarts the web server.";
        int count = 0;
        for (const auto& build : builds)
            made_release->addBuild(boost::make_shared<Build>(
                made_release, "Linux", "Debian", "12", build.first, "", "",
                "b" + std::to_string(++count) + ".build.inf3", build.second ? "true" : ""));
        made.push_back(made_release);
        return made_release;
    }

    std::vector<boost::shared_ptr<Release>> made;
};

TEST_F(ReleaseStateTest, StateAndModeFollowTheInstalledVersion) {
    struct Case {
        const char* what;
        std::string cache;
        std::string version;
        std::string allowed_from;
        std::string arch;
        std::string installed_version;
        int state;
        int mode;
        std::string log;
    };
    const Case cases[] = {
        {"not installed", "", "18.0", "17.0", "x86_64", "", 2, 1, "Release r no previously installed"},
        {"upgrade", installed("moxeltest-core", "18.0.20"), "18.0.30", "17.8", "x86_64", "18.0.20", 2, 2,
         "Release r is actual"},
        {"upgrade not allowed from the installed version", installed("moxeltest-core", "17.0"), "18.0",
         "17.5", "x86_64", "17.0", 1, 0,
         "Release r not fit because too new: upgrade are allowed only begins from 17.5 version"},
        {"older than installed", installed("moxeltest-core", "18.0.30"), "18.0.20", "17.8", "x86_64",
         "18.0.30", 1, 0, "Release r too old: 18.0.30 is installed."},
        {"this very version, the package revision ignored", installed("moxeltest-core", "18.0", "", "3"),
         "18.0", "17.0", "x86_64", "18.0", 2, 4, "Release r is currently installed"},
        {"no build for this system", "", "18.0", "17.0", "ppc64le", "", 1, 0,
         "Release r contains no any build for this OS"},
        {"only the second key package group installed", installed("moxeltest-core-libs", "18.0.5"), "18.0.30",
         "17.0", "x86_64", "18.0.5", 2, 2, "Release r is actual"},
        {"the first group decides",
         installed("moxeltest-core", "17.9") + installed("moxeltest-core-libs", "18.0"), "18.0", "17.0",
         "x86_64", "17.9", 2, 2, "Release r is actual"},
        {"the newest of several installed versions",
         installed("moxeltest-core", "17.9") + installed("moxeltest-core", "18.0"), "18.0", "17.0", "x86_64",
         "18.0", 2, 4, "Release r is currently installed"},
        {"an installed epoch is newer than none", installed("moxeltest-core", "18.0", "1"), "18.0", "17.0",
         "x86_64", "1:18.0", 1, 0, "Release r too old: 1:18.0 is installed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boost::shared_ptr<Release> r = release(c.version, c.allowed_from, {{c.arch, false}});
        r->calculateState(&system(c.cache));
        EXPECT_EQ(r->_installed_version, c.installed_version);
        EXPECT_EQ(r->_state, c.state);
        EXPECT_EQ(r->_update_mode, c.mode);
        EXPECT_EQ(r->isActual(), c.state == 2);
        EXPECT_EQ(r->isCurrentlyInstalled(), c.mode == 4);
        if (c.state == 2) {
            EXPECT_EQ(r->getUpdateMode(), c.mode);
        } else {
            EXPECT_NE(raised([&r] { r->getUpdateMode(); }).find("installer/Release, line 333."),
                      std::string::npos);
        }
        EXPECT_NE(logText().find(c.log), std::string::npos) << c.log;
    }
}

TEST_F(ReleaseStateTest, ModeWordsAndCaution) {
    boost::shared_ptr<Release> fresh = release("18.0", "17.0");
    fresh->calculateState(&system(""));
    EXPECT_EQ(fresh->getUpdateModeName(), "install");
    EXPECT_EQ(fresh->getActionName(), "install");
    EXPECT_EQ(fresh->getCaution(), "Restarts the web server.");

    boost::shared_ptr<Release> upgrade = release("18.0.30", "17.8");
    upgrade->calculateState(&system(installed("moxeltest-core", "18.0.20")));
    EXPECT_EQ(upgrade->getUpdateModeName(), "update");
    EXPECT_EQ(upgrade->getActionName(), "upgrade");
    EXPECT_EQ(upgrade->getCaution(), "Restarts the web server.");

    boost::shared_ptr<Release> current = release("18.0", "17.0");
    current->calculateState(&system(installed("moxeltest-core", "18.0")));
    EXPECT_EQ(current->getUpdateModeName(), "up2date");
    EXPECT_EQ(current->getActionName(), "up2date");
    EXPECT_EQ(current->getCaution(), "");
    current->setMicroUpdateAvailable();
    EXPECT_EQ(current->getUpdateModeName(), "update");
    EXPECT_EQ(current->getActionName(), "update");

    boost::shared_ptr<Release> components = release("18.0", "17.0");
    components->calculateState(&system(installed("moxeltest-core", "18.0")));
    components->setComponentUpgradeAvailable();
    EXPECT_EQ(components->getActionName(), "update");
}

TEST_F(ReleaseStateTest, QueriesRaiseOnMissingOrBrokenState) {
    boost::shared_ptr<Release> r = release("18.0", "17.0");
    EXPECT_EQ(raised([&r] { r->isActual(); }), "3 release Release R installation state not checked yet\n");
    EXPECT_EQ(raised([&r] { r->isCurrentlyInstalled(); }),
              "3 release Release R installation state not checked yet\n");
    EXPECT_EQ(raised([&r] { r->getCaution(); }), "3 release Release R installation state not checked yet\n");
    EXPECT_EQ(raised([&r] { r->getUpdateModeName(); }),
              "3 release Release R: update mode is not calculated.\n");
    EXPECT_EQ(raised([&r] { r->getActionName(); }), "3 release Release R: update mode is not calculated.\n");
    r->_update_mode = 3;
    EXPECT_EQ(raised([&r] { r->getActionName(); }),
              "3 release Release R: update mode have invalid value: 3\n");
    EXPECT_NE(raised([&r] { r->calculate_current_release(nullptr); }).find("An internal error occured"),
              std::string::npos);
}

TEST_F(ReleaseStateTest, ComputingAgainForgetsTheEarlierMode) {
    boost::shared_ptr<Release> r = release("18.0", "17.0");
    r->calculateState(&system(installed("moxeltest-core", "18.0")));
    ASSERT_EQ(r->getUpdateMode(), 4);
    r->calculateState(&system(installed("moxeltest-core", "19.0")));
    EXPECT_FALSE(r->isActual());
    EXPECT_EQ(r->_update_mode, 0);
    EXPECT_EQ(r->_installed_version, "19.0");
}

TEST_F(ReleaseStateTest, ProductWithoutKeyPackagesCountsAsNotInstalled) {
    boost::shared_ptr<Release> r = release("18.0", "17.0");
    r->_product->_keypackages.clear();
    r->calculateState(&system(installed("moxeltest-core", "18.0")));
    EXPECT_EQ(r->_installed_version, "");
    EXPECT_EQ(r->getUpdateMode(), 1);
}

TEST_F(ReleaseStateTest, BuildToInstall) {
    const Opsys debian("Linux", "Debian", "12", "x86_64", "");

    boost::shared_ptr<Release> plain = release("18.0", "17.0", {{"i386", false}, {"x86_64", false}});
    boost::shared_ptr<Build> chosen = plain->SelectBestBuild(debian);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->_config, "b2.build.inf3");
    EXPECT_TRUE(plain->hasUsableBuild(debian));
    EXPECT_NE(
        logText().find("The SelectBestBuild function has selected the build b2.build.inf3 for installation."),
        std::string::npos);

    boost::shared_ptr<Release> deprecated = release("18.0", "17.0", {{"x86_64", true}});
    EXPECT_TRUE(deprecated->SelectBestBuild(debian));
    EXPECT_FALSE(deprecated->hasUsableBuild(debian));

    boost::shared_ptr<Release> foreign = release("18.0", "17.0", {{"ppc64le", false}});
    EXPECT_FALSE(foreign->SelectBestBuild(debian));
    EXPECT_FALSE(foreign->hasUsableBuild(debian));
}

} // namespace
