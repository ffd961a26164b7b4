// The yum configurator's files: the temporary and lasting .repo files, the helper write-out, and
// what the end of a run keeps or restores.

#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"
#include "installer/driver/auto_configurator.h"
#include "installer/engine/YumConfigurator.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/installer/sources/SourceTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

using ::testing::HasSubstr;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";
const std::string temporaryRepo = "/etc/yum.repos.d/dizadizezeroz-sources.repo";
const std::string persistentRepo = "/etc/yum.repos.d/moxel.repo";

class YumConfiguratorSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        Opsys::override_vendor = "CentOS";
        Opsys::override_version = "8";
        Options::instance().skipGpgCheck = true;
        YumConfigurator::detectTool();
        build =
            sourcetest::loadedBuild(fixtures + "/source", "moxel/18.0.1/centos-8-x86_64.build.inf3", "moxel");
        auto product = boost::make_shared<Product>();
        product->_id = "moxel";
        build->_parent = boost::make_shared<Release>(product, "moxel-18.0.1", "Moxel 18.0.1", "Kestrel",
                                                     "18.0.1", "17.0.0");
        manager.addBuildSources(&fetcher, build);
    }

    testsupport::TempDir work;
    testsupport::TempDir target;
    Repository repository;
    FileFetcher fetcher{fixtures + "/source/", target.path()};
    SourceManager manager{&repository};
    boost::shared_ptr<Build> build;
};

TEST_F(YumConfiguratorSandboxTest, WritesTheRepositoryFilesAndTheHelper) {
    YumConfigurator yum("", manager, repository);
    yum.configureSystem();
    const std::string base = "file://" + fixtures + "/source/moxel/18.0.1/centos-8/";
    EXPECT_EQ(testsupport::readFile(temporaryRepo),
              "\n## This is a temporary yum configuration file added by Moxel Installer.\n"
              "## It specifies sources of products' packages for yum.\n"
              "[moxel-18.0.1]\nname=Moxel 18.0.1\nbaseurl=" +
                  base + "dist/\nenabled=0\ngpgcheck=0\n\n");
    EXPECT_THAT(testsupport::readFile(persistentRepo),
                HasSubstr("[moxel-18.0.1-extras]\nname=Moxel 18.0.1 extras\n"
                          "baseurl=" +
                          base + "extras/\nenabled=1\n"));
    EXPECT_EQ(yum.getEnabledIds(), std::set<std::string>{"moxel-18.0.1"});
    struct stat status;
    ASSERT_EQ(stat("/usr/local/zeq/bin/dnf_install", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(YumConfiguratorSandboxTest, ProductIdThatLeavesTheRepositoryDirectoryIsRefused) {
    build->_parent->prod()->_id = "../yum.repos.d/escaped";
    YumConfigurator yum("", manager, repository);
    try {
        yum.configureSystem();
        ADD_FAILURE() << "configured";
    } catch (const error& failure) {
        EXPECT_EQ(failure.getClass(), error::repository);
        EXPECT_THAT(failure.getText(), HasSubstr("\"../yum.repos.d/escaped\""));
    }
    EXPECT_FALSE(testsupport::exists("/etc/yum.repos.d/escaped.repo"));
}

TEST_F(YumConfiguratorSandboxTest, RollbackRestoresLastingFilesWrittenAfterTheFirstConfigure) {
    testsupport::writeFile(persistentRepo, "[old]\nbaseurl=http://old.invalid/\n");
    {
        driver::auto_configurator holder(new YumConfigurator("", manager, repository), true);
        holder->configureSystem();
        holder->reconfigureSources();
        EXPECT_TRUE(testsupport::exists(temporaryRepo));
    }
    EXPECT_EQ(testsupport::readFile(persistentRepo), "[old]\nbaseurl=http://old.invalid/\n");
    EXPECT_FALSE(testsupport::exists(persistentRepo + ".ai_back"));
    EXPECT_FALSE(testsupport::exists(temporaryRepo));
}

TEST_F(YumConfiguratorSandboxTest, HelperScriptsCompile) {
    for (const char* script : {"yum_install.py", "dnf_install.py"}) {
        // The compiled file goes to the work directory, not beside the script.
        const std::string command =
            "/usr/bin/python3 -c 'import py_compile, sys; py_compile.compile(sys.argv[1], "
            "cfile=sys.argv[2], doraise=True)' " +
            std::string(MOXEL_SOURCE_DIR) + "/installer/engine/helpers/" + script + " " +
            work.file("compiled.pyc");
        EXPECT_EQ(system(command.c_str()), 0) << script;
    }
}

} // namespace
