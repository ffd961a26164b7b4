#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "installer/console/DlgAdvSettings.h"
#include "installer/console/DlgHello.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgReleases.h"
#include "installer/driver/FeedbackFlags.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"
#include "tests/installer/console/ConsoleTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using cataloguetest::build;
using cataloguetest::CatalogueTest;
using cataloguetest::productFile;
using cataloguetest::productsList;
using cataloguetest::release;
using consoletest::Console;
using consoletest::golden;

namespace {

std::string codename(const std::string& name) {
    return " codename=\"" + name + "\"";
}

// The pages of the releases step: the releases page and the settings display behind its S key.
// Feedback flags live under /var/cordavine, which the sandbox keeps private.
class ReleasesPageTest : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        Opsys::override_name = "Linux";
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
        undecideFeedback();
    }

    static void undecideFeedback() {
        std::remove("/var/cordavine/feedback-enabled");
        std::remove("/var/cordavine/feedback-disabled");
    }

    // Mail Server (m1 Onyx 3.0, m2 Onyx 3.5, m3 Quartz 4.0), Web Server (w10, w15, w20), DNS (d4).
    // `only` limits the catalogue to these products; `buildOf` makes each release's build.
    std::unique_ptr<BuildManager> catalogue(
        const std::set<std::string>& only = {},
        const std::function<std::string(const std::string&)>& buildOf = [](const std::string& id) {
            return build(id + ".xml");
        }) const {
        const std::map<std::string, std::string> names = {
            {"mail", "Mail Server"}, {"web", "Web Server"}, {"dns", "DNS"}};
        const std::map<std::string, std::string> files = {
            {"mail", release("m1", "3.0", buildOf("m1"), codename("Onyx")) +
                         release("m2", "3.5", buildOf("m2"), codename("Onyx")) +
                         release("m3", "4.0", buildOf("m3"), codename("Quartz"))},
            {"web", release("w10", "1.0", buildOf("w10"), codename("Lynx")) +
                        release("w15", "1.5", buildOf("w15"), codename("Lynx")) +
                        release("w20", "2.0", buildOf("w20"), codename("Puma"))},
            {"dns", release("d4", "4.0", buildOf("d4"), codename("Root"))},
        };
        std::string entries;
        for (const char* id : {"mail", "web", "dns"}) {
            if (!only.empty() && !only.count(id))
                continue;
            entries += std::string("<product id=\"") + id + "\" name=\"" + names.at(id) + "\" reference=\"" +
                       id + ".inf3\"/>";
            put(std::string(id) + ".inf3", productFile(files.at(id), id));
        }
        put("products.inf3", productsList(entries));
        auto manager = load();
        for (const auto& r : manager->_releases) {
            r->_state = 2;
            r->_update_mode = 1;
        }
        return manager;
    }

    static void install(BuildManager& manager, const std::string& id, const std::string& version, int mode) {
        for (const auto& r : manager._releases)
            if (r->prod()->_id == manager.findRelease(id)->prod()->_id) {
                r->_installed_version = version;
                r->_update_mode = r->_version == Version(version) ? 4 : mode;
            }
    }

    // Runs the releases page on the input; the screen goes to `screen`.
    int runPage(BuildManager& manager, const std::string& input, std::string& screen, bool showAll = false,
                DlgAdvSettings* settings = nullptr) {
        Console console(input);
        const std::unique_ptr<DlgMaker> maker = DlgMaker::create();
        const std::unique_ptr<DlgReleases> page = maker->releases(&manager, &repository, showAll);
        page->settingsDialog = settings;
        const int result = page->run();
        screen = console.screen();
        return result;
    }

    static std::vector<std::string> selected(const BuildManager& manager) {
        return manager.getSelectedReleaseIds();
    }

    Repository repository;
};

TEST_F(ReleasesPageTest, SingleProductHidesItsLineAndAsksForFeedbackOnLeaving) {
    auto manager = catalogue({"mail"});
    std::string screen;
    EXPECT_EQ(runPage(*manager, "1\n4\nF\nn\n", screen), 200);
    EXPECT_EQ(screen, golden("releases-single-product.txt", screen));
    EXPECT_EQ(selected(*manager), std::vector<std::string>{"m1"});
    EXPECT_EQ(feedbackState(), feedback_disabled);
}

TEST_F(ReleasesPageTest, InstalledReleaseAndItsUpdateOfferTwoChoices) {
    auto manager = catalogue({"mail"});
    manager->removeRelease(manager->findRelease("m3"));
    install(*manager, "m1", "3.0", 2);
    setFeedbackEnabled(true);
    std::string screen;
    EXPECT_EQ(runPage(*manager, "2\nq\n", screen), 202);
    EXPECT_EQ(screen, golden("releases-update-choice.txt", screen));
    EXPECT_EQ(selected(*manager), std::vector<std::string>{"m2"});
}

TEST_F(ReleasesPageTest, ProductLinesBringTheirReleasesInAndOut) {
    auto manager = catalogue();
    std::string screen;
    // Mail in, web in (its lines from 4 on show versions), web out again, two refused answers, back.
    EXPECT_EQ(runPage(*manager, "1\n5\n5\n9\nx\nb\n", screen), 201);
    EXPECT_EQ(screen, golden("releases-products.txt", screen));
    EXPECT_EQ(selected(*manager), std::vector<std::string>{"m1"});
}

