#include "installer/web/BackendProtocol.h"

#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/web/BackendAnswers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::makeSub;
using webtest::answerText;
using webtest::golden;
using webtest::raised;
using webtest::Request;

namespace {

// Two products. moxel: base (required, installed), a hidden component shown when installed, a
// hidden one that is not, a radio group of two web servers and a sub-group with a nested one.
// tools: one component and a group. Statuses and versions are set as the status check would.
class BackendProtocolComponentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        moxel = makeBuild("moxel");
        moxel->_parent->_state = 2;
        moxel->_parent->_update_mode = 2;
        moxel->_uninstall_support = true;
        tools = makeBuild("tools");
        tools->_parent->_state = 2;
        tools->_parent->_update_mode = 1;

        base = component(moxel, "base", AiComponent::UP2DATE, REQ_INSTALL);
        base->required = true;
        base->uninstallSupport = false;
        shownHidden = component(moxel, "agent", AiComponent::UPGRADE, REQ_LEAVE);
        shownHidden->hidden = shownHidden->showInstalledHidden = true;
        hidden = component(moxel, "helper", AiComponent::INSTALL, REQ_INSTALL);
        hidden->hidden = hidden->showInstalledHidden = true;
        apache = component(moxel, "apache", AiComponent::UPGRADE, REQ_LEAVE);
        nginx = component(moxel, "nginx", AiComponent::INSTALL, REQ_LEAVE);
        mail = component(moxel, "mail", AiComponent::INSTALL, REQ_LEAVE);
        webmail = component(moxel, "webmail <&> \"rc\"", AiComponent::INSTALL, REQ_LEAVE);
        lint = component(tools, "lint", AiComponent::INSTALL, REQ_INSTALL);
        manager.nodes = {base,
                         shownHidden,
                         hidden,
                         makeRadio(moxel, "web", {apache, nginx}),
                         makeSub(moxel, "mail", {mail, makeSub(moxel, "clients", {webmail})}),
                         lint,
                         makeSub(tools, "extras", {})};
        protocol.reset();
    }

    static comp_ptr_t component(const boost::shared_ptr<Build>& build, const std::string& name, int status,
                                request_mode_t request) {
        comp_ptr_t made = makeComponent(build, name, status, request);
        made->availableVersion = "2.0-1";
        made->availableBuildTime = 5000000000LL;
        if (status != AiComponent::INSTALL) {
            made->installedVersion = "1.0-1";
            made->installedBuildTime = 1700000000;
        }
        return made;
    }

    boost::shared_ptr<Build> moxel;
    boost::shared_ptr<Build> tools;
    comp_ptr_t base, shownHidden, hidden, apache, nginx, mail, webmail, lint;
    ComponentManager manager;
    BackendProtocol protocol{false};
};

TEST_F(BackendProtocolComponentsTest, TreeAnswerNestsGroupsAndMarksTheChangeset) {
    ComponentsChangeset changeset;
    changeset.setMode(nginx, REQ_INSTALL);
    changeset.setMode(apache, REQ_REMOVE);
    changeset.setExplicit(nginx);
    protocol.sendComponents(&manager, {}, &changeset);
    EXPECT_EQ(answerText(protocol), golden("components.xml", answerText(protocol)));
}

TEST_F(BackendProtocolComponentsTest, ExcludedProductsKeepOnlyTheirGroups) {
    std::string answers;
    for (const std::vector<std::string>& excluded : {std::vector<std::string>{"tools"}, {"moxel", "tools"}}) {
        protocol.reset();
        protocol.sendComponents(&manager, excluded, nullptr);
        answers += answerText(protocol);
    }
    EXPECT_EQ(answers, golden("components-excluded.xml", answers));

    ComponentManager empty;
    protocol.reset();
    protocol.sendComponents(&empty, {}, nullptr);
    EXPECT_THAT(answerText(protocol), HasSubstr("<products />"));
    EXPECT_THAT(raised([&] { protocol.sendComponents(nullptr, {}, nullptr); }),
                HasSubstr("installer/BackendProtocol, line 568."));
}

