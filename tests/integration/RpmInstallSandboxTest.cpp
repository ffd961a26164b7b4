// The RPM back end for real: packages built with rpmbuild are installed, upgraded and removed through
// librpm's transactions into a private root, and rpm itself is asked what is installed there.

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/util.h"
#include "installer/driver/ReportError.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/support/BuildOnce.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using enginetest::PlannedInstaller;
using enginetest::RecordingStages;
using Trace = std::vector<std::string>;

namespace {

const std::string packagesDir = std::string(MOXEL_BINARY_DIR) + "/tests/moxeltest-rpms";

struct SpecFile {
    std::string name;
    std::string version;
    std::string requires;
    // A shell %post, which makes the package require /bin/sh.
    bool shellPost = false;
    // The package's file is named after this package instead.
    std::string fileOf = "";
};

// A noarch package with one file under /opt/moxeltest holding its version, and a Lua %post that
// appends "post <1 install, 2 upgrade>" to a marker.
std::string specText(const SpecFile& spec) {
    const std::string file = "/opt/moxeltest/" + (spec.fileOf.empty() ? spec.name : spec.fileOf) + ".txt";
    std::string text = "Name: " + spec.name + "\nVersion: " + spec.version +
                       "\nRelease: 1\nSummary: installer test package\nLicense: MIT\nBuildArch: noarch\n";
    if (!spec.requires.empty())
    text += "Requires: " + spec.requires + "\n";
    text += "%description\ninstaller test package\n"
            "%install\nmkdir -p %{buildroot}/opt/moxeltest\n"
            "echo " +
            spec.name + " " + spec.version + " > %{buildroot}" + file + "\n%files\n" + file + "\n";
    if (spec.shellPost)
        return text + "%post\necho installed\n";
    return text +
           "%post -p <lua>\n"
           "for _, dir in ipairs({\"/var\", \"/var/lib\", \"/var/lib/moxeltest\"}) do posix.mkdir(dir) end\n"
           "local marker = io.open(\"/var/lib/moxeltest/" +
           spec.name +
           "\", \"a\")\n"
           "marker:write(\"post \" .. arg[2] .. \"\\n\")\n"
           "marker:close()\n";
}

const std::vector<SpecFile> specs = {
    {"moxeltest-a", "1.0.0", "moxeltest-b >= 1.0.0"},
    {"moxeltest-a", "1.1.0", "moxeltest-b >= 1.0.0"},
    {"moxeltest-b", "1.0.0", ""},
    {"moxeltest-c", "1.0.0", ""},
    {"moxeltest-sh", "1.0.0", "", true},
    {"moxeltest-clash", "1.0.0", "", false, "moxeltest-b"},
};

std::string packageFile(const std::string& name, const std::string& version) {
    return packagesDir + "/" + name + "-" + version + "-1.noarch.rpm";
}

void buildPackagesOnce() {
    std::string texts;
    for (const SpecFile& spec : specs)
        texts += specText(spec);
    testsupport::buildOnce(packagesDir, texts, [] {
        testsupport::TempDir top;
        for (const SpecFile& spec : specs) {
            const std::string file = top.file(spec.name + "-" + spec.version + ".spec");
            testsupport::writeFile(file, specText(spec));
            ASSERT_EQ(0, packagetest::rpmbuild(top.file("build"), file)) << spec.name << " " << spec.version;
        }
        ASSERT_EQ(0, packagetest::run("rm -rf " + util::shell_quote(packagesDir) + " && mkdir -p " +
                                      util::shell_quote(packagesDir) + " && cp " +
                                      util::shell_quote(top.file("build")) + "/RPMS/noarch/*.rpm " +
                                      util::shell_quote(packagesDir)));
    });
}

class RpmInstallSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        buildPackagesOnce();
    }

    // A package of the update server, read from its file.
    Package* available(const std::string& name, const std::string& version) {
        owned.push_back(Package::createFromFile(name, version + "-1", packageFile(name, version)));
        Package* package = owned.back().get();
        package->readInfo();
        package->setType('b');
        repository.addPackage(package, nullptr);
        return package;
    }

    // What rpm has installed below the root, one "name-version-release" per line, sorted.
    std::string installed() const {
        const std::string list = work.file("installed");
        packagetest::run("rpm --root " + util::shell_quote(root) +
                         " -qa --qf '%{NAME}-%{VERSION}-%{RELEASE}\\n' | sort > " + util::shell_quote(list));
        return testsupport::readFile(list);
    }

    testsupport::TempDir work;
    const std::string root = work.file("root");
    Repository repository;
    std::vector<std::unique_ptr<Package>> owned;
    Trace trace;
    RecordingStages stages{trace};
};

