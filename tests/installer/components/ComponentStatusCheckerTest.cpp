#include "installer/components/AiComponent.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/auto_configurator.h"
#include "installer/sources/SourceConfigLazyAddon.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using testsupport::makeBuild;

namespace {

using Section = Component::keypackages_t;

// One package cache record: "name version-release" with its build time and capabilities.
std::string record(const std::string& name, const std::string& version, const std::string& release,
                   int64_t buildTime, const std::vector<std::string>& provides = {}) {
    std::string text = "N:" + name + "\nV:" + version + "\nL:" + release +
                       "\nA:x86_64\nB:" + std::to_string(buildTime) + "\n";
    // A path is a file of the package, with its mode and digest.
    for (const std::string& provide : provides)
        text += "P:" + provide + "\n" +
                (provide[0] == '/' ? "m:33261\n5:0123456789abcdef0123456789abcdef\n" : "");
    return text + "X:\n\n";
}

// A package manager that offers a fixed list and remembers what it was asked.
class OfferingConfigurator : public driver::auto_configurator::DummyConfigurator {
public:
    OfferingConfigurator() { configureSystem(); }

    std::map<std::string, const Package*> offered;
    std::vector<std::string> asked;

protected:
    const Package* doGetAvailablePackage(const std::string& name) override {
        asked.push_back(name);
        auto found = offered.find(name);
        return found == offered.end() ? nullptr : found->second;
    }
};

class ComponentStatusTest : public ::testing::Test {
protected:
    ComponentStatusTest() {
        // The release is known not to be installed unless a test says otherwise.
        build->_parent->_state = 2;
    }

    // Installed packages come as type 's', packages of the source as 'u'.
    void read(Repository& target, const std::string& text, Package::type_t type) {
        if (text.empty())
            return;
        const std::string path = dir.file("cache" + std::to_string(++caches));
        testsupport::writeFile(path, text);
        FILE* in = fopen(path.c_str(), "re");
        ASSERT_NE(in, nullptr);
        target.addFromCache(in, type, Repository::DUPS_APPEND, nullptr);
        fclose(in);
    }

    // "name version-release buildtime" texts become the component's build packages.
    comp_ptr_t makeComponent(const std::vector<Section>& sections, const std::vector<std::string>& own = {}) {
        auto component = std::make_shared<AiComponent>(build, "mail", "Mail server", "", sections);
        for (const std::string& text : own) {
            std::istringstream in(text);
            std::string name, version;
            int64_t buildTime = 0;
            in >> name >> version >> buildTime;
            packages.push_back(std::make_unique<Package>(name, version));
            packages.back()->setBuildTime(buildTime);
            component->packages.push_back(packages.back().get());
        }
        return component;
    }

    const Package* own(const std::string& name, const std::string& version) {
        packages.push_back(std::make_unique<Package>(name, version));
        return packages.back().get();
    }

    static std::vector<std::string> names(const cpkgs_t& list) {
        std::vector<std::string> result;
        for (const Package* package : list)
            result.push_back(package->getName().str() + "-" + package->getVersion().toString());
        return result;
    }

