// Catalogue loading and component selection over the example source of scripts/make-example-source.
// The system package reader and the status pass need the sandbox.

#include "installer/driver/CatalogueSelection.h"

#include "common/packages/Repository.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Options.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using ::testing::HasSubstr;

namespace {

// Made by the build; read only.
const std::string exampleSource = std::string(MOXEL_BINARY_DIR) + "/example-source";

class CatalogueSelectionSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
    }

    // Loads the catalogue, selects what the options' selectors name and builds the component tree.
    void loadTree() {
        driver::loadCatalogue(exampleSource + "/products.inf3", target.path(), repository, fetcher,
                              catalogue);
        driver::selectReleasesFromOptions(catalogue.get());
        sources = std::make_unique<SourceManager>(repository.get());
        patches = std::make_unique<MicroUpdateManager>(fetcher.get(), &tree);
        BuildLoader loader(repository.get(), &tree, fetcher.get(), sources.get(), &params, patches.get(),
                           &guards);
        catalogue->accept(loader);
        loader.commit();
        driver::determineComponentStates(tree, *repository, nullptr, *patches);
    }

    std::vector<std::string> toInstall() { return tree.getSelection(); }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    testsupport::TempDir target;
    testsupport::TempDir logs;
    std::unique_ptr<Repository> repository;
    std::unique_ptr<FileFetcher> fetcher;
    std::unique_ptr<BuildManager> catalogue;
    ComponentManager tree;
    std::unique_ptr<SourceManager> sources;
    ParamManager params;
    std::unique_ptr<MicroUpdateManager> patches;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> guards;
};

TEST_F(CatalogueSelectionSandboxTest, InstallationTypesSelectTheirComponents) {
    Options::instance().addReleaseSelector(ReleaseSelector::latest, "moxel-example", "");
    loadTree();
    ASSERT_TRUE(catalogue->findRelease("moxel-example-1.0.0"));
    EXPECT_TRUE(catalogue->findRelease("moxel-example-1.0.0")->_selected);

    struct Case {
        const char* type;
        std::vector<std::string> selected;
    };
    for (const Case& c :
         {Case{"Minimal", {"moxel-example/base"}}, Case{"Full", {"moxel-example/base", "moxel-example/web"}},
          Case{"Custom", {"moxel-example/base"}}}) {
        SCOPED_TRACE(c.type);
        tree.markComponents(tree.nodes.begin(), tree.nodes.end(), REQ_LEAVE, "", false);
        driver::selectComponentsByInstallationType(tree, c.type, "moxel-example");
        EXPECT_EQ(toInstall(), c.selected);
    }
    EXPECT_THAT(logText(), HasSubstr("Select components by installation type: product = moxel-example, "
                                     "installation type = Full\n"));
}

TEST_F(CatalogueSelectionSandboxTest, NamedComponentsPullInWhatTheyRequire) {
    Options::instance().addReleaseSelector(ReleaseSelector::by_id, "moxel-example", "moxel-example-1.0.0");
    loadTree();
    driver::applyComponentSelection(tree, "moxel-example", {"web"}, {});
    EXPECT_EQ(toInstall(), (std::vector<std::string>{"moxel-example/base", "moxel-example/web"}));
    EXPECT_THAT(logText(), HasSubstr(Messages().getMessage("added_comps_by_deps") + " 'base'"));

    try {
        driver::applyComponentSelection(tree, "moxel-example", {"web"}, {"base"});
        ADD_FAILURE() << "no conflict";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), error::dependencies);
        EXPECT_THAT(e.getText(), HasSubstr(Messages().getMessage("err_deps_conflict")));
    }
}

TEST_F(CatalogueSelectionSandboxTest, CurrentReleaseOfAProductNotInstalledIsRefused) {
    loadTree();
    try {
        driver::selectProductRelease(ReleaseSelector("moxel-example", ReleaseSelector::current), *catalogue);
        ADD_FAILURE() << "selected";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), error::user);
        EXPECT_EQ(e.getText(), "The product 'moxel-example' is not installed yet.\n");
    }
    EXPECT_EQ(
        driver::selectProductRelease(ReleaseSelector("moxel-example", ReleaseSelector::latest), *catalogue),
        "moxel-example-1.0.0");
}

} // namespace
