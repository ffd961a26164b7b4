#include "installer/console/ReleasesCompatibilityChecker.h"
#include "common/packages/Repository.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

using cataloguetest::build;
using cataloguetest::CatalogueTest;
using cataloguetest::productFile;
using cataloguetest::productsList;
using cataloguetest::release;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

std::string bestWith(const std::string& productId, const std::vector<std::string>& versions) {
    std::string xml = "<best_with product_id=\"" + productId + "\">";
    for (const std::string& v : versions)
        xml += "<version>" + v + "</version>";
    return xml + "</best_with>";
}

std::string compatibility(const std::string& entries) {
    return entries.empty() ? "" : "<compatibility_info>" + entries + "</compatibility_info>";
}

class ReleasesCompatibilityCheckerTest : public CatalogueTest {
protected:
    struct Outcome {
        std::string errors;
        std::string warnings;
        // "<product> <name> <version>: <partner> <name> <version> instead of <version>"
        std::vector<std::string> records;
    };

    // Products "mail" (m1 3.0 with `mailBestWith`, m2 3.5 with `otherMailBestWith`), "web" (w10 1.0,
    // w15 1.5, w20 2.0), "dns" (d4 4.0) and "fire" (f1 1.0); dns and fire carry the given
    // incompatible_with entries.
    std::unique_ptr<BuildManager> loadCatalogue(const std::string& mailBestWith,
                                                const std::string& otherMailBestWith = "",
                                                const std::string& dnsIncompatible = "",
                                                const std::string& fireIncompatible = "") const {
        put("products.inf3",
            productsList("<product id=\"mail\" name=\"Mail Server\" reference=\"mail.inf3\"/>"
                         "<product id=\"web\" name=\"Web Server\" reference=\"web.inf3\"/>"
                         "<product id=\"dns\" name=\"DNS\" reference=\"dns.inf3\">" +
                         dnsIncompatible +
                         "</product>"
                         "<product id=\"fire\" name=\"Firewall\" reference=\"fire.inf3\">" +
                         fireIncompatible + "</product>"));
        put("mail.inf3",
            productFile(release("m1", "3.0", build("m1.xml") + compatibility(mailBestWith)) +
                            release("m2", "3.5", build("m2.xml") + compatibility(otherMailBestWith)),
                        "mail"));
        put("web.inf3",
            productFile(release("w10", "1.0", build("w10.xml")) + release("w15", "1.5", build("w15.xml")) +
                            release("w20", "2.0", build("w20.xml")),
                        "web"));
        put("dns.inf3", productFile(release("d4", "4.0", build("d4.xml")), "dns"));
        put("fire.inf3", productFile(release("f1", "1.0", build("f1.xml")), "fire"));
        return load();
    }

    // Every release fits the system and none is installed; only the given ones are chosen.
    static void choose(BuildManager& manager, const std::set<std::string>& ids) {
        for (const auto& r : manager._releases) {
            r->_state = 2;
            r->_installed_version.clear();
            r->_selected = ids.count(r->_id) > 0;
        }
    }

    static Outcome check(BuildManager& manager) {
        Repository repository;
        ReleasesCompatibilityChecker checker(manager, repository);
        manager.accept(checker);
        EXPECT_EQ(checker.isError(), !checker.getErrorText().empty());
        EXPECT_EQ(checker.isWarning(), !checker.getWarningText().empty());
        Outcome outcome{checker.getErrorText(), checker.getWarningText(), {}};
        for (const BestWithInfo& info : checker.getBestWith())
            for (const BestWithInfo::Alternative& a : info.alternatives)
                outcome.records.push_back(info.productId + " " + info.description + " " + info.version +
                                          ": " + a.id + " " + a.description + " " + a.version +
                                          " instead of " + a.insteadOf);
        return outcome;
    }
};

