#include "installer/engine/RepositoryProcessor.h"

#include "common/packages/Repository.h"
#include "installer/catalogue/Build.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceDistMoxel.h"
#include "installer/sources/SourceManager.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/installer/sources/SourceTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using enginetest::RecordingConfigurator;

namespace {

class RepositoryProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(target.file("installer.log"));
        Options::instance().useMoxelUpdates = true;
        sources.addBuildSources(&fetcher, base);
        components.nodes = {baseComponent, mail, webmail};
    }

    // The builds that have their sources, by description path.
    std::vector<std::string> buildsWithSources() const {
        std::vector<std::string> configs;
        for (const auto& source : sources.getSources())
            if (const auto dist = boost::dynamic_pointer_cast<SourceDistMoxel>(source))
                configs.push_back(dist->getBuild()->_config);
        return configs;
    }

    void walk(SystemSpecificConfigurator* configurator) {
        RepositoryProcessor processor(&repository, &fetcher, &sources, configurator);
        components.accept(processor);
    }

    testsupport::TempDir target;
    Repository repository;
    FileFetcher fetcher{sourcetest::fixtureSource() + "/", target.path()};
    SourceManager sources{&repository};
    ComponentManager components;
    const std::string baseConfig = "moxel/18.0.1/centos-8-x86_64.build.inf3";
    const std::string addonConfig = "pagewright/2.5.0/centos-8-x86_64.build.inf3";
    boost::shared_ptr<Build> base = sourcetest::loadedBuild(sourcetest::fixtureSource(), baseConfig, "moxel");
    boost::shared_ptr<Build> addon =
        sourcetest::loadedBuild(sourcetest::fixtureSource(), addonConfig, "pagewright");
    // Installed and kept: its build stays needed.
    comp_ptr_t baseComponent = testsupport::makeComponent(base, "base", AiComponent::UP2DATE);
    comp_ptr_t mail = testsupport::makeComponent(addon, "mail");
    comp_ptr_t webmail = testsupport::makeComponent(addon, "webmail");
    RecordingConfigurator configurator;
};

TEST_F(RepositoryProcessorTest, AddOnSourcesFollowTheSelection) {
    struct Step {
        const char* name;
        request_mode_t mail;
        request_mode_t webmail;
        std::vector<std::string> withSources;
        int reconfigured;
    } steps[] = {
        {"nothing changes", REQ_LEAVE, REQ_LEAVE, {baseConfig}, 0},
        {"selecting add-on components adds its sources once",
         REQ_INSTALL,
         REQ_INSTALL,
         {baseConfig, addonConfig},
         1},
        {"one selected component keeps them", REQ_LEAVE, REQ_INSTALL, {baseConfig, addonConfig}, 1},
        {"deselecting the last one drops them", REQ_LEAVE, REQ_LEAVE, {baseConfig}, 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        mail->requestMode = step.mail;
        webmail->requestMode = step.webmail;
        walk(&configurator);
        EXPECT_EQ(step.withSources, buildsWithSources());
        EXPECT_EQ(step.reconfigured, configurator.reconfigured);
    }
}

TEST_F(RepositoryProcessorTest, WithoutAConfiguratorSourcesStillChange) {
    mail->requestMode = REQ_INSTALL;
    walk(nullptr);
    EXPECT_EQ((std::vector<std::string>{baseConfig, addonConfig}), buildsWithSources());
    baseComponent->requestMode = REQ_REMOVE;
    mail->requestMode = REQ_LEAVE;
    walk(nullptr);
    EXPECT_TRUE(buildsWithSources().empty());
}

} // namespace
