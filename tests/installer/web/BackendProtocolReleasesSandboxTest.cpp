#include "installer/web/BackendProtocol.h"

#include "common/runtime/Messages.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/console/BestWithInfo.h"
#include "installer/console/InstTypes.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "tests/installer/catalogue/ReleaseTestSupport.h"
#include "tests/installer/web/BackendAnswers.h"

#include <boost/make_shared.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::Not;
using webtest::answerText;
using webtest::golden;
using webtest::raised;
using webtest::Request;

namespace {

const std::string moxelBuildDescription =
    std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/moxel/18.0.1/debian-12-x86_64.build.inf3";

// Three products: moxel with an installed release and a newer one, tools with two releases and no
// choice made, and pagewright whose only release has no build for this system. The feedback flag
// files live under /var/cordavine, which the sandbox keeps private.
class BackendProtocolReleasesSandboxTest : public releasetest::ReleaseCatalogueTest {
protected:
    void SetUp() override {
        ReleaseCatalogueTest::SetUp();
        Messages::setLocale("en_US");
        write({{"moxel",
                releasetest::rel("m1", "1.0", "codename=\"One\"") +
                    releasetest::rel(
                        "m2", "2.0",
                        "codename=\"Two\" tags=\"beta\" "
                        "details_url=\"https://notes.example/[LOCALE]/m2?a=1&amp;b=&quot;2&quot;\""),
                "", "", "<product_site src=\"https://moxel.example/\"/>"},
               {"tools", releasetest::rel("t1", "3.1", "codename=\"Old\"") +
                             releasetest::rel("t2", "3.2", "codename=\"New\"")},
               {"pagewright", releasetest::rel("w1", "2.5", "codename=\"Site\"", "1.0", "armhf")}});
        catalogue = loadStates(releasetest::installed("moxeltest-moxel", "1.0"));
        const boost::shared_ptr<Release> installed = catalogue->findRelease("m1");
        installed->addNotInstalledComponent("webmail");
        installed->addNotInstalledComponent("spamfilter");
        installed->_builds[0]->_build_description =
            boost::make_shared<BuildInfFile>(moxelBuildDescription, "moxel.build.inf3");
        catalogue->selectRelease("moxel", "m1");

        InstTypes::Product moxelTypes;
        moxelTypes.productId = "moxel";
        moxelTypes.productName = "Product moxel";
        moxelTypes.types.push_back(type({"Typical", "Recommended"}, "The usual <set> & more"));
        moxelTypes.types.push_back(type({"Custom"}, "Pick the components"));
        types.products.push_back(moxelTypes);
        protocol.reset();
    }

    static InstallationType type(const std::vector<std::string>& names, const std::string& description) {
        InstallationType made;
        made.names = names;
        made.description = description;
        return made;
    }

    void TearDown() override {
        for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
            release->_builds.clear();
    }