TEST_F(ReleasesCompatibilityCheckerTest, PartnerVersionsAgainstTheChosenOne) {
    struct Case {
        const char* what;
        std::string declared;
        std::string chosenWeb;
        std::string warnings;
        std::vector<std::string> records;
    };
    const Case cases[] = {
        {"the highest declared version is named",
         bestWith("web", {"1.0", "2.0"}),
         "w15",
         "\nRelease m1 works better with Web Server 2.0, but Release w15 was selected",
         {"mail Mail Server 3.0: web Web Server 2.0 instead of 1.5"}},
        {"declaration order does not matter",
         bestWith("web", {"2.0", "1.0"}),
         "w15",
         "\nRelease m1 works better with Web Server 2.0, but Release w15 was selected",
         {"mail Mail Server 3.0: web Web Server 2.0 instead of 1.5"}},
        {"the chosen version is declared", bestWith("web", {"1.0", "2.0"}), "w20", "", {}},
        {"an exact match after a higher version", bestWith("web", {"2.0", "1.0"}), "w10", "", {}},
        {"a partner of another product only", bestWith("dns", {"4.0"}), "w15", "", {}},
        {"a declared 0.0 is still a version",
         bestWith("web", {"0.0"}),
         "w15",
         "\nRelease m1 works better with Web Server 0.0, but Release w15 was selected",
         {"mail Mail Server 3.0: web Web Server 0.0 instead of 1.5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto manager = loadCatalogue(c.declared);
        choose(*manager, {"m1", c.chosenWeb});
        const Outcome outcome = check(*manager);
        EXPECT_EQ(outcome.warnings, c.warnings);
        EXPECT_EQ(outcome.records, c.records);
        EXPECT_EQ(outcome.errors, "");
    }
}

// Warnings for several partners of one product gather in one record.
TEST_F(ReleasesCompatibilityCheckerTest, OneRecordPerDeclaringProduct) {
    const auto manager = loadCatalogue(bestWith("web", {"2.0"}) + bestWith("dns", {"5.0", "4.5"}));
    choose(*manager, {"m1", "w15", "d4"});
    const Outcome outcome = check(*manager);
    EXPECT_EQ(outcome.warnings, "\nRelease m1 works better with Web Server 2.0, but Release w15 was selected"
                                "\nRelease m1 works better with DNS 5.0, but Release d4 was selected");
    EXPECT_EQ(outcome.records,
              (std::vector<std::string>{"mail Mail Server 3.0: web Web Server 2.0 instead of 1.5",
                                        "mail Mail Server 3.0: dns DNS 5.0 instead of 4.0"}));
}

TEST_F(ReleasesCompatibilityCheckerTest, IncompatibleProductsGiveOneLinePerDeclaringSide) {
    const std::string dnsLine = "The products 'DNS' and 'Firewall' cannot be installed on the same server.";
    const std::string fireLine = "The products 'Firewall' and 'DNS' cannot be installed on the same server.";
    const std::string againstFire = "<incompatible_with prod_id=\"fire\"/>";
    const std::string againstDns = "<incompatible_with prod_id=\"dns\"/>";
    struct Case {
        const char* what;
        std::string dnsDeclares;
        std::string fireDeclares;
        std::string errors;
    };
    const Case cases[] = {
        {"both declare", againstFire, againstDns, dnsLine + "\n" + fireLine},
        {"one declares", againstFire, "", dnsLine},
        {"none declares", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto manager = loadCatalogue("", "", c.dnsDeclares, c.fireDeclares);
        choose(*manager, {"d4", "f1", "w15"});
        const Outcome outcome = check(*manager);
        EXPECT_EQ(outcome.errors, c.errors);
        EXPECT_EQ(outcome.warnings, "");
    }
}

// An installed, unchosen or unfitting release is compared with nothing, on either side.
TEST_F(ReleasesCompatibilityCheckerTest, ReleasesOutOfTheChoiceAreNotCompared) {
    struct Case {
        const char* what;
        std::string id;
        std::function<void(Release&)> change;
    };
    const Case cases[] = {
        {"declaring release installed", "m1", [](Release& r) { r._installed_version = "3.0"; }},
        {"declaring release not chosen", "m1", [](Release& r) { r._selected = false; }},
        {"declaring release does not fit", "m1", [](Release& r) { r._state = 1; }},
        {"partner installed", "w15", [](Release& r) { r._installed_version = "1.5"; }},
        {"partner not chosen", "w15", [](Release& r) { r._selected = false; }},
        {"partner does not fit", "w15", [](Release& r) { r._state = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto manager = loadCatalogue(bestWith("web", {"2.0"}));
        choose(*manager, {"m1", "w15"});
        c.change(*manager->findRelease(c.id));
        const Outcome outcome = check(*manager);
        EXPECT_EQ(outcome.warnings, "");
        EXPECT_THAT(outcome.records, IsEmpty());
    }
}

// Any release of a product links it with a partner, but only the chosen release's own entries warn.
TEST_F(ReleasesCompatibilityCheckerTest, LinkOfTheProductWithoutOwnEntriesWarnsNothing) {
    const auto manager = loadCatalogue("", bestWith("web", {"2.0"}));
    choose(*manager, {"m1", "w15"});
    Repository repository;
    ReleasesCompatibilityChecker checker(*manager, repository);
    EXPECT_TRUE(checker.isBestWith(*manager->findRelease("m1"), *manager->findRelease("w15")));
    EXPECT_FALSE(checker.isBestWith(*manager->findRelease("w15"), *manager->findRelease("m1")));
    manager->accept(checker);
    EXPECT_FALSE(checker.isWarning());
    EXPECT_THAT(checker.getBestWith(), IsEmpty());
    EXPECT_THAT(logText(), HasSubstr("any best with link?... yes\n"));
}

TEST_F(ReleasesCompatibilityCheckerTest, ReleasesOfOneProductAreNotAPair) {
    const auto manager = loadCatalogue(bestWith("web", {"2.0"}));
    choose(*manager, {"m1", "m2"});
    Repository repository;
    ReleasesCompatibilityChecker checker(*manager, repository);
    const testsupport::ErrorFacts e = testsupport::caught(
        [&] { checker.isBestWith(*manager->findRelease("m1"), *manager->findRelease("m2")); });
    EXPECT_THAT(e.text, HasSubstr("installer/ReleasesCompatibilityChecker, line 97."));
    EXPECT_EQ(e.e_class, 3);
    // The walk itself passes over the other release of the same product.
    manager->accept(checker);
    EXPECT_FALSE(checker.isError());
    EXPECT_FALSE(checker.isWarning());
}

} // namespace
