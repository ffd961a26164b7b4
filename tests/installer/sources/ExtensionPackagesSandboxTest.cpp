// Extensions through a stand-in of the panel's extension tool (tests/fixtures/panel/extension), installed
// as /usr/local/zeq/bin/extension inside the sandbox, with the extension catalogue feed and the
// extension packages served over HTTP on 127.0.0.1.

#include "installer/sources/ExtensionPackages.h"

#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "installer/components/ComponentManager.h"
#include "installer/sources/ExtCatalog.h"
#include "installer/sources/SourceConfig.h"
#include "installer/sources/SourceSysMoxelExt.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class ExtensionPackagesSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        ASSERT_EQ(std::system(("mkdir -p /usr/local/zeq/bin && cp '" + std::string(MOXEL_SOURCE_DIR) +
                               "/tests/fixtures/panel/extension' /usr/local/zeq/bin/extension && "
                               "chmod 0755 /usr/local/zeq/bin/extension")
                                  .c_str()),
                  0);
        ASSERT_EQ(std::system(("mkdir -p '" + served.file("pkgs") + "'").c_str()), 0);
        publish("wptoolkit", "WP Toolkit", "6.1.0-2");
        publish("wptoolkit", "WP Toolkit", "6.2.0-1");
        publish("letsencrypt", "Let's Encrypt", "3.2.0-1");
        publish("legacy", "Legacy Tool", "2.0-1");
        testsupport::writeFile(
            served.file("feed.json"),
            R"([{"code": "wptoolkit", "name": "WP Toolkit", "version": "6.1.0", "release": "2",
                                    "download_url": ")" +
                http.url("pkgs/wptoolkit-6.1.0-2") + R"("},
                                   {"code": "letsencrypt", "name": "Let's Encrypt", "version": "3.2.0",
                                    "release": "1", "download_url": ")" +
                http.url("pkgs/letsencrypt-3.2.0-1") + R"("}])");
        http.setRules(R"({"/feed/": [{"file": "feed.json"}]})");
        const ExtCatalog::Feed feed =
            ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(http.url("feed/")), "unix", "18.0.1");
        for (const auto& entry : feed)
            catalogue.push_back(extension(entry.first, entry.second.name, entry.second.version,
                                          entry.second.release, entry.second.download_url));
    }

    void publish(const std::string& code, const std::string& name, const std::string& version) {
        testsupport::writeFile(served.file("pkgs/" + code + "-" + version),
                               "code=" + code + "\nname=" + name + "\nversion=" + version + "\n");
    }

    // A catalogue extension as build descriptions make them; it requires moxeltest-panel.
    ExtCatalogPackage* extension(const std::string& code, const std::string& name, const std::string& version,
                                 const std::string& release, const std::string& url) {
        TiXmlElement element("package");
        element.SetAttribute("name", "ext-" + code);
        element.SetAttribute("file", "");
        element.SetAttribute("version", version);
        element.SetAttribute("release", release);
        element.SetAttribute("arch", "noarch");
        TiXmlElement requirement("requires");
        requirement.InsertEndChild(TiXmlText("moxeltest-panel"));
        element.InsertEndChild(requirement);
        auto* package = static_cast<ExtCatalogPackage*>(
            keepForever(Package::createFromXml(tinybind::Element(&element), 'e')));
        package->setCode(code);
        package->setDisplayName(name);
        package->setDownloadUrl(url);
        return package;
    }

    std::string calls() const { return testsupport::readFile("/usr/local/zeq/var/extension-calls.log"); }

    testsupport::TempDir work;
    testsupport::TempDir served;
    testservers::HttpServer http{served.path()};
    Repository repository;
    ExtensionPackages tool{&repository};
    // ext-letsencrypt, ext-wptoolkit (the feed's order by code).
    std::vector<ExtCatalogPackage*> catalogue;
};

TEST_F(ExtensionPackagesSandboxTest, InstallUpgradeListAndRemoveThroughTheTool) {
    ExtCatalogPackage* wptoolkit = catalogue[1];
    EXPECT_EQ(tool.detectVersion(wptoolkit), "");
    tool.installAll({wptoolkit});
    EXPECT_EQ(tool.detectVersion(wptoolkit), "6.1.0-2");

    ExtCatalogPackage* newer =
        extension("wptoolkit", "WP Toolkit", "6.2.0", "1", http.url("pkgs/wptoolkit-6.2.0-1"));
    tool.installAll({newer});
    EXPECT_EQ(tool.detectVersion(wptoolkit), "6.2.0-1");

    const ExtensionPackages::owned_t listed = tool.listInstalled();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->getName().str(), "ext-wptoolkit");
    EXPECT_EQ(listed[0]->getCode(), "wptoolkit");
    EXPECT_EQ(listed[0]->getDisplayName(), "WP Toolkit");

    // The plan removes an extension with a remover of its name; the installed copy comes from the
    // installed-extensions source.
    ComponentManager components;
    SourceSysMoxelExt installed(&repository, &components);
    repository.getBrief();
    tool.removeAll({repository.addRemoverFor("ext-wptoolkit")});
    EXPECT_EQ(tool.detectVersion(wptoolkit), "");
    EXPECT_EQ(getenv("MOXEL_INTERNAL_PHP_EXEC"), nullptr);
}

