#include "common/packages/DebPackage.h"
#include "common/packages/DebVersion.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/md5rep.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using namespace packagetest;

namespace {

std::string hex(const std::array<unsigned char, 16>& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string lines(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += item + "\n";
    return text;
}

// Names longer than 127 characters must come through whole.
const std::string longRequirement = "moxeltest-long-requirement-" + std::string(150, 'r');
const std::string longFile = "/opt/moxeltest/" + std::string(140, 'f') + ".txt";

class PackageFilesSandboxTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }

    // A noarch rpm with dependencies of every kind, a directory, a file and a symbolic link.
    std::string buildRpm() {
        std::string spec = dir.file("moxeltest-files.spec");
        testsupport::writeFile(spec, lines({"Name: moxeltest-files",
                                            "Version: 1.2.3",
                                            "Release: 4",
                                            "Epoch: 2",
                                            "Summary: Test package",
                                            "License: none",
                                            "BuildArch: noarch",
                                            "AutoReqProv: no",
                                            "Requires: moxeltest-base >= 1.0",
                                            "Requires: " + longRequirement,
                                            "Requires: moxeltest-exact = 7",
                                            "Provides: moxeltest-feature = 5",
                                            "Conflicts: moxeltest-enemy < 2",
                                            "Obsoletes: moxeltest-old <= 1.1",
                                            "%description",
                                            "test",
                                            "%install",
                                            "mkdir -p %{buildroot}/opt/moxeltest",
                                            "printf 'hello\\n' > %{buildroot}/opt/moxeltest/data.txt",
                                            "printf 'long\\n' > %{buildroot}" + longFile,
                                            "ln -s data.txt %{buildroot}/opt/moxeltest/link",
                                            "%files",
                                            "%dir /opt/moxeltest",
                                            "/opt/moxeltest/data.txt",
                                            longFile,
                                            "/opt/moxeltest/link"}));
        std::string top = dir.file("rpmbuild");
        EXPECT_EQ(rpmbuild(top, spec), 0);
        return top + "/RPMS/noarch/moxeltest-files-1.2.3-4.noarch.rpm";
    }

    // A .deb whose file name would run commands if it reached the shell unquoted.
    std::string buildDeb() {
        std::string root = dir.file("deb");
        run("mkdir -p " + root + "/DEBIAN " + root + "/opt/moxeltest");
        testsupport::writeFile(root + "/DEBIAN/control", "Package: moxeltest-deb\n"
                                                         "Version: 1:2.3-4\n"
                                                         "Architecture: all\n"
                                                         "Maintainer: Moxel Test <test@moxel.invalid>\n"
                                                         "Depends: moxeltest-base (>= 1.0)\n"
                                                         "Provides: moxeltest-a, moxeltest-b (= 1)\n"
                                                         "Description: test package\n");
        testsupport::writeFile(root + "/opt/moxeltest/data.txt", "hello\n");
        std::string deb = dir.file("moxeltest $(touch moxeltest-injected) 'q'.deb");
        EXPECT_EQ(debBuild(root, deb), 0);
        return deb;
    }

    testsupport::TempDir dir;
};

