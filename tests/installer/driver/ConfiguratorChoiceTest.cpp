#include "installer/driver/ConfiguratorChoice.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/auto_configurator.h"
#include "installer/engine/DebianAPTConfigurator.h"
#include "installer/engine/YumConfigurator.h"
#include "installer/sources/SourceManager.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Each test runs in a process of its own, so the system it describes holds for the whole test.
class ConfiguratorChoiceTest : public ::testing::Test {
protected:
    void describeSystem(const std::string& vendor) {
        Opsys::override_name = "Linux";
        Opsys::override_vendor = vendor;
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
    }

    // The tree's base component gets one package of that file kind.
    void setBasePackage(const std::string& fileName) {
        components.nodes.clear();
        comp_ptr_t base = testsupport::makeComponent(testsupport::makeBuild("moxel"), "base");
        base->packages = {keepForever(Package::createFromFile("moxeltest-core", "18.0.1-1", fileName))};
        components.nodes.push_back(base);
    }

    SystemSpecificConfigurator* choose() {
        return driver::createSystemConfigurator(repository, "http://updates.moxel.invalid/", components,
                                                sources);
    }

    Repository repository;
    SourceManager sources{&repository};
    ComponentManager components;
};

// Answers the configuration check with a fixed text.
class CheckedConfigurator : public driver::auto_configurator::DummyConfigurator {
public:
    explicit CheckedConfigurator(const std::string& text) : text(text) { configureSystem(); }

protected:
    std::string doCheckConfiguration() override { return text; }

private:
    std::string text;
};

TEST_F(ConfiguratorChoiceTest, UbuntuWithAnRpmBaseComponentGetsTheDoNothingConfigurator) {
    describeSystem("Ubuntu");
    setBasePackage("moxeltest-core-18.0.1-1.x86_64.rpm");
    driver::auto_configurator holder(choose(), true);
    ASSERT_TRUE(dynamic_cast<driver::auto_configurator::DummyConfigurator*>(holder.get()));
    holder->configureSystem();
    EXPECT_EQ(driver::cachedConfigurationCheck(*holder.get()), "");
}

TEST_F(ConfiguratorChoiceTest, DebianBaseComponentGetsAptAndTheCheckIsAskedOncePerPackageKind) {
    describeSystem("Debian");
    setBasePackage("moxeltest-core_18.0.1-1_amd64.deb");
    std::unique_ptr<SystemSpecificConfigurator> apt(choose());
    EXPECT_TRUE(dynamic_cast<DebianAPTConfigurator*>(apt.get()));

    CheckedConfigurator first("first"), second("second");
    EXPECT_EQ(driver::cachedConfigurationCheck(first), "first");
    EXPECT_EQ(driver::cachedConfigurationCheck(second), "first");
    apt.reset(choose());
    EXPECT_EQ(driver::cachedConfigurationCheck(second), "first");

    setBasePackage("moxeltest-core-18.0.1-1.x86_64.rpm");
    EXPECT_EQ(choose(), nullptr);
    EXPECT_EQ(driver::cachedConfigurationCheck(second), "second");
}

TEST_F(ConfiguratorChoiceTest, CentOSGetsTheDnfConfiguratorWhateverTheBasePackagesAre) {
    describeSystem("CentOS");
    for (const char* file : {"moxeltest-core-18.0.1-1.x86_64.rpm", "moxeltest-core_18.0.1-1_amd64.deb"}) {
        setBasePackage(file);
        std::unique_ptr<SystemSpecificConfigurator> yum(choose());
        EXPECT_TRUE(dynamic_cast<YumConfigurator*>(yum.get())) << file;
        EXPECT_EQ(YumConfigurator::getHelperPath(), "/usr/local/zeq/bin/dnf_install");
    }
}

} // namespace
