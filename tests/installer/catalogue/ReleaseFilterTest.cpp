#include "common/runtime/Opsys.h"
#include "tests/installer/catalogue/ReleaseTestSupport.h"
#include "tests/support/ForkedChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/join.hpp>
#include <boost/make_shared.hpp>

#include <string>
#include <vector>

using releasetest::ids;
using releasetest::installed;
using releasetest::ProductSpec;
using releasetest::raised;
using releasetest::rel;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ReleaseFilterTest : public releasetest::ReleaseCatalogueTest {};

TEST_F(ReleaseFilterTest, TierCropping) {
    struct Case {
        const char* what;
        std::string releases;
        std::vector<std::string> tiers;
        std::vector<std::string> keep;
        std::string installed_version;
        std::vector<std::string> main;
        std::vector<std::string> promoted;
    };
    const std::vector<std::string> all_tiers{"stable", "release", "current"};
    const Case cases[] = {
        {"the first release of each tier represents it",
         rel("a", "3.0", "tags=\"current\"") + rel("b", "2.0") + rel("c", "1.5", "tags=\"stable\""),
         all_tiers,
         {},
         "",
         {"a:current", "b:stable"},
         {}},
        {"a later release takes a tier still open",
         rel("a", "3.0", "tags=\"current\"") + rel("b", "2.0") + rel("c", "1.5", "tags=\"release,stable\""),
         all_tiers,
         {},
         "",
         {"a:current", "b:stable", "c:release"},
         {}},
        {"tiers compare without case",
         rel("a", "1.0", "tags=\"Stable\""),
         {"stable"},
         {},
         "",
         {"a:stable"},
         {}},
        {"a release claims every open tier it carries, shown by the first requested",
         rel("a", "2.0", "tags=\"current,stable\"") + rel("b", "1.0", "tags=\"current\""),
         {"stable", "current"},
         {},
         "",
         {"a:stable"},
         {}},
        {"claiming a tier beats promotion",
         rel("d", "2.0", "tags=\"current\"") + rel("e", "1.0", "promoted_tags=\"current\""),
         {"stable", "current"},
         {},
         "",
         {"d:current", "e:stable"},
         {}},
        {"a promoted tier taken already is closed",
         rel("d", "2.0", "tags=\"current\"") + rel("e", "1.0", "promoted_tags=\"current\""),
         {"current"},
         {},
         "",
         {"d:current"},
         {}},
        {"a release promoted into a free tier is listed apart",
         rel("f", "2.0", "promoted_tags=\"release\"") + rel("g", "1.0", "tags=\"release\""),
         {"release"},
         {},
         "",
         {"g:release"},
         {"f"}},
        {"the installed release stays outside the tiers",
         rel("x", "2.0", "tags=\"testing\"") + rel("y", "3.0"),
         {"stable"},
         {},
         "2.0",
         {"x:currently installed", "y:stable"},
         {}},
        {"releases to keep stay, and still claim their tiers",
         rel("k", "2.0") + rel("l", "3.0", "tags=\"stable\"") + rel("m", "1.0", "tags=\"testing\""),
         {"stable"},
         {"k", "m"},
         "",
         {"k:stable", "m:testing"},
         {}},
        {"no tiers at all (all versions): nothing changes",
         rel("a", "3.0", "tags=\"current\"") + rel("b", "2.0", "tags=\"testing\"") + rel("c", "1.0"),
         {},
         {},
         "",
         {"a:current", "b:testing", "c:stable"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write({{"p", c.releases}});
        std::unique_ptr<BuildManager> manager =
            loadStates(c.installed_version.empty() ? "" : installed("moxeltest-p", c.installed_version));
        manager->cropReleasesByTags(c.tiers, c.keep);
        EXPECT_EQ(ids(manager->_releases, true), c.main);
        EXPECT_EQ(ids(manager->_promoted_releases), c.promoted);
    }
}

TEST_F(ReleaseFilterTest, TiersAreClaimedPerProductAndPromotedReleasesComeFirst) {
    write({{"p", rel("p-next", "2.0", "promoted_tags=\"release\"") + rel("p-1", "1.0", "tags=\"release\"")},
           {"q", rel("q-1", "1.0", "tags=\"release\"") + rel("q-2", "2.0", "tags=\"release\"")}});
    std::unique_ptr<BuildManager> manager = loadStates("");
    manager->cropReleasesByTags({"release"}, {});
    EXPECT_THAT(ids(manager->getReleases(true)), ElementsAre("p-next", "p-1", "q-1"));
    EXPECT_THAT(ids(manager->getReleases(false)), ElementsAre("p-1", "q-1"));
    EXPECT_NE(logText().find("DEBUG: Cropping releases by tags ( 'release')"), std::string::npos);

    // Without tiers both lists stay as they are; a second cropping starts the promoted list afresh.
    manager->cropReleasesByTags({}, {});
    EXPECT_THAT(ids(manager->getReleases(true)), ElementsAre("p-next", "p-1", "q-1"));
    manager->cropReleasesByTags({"stable"}, {"q-1"});
    EXPECT_THAT(ids(manager->getReleases(true)), ElementsAre("q-1"));
    EXPECT_NE(logText().find("DEBUG: Keep releases ( 'q-1')"), std::string::npos);
}

TEST_F(ReleaseFilterTest, ReleasesThatCannotBeInstalledAreRemoved) {
    write({{"p", rel("p-ppc", "1.0", "", "1.0", "ppc64le") + rel("p-2", "2.0")},
           {"q", rel("q-0.9", "0.9") + rel("q-1", "1.0") + rel("q-2", "2.0", "", "1.0.5")},
           {"r", rel("r-1", "1.0"), "", "<incompatible_with prod_id=\"q\"/>"}});
    std::unique_ptr<BuildManager> manager = loadStates(installed("moxeltest-q", "1.0"));
    manager->removeNotActualReleases();
    EXPECT_THAT(ids(manager->_releases), ElementsAre("p-2", "q-1"));
    EXPECT_NE(logText().find("DEBUG: Removing not actual releases: done"), std::string::npos);
}

TEST_F(ReleaseFilterTest, CleanInstallationsOfHiddenProductsAreRemoved) {
    write({{"h", rel("h-2", "2.0"), "hidden_to_install=\"true\""},
           {"g", rel("g-2", "2.0"), "hidden_to_install=\"yes\""},
           {"v", rel("v-2", "2.0")}});
    std::unique_ptr<BuildManager> manager = loadStates(installed("moxeltest-g", "1.5"));
    manager->removeNotActualReleases();
    manager->removeHiddenProductsReleases();
    EXPECT_THAT(ids(manager->_releases), ElementsAre("g-2", "v-2"));
}

TEST_F(ReleaseFilterTest, HiddenProductsFilterNeedsActualReleases) {
    write(
        {{"h", rel("h-ppc", "2.0", "", "1.0", "ppc64le") + rel("h-2", "2.0"), "hidden_to_install=\"true\""}});
    std::unique_ptr<BuildManager> manager = loadStates("");
    EXPECT_NE(raised([&manager] {
                  manager->removeHiddenProductsReleases();
              }).find("installer/BuildManager, line 49."),
              std::string::npos);
    EXPECT_THAT(ids(manager->_releases), ElementsAre("h-ppc", "h-2"));
}

TEST_F(ReleaseFilterTest, UpgradeNotices) {
    struct Case {
        const char* what;
        std::string releases;
        std::vector<std::string> tiers;
        std::vector<std::string> warnings;
    };
    const std::string kb =
        "<kb_article_upgrade_from_not_supported_versions src=\"https://kb.moxel.example/1\"/>";
    const std::string notice =
        "You can upgrade Product m 17.0 only to Product m 17.5 or earlier. If you want to "
        "upgrade to the latest version, refer to the following article: "
        "https://kb.moxel.example/1";
    const Case cases[] = {
        {"a newer release cannot be reached",
         rel("m-17.5", "17.5", "", "17.0") + rel("m-18", "18.0", "", "17.5"),
         {"stable"},
         {notice}},
        {"the reachable release is outside the tiers",
         rel("m-17.5", "17.5", "", "17.0") + rel("m-18", "18.0", "tags=\"current\"", "17.5"),
         {"current"},
         {}},
        {"the reachable release has no build for this system",
         rel("m-17.5", "17.5", "", "17.0", "ppc64le") + rel("m-18", "18.0", "", "17.5"),
         {"stable"},
         {}},
        {"every newer release can be reached",
         rel("m-17.5", "17.5", "", "17.0") + rel("m-18", "18.0", "", "17.0"),
         {"stable"},
         {}},
        {"no tiers requested", rel("m-17.5", "17.5", "", "17.0") + rel("m-18", "18.0", "", "17.5"), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write({{"m", c.releases, "", "", kb}});
        std::unique_ptr<BuildManager> manager = loadStates(installed("moxeltest-m", "17.0"));
        manager->_warnings.push_back("left from before");
        manager->collectUpgradeWarnings(c.tiers);
        EXPECT_EQ(manager->_warnings, c.warnings);
    }
}

// This server's description is made once per process, so each system is tried in a child.
TEST_F(ReleaseFilterTest, OperatingSystemNotices) {
    struct Case {
        const char* name;
        const char* version;
        bool moxel_installed;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"Windows-server", "5.2", false, {"os_win2003_not_supported"}},
        {"Windows-server", "6.0", false, {"os_win2008_not_supported_product_not_installed"}},
        {"Windows-server", "6.0", true, {"os_win2008_not_supported_product_installed"}},
        {"Windows-server", "6.1", false, {"os_win2008r2_not_supported_product_not_installed"}},
        {"Windows-server-core", "6.1", true, {"os_win2008r2_not_supported_product_installed"}},
        {"Windows-workstation", "10.0", false, {"os_win_workstation_not_supported"}},
        {"Windows-server", "10.0", true, {}},
        {"Linux", "12", true, {}},
    };
    write({{"moxel", rel("moxel-18", "18.0")}});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.version);
        std::string expected;
        for (const std::string& key : c.keys)
            expected += Messages().getMessage(key) + "|";
        const std::string result = logs.file("warnings");
        testsupport::ForkedChild child([&](testsupport::ForkedChild&) {
            describeServer(c.name, std::string(c.name) == "Linux" ? "Debian" : "Microsoft", c.version,
                           "x86_64");
            std::unique_ptr<BuildManager> manager =
                loadStates(c.moxel_installed ? installed("moxeltest-moxel", "17.0") : "");
            manager->collectUpgradeWarnings({"stable"});
            testsupport::writeFile(result, boost::algorithm::join(manager->_warnings, "|") +
                                               (manager->_warnings.empty() ? "" : "|"));
            return 0;
        });
        ASSERT_EQ(child.wait(), 0);
        EXPECT_EQ(testsupport::readFile(result), expected);
    }
}