    testsupport::TempDir dir;
    int caches = 0;
    boost::shared_ptr<Build> build = makeBuild("moxel");
    std::vector<std::unique_ptr<Package>> packages;
    Repository repository;
};

struct StatusCase {
    const char* what;
    std::string installed;
    std::string offered;
    std::vector<Section> sections;
    std::vector<std::string> own;
    int status;
    std::string installedVersion, availableVersion;
    int64_t installedTime, availableTime;
};

// clang-format off
const StatusCase statusCases[] = {
    {"older key package installed, newer one offered",
     record("moxel-mail", "1.0", "1", 100), record("moxel-mail", "1.1", "1", 200),
     {{{"moxel-mail"}, {}, {}}}, {}, AiComponent::UPGRADE, "1.0-1", "1.1-1", 100, 200},
    {"a negative key package installed makes the section neither installed nor latest",
     record("moxel-mail", "1.0", "1", 100) + record("moxel-legacy-mail", "1", "1", 50),
     record("moxel-mail", "1.1", "1", 200),
     {{{"moxel-mail"}, {"moxel-legacy-mail"}, {}}}, {}, AiComponent::INSTALL, "", "1.1-1", 0, 200},
    {"key package neither installed nor offered", "", record("moxel-other", "1", "1", 10),
     {{{"moxel-mail"}, {}, {}}}, {}, AiComponent::NOT_AVAILABLE, "", "", 0, 0},
    {"key package given with a path is looked up by its base name",
     record("moxel-mail", "1.0", "1", 100), record("moxel-mail", "1.1", "1", 200),
     {{{"/opt/zeq/moxel-mail"}, {}, {}}}, {}, AiComponent::UPGRADE, "1.0-1", "1.1-1", 100, 200},
    {"key package and build packages installed in the build's versions",
     record("moxel-mail", "1.1", "1", 300) + record("moxel-webmail", "2.0", "1", 400), "",
     {{{"moxel-mail"}, {}, {}}}, {"moxel-mail 1.1-1 300", "moxel-webmail 2.0-1 400"},
     AiComponent::UP2DATE, "2.0-1", "2.0-1", 400, 400},
    {"key package up to date, a build package older",
     record("moxel-mail", "1.1", "1", 300) + record("moxel-webmail", "1.9", "1", 350), "",
     {{{"moxel-mail"}, {}, {}}}, {"moxel-mail 1.1-1 300", "moxel-webmail 2.0-1 400"},
     AiComponent::UPGRADE, "1.9-1", "2.0-1", 350, 400},
    {"sections not latest: the build packages only raise the available build time",
     record("moxel-mail", "1.0", "1", 100), record("moxel-mail", "1.2", "1", 200),
     {{{"moxel-mail"}, {}, {}}}, {"moxel-mail 1.1-1 500"}, AiComponent::UPGRADE, "1.0-1", "1.2-1", 100, 500},
    {"a later section installed in its latest state decides",
     record("moxel-mail", "1.1", "1", 300), "",
     {{{"moxel-mail-old"}, {}, {}}, {{"moxel-mail"}, {}, {}}}, {},
     AiComponent::UP2DATE, "1.1-1", "1.1-1", 300, 300},
    {"without sections: all build packages installed", record("a", "1", "1", 10) + record("b", "2", "1", 20),
     "", {}, {"a 1-1 10", "b 2-1 20"}, AiComponent::UP2DATE, "2-1", "2-1", 20, 20},
    {"without sections: one build package missing", record("b", "2", "1", 20), "", {},
     {"a 1-1 10", "b 2-1 20"}, AiComponent::UPGRADE, "2-1", "2-1", 20, 20},
    {"without sections: one build package older", record("a", "0.9", "1", 5) + record("b", "2", "1", 20), "",
     {}, {"a 1-1 10", "b 2-1 20"}, AiComponent::UPGRADE, "2-1", "2-1", 20, 20},
    {"without sections: nothing installed", "", "", {}, {"a 1-1 10", "b 2-1 20"}, AiComponent::INSTALL, "",
     "2-1", 0, 20},
    {"without sections and without packages", record("a", "1", "1", 10), "", {}, {},
     AiComponent::NOT_AVAILABLE, "", "", 0, 0},
    {"key provide by an installed package with nothing newer",
     record("postfix", "3.4", "1", 100, {"mail-transport"}), "",
     {{{}, {}, {"mail-transport"}}}, {}, AiComponent::UP2DATE, "3.4-1", "3.4-1", 100, 100},
    {"key provide: the installed provider's package is offered newer",
     record("postfix", "3.4", "1", 100, {"mail-transport"}), record("postfix", "3.5", "1", 200),
     {{{}, {}, {"mail-transport"}}}, {}, AiComponent::UPGRADE, "3.4-1", "3.5-1", 100, 200},
    {"key provide: a newer offered provider does not hide the installed one",
     record("postfix", "3.4", "1", 100, {"mail-transport"}),
     record("postfix", "3.5", "1", 200, {"mail-transport"}),
     {{{}, {}, {"mail-transport"}}}, {}, AiComponent::UPGRADE, "3.4-1", "3.5-1", 100, 200},
    {"key provide: provided only by an offered package", "",
     record("postfix", "3.5", "1", 200, {"mail-transport"}),
     {{{}, {}, {"mail-transport"}}}, {}, AiComponent::NOT_AVAILABLE, "", "", 0, 0},
    {"key provide: nothing provides it", record("postfix", "3.4", "1", 100), "",
     {{{}, {}, {"mail-transport"}}}, {}, AiComponent::NOT_AVAILABLE, "", "", 0, 0},
    {"key provide: a file path", record("postfix", "3.4", "1", 100, {"/usr/sbin/sendmail"}),
     record("postfix", "3.5", "1", 200, {"/usr/sbin/sendmail"}), {{{}, {}, {"/usr/sbin/sendmail"}}}, {},
     AiComponent::UPGRADE, "3.4-1", "3.5-1", 100, 200},
    {"key package latest, key provide missing: installed section fails",
     record("moxel-mail", "1.1", "1", 300), "", {{{"moxel-mail"}, {}, {"mail-transport"}}}, {},
     AiComponent::NOT_AVAILABLE, "", "", 0, 0},
};
// clang-format on

TEST_F(ComponentStatusTest, StatusVersionsAndTimesFollowTheInstalledSystem) {
    for (const StatusCase& c : statusCases) {
        SCOPED_TRACE(c.what);
        Repository system;
        read(system, c.installed, 's');
        read(system, c.offered, 'u');
        const comp_ptr_t component = makeComponent(c.sections, c.own);
        component->checkInstalled(&system, nullptr);
        EXPECT_EQ(c.status, component->installMode);
        EXPECT_EQ(c.installedVersion, component->installedVersion);
        EXPECT_EQ(c.availableVersion, component->availableVersion);
        EXPECT_EQ(c.installedTime, component->installedBuildTime);
        EXPECT_EQ(c.availableTime, component->availableBuildTime);
    }
}

TEST_F(ComponentStatusTest, InstalledKeyPackagesTheBuildDoesNotListAreAppendedOnce) {
    read(repository, record("moxel-mail", "1.0", "1", 100) + record("moxel-mail-common", "1.0", "1", 100),
         's');
    read(repository, record("moxel-mail", "1.1", "1", 200), 'u');
    const comp_ptr_t component = makeComponent(
        {{{"moxel-mail", "moxel-mail-common"}, {}, {}}, {{"moxel-mail-common", "moxel-absent"}, {}, {}}},
        {"moxel-mail 1.1-1 200"});
    component->checkInstalled(&repository, nullptr);

    EXPECT_EQ(AiComponent::UPGRADE, component->installMode);
    // The installed package of a name the build lists is not added; a name that two sections share
    // is added once.
    EXPECT_EQ((std::vector<std::string>{"moxel-mail-1.1-1", "moxel-mail-common-1.0-1"}),
              names(component->packages));

    // A second check finds the package listed and adds nothing.
    component->checkInstalled(&repository, nullptr);
    EXPECT_EQ(2u, component->packages.size());
}

TEST_F(ComponentStatusTest, AnUnavailableComponentIsLeftAsItIs) {
    read(repository, record("moxel-mail", "1.0", "1", 100), 's');
    const comp_ptr_t component = makeComponent({{{"moxel-mail"}, {}, {}}});
    component->installMode = AiComponent::NOT_AVAILABLE;
    component->checkInstalled(&repository, nullptr);
    EXPECT_EQ(AiComponent::NOT_AVAILABLE, component->installMode);
    EXPECT_TRUE(component->packages.empty());
    EXPECT_EQ("", component->installedVersion);
}

TEST_F(ComponentStatusTest, TheReleaseLearnsOfUpgradesAndMissingComponents) {
    build->_parent->_installed_version = "1.0";
    build->_parent->_update_mode = 4;
    read(repository, record("moxel-mail", "1.0", "1", 100), 's');
    read(repository, record("moxel-mail", "1.1", "1", 200) + record("moxel-dns", "1", "1", 10), 'u');

    const comp_ptr_t upgradable = makeComponent({{{"moxel-mail"}, {}, {}}});
    upgradable->checkInstalled(&repository, nullptr);
    EXPECT_TRUE(build->_parent->_component_upgrade_available);

    auto missing =
        std::make_shared<AiComponent>(build, "dns", "DNS", "", std::vector<Section>{{{"moxel-dns"}, {}, {}}});
    missing->checkInstalled(&repository, nullptr);
    EXPECT_EQ(AiComponent::INSTALL, missing->installMode);
    EXPECT_EQ(std::vector<std::string>{"dns"}, build->_parent->_not_installed_components);
}

TEST_F(ComponentStatusTest, TheConfiguratorOffersTheLastCandidate) {
    read(repository, record("moxel-mail", "1.0", "1", 100), 's');
    read(repository, record("moxel-mail", "1.1", "1", 200), 'u');
    OfferingConfigurator configurator;
    auto fromPackageManager = std::make_unique<Package>("moxel-mail", "1.2-1");
    fromPackageManager->setBuildTime(300);
    configurator.offered["/opt/moxel-mail"] = fromPackageManager.get();

    const comp_ptr_t component = makeComponent({{{"/opt/moxel-mail"}, {}, {}}});
    component->checkInstalled(&repository, &configurator);
    EXPECT_EQ(AiComponent::UPGRADE, component->installMode);
    EXPECT_EQ("1.2-1", component->availableVersion);
    EXPECT_EQ(300, component->availableBuildTime);
    // The configurator gets the name as the build description gives it.
    EXPECT_EQ(std::vector<std::string>{"/opt/moxel-mail"}, configurator.asked);
}

TEST_F(ComponentStatusTest, OnFreeBSDBareKeyNamesAreNotAskedForAvailability) {
    build->_os_vendor = "FreeBSD";
    read(repository, record("moxel-mail", "1.0", "1", 100), 's');
    read(repository, record("moxel-mail", "1.1", "1", 200), 'u');
    OfferingConfigurator configurator;
    const comp_ptr_t component = makeComponent({{{"moxel-mail"}, {}, {}}});
    component->checkInstalled(&repository, &configurator);
    EXPECT_TRUE(configurator.asked.empty());
    EXPECT_EQ(AiComponent::UP2DATE, component->installMode);

    // Without a configurator the source is consulted as everywhere.
    const comp_ptr_t unconfigured = makeComponent({{{"moxel-mail"}, {}, {}}});
    unconfigured->checkInstalled(&repository, nullptr);
    EXPECT_EQ(AiComponent::UPGRADE, unconfigured->installMode);
}

TEST_F(ComponentStatusTest, BestPackageTakesTheConfiguratorsPackageOnlyWhenNewer) {
    const comp_ptr_t component = makeComponent({}, {"moxel-mail 1.1-1 0"});
    OfferingConfigurator configurator;
    auto same = std::make_unique<Package>("moxel-mail", "1.1-1");
    configurator.offered["moxel-mail"] = same.get();
    EXPECT_EQ(component->packages[0],
              component->findBestPackage("moxel-mail", &repository, &configurator, false));

    auto newer = std::make_unique<Package>("moxel-mail", "1.3-1");
    configurator.offered["moxel-mail"] = newer.get();
    EXPECT_EQ(newer.get(), component->findBestPackage("moxel-mail", &repository, &configurator, false));
}

TEST_F(ComponentStatusTest, LazyLookupsKeepOtherAddonsPackagesOut) {
    // Packages outlive the sources, which take them out of the repository when they end.
    Package plain("moxel-tool", "1.0-1");
    Package fromOwn("moxel-tool", "1.1-1");
    Package fromOther("moxel-tool", "1.5-1");
    Package fromGone("moxel-gadget", "2.0-1");
    const boost::shared_ptr<Build> ownAddon = makeBuild("moxel-backup");
    const boost::shared_ptr<Build> otherAddon = makeBuild("moxel-spam");
    SourceConfigLazyAddon ownSource(&repository, ownAddon);
    SourceConfigLazyAddon otherSource(&repository, otherAddon);
    repository.addPackage(&plain, nullptr);
    ownSource.addPackage(&fromOwn);
    otherSource.addPackage(&fromOther);

    struct Case {
        const char* what;
        boost::shared_ptr<Build> addon;
        bool lazy;
        const Package* expected;
    } cases[] = {
        {"not lazy: every package", nullptr, false, &fromOther},
        {"lazy, from no add-on: packages of add-ons stay out", nullptr, true, &plain},
        {"lazy, from an add-on: its own packages count", ownAddon, true, &fromOwn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const comp_ptr_t component = makeComponent({});
        component->lazyAddonBuild = c.addon;
        EXPECT_EQ(c.expected, component->findBestPackage("moxel-tool", &repository, nullptr, c.lazy));
    }

    // An add-on build that is gone no longer vouches for its packages.
    const comp_ptr_t component = makeComponent({});
    auto gone = makeBuild("moxel-gone");
    SourceConfigLazyAddon goneSource(&repository, gone);
    goneSource.addPackage(&fromGone);
    component->lazyAddonBuild = gone;
    EXPECT_EQ(&fromGone, component->findBestPackage("moxel-gadget", &repository, nullptr, true));
    gone.reset();
    EXPECT_EQ(nullptr, component->findBestPackage("moxel-gadget", &repository, nullptr, true));
}

} // namespace