TEST_F(RpmInstallSandboxTest, InstallsUpgradesAndRemovesThePlan) {
    {
        PlannedInstaller installer(&repository, stages, trace, nullptr, root);
        installer.recordGroups = false;
        installer.plan = {available("moxeltest-a", "1.0.0"), available("moxeltest-b", "1.0.0"),
                          available("moxeltest-c", "1.0.0")};
        installer.resolveDependencies();
        installer.install();
    }
    EXPECT_EQ("moxeltest-a-1.0.0-1\nmoxeltest-b-1.0.0-1\nmoxeltest-c-1.0.0-1\n", installed());
    EXPECT_EQ("moxeltest-a 1.0.0\n", testsupport::readFile(root + "/opt/moxeltest/moxeltest-a.txt"));
    EXPECT_EQ("post 1\n", testsupport::readFile(root + "/var/lib/moxeltest/moxeltest-a"));
    // One transaction per group, the required package first.
    EXPECT_EQ((Trace{"download", "step install_start: Installing packages", "remove extensions of 3",
                     "actions prep",
                     "step install_install_package: Installing the package moxeltest-b-1.0.0-1.noarch",
                     "step install_install_package: Installing the package moxeltest-a-1.0.0-1.noarch",
                     "step install_install_package: Installing the package moxeltest-c-1.0.0-1.noarch",
                     "actions post", "install extensions of 3"}),
              trace);

    trace.clear();
    {
        PlannedInstaller installer(&repository, stages, trace, nullptr, root);
        installer.recordGroups = false;
        installer.plan = {available("moxeltest-a", "1.1.0"), repository.addRemoverFor("moxeltest-c")};
        installer.resolveDependencies();
        installer.install();
    }
    EXPECT_EQ("moxeltest-a-1.1.0-1\nmoxeltest-b-1.0.0-1\n", installed());
    EXPECT_EQ("moxeltest-a 1.1.0\n", testsupport::readFile(root + "/opt/moxeltest/moxeltest-a.txt"));
    EXPECT_EQ("post 1\npost 2\n", testsupport::readFile(root + "/var/lib/moxeltest/moxeltest-a"));
    EXPECT_NE(0, access((root + "/opt/moxeltest/moxeltest-c.txt").c_str(), F_OK));
    EXPECT_EQ("step install_remove: Removing the package moxeltest-c", trace[5]);
}

TEST_F(RpmInstallSandboxTest, AFailedTransactionNamesThePackagesAndRpmsProblemsAndChangesNothing) {
    // The run believes /bin/sh is installed; the rpm database below the root knows better.
    Package shell("bash", "5.2-1");
    shell.setType('s');
    shell.addProvide("/bin/sh");
    repository.addPackage(&shell, nullptr);
    PlannedInstaller installer(&repository, stages, trace, nullptr, root);
    installer.recordGroups = false;
    installer.plan = {available("moxeltest-b", "1.0.0"), available("moxeltest-sh", "1.0.0")};
    installer.resolveDependencies();

    testsupport::ErrorFacts facts = testsupport::caught([&] { installer.install(); });
    EXPECT_EQ("Failed to install packages:\nMoxel Installer could not resolve package dependencies.\n"
              "moxeltest-sh-1.0.0-1.noarch\n"
              "/bin/sh is needed by moxeltest-sh-1.0.0-1.noarch\n",
              facts.text);
    EXPECT_EQ(5, facts.e_class);
    EXPECT_EQ("actions pkgs rollback", trace.back());
    EXPECT_NE(std::string::npos,
              ReportError::text().find("Rpm failed to install packages:\nError: Failed to install "
                                       "packages:\n"));
    // The group before the failing one stays installed; the failing one left nothing.
    EXPECT_EQ("moxeltest-b-1.0.0-1\n", installed());
    EXPECT_EQ('s', installer.getPackages()[0]->getType());
    EXPECT_EQ('b', installer.getPackages()[1]->getType());
}

TEST_F(RpmInstallSandboxTest, AGroupRunsInstallsAndErasesAsOneTransactionAndRpmsRefusalIsAnError) {
    PlannedInstaller installer(&repository, stages, trace, nullptr, root);
    installer.recordGroups = false;
    installer.plan = {available("moxeltest-b", "1.0.0"), available("moxeltest-c", "1.0.0")};
    installer.resolveDependencies();
    installer.installPackages(installer.getPackages());
    trace.clear();

    installer.runGroup({available("moxeltest-a", "1.0.0"), repository.addRemoverFor("moxeltest-c")});
    EXPECT_EQ("moxeltest-a-1.0.0-1\nmoxeltest-b-1.0.0-1\n", installed());
    EXPECT_EQ((Trace{"step installing_pkglist: Installing the following packages:"}), trace);
    EXPECT_NE(std::string::npos, ReportError::text().find("package moxeltest-a-1.0.0-1.noarch\n"
                                                          "package dummy_obsoleter_moxeltest-c-0.0\n"));

    testsupport::ErrorFacts facts =
        testsupport::caught([&] { installer.runGroup({available("moxeltest-clash", "1.0.0")}); });
    EXPECT_EQ(
        "Failed to install RPM packages:\nthe RPM transaction was not completed.\n"
        "moxeltest-clash-1.0.0-1.noarch\n"
        "file /opt/moxeltest/moxeltest-b.txt from install of moxeltest-clash-1.0.0-1.noarch conflicts with "
        "file from package moxeltest-b-1.0.0-1.noarch\n",
        facts.text);
    EXPECT_EQ(6, facts.e_class);
    EXPECT_EQ("moxeltest-a-1.0.0-1\nmoxeltest-b-1.0.0-1\n", installed());
    EXPECT_EQ("moxeltest-b 1.0.0\n", testsupport::readFile(root + "/opt/moxeltest/moxeltest-b.txt"));
}

} // namespace
