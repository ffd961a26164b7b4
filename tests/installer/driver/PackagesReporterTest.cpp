#include "installer/driver/PackagesReporter.h"

#include "common/packages/Repository.h"
#include "installer/driver/Options.h"
#include "tests/common/packages/PackageTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using packagetest::makePackage;

namespace {

class PackagesReporterTest : public ::testing::Test {
protected:
    void SetUp() override { Options::enableXmlOutput = false; }

    Package* add(const std::string& name, const std::string& version, Package::type_t type,
                 int64_t size = 0) {
        Package* package = makePackage(owned, name, version, type, "x86_64");
        package->setSize(size);
        repository.addPackage(package, nullptr);
        return package;
    }

    std::string printed(const std::vector<const Package*>& plan, bool xml) const {
        std::ostringstream out;
        PackagesReporter(plan, &repository, xml).put(out);
        return out.str();
    }

    std::vector<std::unique_ptr<Package>> owned;
    Repository repository;
};

TEST_F(PackagesReporterTest, TextListsInstallsUpgradesAndRemovesInOrder) {
    add("moxeltest-a", "0.9-1", 's');
    add("moxeltest-old", "1.0-1", 's');
    add("moxeltest-legacy", "2.0-1", 's');
    Package* upgrade = add("moxeltest-a", "1.0-1", 'b');
    Package* zeta = add("moxeltest-zeta", "1:3.0-2", 'u');
    Package* beta = add("moxeltest-beta", "1.0-1", 'b');
    beta->addObsolete("moxeltest-legacy");
    Package* remover = repository.addRemoverFor("moxeltest-old");
    Package* dummyInstall = add("moxeltest-virtual", "1.0-1", 'd');

    EXPECT_EQ(printed({zeta, upgrade, remover, beta, dummyInstall}, false),
              "  1. [I] moxeltest-beta-1.0-1.x86_64\n"
              "  2. [I] moxeltest-zeta-1:3.0-2.x86_64\n"
              "  3. [U] moxeltest-a-1.0-1.x86_64\n"
              "  4. [R] moxeltest-legacy-2.0-1.x86_64\n"
              "  5. [R] moxeltest-old-1.0-1.x86_64\n");
}

TEST_F(PackagesReporterTest, EmptyPlan) {
    EXPECT_EQ(printed({}, false),
              "No additional packages are required for installation of the selected components.\n");
    EXPECT_NE(printed({}, true).find("<packages><system_packages install_num=\"0\" upgrade_num=\"0\" "
                                     "remove_num=\"0\" bytes=\"0\" /><kernel_packages install_num=\"0\" "
                                     "bytes=\"0\" /><build_packages install_num=\"0\" upgrade_num=\"0\" "
                                     "remove_num=\"0\" bytes=\"0\" /></packages>"),
              std::string::npos);
}

TEST_F(PackagesReporterTest, XmlGroupsCountAndTotalBeyondFourGiB) {
    add("moxeltest-a", "0.9-1", 's');
    Package* upgrade = add("moxeltest-a", "1.0-1", 'b', 3'000'000'000);
    Package* big = add("moxeltest-big", "2.0-1", 'b', 2'500'000'000);
    Package* update = add("moxeltest-u", "1:1.5-3", 'u', 10);
    Package* installed = add("moxeltest-s", "1.0-1", 's', 99);
    EXPECT_EQ(
        printed({upgrade, big, update, installed}, true),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?><dizadizezeroz status=\"" +
            Options::statusPrefix +
            "ok\"><packages><system_packages install_num=\"1\" upgrade_num=\"0\" remove_num=\"0\" "
            "bytes=\"10\"><package action=\"install\" name=\"moxeltest-u\" version=\"1:1.5\" release=\"3\" "
            "arch=\"x86_64\" size=\"10\" /></system_packages><kernel_packages install_num=\"0\" "
            "bytes=\"0\" /><build_packages install_num=\"1\" upgrade_num=\"1\" remove_num=\"0\" "
            "bytes=\"5500000000\"><package action=\"install\" name=\"moxeltest-big\" version=\"2.0\" "
            "release=\"1\" arch=\"x86_64\" size=\"2500000000\" /><package action=\"upgrade\" "
            "name=\"moxeltest-a\" version=\"1.0\" release=\"1\" arch=\"x86_64\" size=\"3000000000\" "
            "/></build_packages></packages></dizadizezeroz>\n");
}

} // namespace
