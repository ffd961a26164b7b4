#include "common/runtime/Opsys.h"
#include "installer/catalogue/BuildList.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>

#include <sstream>

using cataloguetest::CatalogueTest;
using cataloguetest::ReleaseHolder;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

boost::shared_ptr<Build> debianBuild(const std::string& version, const std::string& arch = "x86_64",
                                     const std::string& environment = "") {
    return boost::make_shared<Build>(boost::shared_ptr<Release>(), "Linux", "Debian", version, arch, "",
                                     environment,
                                     "build-" + version + "-" + arch + "-" + environment + ".xml", "");
}

std::string text(const Build& build) {
    std::ostringstream out;
    build.print(out);
    return out.str();
}

using CatalogueRecordsTest = CatalogueTest;

TEST_F(CatalogueRecordsTest, BestBuildIsTheLastExactMatchOrElseTheFirstCompatibleOne) {
    struct Case {
        const char* what;
        std::string system_version;
        std::string system_environment;
        std::vector<boost::shared_ptr<Build>> builds;
        int expected; // index into builds, -1 for none
    };
    const Case cases[] = {
        {"exact second", "12.5", "", {debianBuild("12"), debianBuild("12.5")}, 1},
        {"last of two exact", "12.5", "", {debianBuild("12"), debianBuild("12.5"), debianBuild("12.5")}, 2},
        {"no exact match keeps the first", "12.5", "", {debianBuild("12"), debianBuild("12.1")}, 0},
        {"incompatible ones are skipped", "12.5", "", {debianBuild("11"), debianBuild("12.1")}, 1},
        {"environment must match too",
         "12.5",
         "vz",
         {debianBuild("12.5", "x86_64", "vz"), debianBuild("12.5")},
         0},
        {"exact environment wins",
         "12.5",
         "vz",
         {debianBuild("12.5"), debianBuild("12.5", "x86_64", "vz")},
         1},
        {"other architecture only", "12.5", "", {debianBuild("12.5", "aarch64")}, -1},
        {"nothing at all", "12.5", "", {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BuildList list;
        for (const auto& build : c.builds)
            list.add(build);
        const Opsys system("Linux", "Debian", c.system_version, "x86_64", c.system_environment);
        const boost::shared_ptr<Build> best = list.getBestBuild(system);
        if (c.expected < 0)
            EXPECT_FALSE(best);
        else
            EXPECT_EQ(best, c.builds[c.expected]);
    }
    EXPECT_THAT(logText(),
                HasSubstr("DEBUG: build for Linux Debian 12.5 aarch64 (build-12.5-aarch64-.xml) is "
                          "not compatible\n"));
}

TEST_F(CatalogueRecordsTest, BuildPrintAndDeprecatedFlag) {
    const Build bare(boost::shared_ptr<Release>(), "Linux", "Debian", "12", "x86_64", "", "", "", "");
    EXPECT_EQ(text(bare), "build for Linux Debian 12 x86_64");
    const Build full(boost::shared_ptr<Release>(), "Linux", "Debian", "12", "x86_64", "bookworm", "vz",
                     "moxel/build.xml", "true");
    EXPECT_EQ(text(full), "build for Linux Debian 12 x86_64 under vz (moxel/build.xml)");
    EXPECT_TRUE(full._deprecated);
    for (const char* word : {"True", "yes", "1", ""}) {
        const Build other(boost::shared_ptr<Release>(), "Linux", "Debian", "12", "x86_64", "", "", "", word);
        EXPECT_FALSE(other._deprecated) << word;
    }
}

TEST_F(CatalogueRecordsTest, BuildParentLinks) {
    ReleaseHolder holder;
    const auto first = holder.make("moxel", "r1", "1.0");
    const auto second = holder.make("moxel", "r2", "2.0");
    second->_name = "Second";
    auto own = boost::make_shared<Build>(first, "Linux", "Debian", "12", "x86_64", "", "", "a.xml", "");
    first->addBuild(own);
    EXPECT_TRUE(own->belongsToParentRelease());

    // An add-on build moved under a release is not one of the release's own builds.
    auto addon_build = debianBuild("12");
    addon_build->setParent(first);
    EXPECT_FALSE(addon_build->belongsToParentRelease());
    addon_build->setParent(second);
    EXPECT_EQ(addon_build->_parent, second);
    EXPECT_THAT(logText(),
                HasSubstr("DEBUG: Build (addon?) build for Linux Debian 12 x86_64 (build-12-x86_64-.xml)"
                          " change parent from r1 to Second\n"));
}

TEST_F(CatalogueRecordsTest, AddonWindowsHoldBothBounds) {
    ReleaseHolder holder;
    Addon addon("extras", "Extras", "1.0", false);
    addon.addCompatible("moxel", "1.0", "2.0");
    struct Case {
        std::string product;
        std::string version;
        bool applicable;
        const char* log;
    };
    const Case cases[] = {
        {"moxel", "1.0", true,
         "DEBUG: Addon::applicableTo: merge addon extras because it fit for release r-1.0"},
        {"moxel", "2.0", true,
         "DEBUG: Addon::applicableTo: merge addon extras because it fit for release r-2.0"},
        {"moxel", "2.0.1", false, "DEBUG: Addon::applicableTo: version too high for extras"},
        {"moxel", "0.9", false, "DEBUG: Addon::applicableTo: version too low for extras"},
        {"other", "1.5", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product + " " + c.version);
        const auto release = holder.make(c.product, "r-" + c.version, c.version);
        const std::string before = logText();
        EXPECT_EQ(addon.applicableTo(*release), c.applicable);
        const std::string logged = logText().substr(before.size());
        if (c.log)
            EXPECT_THAT(logged, HasSubstr(std::string(c.log) + "\n"));
        else
            EXPECT_THAT(logged, Not(HasSubstr("Addon::applicableTo")));
    }

    // The second window of the same product can still take the release.
    Addon two("two", "Two", "1.0", false);
    two.addCompatible("moxel", "3.0", "4.0");
    two.addCompatible("moxel", "1.0", "1.5");
    EXPECT_TRUE(two.applicableTo(*holder.make("moxel", "r", "1.2")));
}

TEST_F(CatalogueRecordsTest, AddonWindowErrors) {
    Addon addon("extras", "Extras", "1.0", false);
    try {
        addon.addCompatible("moxel", "1.0", "");
        ADD_FAILURE() << "an empty bound was accepted";
    } catch (const error& e) {
        ASSERT_EQ(e.getLines().size(), 2u);
        EXPECT_EQ(e.getLines().front(), Messages().getMessage("err_empty_version"));
        EXPECT_EQ(e.getLines().back(), "Wrong addon's compat info: moxel  from 1.0 to ");
        EXPECT_EQ(e.getClass(), 1);
    }
    EXPECT_FALSE(addon.hasCompatible());

    ReleaseHolder holder;
    try {
        addon.applicableTo(*holder.make("moxel", "r", "1.0"));
        ADD_FAILURE() << "an add-on without windows was applied";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("installer/Addon, line 56."));
        EXPECT_EQ(e.getClass(), 3);
    }
}

TEST_F(CatalogueRecordsTest, ReleaseIsLoggedByNameOrId) {
    ReleaseHolder holder;
    const auto release = holder.make("moxel", "moxel-18", "18.0");
    std::ostringstream out;
    out << *release;
    EXPECT_EQ(out.str(), "moxel-18");
    release->_name = "Moxel 18";
    out.str("");
    out << *release;
    EXPECT_EQ(out.str(), "Moxel 18");
}

TEST_F(CatalogueRecordsTest, DetailsUrlNamesTheLanguageOfTheMessages) {
    ReleaseHolder holder;
    const auto release = holder.make("moxel", "moxel-18", "18.0");
    release->_details_url = "https://moxel.invalid/[LOCALE]/notes/[VERSION]";
    Messages::setLocale("pt_BR.UTF-8");
    EXPECT_EQ(release->getDetailsUrl(), "https://moxel.invalid/pt-BR/notes/[VERSION]");
    // The stored address keeps the macro for the next locale.
    EXPECT_EQ(release->_details_url, "https://moxel.invalid/[LOCALE]/notes/[VERSION]");
    Messages::setLocale("de_DE.UTF-8");
    EXPECT_EQ(release->getDetailsUrl(), "https://moxel.invalid/de-DE/notes/[VERSION]");
}

TEST_F(CatalogueRecordsTest, ReleaseVersionsMustNotBeEmpty) {
    auto product = boost::make_shared<Product>();
    for (const auto& versions : {std::make_pair("", "1.0"), std::make_pair("1.0", "")}) {
        try {
            Release release(product, "r", "R", "", versions.first, versions.second);
            ADD_FAILURE() << "an empty version was accepted";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), Messages().getMessage("err_empty_version") + "\n");
        }
    }
}

