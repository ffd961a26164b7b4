#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "installer/catalogue/Build.h"
#include "installer/components/ComponentManager.h"
#include "installer/console/DlgHello.h"
#include "installer/console/DlgInstTypes.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgPackages.h"
#include "installer/console/DlgReleases.h"
#include "tests/installer/catalogue/ReleaseTestSupport.h"
#include "tests/installer/console/ConsoleTestSupport.h"
#include "tests/support/ErrorFacts.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

using consoletest::Console;
using consoletest::golden;
using testsupport::caught;

namespace {

using Selections = std::vector<DlgInstTypes::Selection>;

class ConsolePagesTest : public releasetest::ReleaseCatalogueTest {
protected:
    // Mail Server (m1 Onyx 3.0 that works best with Web Server 2.0), Web Server (w15 Lynx 1.5, w20 Puma
    // 2.0), DNS (d4) and Firewall (f1), the last two incompatible with each other.
    std::unique_ptr<BuildManager> catalogue() const {
        using cataloguetest::build;
        using cataloguetest::productFile;
        using cataloguetest::release;
        put("products.inf3", cataloguetest::productsList(
                                 "<product id=\"mail\" name=\"Mail Server\" reference=\"mail.inf3\"/>"
                                 "<product id=\"web\" name=\"Web Server\" reference=\"web.inf3\"/>"
                                 "<product id=\"dns\" name=\"DNS\" reference=\"dns.inf3\"><incompatible_with "
                                 "prod_id=\"fire\"/></product>"
                                 "<product id=\"fire\" name=\"Firewall\" "
                                 "reference=\"fire.inf3\"><incompatible_with prod_id=\"dns\"/></product>"));
        put("mail.inf3",
            productFile(release("m1", "3.0",
                                build("m1.xml") + "<compatibility_info><best_with product_id=\"web\">"
                                                  "<version>2.0</version></best_with></compatibility_info>",
                                " codename=\"Onyx\""),
                        "mail"));
        put("web.inf3", productFile(release("w15", "1.5", build("w15.xml"), " codename=\"Lynx\"") +
                                        release("w20", "2.0", build("w20.xml"), " codename=\"Puma\""),
                                    "web"));
        put("dns.inf3", productFile(release("d4", "4.0", build("d4.xml")), "dns"));
        put("fire.inf3", productFile(release("f1", "1.0", build("f1.xml")), "fire"));
        auto manager = load();
        for (const auto& r : manager->_releases) {
            r->_state = 2;
            r->_update_mode = 1;
        }
        return manager;
    }

    static void choose(BuildManager& manager, const std::set<std::string>& ids) {
        for (const auto& r : manager._releases)
            r->_selected = ids.count(r->_id) > 0;
    }

