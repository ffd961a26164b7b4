#include "installer/engine/InstallRPM.h"

#include "common/packages/DebPackage.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/InstallationRun.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using enginetest::names;
using enginetest::PackageStore;
using enginetest::RecordingConfigurator;
using enginetest::RecordingStages;
using Trace = std::vector<std::string>;

namespace {

class InstallRPMTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(work.file("installer.log")); }

    testsupport::TempDir work;
    Repository repository;
    PackageStore store;
    Trace trace;
    RecordingStages stages{trace};
    ComponentManager components;
    boost::shared_ptr<Build> build = testsupport::makeBuild("moxel");
};

TEST_F(InstallRPMTest, PackagesOfUnselectedComponentsAreNoUpgradesOfTheirOwn) {
    struct Case {
        const char* name;
        const char* requirement;
        std::string plan;
    } cases[] = {
        {"nothing needs the newer version", "", "app"},
        {"a requirement still pulls the newer version in", "web >= 2.0", "app web"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repository run;
        ComponentManager tree;
        store.add(run, "web", "1.0", 's');
        Package* newerWeb = store.add(run, "web", "2.0", 'b');
        comp_ptr_t web = testsupport::makeComponent(build, "web", AiComponent::UP2DATE);
        web->packages = {newerWeb};
        comp_ptr_t app = testsupport::makeComponent(build, "app", AiComponent::INSTALL, REQ_INSTALL);
        Package* appPackage = store.add(run, "app", "1.0", 'b', {c.requirement});
        app->packages = {appPackage};
        tree.nodes = {web, app};

        InstallRPM installer(&run, &tree, nullptr, stages);
        EXPECT_EQ(c.plan, names(installer.resolveDependencies()));
        EXPECT_EQ('t', newerWeb->getType());
        EXPECT_EQ('b', appPackage->getType());
    }
    EXPECT_EQ("step searching_need_pkgs: Determining the packages that need to be installed.", trace.front());
}

TEST_F(InstallRPMTest, ASelectionWithoutPackagesGivesAnEmptyPlanAndASecondResolutionIsRefused) {
    comp_ptr_t empty = testsupport::makeComponent(build, "empty", AiComponent::INSTALL, REQ_INSTALL);
    components.nodes = {empty};
    InstallRPM installer(&repository, &components, nullptr, stages);
    EXPECT_TRUE(installer.resolveDependencies().empty());

    empty->packages = {store.add(repository, "app", "1.0", 'b')};
    EXPECT_EQ("app", names(installer.resolveDependencies()));
    testsupport::ErrorFacts facts = testsupport::caught([&] { installer.resolveDependencies(); });
    EXPECT_EQ(internal_error("installer/InstallRPM", 88).getText(), facts.text);
}

// Offers a back end of its own.
class OfferingConfigurator : public RecordingConfigurator {
public:
    std::shared_ptr<Installer> createInstaller(ComponentManager& tree, StageActions& stages) override {
        return offered = std::make_shared<InstallRPM>(nullptr, &tree, this, stages);
    }
    std::shared_ptr<Installer> offered;
};

TEST_F(InstallRPMTest, TheBackEndIsTheConfiguratorsOrRpmOrNoneAtAll) {
    RPMPackage rpmBase("moxel-base", "1.0-1");
    DebPackage debBase("moxel-base", "1.0-1");
    comp_ptr_t base = testsupport::makeComponent(build, "base");
    components.nodes = {base};

    base->packages = {&rpmBase};
    OfferingConfigurator offering;
    EXPECT_EQ(offering.offered, driver::createInstaller(repository, components, &offering, nullptr, stages));
    offering.offered.reset();
    RecordingConfigurator plain;
    {
        std::shared_ptr<Installer> rpm =
            driver::createInstaller(repository, components, &plain, nullptr, stages);
        EXPECT_NE(nullptr, std::dynamic_pointer_cast<InstallRPM>(rpm));
    }
    {
        std::shared_ptr<Installer> rpm =
            driver::createInstaller(repository, components, nullptr, nullptr, stages);
        EXPECT_NE(nullptr, std::dynamic_pointer_cast<InstallRPM>(rpm));
    }

    base->packages = {&debBase};
    testsupport::ErrorFacts facts = testsupport::caught(
        [&] { driver::createInstaller(repository, components, &plain, nullptr, stages); });
    EXPECT_EQ("The package management system of your operating system is not supported by Moxel Installer.\n",
              facts.text);
    EXPECT_EQ(4, facts.e_class);
}

} // namespace