TEST_F(PackageFilesSandboxTest, RpmHeaderIsReadFieldByField) {
    std::string path = buildRpm();
    std::unique_ptr<Package> package = Package::createFromFile("placeholder", "0", path);
    package->readInfo();

    EXPECT_EQ(package->getName().str(), "moxeltest-files");
    const Version& version = package->getVersion();
    EXPECT_TRUE(version.hasEpoch);
    EXPECT_EQ(version.epoch, 2);
    EXPECT_EQ(version.version, "1.2.3");
    EXPECT_EQ(version.release, "4");
    EXPECT_EQ(package->getArch().str(), "noarch");
    EXPECT_GT(package->getBuildTime(), 1600000000);

    // rpm's own feature requirements are not kept.
    EXPECT_THAT(texts(package->getRequires()),
                ElementsAre("moxeltest-base >= 1.0", "moxeltest-exact = 7", longRequirement));
    EXPECT_THAT(texts(package->getConflicts()), ElementsAre("moxeltest-enemy < 2"));
    EXPECT_THAT(texts(package->getObsoletes()), ElementsAre("moxeltest-old <= 1.1"));

    const auto& provides = package->getProvides();
    ASSERT_EQ(provides.size(), 6u);
    EXPECT_THAT(texts({provides[0], provides[1]}),
                ElementsAre("moxeltest-feature = 5", "moxeltest-files = 2:1.2.3-4"));
    for (size_t i = 2; i < provides.size(); ++i)
        ASSERT_EQ(provides[i]->getKind(), Dependency::FILE_ENTRY);
    auto file = [&](size_t i) { return static_cast<const DependencyFile*>(provides[i].get()); };
    EXPECT_EQ(file(2)->getName(), "/opt/moxeltest");
    EXPECT_EQ(DependencyFile::fileType(file(2)->getMode()), DependencyFile::DIRECTORY);
    EXPECT_EQ(file(3)->getName(), "/opt/moxeltest/data.txt");
    EXPECT_EQ(file(3)->getMode(), 0100644);
    // The header's SHA-256 digest keeps its first 16 bytes.
    EXPECT_EQ(file(3)->getDigestText(), "5891b5b522d5df086d0ff0b110fbd9d2");
    EXPECT_EQ(file(4)->getName(), longFile);
    EXPECT_EQ(file(5)->getName(), "/opt/moxeltest/link");
    EXPECT_EQ(DependencyFile::fileType(file(5)->getMode()), DependencyFile::SYMLINK);
    EXPECT_EQ(file(5)->getLink().str(), "data.txt");
    EXPECT_EQ(file(5)->getMaster(), package.get());

    struct stat facts {};
    ASSERT_EQ(stat(path.c_str(), &facts), 0);
    EXPECT_EQ(package->getSize(), facts.st_size);
    EXPECT_EQ(package->getInstallTime(), facts.st_mtime);
    EXPECT_EQ(hex(package->getMd5()), util::md5_file_string(path));
}

TEST_F(PackageFilesSandboxTest, UnreadableRpmFilesFailWithTheirName) {
    std::string garbage = dir.file("garbage.rpm");
    testsupport::writeFile(garbage, "not a package at all\n");
    for (const std::string& path : {dir.file("missing.rpm"), garbage}) {
        SCOPED_TRACE(path);
        std::unique_ptr<Package> package = Package::createFromFile("x", "1", path);
        try {
            package->readInfo();
            ADD_FAILURE() << "read";
        } catch (const error& e) {
            EXPECT_EQ(e.getClass(), error::system);
            EXPECT_THAT(e.getText(), StartsWith(Messages().format("err_pkgread", path) + ": "));
        }
    }
}

TEST_F(PackageFilesSandboxTest, DebControlIsReadAndItsNameNeverReachesTheShellBare) {
    std::string path = buildDeb();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::unique_ptr<Package> package = Package::createFromFile("placeholder", "0", path);
    package->readInfo();

    EXPECT_EQ(access(dir.file("moxeltest-injected").c_str(), F_OK), -1);
    EXPECT_EQ(package->getName().str(), "moxeltest-deb");
    ASSERT_NE(dynamic_cast<const DebVersion*>(&package->getVersion()), nullptr);
    EXPECT_EQ(package->getVersion().toString(), "1:2.3-4");
    EXPECT_EQ(package->getArch().str(), "all");
    // Dependency fields are not read from the file.
    EXPECT_THAT(package->getRequires(), IsEmpty());
    EXPECT_THAT(package->getProvides(), IsEmpty());
    EXPECT_EQ(hex(package->getMd5()), util::md5_file_string(path));
    struct stat facts {};
    ASSERT_EQ(stat(path.c_str(), &facts), 0);
    EXPECT_EQ(package->getSize(), facts.st_size);

    std::unique_ptr<Package> missing = Package::createFromFile("x", "1", dir.file("missing.deb"));
    EXPECT_THROW(missing->readInfo(), error);

    // A relative name that looks like an option is still a file name to dpkg.
    ASSERT_EQ(rename(path.c_str(), "--moxeltest.deb"), 0);
    std::unique_ptr<Package> dashed = Package::createFromFile("x", "1", "--moxeltest.deb");
    dashed->readInfo();
    EXPECT_EQ(dashed->getName().str(), "moxeltest-deb");
}

} // namespace
