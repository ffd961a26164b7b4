// The yum configurator and back end for real on a CentOS 8 run: the .repo files, the keys imported
// into rpm, candidate versions from dnf, and installs, upgrades and removals of signed test rpms from
// createrepo_c repositories on 127.0.0.1 through the dnf helper; the helper's protocol driven with
// real dnf.

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/util.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/ConfiguratorChoice.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/InstallYum.h"
#include "installer/engine/YumConfigurator.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/installer/sources/SourceTestSupport.h"
#include "tests/support/BuildOnce.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";
const std::string reposDir = std::string(MOXEL_BINARY_DIR) + "/tests/moxeltest-rpm";
const std::string distDir = reposDir + "/moxel/18.0.1/centos-8/dist";
const std::string temporaryRepo = "/etc/yum.repos.d/dizadizezeroz-sources.repo";
const std::string persistentRepo = "/etc/yum.repos.d/moxel.repo";
const std::string helper = "/usr/local/zeq/bin/dnf_install";
// The fingerprint's end of the test repository key, as rpm names its gpg-pubkey package.
const std::string repositoryKeyId = "821b8961";

void buildReposOnce() {
    const std::string script = fixtures + "/rpm/build-repos.sh";
    testsupport::buildOnce(reposDir, testsupport::readFile(script), [&] {
        ASSERT_EQ(0, packagetest::run(util::shell_quote(script) + " " + util::shell_quote(reposDir)));
    });
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome runShell(const std::string& command) {
    testsupport::TempDir dir;
    const int status = packagetest::run(command + " >" + dir.file("out") + " 2>" + dir.file("err"));
    return {WEXITSTATUS(status), testsupport::readFile(dir.file("out")),
            testsupport::readFile(dir.file("err"))};
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The test packages rpm has installed, "name-version-release" sorted.
std::vector<std::string> installedRpms() {
    return sortedLines(runShell("rpm -qa --qf '%{NAME}-%{VERSION}-%{RELEASE}\\n' 'moxeltest-*'").out);
}

std::vector<std::string> importedKeys() {
    return sortedLines(runShell("rpm -q gpg-pubkey --qf '%{VERSION}\\n'").out);
}

// The solve result among the download progress lines.
std::vector<std::string> solved(const std::string& output) {
    std::vector<std::string> lines;
    for (const std::string& line : sortedLines(output))
        if (line.compare(0, 2, "+ ") == 0 || line.compare(0, 2, "- ") == 0)
            lines.push_back(line);
    return lines;
}

std::string marker(const std::string& name) {
    return testsupport::readFile("/usr/local/zeq/var/" + name);
}

// Counts the starts of dnf-3 in this sandbox: a wrapper mounted over it notes each start, then runs
// the real program.
class DnfStarts {
public:
    DnfStarts() {
        const std::string wrapper = dir.file("dnf-3");
        testsupport::writeFile(wrapper, "#!/bin/sh\necho \"$*\" >> " + dir.file("starts") +
                                            "\nexec /usr/bin/python3 " + dir.file("dnf-3.real") +
                                            " \"$@\"\n");
        EXPECT_EQ(0, packagetest::run("cp /usr/bin/dnf-3 " + dir.file("dnf-3.real") + " && chmod 0755 " +
                                      wrapper + " && mount --bind " + wrapper + " /usr/bin/dnf-3"));
    }
    ~DnfStarts() { packagetest::run("umount /usr/bin/dnf-3"); }

    std::vector<std::string> commands() const {
        return sortedLines(testsupport::readFile(dir.file("starts")));
    }

private:
    testsupport::TempDir dir;
};

class InstallYumSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        buildReposOnce();
        // The dnf helper's interpreter on CentOS 8.
        ASSERT_EQ(0, packagetest::run("ln -sf /usr/bin/python3 /usr/libexec/platform-python"));
        Opsys::override_vendor = "CentOS";
        Opsys::override_version = "8";
        Options::instance().skipGpgCheck = false;
        Options::instance().downloadRetryCount = 2;
        addBuild(moxel, "moxel", "18.0.1",
                 testsupport::readFile(fixtures + "/source/keys/moxeltest-repo.asc"));
        addBuild(pagewright, "pagewright", "2.5.0", testsupport::readFile(reposDir + "/keys/second.asc"));
        base = testsupport::makeComponent(moxel, "base", AiComponent::INSTALL, REQ_INSTALL);
        components.nodes.push_back(base);
        // An rpm base component on a CentOS system: the run's choice is the yum configurator.
        base->packages = {buildPackage("moxeltest-core", "18.0.1")};
        yum.reset(driver::createSystemConfigurator(repository, http.url(), components, manager));
    }

    void addBuild(boost::shared_ptr<Build>& build, const std::string& product, const std::string& version,
                  const std::string& key) {
        build = sourcetest::loadedBuild(fixtures + "/source",
                                        product + "/" + version + "/centos-8-x86_64.build.inf3", product,
                                        true, key);
        auto owner = boost::make_shared<Product>();
        owner->_id = product;
        build->_parent =
            boost::make_shared<Release>(owner, product + "-" + version, product, "", version, version);
        manager.addBuildSources(&fetcher, build);
    }

    YumConfigurator& configured() {
        yum->configureSystem();
        return dynamic_cast<YumConfigurator&>(*yum);
    }

    // A package of the build, as the run knows it.
    Package* buildPackage(const std::string& name, const std::string& version) {
        auto package = std::make_unique<Package>(name, version + "-1");
        package->setType('b');
        package->setArch("noarch");
        Package* made = keepForever(std::move(package));
        repository.addPackage(made, nullptr);
        return made;
    }

    std::unique_ptr<InstallYum> backEnd() {
        return std::make_unique<InstallYum>(&repository, &components, yum.get(), stages);
    }

    Outcome runHelper(const std::string& arguments) { return runShell(helper + " " + arguments); }

    testsupport::TempDir work;
    testsupport::TempDir target;
    testservers::HttpServer http{reposDir};
    Repository repository;
    FileFetcher fetcher{http.url(), target.path()};
    SourceManager manager{&repository};
    boost::shared_ptr<Build> moxel;
    boost::shared_ptr<Build> pagewright;
    ComponentManager components;
    comp_ptr_t base;
    std::unique_ptr<SystemSpecificConfigurator> yum;
    std::vector<std::string> trace;
    enginetest::RecordingStages stages{trace};
};

