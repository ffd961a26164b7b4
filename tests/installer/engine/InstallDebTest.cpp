#include "installer/engine/InstallDeb.h"

#include "common/packages/DebPackage.h"
#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/Repository.h"
#include "installer/components/ComponentManager.h"
#include "installer/engine/DebianAPTConfigurator.h"
#include "installer/sources/SourceManager.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

// The simulation reader on a plan the test sets.
class PlanReader : public InstallDeb {
public:
    using InstallDeb::InstallDeb;
    const cpkgs_t& read(const cpkgs_t& plan, const std::string& output) {
        packages = plan;
        readSimulation(output);
        return packages;
    }
};

class InstallDebTest : public ::testing::Test {
protected:
    std::vector<std::string> describe(const cpkgs_t& plan) {
        std::vector<std::string> lines;
        for (const Package* package : plan)
            lines.push_back(isRemoverPackage(package)
                                ? "remove " + package->getObsolete(0)->getName()
                                : package->getName().str() + " " + package->getVersion().toString() + " " +
                                      package->getType());
        return lines;
    }

    Repository repository;
    SourceManager sources{&repository};
    ComponentManager components;
    DebianAPTConfigurator apt{"http://updates.moxel.invalid/", components, sources, repository};
    std::vector<std::string> trace;
    enginetest::RecordingStages stages{trace};
};

TEST_F(InstallDebTest, SimulationLinesSettleAgainstEachOtherAndThePlan) {
    PlanReader reader(&repository, &components, &apt, stages);
    auto core = std::make_unique<DebPackage>("moxeltest-core", "18.0.1-1");
    core->setType('b');
    const std::string output = "Remv moxeltest-old [1.0.0]\n"
                               "Inst moxeltest-old (1.1.0 Moxel Test:12/bookworm [all])\n"
                               "Inst moxeltest-a [1.0.0] (1.1.0 Moxel Test:12/bookworm [all])\n"
                               "Inst moxeltest-b (1.0.0 Moxel Test:12/bookworm [all])\n"
                               "Purg moxeltest-b [1.0.0]\n"
                               "Inst moxeltest-core (18.0.1-2 Moxel Test:12/bookworm [amd64])\n"
                               "Conf moxeltest-a (1.1.0 Moxel Test:12/bookworm [all])\n"
                               "Purg moxeltest-gone [2.0]\n"
                               "Purg moxeltest-gone [2.0]\n"
                               "The following packages will be REMOVED:\n";
    // An upgrade's Inst line carries the old version in brackets: the package enters through Conf.
    // A removal and an installation of one name cancel out, whichever comes first.
    EXPECT_THAT(describe(reader.read({core.get()}, output)),
                ElementsAre("moxeltest-core 18.0.1-1 b", "moxeltest-a 1.1.0 u", "remove moxeltest-gone"));
}

TEST_F(InstallDebTest, PackageArgumentsPinBuildPackagesAndSkipExtensions) {
    InstallDeb deb(&repository, &components, &apt, stages);
    DebPackage build("moxeltest-core", "2:18.0.1-1");
    build.setType('b');
    DebPackage update("moxeltest-core-libs", "18.0.1-2");
    update.setType('u');
    ExtCatalogPackage extension("moxeltest-ext", "1.0");
    Package* remover = repository.addRemoverFor("moxeltest-old");
    EXPECT_EQ(deb.makePackageArguments({&build, &update, &extension, remover}),
              "'moxeltest-core=2:18.0.1-1' 'moxeltest-core-libs' 'moxeltest-old-' ");
    // Nothing for apt-get: no command runs.
    deb.installPackages({&extension});
}

TEST_F(InstallDebTest, OnlyTheAptConfiguratorWillDo) {
    enginetest::RecordingConfigurator other;
    const testsupport::ErrorFacts failure =
        testsupport::caught([&] { InstallDeb(&repository, &components, &other, stages); });
    EXPECT_EQ(failure.text, "Internal error: incompatible system configurator type.\n");
    EXPECT_EQ(failure.e_class, 3);
}

} // namespace
