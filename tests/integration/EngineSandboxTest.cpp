// The engine from catalogue to package plan, on the test installation source served over HTTP on
// 127.0.0.1 and this machine's dpkg database (a private overlay in the sandbox), with one component's
// key package installed for real.

#include "common/packages/Package.h"
#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/packages/SourceSysDeb.h"
#include "common/runtime/Log.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Options.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

const std::string fixtureSource = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source";

class EngineSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
    }

    // A key package without files, installed with dpkg.
    void dpkgInstall(const std::string& name, const std::string& version) const {
        const std::string root = work.file(name);
        ASSERT_EQ(std::system(("mkdir -p '" + root + "/DEBIAN'").c_str()), 0);
        testsupport::writeFile(root + "/DEBIAN/control",
                               "Package: " + name + "\nVersion: " + version +
                                   "\nArchitecture: all\nMaintainer: Moxel Test <test@moxel.invalid>\n"
                                   "Description: installer test package\n");
        const std::string deb = root + ".deb";
        ASSERT_EQ(std::system(("dpkg-deb --root-owner-group --build '" + root + "' '" + deb + "' >/dev/null && " +
                               "dpkg -i '" + deb + "' >/dev/null")
                                  .c_str()),
                  0);
    }

    testsupport::TempDir work;
};

// The component of that name, wherever it stands in the tree.
comp_ptr_t findComponent(ComponentManager& components, const std::string& name) {
    struct Finder : ComponentManager::Visitor {
        explicit Finder(const std::string& wanted) : wanted(wanted) {}
        void visit(const comp_ptr_t& component) override {
            if (component->name == wanted)
                found = component;
        }
        const std::string wanted;
        comp_ptr_t found;
    } finder(name);
    components.accept(finder);
    return finder.found;
}

std::vector<std::string> describe(const cpkgs_t& packages) {
    std::vector<std::string> lines;
    for (const Package* package : packages)
        lines.push_back(package->getName().str() + " " + package->getVersion().toString());
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(EngineSandboxTest, InstallationTypeOfAFreshReleaseGivesTheExactPlan) {
    dpkgInstall("moxeltest-dns", "18.0.1-1");
    testservers::HttpServer http(fixtureSource);
    // The add-on's description asks the extension catalogue for its feed.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    http.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = http.url("feed/");
    testsupport::TempDir target;

    // The run's objects, in the order a run makes them.
    Repository repository;
    SourceSysDeb dpkg(&repository);
    repository.getBrief();
    FileFetcher fetcher(http.url(), target.path());
    BuildManager catalogue(fetcher, "");
    catalogue.calculateReleaseStates(&repository);
    catalogue.removeNotActualReleases();
    catalogue.selectRelease("moxel", "moxel-18.0.1");
    ASSERT_EQ(catalogue.findRelease("moxel-18.0.1")->getUpdateMode(), 1);

    ComponentManager components;
    SourceManager sources(&repository);
    ParamManager params;
    MicroUpdateManager patches(&fetcher, &components);
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> guards;
    {
        BuildLoader loader(&repository, &components, &fetcher, &sources, &params, &patches, &guards);
        catalogue.accept(loader);
        loader.commit();
    }

    ComponentManager::PreparePackagesList keyNames;
    components.accept(keyNames);
    ComponentManager::CheckInstalled installedState(&repository, nullptr);
    components.accept(installedState);
    ComponentManager::ShriveledRadioGroupsRemover shrink(&components);
    components.accept(shrink);

    // The installed key package makes "dns" up to date; "mail-postfix" needs an installed provider of
    // its key capability, which nothing gives, so it cannot be offered.
    const comp_ptr_t dns = findComponent(components, "dns");
    const comp_ptr_t postfix = findComponent(components, "mail-postfix");
    ASSERT_TRUE(dns && postfix);
    EXPECT_EQ(dns->installMode, 3);
    EXPECT_EQ(postfix->installMode, 4);

    components.selectBaseComponent();
    // The "Recommended" type, and the backup manager by name.
    std::vector<std::string> names = components.getProduct("moxel").getType("recommended").components;
    names.push_back("backup");
    ComponentManager::MarkSpecifiedNamesComponents byName(&components, "moxel", names, REQ_INSTALL);
    components.accept(byName);
    ComponentsChangeset changeset;
    components.getCurrentChanges(&changeset);
    components.resolveAndApply(&changeset);

    EXPECT_THAT(components.getSelection(), ElementsAre("moxel/base", "moxel/web", "moxel/backup"));

    cpkgs_t toInstall;
    components.getPackagesToInstall(toInstall, &repository, checked_pointer<SystemSpecificConfigurator>());
    EXPECT_THAT(describe(toInstall),
                ElementsAre("moxeltest-backup 18.0.1-1", "moxeltest-core 18.0.1-1", "moxeltest-core-libs 18.0.1-1",
                            "moxeltest-web 18.0.1-1"));
    cpkgs_t bootstrapper;
    components.getBootstrapperPackagesToInstall(bootstrapper, &repository);
    EXPECT_THAT(describe(bootstrapper), ElementsAre("moxeltest-bootstrap 18.0.1-1", "moxeltest-core-setup 18.0.1-1"));

    repository.getFull();
    cpkgs_t necessary = toInstall;
    repository.resolveRequires();
    PkgManager resolver(&repository, &necessary, false);
    resolver.setOsArch("x86_64");
    resolver.blackListUnresolved();
    resolver.findNecessaryPackages(false);
    EXPECT_THAT(describe(necessary),
                ElementsAre("moxeltest-backup 18.0.1-1", "moxeltest-core 18.0.1-1", "moxeltest-core-libs 18.0.1-1",
                            "moxeltest-web 18.0.1-1"));
}

} // namespace
