#include "tests/installer/catalogue/BuildInfFileTestSupport.h"

#include "common/packages/Dependency.h"
#include "common/packages/ExtCatalogPackage.h"
#include "common/runtime/Messages.h"
#include "installer/driver/Options.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>

using namespace buildinftest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testservers::HttpServer;

namespace {

// The extension add-on of the test source, its feed served on 127.0.0.1.
class BuildInfFileExtCatalogTest : public downloadtest::DownloadTest {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        DownloadTest::SetUp();
        Options::instance().downloadRetryCount = 1;
        http.setRules(R"({"/catalog/": [{"file": "feed.json"}]})");
    }

    std::string variant(const std::vector<Edit>& edits) const {
        std::string text = testsupport::readFile(sourcePath(extensionsDebian));
        for (const Edit& edit : edits) {
            const size_t at = text.find(edit.first);
            EXPECT_NE(at, std::string::npos) << edit.first;
            if (at != std::string::npos)
                text.replace(at, edit.first.size(), edit.second);
        }
        testsupport::writeFile(files.file("extensions.build.inf3"), text);
        return files.file("extensions.build.inf3");
    }

    static std::vector<std::string> descriptions(const BuildInfFile& d) {
        std::vector<std::string> result;
        for (const auto& component : d.components)
            result.push_back(component->name + ": " + component->description);
        return result;
    }

    testsupport::TempDir home;
    HttpServer http{sourcePath("extensions")};
};

TEST_F(BuildInfFileExtCatalogTest, FeedServedLocallyBecomesExtensionPackages) {
    Options::instance().extCatalogUrl = http.url("catalog");
    const BuildInfFile extensions(sourcePath(extensionsDebian), extensionsDebian);

    EXPECT_EQ(
        packages(extensions.extCatalogPackages),
        "ext-firewall-1.0.4-5.noarch(e), ext-letsencrypt-3.2.0-1.noarch(e), ext-wptoolkit-6.1.0-2.noarch(e)");
    const auto* wptoolkit = dynamic_cast<const ExtCatalogPackage*>(extensions.extCatalogPackages.back());
    ASSERT_NE(wptoolkit, nullptr);
    EXPECT_EQ(wptoolkit->getCode(), "wptoolkit");
    EXPECT_EQ(wptoolkit->getDisplayName(), "WP Toolkit");
    EXPECT_EQ(wptoolkit->getDownloadUrl(), "https://ext.moxel.invalid/wptoolkit-6.1.0-2.zip");
    // The template's requirement is kept; its name, file, version and architecture are not.
    ASSERT_NE(wptoolkit->getRequire(0), nullptr);
    EXPECT_EQ(wptoolkit->getRequire(0)->getName(), "moxeltest-core");
    EXPECT_STREQ(wptoolkit->getXml()->Attribute("file"), "");
    EXPECT_STREQ(wptoolkit->getXml()->Attribute("name"), "ext-wptoolkit");

    EXPECT_THAT(descriptions(extensions),
                ElementsAre("ext-wptoolkit: WP Toolkit", "ext-letsencrypt: Let's Encrypt",
                            "ext-firewall: ext-firewall (description empty)"));
    ASSERT_EQ(http.requests().size(), 1u);
    EXPECT_THAT(http.requests()[0], HasSubstr("platform=unix&version=1.0.0"));

    const BuildInfFile centos(sourcePath(extensionsCentos), extensionsCentos);
    EXPECT_EQ(packages(centos.extCatalogPackages), packages(extensions.extCatalogPackages));
    EXPECT_EQ(descriptions(centos), descriptions(extensions));
}

TEST_F(BuildInfFileExtCatalogTest, UrlAttributeServesWhenTheRunNamesNone) {
    Options::instance().extCatalogUrl.clear();
    const BuildInfFile extensions(variant({{"http://127.0.0.1:9/catalog/", http.url("catalog")}}), "ext");
    EXPECT_EQ(extensions.extCatalogPackages.size(), 3u);
    EXPECT_EQ(http.requests().size(), 1u);
}

TEST_F(BuildInfFileExtCatalogTest, FeedFailureCostsOnlyTheExtensions) {
    Options::instance().extCatalogUrl = http.url("catalog");
    http.setRules(R"({"/catalog/": [{"status": 404}]})");
    const BuildInfFile extensions(sourcePath(extensionsDebian), extensionsDebian);

    EXPECT_TRUE(extensions.extCatalogPackages.empty());
    EXPECT_THAT(descriptions(extensions), ElementsAre("ext-wptoolkit: ext-wptoolkit (description empty)",
                                                      "ext-letsencrypt: ext-letsencrypt (description empty)",
                                                      "ext-firewall: ext-firewall (description empty)"));
    const std::string collect = Messages().getMessage("err_ext_catalog_collect_packages");
    EXPECT_THAT(logText(), HasSubstr(collect.substr(0, collect.find('%'))));
    EXPECT_EQ(extensions.removablePackages.size(), 0u);
}

TEST_F(BuildInfFileExtCatalogTest, EachNameDescribesOneUndescribedComponent) {
    Options::instance().extCatalogUrl = http.url("catalog");
    const std::string path = files.file("names.build.inf3");
    testsupport::writeFile(
        path, description(
                  "<component name=\"first\" description=\"\"><keypackages><keypackage name=\"other\"/>"
                  "</keypackages><keypackages><keypackage name=\"ext-wptoolkit\"/></keypackages></component>"
                  "<component name=\"second\" description=\"\"><keypackages>"
                  "<keypackage name=\"ext-wptoolkit\"/></keypackages></component>"
                  "<component name=\"named\" description=\"Own name\"><keypackages>"
                  "<keypackage name=\"ext-letsencrypt\"/></keypackages></component>"
                  "<component name=\"provided\" description=\"\"><keypackages>"
                  "<keyprovide name=\"ext-letsencrypt\"/></keypackages></component>"
                  "<ext_catalog/>"));
    const BuildInfFile names(path, "names");

    EXPECT_THAT(descriptions(names),
                ElementsAre("first: WP Toolkit", "second: second (description empty)", "named: Own name",
                            "provided: provided (description empty)"));
    // Without a template the packages carry only what the feed says.
    ASSERT_EQ(names.extCatalogPackages.size(), 3u);
    EXPECT_EQ(names.extCatalogPackages[0]->getRequire(0), nullptr);
    EXPECT_THAT(logText(), HasSubstr("No package section in ext_catalog section"));
}

} // namespace