    Repository repository;
};

// The releases page's own check, without its screen.
class ReleasesCheck : public DlgReleases {
public:
    using DlgReleases::DlgReleases;
    int run() override { return NEXT; }
};

TEST_F(ConsolePagesTest, ReleasesAreCheckedBeforeLeavingThePage) {
    const std::string upgrade =
        "\nYou have the product version Web Server 1.5 installed.\nDo you want to upgrade it? [Y/n]: ";
    const std::string warning =
        "\n\nRelease m1 works better with Web Server 2.0, but Release w15 was selected\n\n"
        "Do you want to continue? [Y/n]: ";
    struct Case {
        const char* what;
        std::set<std::string> chosen;
        std::string webInstalled;
        const char* input;
        bool result;
        std::string screen;
    };
    const Case cases[] = {
        {"nothing chosen",
         {},
         "",
         "\n",
         false,
         "\n\nNo product version was selected.\n(press Enter to continue) "},
        {"an upgrade declined", {"w20"}, "1.5", "n\n", false, upgrade},
        {"an upgrade confirmed", {"w20", "d4"}, "1.5", "\n", true, upgrade},
        {"an upgrade from a release the catalogue no longer lists",
         {"w20"},
         "1.2",
         "n\n",
         false,
         "\nYou have the product version Web Server 1.2 installed.\nDo you want to upgrade it? [Y/n]: "},
        {"incompatible products",
         {"d4", "f1"},
         "",
         "\n",
         false,
         "\n\nThe products 'DNS' and 'Firewall' cannot be installed on the same server.\n"
         "The products 'Firewall' and 'DNS' cannot be installed on the same server.\n\n(press Enter to "
         "continue) "},
        {"a warning declined", {"m1", "w15"}, "", "no\n", false, warning},
        {"a warning accepted", {"m1", "w15"}, "", "y\n", true, warning},
        {"the best partner chosen", {"m1", "w20"}, "", "", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto manager = catalogue();
        for (const char* id : {"w15", "w20"}) {
            Release& release = *manager->findRelease(id);
            release._installed_version = c.webInstalled;
            if (!c.webInstalled.empty())
                release._update_mode = release._version == Version(c.webInstalled) ? 4 : 2;
        }
        choose(*manager, c.chosen);
        Console console(c.input);
        ReleasesCheck check(manager.get(), &repository);
        EXPECT_EQ(check.canContinue(), c.result);
        EXPECT_EQ(console.screen(), c.screen);
        EXPECT_EQ(manager->getSelectedReleaseIds().size(), c.chosen.size());
    }
}

TEST_F(ConsolePagesTest, TwoChosenReleasesOfOneProductAreAnInternalError) {
    auto manager = catalogue();
    choose(*manager, {"w15", "w20"});
    Console console;
    ReleasesCheck check(manager.get(), &repository);
    EXPECT_EQ(caught([&] { check.canContinue(); }).text,
              internal_error("installer/DlgReleases", 32).getText());
}

TEST_F(ConsolePagesTest, HelloGoesForwardOrQuits) {
    struct Case {
        const char* input;
        int result;
    };
    const Case cases[] = {{"x\nquit\n2\nn\n", 200}, {"q\n", 202}, {"\n", 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Console console(c.input);
        EXPECT_EQ(DlgMaker::create()->hello()->run(), c.result);
        if (c.result == 200 && c.input[0] == 'x') {
            const std::string screen = console.screen();
            EXPECT_EQ(screen, golden("hello.txt", screen));
        }
    }
}

class InstTypesPageTest : public ConsolePagesTest {
protected:
    void SetUp() override {
        ConsolePagesTest::SetUp();
        manager = catalogue();
        manager->selectRelease("mail", "m1");
    }

    void addTypes(const std::string& releaseId, const std::vector<InstallationType>& types) {
        const auto build = boost::make_shared<Build>(manager->findRelease(releaseId), "Linux", "Debian", "12",
                                                     "x86_64", "", "", "build.inf3", "false");
        for (const InstallationType& type : types)
            components.addType(build, type);
    }

    static InstallationType type(const std::string& name, const std::string& description, int kind = 0) {
        return InstallationType{{name},
                                description,
                                kind,
                                kind == 0 ? std::vector<std::string>{"base"} : std::vector<std::string>{}};
    }

    int runPage(DlgInstTypes& page, const std::string& input, std::string& screen) const {
        Console console(input);
        const int result = page.run();
        screen = console.screen();
        return result;
    }

    std::unique_ptr<BuildManager> manager;
    ComponentManager components;
    const InstallationType full = type("Full", "Install all components.", 1);
    const InstallationType custom =
        type("Custom", "Custom components selection. Recommended only for experienced users.", 2);
};

TEST_F(InstTypesPageTest, OneProductListsItsTypesUnderItsName) {
    addTypes("m1", {type("Typical", "The components most servers need."), full, custom});
    const std::unique_ptr<DlgInstTypes> page = DlgMaker::create()->instTypes(manager.get(), &components);
    EXPECT_EQ(page->selections, (Selections{{"mail", "Typical"}}));
    std::string screen;
    // 2 picks Full; 0 and 4 are no lines; L goes forward asking for the components page.
    EXPECT_EQ(runPage(*page, "2\n0\n4\nl\n", screen), 200);
    EXPECT_EQ(screen, golden("insttypes-one-product.txt", screen));
    EXPECT_EQ(page->selections, (Selections{{"mail", "Full"}}));
    EXPECT_TRUE(page->customize);
}

TEST_F(InstTypesPageTest, SeveralProductsAreListedFirst) {
    addTypes("m1", {full, custom});
    addTypes("w20", {type("Minimal", "Only the web server."), full, custom});
    const std::unique_ptr<DlgInstTypes> page = DlgMaker::create()->instTypes(manager.get(), &components);
    EXPECT_EQ(page->selections, (Selections{{"mail", "Full"}, {"web", "Minimal"}}));
    page->customize = true;
    std::string screen;
    // 2 shows Web Server's types, 4 picks its Full, F goes forward.
    EXPECT_EQ(runPage(*page, "2\n4\nF\n", screen), 200);
    EXPECT_EQ(screen, golden("insttypes-two-products.txt", screen));
    EXPECT_EQ(page->selections, (Selections{{"mail", "Full"}, {"web", "Full"}}));
    EXPECT_FALSE(page->customize);
    EXPECT_EQ(runPage(*page, "b\n", screen), 201);
}

TEST_F(InstTypesPageTest, NoTypesLeaveWithoutAPage) {
    const std::unique_ptr<DlgInstTypes> page = DlgMaker::create()->instTypes(manager.get(), &components);
    std::string screen;
    EXPECT_EQ(runPage(*page, "", screen), 200);
    EXPECT_EQ(screen, "");
}

// The selection of a product is found, or added with an empty type name for writing.
TEST_F(InstTypesPageTest, SelectionsAreLookedUpByProduct) {
    addTypes("m1", {full, custom});
    const std::unique_ptr<DlgInstTypes> page = DlgMaker::create()->instTypes(manager.get(), &components);
    EXPECT_EQ(page->findSelection("web"), nullptr);
    page->selectionFor("web").second = "Custom";
    page->selectionFor("mail").second = "Custom";
    EXPECT_EQ(page->selections, (Selections{{"mail", "Custom"}, {"web", "Custom"}}));
    EXPECT_EQ(page->findSelection("web")->second, "Custom");
}

// The packages page counts a remover, an installed package and a new one once each.
TEST_F(ConsolePagesTest, PlannedPackagesAreCountedByWhatHappensToThem) {
    Repository& installed = system(releasetest::installed("moxeltest-old", "1.0"));
    Package remover("dummy_obsoleter_gone", "0.0");
    remover.setType('d');
    remover.addObsolete("moxeltest-gone");
    Package upgrade("moxeltest-old", "2.0");
    Package fresh("moxeltest-new", "1.0");
    Package requirer("dummy_requirer", "0.0");
    requirer.setType('d');

    class PackagesCount : public DlgPackages {
    public:
        using DlgPackages::DlgPackages;
        int run() override { return NEXT; }
    };
    const cpkgs_t planned = {&remover, &upgrade, &fresh, &requirer};
    const PackagesCount count(&planned, &installed);
    EXPECT_EQ(std::vector<int>({count.installCount, count.upgradeCount, count.removeCount}),
              std::vector<int>({1, 1, 1}));
}

} // namespace
