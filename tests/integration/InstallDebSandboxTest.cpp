// The APT back end for real: the apt-get simulation read into the plan, installs, upgrades and purges
// of the test packages from the signed repositories on 127.0.0.1, dpkg's lock held by another
// process, and a failing maintainer script.

#include "common/packages/DebPackage.h"
#include "common/packages/Repository.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/DebianAPTConfigurator.h"
#include "installer/engine/InstallDeb.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/ForkedChild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The state dpkg gives each test package: "name version status" lines.
std::string installedState() {
    testsupport::TempDir out;
    packagetest::run("dpkg-query -W -f='${Package} ${Version} ${db:Status-Abbrev}\\n' 'moxeltest-*' > " +
                     out.file("state") + " 2>/dev/null");
    return testsupport::readFile(out.file("state"));
}

std::string marker(const std::string& name) {
    return testsupport::readFile("/usr/local/zeq/var/" + name);
}

// The body of a process that holds dpkg's front-end lock until the parent lets it go.
int holdDpkgFrontendLock(testsupport::ForkedChild& self) {
    const int fd = open("/var/lib/dpkg/lock-frontend", O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (fd == -1 || lockf(fd, F_LOCK, 0) != 0)
        return 1;
    self.tellParent();
    self.waitForParent();
    return 0;
}

// Counts the pauses between attempts instead of sleeping through them.
class QuickRetryInstallDeb : public InstallDeb {
public:
    using InstallDeb::InstallDeb;
    void pauseBeforeRetry(int seconds) override {
        pauses.push_back(seconds);
        if (onPause)
            onPause(static_cast<int>(pauses.size()));
    }
    std::vector<int> pauses;
    std::function<void(int)> onPause;
};

class InstallDebSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        apttest::buildReposOnce();
        apttest::forgetSystemSources();
        Options::instance().skipGpgCheck = false;
        Options::instance().downloadRetryCount = 2;
        apt = std::make_unique<DebianAPTConfigurator>(http.url(), components, sources.manager,
                                                      sources.repository);
        apt->configureSystem();
        build->_os_release_name = "bookworm";
        base = testsupport::makeComponent(build, "base", AiComponent::INSTALL, REQ_INSTALL);
        components.nodes.push_back(base);
    }

    // A package of the build's own repository, known to the run.
    Package* buildPackage(const std::string& name, const std::string& version) {
        auto package = std::make_unique<DebPackage>(name, version);
        package->setType('b');
        package->setArch("all");
        Package* made = keepForever(std::move(package));
        sources.repository.addPackage(made, nullptr);
        return made;
    }

    std::unique_ptr<QuickRetryInstallDeb> backEnd() {
        return std::make_unique<QuickRetryInstallDeb>(&sources.repository, &components, apt.get(), stages);
    }

    testsupport::TempDir work;
    testservers::HttpServer http{apttest::reposDir};
    apttest::RunSources sources{false};
    ComponentManager components;
    std::unique_ptr<DebianAPTConfigurator> apt;
    boost::shared_ptr<Build> build = testsupport::makeBuild("moxel");
    comp_ptr_t base;
    std::vector<std::string> trace;
    enginetest::RecordingStages stages{trace};
};

TEST_F(InstallDebSandboxTest, SimulatedPlanThenInstallUpgradeAndPurge) {
    base->packages = {buildPackage("moxeltest-a", "1.0.0")};
    auto deb = backEnd();
    EXPECT_THAT(deb->makeAptCommand(),
                HasSubstr("-o APT::Get::AllowUnauthenticated=false -o Acquire::Retries=2  -t 'bookworm*' "));
    const cpkgs_t& plan = deb->resolveDependencies();
    std::vector<std::string> planned;
    for (const Package* package : plan)
        planned.push_back(package->getName().str() + " " + package->getVersion().toString() + " " +
                          package->getType());
    EXPECT_THAT(planned, ElementsAre("moxeltest-a 1.0.0 b", "moxeltest-b 1.0.0 u"));
    EXPECT_THAT(trace, ElementsAre(HasSubstr("step checking_deps: ")));

    deb->installPackages(plan);
    EXPECT_EQ(installedState(), "moxeltest-a 1.0.0 ii \nmoxeltest-b 1.0.0 ii \n");
    EXPECT_EQ(marker("moxeltest-a"), "configured  -> 1.0.0\n");

    deb->installPackages({buildPackage("moxeltest-a", "1.1.0")});
    EXPECT_EQ(installedState(), "moxeltest-a 1.1.0 ii \nmoxeltest-b 1.0.0 ii \n");
    EXPECT_EQ(marker("moxeltest-a"), "configured  -> 1.0.0\nconfigured 1.0.0 -> 1.1.0\n");

    deb->installPackages(
        {sources.repository.addRemoverFor("moxeltest-a"), sources.repository.addRemoverFor("moxeltest-b")});
    EXPECT_EQ(installedState(), "");
    EXPECT_EQ(access("/usr/local/zeq/var/moxeltest-a", F_OK), -1);
    EXPECT_TRUE(deb->pauses.empty());
}