    std::unique_ptr<BuildManager> catalogue;
    InstTypes types;
    BackendProtocol protocol{false};
};

TEST_F(BackendProtocolReleasesSandboxTest, ReleasesAnswerGroupsByProductWithTypesOfTheSelectedRelease) {
    protocol.sendReleases(*catalogue, &types);
    EXPECT_EQ(answerText(protocol), golden("releases.xml", answerText(protocol)));
}

TEST_F(BackendProtocolReleasesSandboxTest, ReleaseNamesAndFeedbackQuestionFollowTheSettings) {
    setFeedbackEnabled(false);
    BackendProtocol ownNames(true);
    ownNames.reset();
    ownNames.sendReleases(*catalogue, nullptr);
    const std::string answer = answerText(ownNames);
    EXPECT_THAT(answer, HasSubstr("name=\"Release m2\" codename=\"Two\""));
    EXPECT_THAT(answer, Not(HasSubstr("customer_feedback_required")));
    EXPECT_THAT(answer, Not(HasSubstr("installation_types")));
}

TEST_F(BackendProtocolReleasesSandboxTest, SwitchingTheLocaleChangesTheNextAnswer) {
    const Request request("<request><command value=\"set_locale\"/><locale name=\"de_DE\"/></request>");
    protocol.sendReleases(*catalogue, nullptr);
    EXPECT_THAT(answerText(protocol), HasSubstr("https://notes.example/en-US/m2"));

    Messages::setLocale(protocol.parseSetLocale(request.root()));
    protocol.reset();
    protocol.sendReleases(*catalogue, nullptr);
    EXPECT_THAT(answerText(protocol), HasSubstr("https://notes.example/de-DE/m2"));
    Messages::setLocale("en_US");
}

TEST_F(BackendProtocolReleasesSandboxTest, LocaleRequestsAreReadWhole) {
    const std::string odd = "x\" /><locale name=\"de_DE";
    const std::string escaped = "x&quot; /&gt;&lt;locale name=&quot;de_DE";
    struct Case {
        std::string request;
        std::string expected;
    };
    const Case cases[] = {
        {"<request><locale name=\"fr_FR\"/></request>", "fr_FR"},
        {"<request><locale/></request>", ""},
        {"<request><locale name=\"" + escaped + "\"/></request>", odd},
        {"<request><locale name=\"" + std::string(3000, 'l') + "\"/></request>", std::string(3000, 'l')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(protocol.parseSetLocale(Request(c.request).root()), c.expected);
    }
    EXPECT_EQ(raised([&] { protocol.parseSetLocale(Request("<request><command/></request>").root()); }),
              "3 Invalid 'set_locale' request: not found child element locale in element request\n");
}

TEST_F(BackendProtocolReleasesSandboxTest, BestWithAnswerWarns) {
    BestWithInfo info{"moxel", "Product moxel", "2.0", {{"tools", "Product tools", "3.2", "3.1"}}};
    BestWithInfo second{
        "tools",
        "Product tools",
        "3.1",
        {{"moxel", "Product moxel", "1.0", "2.0"}, {"pagewright", "Product pagewright", "2.5", "2.4"}}};
    protocol.sendBestwithInfo({info, second});
    EXPECT_EQ(answerText(protocol), golden("bestwith.xml", answerText(protocol)));
}

TEST_F(BackendProtocolReleasesSandboxTest, ProductSelectionsAreReadWholeAndTheFeedbackStored) {
    const std::string longId(5000, 'r');
    const Request request(
        "<request><command value=\"product_selection\"/>"
        "<products customer_feedback_enabled=\"yes\">"
        "<product id=\"moxel\" release_id=\"m2\" installation_type=\"Typical\" customize=\"true\"/>"
        "<product id=\"tools\" release_id=\"" +
        longId +
        "\"/>"
        "<product id=\"caf\xC3\xA9 &amp; &quot;co&quot;\" release_id=\"a&lt;b\" "
        "installation_type=\"Custom\" customize=\"no\"/>"
        "<product/></products></request>");
    const std::vector<ProductSelection> selections = protocol.parseProductSelection(request.root());
    ASSERT_EQ(selections.size(), 4u);
    std::vector<std::string> texts;
    for (const ProductSelection& selection : selections) {
        std::ostringstream text;
        text << selection;
        texts.push_back(text.str());
    }
    EXPECT_THAT(texts, ::testing::ElementsAre("moxel-m2(Typical, customize=1)", "tools-" + longId,
                                              "caf\xC3\xA9 & \"co\"-a<b(Custom, customize=0)", "-"));
    EXPECT_TRUE(isFeedbackEnabled());

    const Request withoutDecision("<request><products customer_feedback_enabled=\"no\"/></request>");
    EXPECT_TRUE(protocol.parseProductSelection(withoutDecision.root()).empty());
    EXPECT_FALSE(isFeedbackEnabled());
}

TEST_F(BackendProtocolReleasesSandboxTest, ProductSelectionFaultsAreBindingErrors) {
    struct Case {
        std::string request;
        std::string expected;
    };
    const Case cases[] = {
        {"<request><command/></request>", "binding There is no child element 'products' in tag 'request'"},
        {"<request><products customer_feedback_enabled=\"1\"/></request>",
         "binding There is incorrect boolean"},
        {"<request><products><product customize=\"TRUE\"/></products></request>",
         "binding There is incorrect boolean attribute 'customize'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_THAT(raised([&] { protocol.parseProductSelection(Request(c.request).root()); }),
                    HasSubstr(c.expected));
    }
    EXPECT_TRUE(isFeedbackUnknown());
}

// ---------------------------------------------------------------------------------------------------------
// Progress

TEST_F(BackendProtocolReleasesSandboxTest, ProgressWithoutReportsListsTheSelectedReleases) {
    EXPECT_THAT(raised([&] { protocol.sendProgress("", false, false, *catalogue); }),
                HasSubstr("installer/BackendProtocol, line"));

    ProductsProgress progress;
    catalogue->selectRelease("tools", "t2");
    std::string answers;
    for (const auto& [finished, succeeded] : {std::pair{false, false}, {true, true}, {true, false}}) {
        protocol.reset();
        protocol.sendProgress("Preparing <packages> & keys<br />\n", finished, succeeded, *catalogue);
        answers += answerText(protocol);
    }
    EXPECT_EQ(answers, golden("progress-waiting.xml", answers));
}

TEST_F(BackendProtocolReleasesSandboxTest, ProgressFollowsTheReportedStates) {
    ProductsProgress progress;
    const boost::shared_ptr<Release> moxel = catalogue->findRelease("m1");
    const boost::shared_ptr<Release> tools = catalogue->findRelease("t2");
    progress.add_product_package(moxel, "moxeltest-core");
    progress.add_product_package(moxel, "moxeltest-web");
    progress.add_product_package(tools, "moxeltest-tools");
    progress.set_started();
    progress.set_progress(2, "moxeltest-core");

    std::string answers;
    for (const auto& [finished, succeeded] : {std::pair{false, false}, {true, true}}) {
        protocol.reset();
        protocol.sendProgress("\"line one\\nline two\"", finished, succeeded, *catalogue);
        answers += answerText(protocol);
    }
    EXPECT_EQ(answers, golden("progress-running.xml", answers));
}

} // namespace