TEST_F(ReleaseFilterTest, SelectingById) {
    write({{"moxel", rel("moxel-18", "18.0") + rel("shared", "18.1")}, {"q", rel("shared", "1.0")}});
    std::unique_ptr<BuildManager> manager = loadStates("");

    manager->selectRelease("", "shared");
    EXPECT_THAT(manager->getSelectedReleaseIds(), ElementsAre("shared", "shared"));

    manager->selectRelease("moxel", "moxel-18");
    EXPECT_THAT(manager->getSelectedReleaseIds(), ElementsAre("moxel-18", "shared"));
    EXPECT_EQ(manager->getSelectedReleaseId("q"), "shared");

    const std::string advice = "\n" + Messages().getMessage("err_no_prod_rel_id_advice") + "\n";
    EXPECT_EQ(raised([&manager] { manager->selectRelease("moxel", "nope"); }),
              "2 There is no release with ID 'nope' of product 'moxel' at the installation source." + advice);
    EXPECT_FALSE(manager->isProductSelected("moxel"));
    EXPECT_TRUE(manager->isProductSelected("q"));

    EXPECT_EQ(
        raised([&manager] { manager->selectRelease("", "nope"); }),
        "2 There is no release with ID 'nope' of product '<default=moxel>' at the installation source." +
            advice);
    EXPECT_EQ(raised([&manager] { manager->selectRelease("absent", "moxel-18"); }),
              "2 There is no product with ID 'absent' at the installation source." + advice);
}