TEST_F(InstallDebSandboxTest, SimulatedRemovalOfAConflictingPackageJoinsThePlan) {
    auto deb = backEnd();
    deb->installPackages({buildPackage("moxeltest-old", "1.0.0")});
    base->packages = {buildPackage("moxeltest-c", "1.0.0")};
    const cpkgs_t& plan = deb->resolveDependencies();
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0]->getName().str(), "moxeltest-c");
    ASSERT_TRUE(isRemoverPackage(plan[1]));
    EXPECT_EQ(plan[1]->getObsolete(0)->getName(), "moxeltest-old");
}

TEST_F(InstallDebSandboxTest, HeldDpkgLockIsWaitedForThenGivesUp) {
    testsupport::ForkedChild holder(holdDpkgFrontendLock);
    ASSERT_TRUE(holder.waitForChild());

    // Released after the second pause: the third attempt installs.
    auto patient = backEnd();
    patient->onPause = [&holder](int pause) {
        if (pause == 2)
            holder.tellChild();
    };
    patient->installPackages({buildPackage("moxeltest-b", "1.0.0")});
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_THAT(patient->pauses, ElementsAre(60, 60));
    EXPECT_EQ(installedState(), "moxeltest-b 1.0.0 ii \n");
    // One back end at a time: each registers the run's product progress.
    patient.reset();

    // Never released: thirty retries, then the error.
    testsupport::ForkedChild keeper(holdDpkgFrontendLock);
    ASSERT_TRUE(keeper.waitForChild());
    auto hopeless = backEnd();
    const testsupport::ErrorFacts failure =
        testsupport::caught([&] { hopeless->installPackages({buildPackage("moxeltest-x", "1.0.0")}); });
    keeper.tellChild();
    EXPECT_EQ(failure.text, "An error occurred on attempt to install packages.\n");
    EXPECT_EQ(failure.e_class, 6);
    EXPECT_EQ(hopeless->pauses.size(), 30u);
    EXPECT_THAT(ReportError::text(), HasSubstr("Apt failed to install packages:\n"));
    EXPECT_THAT(ReportError::text(), HasSubstr("E: Could not get lock /var/lib/dpkg/lock-frontend"));
    EXPECT_THAT(testsupport::readFile(work.file("installer.log")),
                HasSubstr("Installing packages (retry 30 of 30)"));
}

TEST_F(InstallDebSandboxTest, FailingMaintainerScriptIsReportedAndTheNextRunRecovers) {
    auto deb = backEnd();
    const testsupport::ErrorFacts failure =
        testsupport::caught([&] { deb->installPackages({buildPackage("moxeltest-broken", "1.0.0")}); });
    EXPECT_EQ(failure.e_class, 6);
    const std::string report = ReportError::text();
    EXPECT_THAT(report,
                HasSubstr("Apt failed to install packages:\nError: An error occurred on attempt to install "
                          "packages.\n\nCommand line: DEBIAN_FRONTEND=noninteractive"));
    EXPECT_THAT(report, HasSubstr("Return code: 100\n"));
    EXPECT_THAT(report,
                HasSubstr("installed moxeltest-broken package post-installation script subprocess returned "
                          "error exit status 1"));
    EXPECT_THAT(installedState(), HasSubstr("moxeltest-broken 1.0.0 iF"));

    // apt-get configures the half-configured package again by itself.
    ASSERT_EQ(0, packagetest::run(
                     "mkdir -p /usr/local/zeq/var && touch /usr/local/zeq/var/moxeltest-broken.allow"));
    deb->installPackages({buildPackage("moxeltest-broken", "1.0.0")});
    EXPECT_EQ(installedState(), "moxeltest-broken 1.0.0 ii \n");
}

TEST_F(InstallDebSandboxTest, NamesThatDebianDoesNotAllowNeverReachTheShell) {
    auto deb = backEnd();
    const testsupport::ErrorFacts failure = testsupport::caught(
        [&] { deb->makePackageArguments({buildPackage("moxeltest-a;touch /tmp/x", "1.0")}); });
    EXPECT_EQ(failure.e_class, 1);
    EXPECT_THAT(failure.text, HasSubstr("is not a valid Debian package name"));
    EXPECT_EQ(deb->makePackageArguments({buildPackage("moxeltest-a", "1:2.0-1~b")}),
              "'moxeltest-a=1:2.0-1~b' ");
}

} // namespace