TEST_F(BackendProtocolComponentsTest, DependenciesInfoListsImplicitChangesThenConflicts) {
    ComponentsChangeset changeset;
    changeset.setMode(nginx, REQ_INSTALL);
    changeset.setExplicit(nginx);
    changeset.setMode(apache, REQ_REMOVE);
    changeset.setMode(mail, REQ_INSTALL);
    changeset.setMode(shownHidden, REQ_REMOVE);
    shownHidden->denyImplicitRemoval = true;
    changeset.setMode(lint, REQ_LEAVE);
    changeset.addConflict(webmail);
    changeset.addConflict(base);
    protocol.sendComponentsDependenciesInfo(&manager, changeset);
    EXPECT_EQ(answerText(protocol), golden("dependencies-info.xml", answerText(protocol)));

    protocol.reset();
    EXPECT_THAT(raised([&] { protocol.sendComponentsDependenciesInfo(nullptr, changeset); }),
                HasSubstr("installer/BackendProtocol, line 1225."));
}

TEST_F(BackendProtocolComponentsTest, OldPatchQuestionAndAnswer) {
    protocol.sendConfirmReinstallOldPatch(true);
    EXPECT_THAT(answerText(protocol),
                HasSubstr("<dizadizezeroz status=\"ok\">\n  <reinstall_old_patch needs_confirm=\"true\" />"));

    struct Case {
        std::string request;
        bool answered;
        bool confirm;
    };
    const Case cases[] = {
        {"<request/>", false, true},
        {"<request><reinstall_old_patch confirm=\"true\"/></request>", true, true},
        {"<request><reinstall_old_patch confirm=\"no\"/></request>", true, false},
        {"<request><reinstall_old_patch/></request>", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        bool confirm = true;
        EXPECT_EQ(protocol.parseConfirmReinstallOldPatch(Request(c.request).root(), confirm), c.answered);
        EXPECT_EQ(confirm, c.confirm);
    }
}

TEST_F(BackendProtocolComponentsTest, SelectionsAreReadWholeWhateverTheirSize) {
    // Far more ids than a form field of 2,046 bytes could hold, and ids longer than 64 bytes.
    std::string many;
    std::vector<std::string> manyIds;
    for (int i = 0; i < 600; ++i) {
        manyIds.push_back("component-" + std::to_string(i));
        many += "<component id=\"" + manyIds.back() + "\" state=\"install\"/>";
    }
    const std::string longId(3000, 'c');
    const Request request(
        "<request><command value=\"component_selection\"/><products>"
        "<product id=\"moxel\"><components>" +
        many + "<component id=\"" + longId +
        "\" state=\"remove\"/>"
        "<component id=\"caf\xC3\xA9 &amp; &quot;x&quot; &lt;y&gt;\" state=\"remove\"/>"
        "<component id=\"kept\" state=\"leave\"/><component id=\"upper\" state=\"INSTALL\"/>"
        "<component state=\"install\"/><group id=\"ignored\" state=\"install\"/>"
        "</components></product>"
        "<product><components/></product></products></request>");
    const std::vector<ComponentSelection> selections = protocol.parseComponentSelection(request.root());
    ASSERT_EQ(selections.size(), 2u);
    std::vector<std::string> expected = manyIds;
    expected.push_back("");
    EXPECT_EQ(selections[0].productId, "moxel");
    EXPECT_EQ(selections[0].idsToInstall, expected);
    EXPECT_THAT(selections[0].idsToRemove, ElementsAre(longId, "caf\xC3\xA9 & \"x\" <y>"));
    EXPECT_EQ(selections[1].productId, "");
    EXPECT_TRUE(selections[1].idsToInstall.empty() && selections[1].idsToRemove.empty());

    for (const std::string broken :
         {"<request/>", "<request><products><product id=\"moxel\"/></products></request>"}) {
        SCOPED_TRACE(broken);
        EXPECT_THAT(raised([&] { protocol.parseComponentSelection(Request(broken).root()); }),
                    HasSubstr("binding There is no child element"));
    }
    EXPECT_EQ(raised([&] {
                  protocol.parseComponentSelection(
                      Request("<request><products><product/></products></request>").root());
              }),
              "binding There is no child element 'components' in tag 'product'");
}

} // namespace