TEST_F(ReleaseFilterTest, PromotedReleasesCanBeSelected) {
    write({{"moxel", rel("moxel-next", "19.0", "tags=\"current\" promoted_tags=\"release\"") +
                         rel("moxel-18", "18.0")}});
    std::unique_ptr<BuildManager> manager = loadStates("");
    manager->cropReleasesByTags({"stable", "release"}, {});
    ASSERT_THAT(ids(manager->_promoted_releases), ElementsAre("moxel-next"));
    manager->selectRelease("moxel", "moxel-next");
    EXPECT_EQ(manager->getSelectedReleaseId("moxel"), "moxel-next");
}

TEST_F(ReleaseFilterTest, DefaultSelection) {
    struct Case {
        const char* what;
        std::vector<ProductSpec> products;
        std::string cache;
        std::vector<std::string> selected;
        std::string log;
    };
    const std::string prefix = "DEBUG: Selecting release of default product if no releases are current: ";
    const Case cases[] = {
        {"nothing installed: the latest release of the default product",
         {{"moxel", rel("moxel-18.0", "18.0") + rel("moxel-18.1", "18.1") + rel("moxel-17", "17.0")},
          {"q", rel("q-9", "9.0")}},
         "",
         {"moxel-18.1"},
         prefix + "done, selected moxel/moxel-18.1"},
        {"some release installed",
         {{"moxel", rel("moxel-18.0", "18.0") + rel("moxel-18.1", "18.1")}, {"q", rel("q-9", "9.0")}},
         installed("moxeltest-q", "9.0"),
         {},
         prefix + "nothing to do, there are current releases"},
        {"the default product has no release",
         {{"q", rel("q-9", "9.0")}},
         "",
         {},
         prefix + "nothing to do, cannot select latest release id for moxel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write(c.products);
        std::unique_ptr<BuildManager> manager = loadStates(c.cache);
        manager->selectDefaultProductRelease();
        EXPECT_EQ(manager->getSelectedReleaseIds(), c.selected);
        EXPECT_NE(logText().find(c.log), std::string::npos) << c.log;
    }
}

TEST_F(ReleaseFilterTest, FixtureSourceThroughTheWholeLoadSequence) {
    FileFetcher fetcher(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/", target.path());
    BuildManager manager(fetcher, "");
    manager.calculateReleaseStates(&system(installed("moxeltest-pagewright", "2.5.0", "", "1")));
    manager.collectUpgradeWarnings({"stable", "release", "current"});
    manager.removeNotActualReleases();
    manager.removeHiddenProductsReleases();
    manager.cropReleasesByTags({"stable", "release", "current"}, {});

    EXPECT_THAT(manager._warnings, IsEmpty());
    EXPECT_THAT(ids(manager.getReleases(true), true),
                ElementsAre("moxel-18.0.1:stable", "pagewright-2.5.0:currently installed"));
    EXPECT_EQ(manager.findRelease("moxel-18.0.1")->getActionName(), "install");
    EXPECT_EQ(manager.findRelease("pagewright-2.5.0")->getUpdateModeName(), "up2date");
    EXPECT_THAT(manager.getInstalledProducts(), ElementsAre("pagewright"));
    manager.selectDefaultProductRelease();
    EXPECT_THAT(manager.getSelectedReleaseIds(), IsEmpty());
}

TEST_F(ReleaseFilterTest, DisplayTagText) {
    auto product = boost::make_shared<Product>();
    product->_id = "p";
    Release release(product, "r", "R", "", "2.0", "1.0");
    release._state = 2;
    EXPECT_EQ(release.getDisplayTag(), "stable");
    release.addTags("Testing");
    EXPECT_EQ(release.getDisplayTag(), "testing");
    release._display_tag = "release";
    EXPECT_EQ(release.getDisplayTag(), "release");
    release._installed_version = "2.0";
    EXPECT_EQ(release.getDisplayTag(), "currently installed");
}

} // namespace