TEST_F(ExtensionPackagesSandboxTest, FailuresRaiseAndHostileValuesStayArguments) {
    const std::string injected = work.file("injected");
    struct Case {
        const char* code;
        std::string url;
        bool installing;
        const char* text;
    } cases[] = {
        {"wptoolkit", http.url("pkgs/no-such-package"), true,
         "Failed to install or upgrade the extension 'X' (package: wptoolkit):\ncurl: "},
        {"wptoolkit", "", false,
         "Failed to uninstall the extension 'X' (package: wptoolkit):\nextension wptoolkit is not installed"},
        // The URL is one argument of the tool: the shell never sees its ';'.
        {"wptoolkit", http.url("pkgs/x;touch " + injected), true, "cannot download"},
        // Codes outside the tool's alphabet never reach it.
        {"x;touch /tmp/injected", "", false, "invalid extension code"},
        {"a b", http.url("pkgs/wptoolkit-6.1.0-2"), true, "invalid extension code"},
    };
    for (const Case& c : cases) {
        ExtCatalogPackage* package = extension(c.code, "X", "1.0", "1", c.url);
        try {
            if (c.installing)
                tool.install(package);
            else
                tool.uninstall(package);
            ADD_FAILURE() << c.code << " " << c.url;
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr(c.text)) << c.code;
            EXPECT_EQ(e.getClass(), 4);
        }
        EXPECT_EQ(getenv("MOXEL_INTERNAL_PHP_EXEC"), nullptr);
    }
    EXPECT_NE(access(injected.c_str(), F_OK), 0);
    EXPECT_NE(access("/tmp/injected", F_OK), 0);
    EXPECT_THAT(calls(),
                HasSubstr("call\n  --upgrade-url\n  " + http.url("pkgs/x;touch " + injected) + "\n"));
    EXPECT_THAT(calls(), ::testing::Not(HasSubstr("a b")));
}

TEST_F(ExtensionPackagesSandboxTest, InstalledExtensionsArePackagesOfTheSystemAndSatisfyRequirements) {
    // wptoolkit from the catalogue and legacy, which the catalogue does not offer, are installed.
    ExtCatalogPackage* legacy = extension("legacy", "Legacy Tool", "2.0", "1", http.url("pkgs/legacy-2.0-1"));
    tool.installAll({catalogue[1], legacy});
    SourceConfig config(&repository);
    for (ExtCatalogPackage* package : catalogue)
        config.addPackage(package);
    ComponentManager components;
    SourceSysMoxelExt installed(&repository, &components);
    repository.getBrief();
    repository.getBrief();

    std::vector<std::string> systemPackages;
    for (const Package* package : repository.getPackages())
        if (package->getType() == 's')
            systemPackages.push_back(package->getName().str() + " " + package->getVersion().toString() + " " +
                                     std::to_string(package->getRequires().size()));
    // The catalogue's copy keeps its requirement; the listed one has none.
    EXPECT_THAT(systemPackages, ElementsAre("ext-wptoolkit 6.1.0-2 1", "ext-legacy 2.0-1 0"));
    const Package* copy = repository.findInstalled(PooledString("ext-wptoolkit"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getProperty("EXT_DOWNLOAD_URL"), catalogue[1]->getDownloadUrl());

    // The installed copy, not the catalogue package, satisfies a requirement on the extension.
    auto addon = std::make_unique<Package>("moxeltest-addon", "1.0-1");
    addon->setType('b');
    addon->setArch("noarch");
    addon->addRequire("ext-wptoolkit >= 6.0");
    Package* needing = keepForever(std::move(addon));
    config.addPackage(needing);
    auto panel = std::make_unique<Package>("moxeltest-panel", "1.0-1");
    panel->setType('s');
    panel->setArch("noarch");
    config.addPackage(keepForever(std::move(panel)));
    repository.resolveRequires();
    cpkgs_t necessary{needing};
    PkgManager resolver(&repository, &necessary, false);
    resolver.setOsArch("x86_64");
    resolver.findNecessaryPackages(false);
    std::vector<std::string> planned;
    for (const Package* package : necessary)
        planned.push_back(package->getName().str() + " " + std::string(1, package->getType()));
    std::sort(planned.begin(), planned.end());
    EXPECT_THAT(planned, ElementsAre("ext-wptoolkit s", "moxeltest-addon b"));
}

TEST_F(ExtensionPackagesSandboxTest, WithoutTheToolNothingIsInstalled) {
    ASSERT_EQ(unlink(ExtensionPackages::toolPath), 0);
    EXPECT_EQ(tool.detectVersion(catalogue[0]), "");
    EXPECT_TRUE(tool.listInstalled().empty());
    ComponentManager components;
    SourceSysMoxelExt installed(&repository, &components);
    installed.getBrief();
    EXPECT_EQ(repository.findInstalled(PooledString("ext-wptoolkit")), nullptr);
    EXPECT_THAT(
        testsupport::readFile(work.file("installer.log")),
        HasSubstr("DEBUG skip detecting installed extensions: /usr/local/zeq/bin/extension does not exist"));
}

TEST_F(ExtensionPackagesSandboxTest, MissingComponentManagerIsAnInternalError) {
    SourceSysMoxelExt installed(&repository, nullptr);
    EXPECT_THROW(installed.getBrief(), error);
}

} // namespace