// Only an installed release that is up to date takes the marks of pending updates.
TEST_F(CatalogueRecordsTest, UpdateMarksNeedAnInstalledUpToDateRelease) {
    struct Case {
        const char* what;
        std::string installed;
        int mode;
        bool marked;
    };
    const Case cases[] = {
        {"installed and up to date", "18.0", 4, true},
        {"installed, mode not up to date", "18.0", 2, false},
        {"another version installed", "17.0", 4, false},
        {"not installed", "", 1, false},
    };
    ReleaseHolder holder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto release = holder.make("moxel", "r", "18.0");
        release->_state = 2;
        release->_installed_version = c.installed;
        release->_update_mode = c.mode;
        release->setMicroUpdateAvailable();
        EXPECT_EQ(release->_micro_update_available, c.marked);
        EXPECT_EQ(release->getUpdatesAvailability(), c.marked ? 1 : 0);
        release->setComponentUpgradeAvailable();
        EXPECT_EQ(release->getUpdatesAvailability(), c.marked ? 2 : 0);
        release->addNotInstalledComponent("mail");
        EXPECT_EQ(release->_not_installed_components.size(), c.installed == "18.0" ? 1u : 0u);
    }

    const auto unchecked = holder.make("moxel", "r", "18.0");
    unchecked->_name = "Moxel";
    try {
        unchecked->setMicroUpdateAvailable();
        ADD_FAILURE() << "the state was not checked";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "release Moxel installation state not checked yet\n");
        EXPECT_EQ(e.getClass(), 3);
    }
}

TEST_F(CatalogueRecordsTest, IncompatibilityIsOneDirectional) {
    ReleaseHolder holder;
    const auto mail = holder.make("mail", "m", "1.0");
    const auto web = holder.make("web", "w", "1.0");
    mail->_product->_incompatible_with = {"other", "web"};
    EXPECT_TRUE(mail->isIncompatibleWith(*web));
    EXPECT_FALSE(web->isIncompatibleWith(*mail));
}

} // namespace