TEST_F(ReleasesPageTest, InstalledReleaseIsChosenAndMarked) {
    auto manager = catalogue();
    install(*manager, "w15", "1.5", 2);
    setFeedbackEnabled(false);
    std::string screen;
    // Web's upgrade to w20 is confirmed before the page is left.
    EXPECT_EQ(runPage(*manager, "5\nF\ny\n", screen), 200);
    EXPECT_EQ(screen, golden("releases-installed.txt", screen));
    EXPECT_EQ(selected(*manager), std::vector<std::string>{"w20"});
}

TEST_F(ReleasesPageTest, ShowAllReleasesListsNamesAndNeverSkips) {
    auto manager = catalogue({"dns"});
    manager->selectRelease("dns", "d4");
    setFeedbackEnabled(false);
    std::string screen;
    EXPECT_EQ(runPage(*manager, "\n", screen, true), 200);
    EXPECT_EQ(screen, golden("releases-show-all.txt", screen));
}

TEST_F(ReleasesPageTest, OneChosenReleaseLeavesWithoutThePage) {
    struct Case {
        const char* what;
        int feedback;
        const char* input;
        std::string screen;
        int feedbackAfter;
    };
    const Case cases[] = {
        {"feedback undecided", feedback_unknown, "\n", "", feedback_enabled},
        {"feedback disabled", feedback_disabled, "", "", feedback_disabled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        undecideFeedback();
        if (c.feedback != feedback_unknown)
            setFeedbackEnabled(c.feedback == feedback_enabled);
        auto manager = catalogue({"dns"});
        manager->selectRelease("dns", "d4");
        std::string screen;
        EXPECT_EQ(runPage(*manager, c.input, screen), 200);
        if (c.feedback == feedback_unknown)
            EXPECT_EQ(screen, golden("releases-feedback-question.txt", screen));
        else
            EXPECT_EQ(screen, "");
        EXPECT_EQ(feedbackState(), c.feedbackAfter);
    }
}

TEST_F(ReleasesPageTest, NoUsableReleaseShowsTheSystemAndTheSettings) {
    auto manager = catalogue({"dns"}, [](const std::string& id) {
        return "<build os_name=\"Linux\" os_vendor=\"Debian\" os_version=\"9\" os_arch=\"x86_64\" config=\"" +
               id + ".xml\"/>";
    });
    const std::unique_ptr<DlgAdvSettings> settings =
        DlgMaker::create()->advSettings("/srv/moxel/", "/var/cache/moxel", DlgAdvSettings::Proxy());
    std::string screen;
    // F finds nothing chosen; S shows the settings and B comes back; 1 is no line.
    EXPECT_EQ(runPage(*manager, "F\n\ns\nb\n1\nq\n", screen, false, settings.get()), 202);
    EXPECT_EQ(screen, golden("releases-none-usable.txt", screen));
}

TEST_F(ReleasesPageTest, QuitOnTheSettingsDisplayQuitsTheReleasesPage) {
    auto manager = catalogue({"mail", "web"});
    const std::unique_ptr<DlgAdvSettings> settings =
        DlgMaker::create()->advSettings("/srv/moxel/", "/var/cache/moxel", DlgAdvSettings::Proxy());
    std::string screen;
    EXPECT_EQ(runPage(*manager, "s\nq\n", screen, false, settings.get()), 202);
}

class SettingsPageTest : public ReleasesPageTest {
protected:
    static int runSettings(const std::string& source, const DlgAdvSettings::Proxy& proxy, bool afterFailure,
                           const std::string& input, std::string& screen) {
        Console console(input);
        const std::unique_ptr<DlgAdvSettings> settings =
            DlgMaker::create()->advSettings(source, "/var/cache/moxel", proxy);
        settings->afterFailure = afterFailure;
        const int result = settings->run();
        screen = console.screen();
        return result;
    }
};

TEST_F(SettingsPageTest, ShowsTheSourceAndWhatANetworkSourceUses) {
    struct Case {
        const char* golden;
        std::string source;
        DlgAdvSettings::Proxy proxy;
        bool afterFailure;
        const char* input;
        int result;
    };
    const Case cases[] = {
        {"settings-official-proxy-auth.txt",
         Options::defaultSource,
         {"proxy.example", 8080, "alice", "never shown"},
         false,
         "f\n3\n\n",
         201},
        {"settings-network-proxy.txt",
         "http://mirror.example/moxel/",
         {"proxy.example", 3128, "", ""},
         false,
         "P\n",
         201},
        {"settings-network-no-proxy.txt", "ftp://mirror.example/moxel/", {}, false, "q\n", 202},
        {"settings-local.txt", "/srv/moxel/", {"proxy.example", 3128, "bob", "pw"}, false, "b\n", 201},
        {"settings-after-failure.txt", "/srv/moxel/", {}, true, "b\n\n", 202},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        std::string screen;
        EXPECT_EQ(runSettings(c.source, c.proxy, c.afterFailure, c.input, screen), c.result);
        EXPECT_EQ(screen, golden(c.golden, screen));
        EXPECT_EQ(screen.find("never shown"), std::string::npos);
    }
}

} // namespace