TEST_F(InstallYumSandboxTest, ConfiguresRepositoriesKeysAndCandidatesWithOneDnfQuery) {
    YumConfigurator& configurator = configured();
    const std::string url = http.url();
    EXPECT_EQ(testsupport::readFile(temporaryRepo),
              "\n## This is a temporary yum configuration file added by Moxel Installer.\n"
              "## It specifies sources of products' packages for yum.\n"
              "[moxel-18.0.1]\nname=Moxel 18.0.1\nbaseurl=" +
                  url +
                  "moxel/18.0.1/centos-8/dist/\nenabled=0\ngpgcheck=1\n\n"
                  "[pagewright-2.5.0-dist]\nname=pagewright-2.5.0 dist\nbaseurl=" +
                  url + "pagewright/2.5.0/centos-8/dist/\nenabled=0\ngpgcheck=1\n\n");
    EXPECT_EQ(testsupport::readFile(persistentRepo),
              "[moxel-18.0.1-thirdparty]\nname=Moxel 18.0.1 third-party packages\nbaseurl=" + url +
                  "moxel/18.0.1/centos-8/thirdparty/\nenabled=1\ngpgcheck=0\n\n"
                  "[moxel-18.0.1-extras]\nname=Moxel 18.0.1 extras\nbaseurl=" +
                  url + "moxel/18.0.1/centos-8/extras/\nenabled=1\ngpgcheck=1\n\n");
    // Both products' keys, imported in one pass.
    const std::vector<std::string> keys = importedKeys();
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_THAT(keys, testing::Contains(repositoryKeyId));
    EXPECT_EQ(configurator.checkConfiguration(), "");

    DnfStarts starts;
    const std::vector<std::string> names{"moxeltest-a", "moxeltest-x", "moxeltest-pw", "moxeltest-none"};
    configurator.prepareAvailablePackagesList(names.begin(), names.end());
    for (const auto& expected :
         {std::make_pair("moxeltest-a", "1.1.0-1"), std::make_pair("moxeltest-x", "1.0.0-1"),
          std::make_pair("moxeltest-pw", "1.0.0-1")}) {
        const Package* candidate = configurator.getAvailablePackage(expected.first);
        ASSERT_TRUE(candidate) << expected.first;
        EXPECT_EQ(candidate->getVersion().toString(), expected.second);
        EXPECT_EQ(candidate->getFileName(), "package_from_yum_info");
    }
    // Names the query asked for and dnf did not know are not asked again.
    EXPECT_EQ(configurator.getAvailablePackage("moxeltest-none"), nullptr);
    EXPECT_EQ(configurator.getAvailablePackage("moxeltest-none"), nullptr);
    EXPECT_THAT(starts.commands(), ElementsAre(AllOf(HasSubstr("info --enablerepo=moxel-18.0.1 "),
                                                     HasSubstr("--enablerepo=pagewright-2.5.0-dist "),
                                                     HasSubstr(" moxeltest-none"))));

    // A name outside the query is looked up in the products' repositories too.
    const Package* other = nullptr;
    EXPECT_NO_THROW(other = configurator.getAvailablePackage("moxeltest-c"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->getVersion().toString(), "1.0.0-1");
}

TEST_F(InstallYumSandboxTest, AFailedQueryLeavesTheAskedNamesUnavailableWithoutAskingAgain) {
    YumConfigurator& configurator = configured();
    DnfStarts starts;
    const std::vector<std::string> names{"moxeltest-none", "moxeltest-nothing"};
    configurator.prepareAvailablePackagesList(names.begin(), names.end());
    for (const std::string& name : names)
        EXPECT_EQ(configurator.getAvailablePackage(name), nullptr) << name;
    EXPECT_EQ(starts.commands().size(), 1u);
    EXPECT_THAT(testsupport::readFile(work.file("installer.log")),
                HasSubstr("prepareAvailablePackagesList failed: "));
}

TEST_F(InstallYumSandboxTest, SolvesThenInstallsUpgradesAndRemovesThePlan) {
    configured();
    // Installed before the run: moxeltest-a 1.0.0 with its dependency, and moxeltest-c.
    ASSERT_EQ(0, packagetest::run("cd " + distDir +
                                  " && rpm -i moxeltest-a-1.0.0-1.noarch.rpm "
                                  "moxeltest-b-1.0.0-1.noarch.rpm moxeltest-c-1.0.0-1.noarch.rpm"));
    base->packages = {buildPackage("moxeltest-a", "1.1.0"), buildPackage("moxeltest-pw", "1.0.0"),
                      repository.addRemoverFor("moxeltest-c")};
    auto installer = backEnd();
    EXPECT_EQ(installer->buildHelperCommand("-p", installer->collectPackageSpecs(base->packages)),
              "'" + helper + "' -e 'moxel-18.0.1' -e 'pagewright-2.5.0-dist' -p -l '" +
                  work.file("installer.log") +
                  "' -i 'moxeltest-a@noarch' -i 'moxeltest-pw@noarch' -r 'moxeltest-c' --tries=2");

    const cpkgs_t& plan = installer->resolveDependencies();
    std::vector<std::string> planned;
    for (const Package* package : plan)
        planned.push_back(package->getName().str());
    // The solver's removal of the requested one appends its remover once more.
    EXPECT_THAT(planned, testing::IsSupersetOf({"moxeltest-a", "moxeltest-pw"}));
    EXPECT_EQ(std::count(plan.begin(), plan.end(), repository.addRemoverFor("moxeltest-c")), 2);

    installer->installPackages(plan);
    EXPECT_THAT(installedRpms(),
                ElementsAre("moxeltest-a-1.1.0-1", "moxeltest-b-1.0.0-1", "moxeltest-pw-1.0.0-1"));
    EXPECT_EQ(testsupport::readFile("/usr/local/zeq/moxeltest/moxeltest-a"), "moxeltest-a 1.1.0\n");
    EXPECT_EQ(marker("moxeltest-a"), "post 1\npost 2\n");
    EXPECT_FALSE(testsupport::exists("/usr/local/zeq/moxeltest/moxeltest-c"));
    EXPECT_THAT(testsupport::readFile(work.file("installer.log")),
                HasSubstr("Upgrading: moxeltest-a-1.1.0-1.noarch"));

    installer->installPackages({repository.addRemoverFor("moxeltest-a"),
                                repository.addRemoverFor("moxeltest-b"),
                                repository.addRemoverFor("moxeltest-pw")});
    EXPECT_THAT(installedRpms(), ElementsAre());
}

TEST_F(InstallYumSandboxTest, HelperProtocolWithRealDnf) {
    configured();
    ASSERT_EQ(0,
              packagetest::run("cd " + distDir +
                               " && rpm -i moxeltest-a-1.0.0-1.noarch.rpm moxeltest-b-1.0.0-1.noarch.rpm"));
    const std::string enable = "-e moxel-18.0.1 -e pagewright-2.5.0-dist ";
    const struct {
        const char* what;
        std::string arguments;
        int code;
        std::vector<std::string> lines;
        const char* errors;
    } cases[] = {
        {"only initialises", "", 0, {}, ""},
        {"solves an upgrade", enable + "-s -i moxeltest-a", 0, {"+ moxeltest-a"}, ""},
        {"solves an install with an architecture",
         enable + "-s -i moxeltest-pw@noarch",
         0,
         {"+ moxeltest-pw"},
         ""},
        {"adds the removals the solver needs",
         enable + "-s -i moxeltest-c -r moxeltest-b",
         0,
         {"+ moxeltest-c", "- moxeltest-a", "- moxeltest-b"},
         ""},
        {"takes positional install specs", enable + "-s moxeltest-c", 0, {"+ moxeltest-c"}, ""},
        {"skips a removal that is also installed",
         enable + "-s -i moxeltest-c -r moxeltest-c",
         0,
         {"+ moxeltest-c"},
         ""},
        {"ignores removing what is not installed",
         enable + "-s -r moxeltest-c",
         0,
         {},
         "ignore remove for not installed package 'moxeltest-c'"},
        {"sees only enabled repositories", "-s -i moxeltest-c", 1, {}, "moxeltest-c"},
        {"fails on an unknown package", enable + "-p -i moxeltest-zzz", 1, {}, "moxeltest-zzz"},
        {"performs nothing without specs", enable + "-p", 0, {}, ""},
    };
    for (const auto& test : cases) {
        const Outcome outcome = runHelper(test.arguments);
        EXPECT_EQ(outcome.code, test.code) << test.what << "\n" << outcome.err;
        EXPECT_EQ(solved(outcome.out), test.lines) << test.what;
        EXPECT_THAT(outcome.err, HasSubstr(test.errors)) << test.what;
    }

    // The solve result in a file; "+" lines come before "-" lines.
    const std::string result = work.file("solved");
    EXPECT_EQ(solved(runHelper(enable + "-s -o " + result + " -i moxeltest-c -r moxeltest-a").out),
              std::vector<std::string>());
    EXPECT_EQ(testsupport::readFile(result), "+ moxeltest-c\n- moxeltest-a\n");

    const Outcome performed = runHelper(enable + "-p -i moxeltest-c");
    EXPECT_EQ(performed.code, 0) << performed.err;
    EXPECT_THAT(performed.out, HasSubstr("Start downloading 1 files of "));
    EXPECT_THAT(performed.out, HasSubstr("Installing: moxeltest-c-1.0.0-1.noarch [1/1]...\n"
                                         "Installing: moxeltest-c-1.0.0-1.noarch [1/1] Done\n"));
    EXPECT_THAT(installedRpms(),
                ElementsAre("moxeltest-a-1.0.0-1", "moxeltest-b-1.0.0-1", "moxeltest-c-1.0.0-1"));

    ASSERT_EQ(0, packagetest::run("rm -f /etc/yum.repos.d/*.repo"));
    for (const char* mode : {"", "-s", "-p -i moxeltest-a"}) {
        const Outcome outcome = runHelper(mode);
        EXPECT_EQ(outcome.code, 2) << mode;
        EXPECT_EQ(outcome.err, "There are no enabled Yum repositories, installation is not possible.\n")
            << mode;
    }
}

TEST_F(InstallYumSandboxTest, HelperFailuresBecomeTheBackEndsErrors) {
    configured();
    auto installer = backEnd();
    const testsupport::ErrorFacts failed =
        testsupport::caught([&] { installer->installPackages({buildPackage("moxeltest-zzz", "1.0.0")}); });
    EXPECT_EQ(failed.text,
              "Failed to run the Yum utility.\nThe Yum utility failed to install the required packages.\n");
    EXPECT_EQ(failed.e_class, 6);
    EXPECT_THAT(ReportError::text(), HasSubstr("Yum failed to install packages:\n"));
    EXPECT_THAT(ReportError::text(), HasSubstr("moxeltest-zzz"));

    ASSERT_EQ(0, packagetest::run("rm -f /etc/yum.repos.d/*.repo"));
    const testsupport::ErrorFacts noRepos = testsupport::caught([&] { installer->resolveDependencies(); });
    EXPECT_EQ(noRepos.text, "There are no enabled Yum repositories. Installation is not possible.\n");
    EXPECT_EQ(noRepos.e_class, 6);
    EXPECT_EQ(noRepos.support, 2);
    EXPECT_THAT(ReportError::text(), HasSubstr("Yum failed to resolve packages:\n"));
}

} // namespace
