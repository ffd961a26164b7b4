#include "installer/driver/Options.h"

#include "tests/installer/catalogue/CatalogueTestSupport.h"
#include "tests/installer/driver/OptionsTestSupport.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/join.hpp>

#include <sstream>

using optionstest::commandStyle;
using ::testing::HasSubstr;
using testsupport::caught;
using testsupport::ErrorFacts;

namespace {

// What the second stage leaves in the record, in one line.
std::string summary(const Options& options) {
    std::ostringstream out;
    out << "command " << options.command;
    static const char* const kinds[] = {"latest", "current", "id"};
    for (const ReleaseSelector& selector : options.releaseSelectors)
        out << "; " << kinds[selector.kind] << " " << selector.productId
            << (selector.releaseId.empty() ? "" : " " + selector.releaseId);
    for (const auto& entry : options.productRequests) {
        const ProductRequest& request = entry.second;
        out << "; " << entry.first << " mode " << request.mode;
        if (!request.installationType.empty())
            out << " type " << request.installationType;
        if (!request.installComponents.empty())
            out << " install " << boost::algorithm::join(request.installComponents, ",");
        if (!request.removeComponents.empty())
            out << " remove " << boost::algorithm::join(request.removeComponents, ",");
        if (!request.componentClasses.empty())
            out << " classes " << boost::algorithm::join(request.componentClasses, ",");
    }
    for (const auto& product : options.componentSettings)
        for (const auto& setting : product.second)
            out << "; " << product.first << " setting " << setting.first << "=" << setting.second;
    if (!options.keptReleaseIds.empty())
        out << "; kept " << boost::algorithm::join(options.keptReleaseIds, ",");
    if (options.allVersions)
        out << "; all versions";
    else if (!options.tiersAreDefault)
        out << "; tiers " << boost::algorithm::join(options.tier, ",");
    return out.str();
}

class SelectorsTest : public optionstest::SourceCatalogueTest {};

// ---------------------------------------------------------------------------------------------------------
// The rules of the commands on the test source: moxel (moxel-18.0.1, version 18.0.1) and
// pagewright (pagewright-2.5.0, version 2.5.0), both "stable".

struct RuleCase {
    std::vector<std::string> arguments;
    std::vector<std::string> installed;
    const char* summary;
};

void PrintTo(const RuleCase& c, std::ostream* out) {
    *out << optionstest::testName(c.arguments);
}

class CommandRule : public SelectorsTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(CommandRule, FillsTheRecord) {
    installed(GetParam().installed);
    EXPECT_EQ(summary(*interpreted(GetParam().arguments)), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandRule,
    ::testing::Values(
        // list
        RuleCase{{"list"}, {}, "command 5"}, RuleCase{{"list", "moxel"}, {}, "command 4; current moxel"},
        RuleCase{{"list", "moxel", "all"}, {}, "command 4; current moxel; all versions"},
        RuleCase{{"list", "stable"}, {}, "command 4; current moxel; tiers stable"},
        RuleCase{{"list", "pagewright", "stable"}, {}, "command 4; current pagewright; tiers stable"},
        RuleCase{{"list", "moxel-18.0.1", "--presets"}, {}, "command 6; id  moxel-18.0.1; kept moxel-18.0.1"},
        RuleCase{{"list", "moxel", "18.0.1"}, {}, "command 7; id moxel moxel-18.0.1; kept moxel-18.0.1"},
        RuleCase{{"list", "pagewright-2.5.0", "--components", "--options"},
                 {},
                 "command 7; id  pagewright-2.5.0; kept pagewright-2.5.0"},
        // install
        RuleCase{{"install"}, {}, "command 9; latest moxel; moxel mode 4 type Custom"},
        RuleCase{
            {"install", "moxel", "18.0.1", "--preset", "Full", "--without", "java,horde", "--with", "dns"},
            {},
            "command 9; id moxel moxel-18.0.1; moxel mode 4 type Full install dns remove java,horde; "
            "kept moxel-18.0.1"},
        RuleCase{{"install", "moxel-18.0.1"},
                 {},
                 "command 9; id moxel moxel-18.0.1; moxel mode 4 type Custom; kept moxel-18.0.1"},
        // A release id alone selects its own product.
        RuleCase{{"install", "pagewright-2.5.0"},
                 {},
                 "command 9; id pagewright pagewright-2.5.0; pagewright mode 4 type Custom; kept "
                 "pagewright-2.5.0"},
        RuleCase{{"install", "pagewright", "--components", "pagewright,pagewright-themes", "--options", "a=1",
                  "--options", "b=two words", "--dry-run"},
                 {},
                 "command 8; latest pagewright; pagewright mode 5 install pagewright,pagewright-themes; "
                 "pagewright setting a=1; pagewright setting b=two words"},
        RuleCase{
            {"install", "stable"}, {}, "command 9; latest moxel; moxel mode 4 type Custom; tiers stable"},
        // upgrade
        RuleCase{{"upgrade"}, {"moxel"}, "command 4; current moxel"},
        RuleCase{{"upgrade"}, {"moxel", "pagewright"}, "command 5"}, RuleCase{{"upgrade"}, {}, "command 5"},
        RuleCase{{"upgrade", "18.0.1"}, {}, "command 5"},
        RuleCase{{"upgrade", "stable"}, {"moxel"}, "command 9; latest moxel; moxel mode 3; tiers stable"},
        RuleCase{{"upgrade", "moxel", "18.0.1"},
                 {},
                 "command 9; id moxel moxel-18.0.1; moxel mode 3; kept moxel-18.0.1"},
        RuleCase{{"upgrade", "pagewright-2.5.0", "--dry-run"},
                 {"moxel"},
                 "command 8; id pagewright pagewright-2.5.0; pagewright mode 3; kept pagewright-2.5.0"},
        // update
        RuleCase{{"update"},
                 {"moxel", "pagewright"},
                 "command 9; current moxel; current pagewright; moxel mode 3; pagewright mode 3"},
        RuleCase{{"update"}, {"pagewright"}, "command 9; current pagewright; pagewright mode 3"},
        RuleCase{{"update", "pagewright", "--dry-run"},
                 {"moxel", "pagewright"},
                 "command 8; current pagewright; pagewright mode 3"},
        RuleCase{
            {"update", "--panel-only"}, {}, "command 9; current moxel; moxel mode 3 classes aspect=panel"},
        RuleCase{{"update", "moxel", "--panel-only"},
                 {"moxel", "pagewright"},
                 "command 9; current moxel; moxel mode 3 classes aspect=panel"},
        // add and remove
        RuleCase{
            {"add", "--components", "dns"}, {"moxel"}, "command 9; current moxel; moxel mode 5 install dns"},
        RuleCase{{"remove", "pagewright", "--components", "a", "--components", "b,c"},
                 {"moxel", "pagewright"},
                 "command 9; current pagewright; pagewright mode 5 remove a,b,c"}),
    [](const ::testing::TestParamInfo<RuleCase>& info) {
        return optionstest::testName(info.param.arguments) + "_" +
               std::to_string(info.param.installed.size());
    });

TEST_F(SelectorsTest, SelectedProductReleaseAndVersionAreKept) {
    const auto options = interpreted({"list", "18.0.1", "moxel"});
    EXPECT_EQ(options->productIdSelector, "moxel");
    EXPECT_EQ(options->versionSelector, "18.0.1");
    EXPECT_EQ(options->releaseIdSelector, "moxel-18.0.1");
    EXPECT_THAT(logText(),
                HasSubstr("Options::interpretSelectors(): valid product ids: 'moxel' 'pagewright'\n"));
    EXPECT_THAT(logText(), HasSubstr("Options::interpretSelectors(): valid tags (tiers): 'stable'\n"));
    EXPECT_THAT(
        logText(),
        HasSubstr("Options::interpretSelectors(): valid release ids: 'moxel-18.0.1' 'pagewright-2.5.0'\n"));
    EXPECT_THAT(logText(), HasSubstr("Options::interpretSelectors(): valid versions: '18.0.1' '2.5.0'\n"));
    EXPECT_THAT(logText(),
                HasSubstr("Options::interpretSelectors(): classified selectors: prod_ids = ( 'moxel'), "
                          "tags = (), rel_ids = (), versions = ( '18.0.1')\n"));
    EXPECT_THAT(logText(),
                HasSubstr("Options::interpretSelectors(): prod_id_selector=moxel, rel_id_selector=, "
                          "version_selector=18.0.1\n"));
}

TEST_F(SelectorsTest, OptionStyleOnlyLogsTheCatalogue) {
    Options options;
    options.command = Options::cmd_show_releases;
    options.interpretSelectors(*catalogue);
    EXPECT_EQ(summary(options), "command 4");
    EXPECT_THAT(logText(), HasSubstr("valid versions: '18.0.1' '2.5.0'"));
    EXPECT_THAT(logText(), ::testing::Not(HasSubstr("classified selectors")));
}

TEST_F(SelectorsTest, TierDefaultsApplyAfterTheRules) {
    setenv("WEB_SECRET", "secret", 1);
    EXPECT_EQ(summary(*interpreted({"list", "moxel"})), "command 4; current moxel; tiers stable,release");
    EXPECT_EQ(summary(*interpreted({"list", "moxel", "stable"})), "command 4; current moxel; tiers stable");
    unsetenv("WEB_SECRET");
}

// ---------------------------------------------------------------------------------------------------------
// Errors

struct RuleErrorCase {
    std::vector<std::string> arguments;
    std::vector<std::string> installed;
    const char* text;
};

void PrintTo(const RuleErrorCase& c, std::ostream* out) {
    *out << optionstest::testName(c.arguments);
}

class CommandRuleError : public SelectorsTest, public ::testing::WithParamInterface<RuleErrorCase> {};

TEST_P(CommandRuleError, IsAUserError) {
    installed(GetParam().installed);
    const ErrorFacts raised = caught([&] { interpreted(GetParam().arguments); });
    EXPECT_EQ(raised.text, std::string(GetParam().text) + "\n");
    EXPECT_EQ(raised.e_class, 2);
    EXPECT_EQ(raised.repeat, 1);
    EXPECT_EQ(raised.system_state, 1);
    EXPECT_EQ(raised.support, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Selectors, CommandRuleError,
    ::testing::Values(
        RuleErrorCase{
            {"list", "testing"},
            {},
            "Selector 'testing' does not match any product ID, release ID, release tier, or release "
            "version. Use either 'list' or 'list-all' command to list known entities."},
        RuleErrorCase{
            {"install", "moxel", "pagewright"},
            {},
            "Cannot select multiple products at once: moxel, pagewright. Please specify only one of "
            "them on the command line."},
        RuleErrorCase{{"list", "moxel-18.0.1", "pagewright-2.5.0"},
                      {},
                      "Cannot select multiple release IDs at once: moxel-18.0.1, pagewright-2.5.0. Please "
                      "specify only one of them on the command line."},
        RuleErrorCase{
            {"upgrade", "moxel", "2.5.0", "18.0.1"},
            {},
            "Cannot select multiple versions at once: 18.0.1, 2.5.0. Please specify only one of them on "
            "the command line."},
        RuleErrorCase{
            {"list", "moxel-18.0.1", "18.0.1"},
            {},
            "Cannot select release ID 'moxel-18.0.1' and version '18.0.1' at once. Please specify only "
            "one of them on the command line."},
        RuleErrorCase{{"list", "18.0.1"},
                      {},
                      "A product ID must be specified along with the version '18.0.1' to specify a release"},
        RuleErrorCase{{"install", "18.0.1"},
                      {},
                      "A product ID must be specified along with the version '18.0.1' to specify a release"},
        RuleErrorCase{{"list", "pagewright", "18.0.1"},
                      {},
                      "Cannot find the release with version '18.0.1' in the product 'pagewright'"},
        RuleErrorCase{{"upgrade", "pagewright", "18.0.1"},
                      {},
                      "Cannot find the release with version '18.0.1' in the product 'pagewright'"},
        RuleErrorCase{{"list", "moxel", "--presets"},
                      {},
                      "Options --presets, --components, and --options require exact release to be specified "
                      "either as release ID or product ID and version"},
        RuleErrorCase{{"list", "--components"},
                      {},
                      "Options --presets, --components, and --options require exact release to be specified "
                      "either as release ID or product ID and version"},
        RuleErrorCase{{"update", "stable"},
                      {"moxel"},
                      "Only the product ID selector is allowed for the 'update' command."},
        RuleErrorCase{{"update", "moxel", "18.0.1"},
                      {"moxel"},
                      "Only the product ID selector is allowed for the 'update' command."},
        RuleErrorCase{{"remove", "moxel-18.0.1", "--components", "dns"},
                      {"moxel"},
                      "Only the product ID selector is allowed for the 'remove' command."},
        RuleErrorCase{{"update", "pagewright", "--panel-only"},
                      {"moxel"},
                      "The --panel-only option requires the product ID selector to be 'moxel', specified: "
                      "'pagewright'"},
        RuleErrorCase{
            {"update"}, {}, "No products are installed yet. Use the 'install' command to install one first."},
        RuleErrorCase{{"add", "--components", "dns"},
                      {},
                      "No products are installed yet. Use the 'install' command to install one first."},
        RuleErrorCase{
            {"add", "--components", "dns"},
            {"moxel", "pagewright"},
            "Specify a product to change by adding the product ID selector to the command line. The "
            "following products are currently installed: moxel, pagewright."}),
    [](const ::testing::TestParamInfo<RuleErrorCase>& info) {
        return optionstest::testName(info.param.arguments) + "_" +
               std::to_string(info.param.installed.size());
    });

// ---------------------------------------------------------------------------------------------------------
// A catalogue whose words overlap: "web" is a product and a release id, "all" a real tier.

class OverlappingSelectorsTest : public cataloguetest::CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        using namespace cataloguetest;
        put("products.inf3", productsList("<product id=\"moxel\" name=\"Moxel\" reference=\"moxel.inf3\"/>"
                                          "<product id=\"web\" name=\"Web\" reference=\"web.inf3\"/>"));
        put("moxel.inf3", productFile(release("web", "1.0", build("a.xml"), " tags=\"all,testing\"") +
                                          release("m2", "2.0", build("b.xml")),
                                      "moxel"));
        put("web.inf3", productFile(release("w1", "1.0", build("c.xml")), "web"));
        catalogue = load();
    }

    std::unique_ptr<BuildManager> catalogue;
};

TEST_F(OverlappingSelectorsTest, ProductAndReleaseIdIsAmbiguous) {
    auto options = commandStyle({"list", "web"});
    const ErrorFacts raised = caught([&] { options->interpretSelectors(*catalogue); });
    EXPECT_EQ(raised.text,
              "Selector 'web' is ambiguous. Use either 'list' or 'list-all' command to list known "
              "entities.\n");
    EXPECT_EQ(raised.e_class, 2);
}

TEST_F(OverlappingSelectorsTest, AllIsOneTierEvenWhenAReleaseCarriesIt) {
    auto options = commandStyle({"list", "moxel", "all", "testing"});
    options->interpretSelectors(*catalogue);
    EXPECT_EQ(summary(*options), "command 4; current moxel; all versions");
    EXPECT_THAT(logText(), HasSubstr("valid tags (tiers): 'all' 'stable' 'testing'\n"));

    auto tiers = commandStyle({"install", "moxel", "testing", "1.0"});
    tiers->interpretSelectors(*catalogue);
    EXPECT_EQ(summary(*tiers), "command 9; id moxel web; moxel mode 4 type Custom; kept web; tiers testing");
}

} // namespace
