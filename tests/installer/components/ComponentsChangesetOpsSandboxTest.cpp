#include "installer/components/ComponentsChangesetOps.h"

#include "common/runtime/Log.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::makeSub;
using testsupport::readFile;

namespace {

// The run's options are read from root's home, which is private to the test.
class ChangesetOpsTest : public testing::Test {
protected:
    void SetUp() override { Log::open_file(dir.file("installer.log"), true); }

    std::string log() const { return readFile(dir.file("installer.log")); }

    void markByName(const std::string& productId, const std::vector<std::string>& names, request_mode_t mode,
                    bool explicitMark = true) {
        ComponentsChangeset::MarkComponentsByName marker(&cs, productId, names, mode, explicitMark);
        manager.accept(marker);
    }

    testsupport::TempDir dir;
    boost::shared_ptr<Build> moxel = makeBuild("moxel");
    boost::shared_ptr<Build> other = makeBuild("other");
    ComponentManager manager;
    ComponentsChangeset cs;
};

// ---------------------------------------------------------------------------------------------------------
// Marking by name

TEST_F(ChangesetOpsTest, NamesAreRecordedOnceAndMissingOnesWarned) {
    const comp_ptr_t a = makeComponent(moxel, "a", AiComponent::NOT_AVAILABLE);
    manager.nodes = {a, makeComponent(moxel, "b")};
    markByName("", {"a", "a", "x"}, REQ_INSTALL);

    ASSERT_EQ(1u, cs.getModeMap().size());
    EXPECT_EQ(REQ_INSTALL, cs.getMode(a));
    EXPECT_TRUE(cs.isExplicit(a));
    // The status is not consulted, nor changed.
    EXPECT_EQ(REQ_LEAVE, a->requestMode);
    EXPECT_THAT(log(), HasSubstr("Warning: the following component(s) were not found:  'x'\n"));
    EXPECT_THAT(log(), Not(HasSubstr("'a'")));
}

TEST_F(ChangesetOpsTest, WithoutTheExplicitFlagNamesStayImplicit) {
    const comp_ptr_t a = makeComponent(moxel, "a");
    manager.nodes = {a};
    markByName("", {"a"}, REQ_REMOVE, false);
    EXPECT_EQ(REQ_REMOVE, cs.getMode(a));
    EXPECT_FALSE(cs.isExplicit(a));
}

TEST_F(ChangesetOpsTest, RadioGroupNameInstallsOnlyTheEffectiveChild) {
    const comp_ptr_t apache = makeComponent(moxel, "apache");
    const comp_ptr_t nginx = makeComponent(moxel, "nginx");
    manager.nodes = {makeRadio(moxel, "web", {apache, nginx}, "nginx")};
    markByName("moxel", {"web"}, REQ_INSTALL);
    EXPECT_FALSE(cs.contains(apache));
    EXPECT_EQ(REQ_INSTALL, cs.getMode(nginx));
    EXPECT_TRUE(cs.isExplicit(nginx));
}

TEST_F(ChangesetOpsTest, RadioGroupNameInstallKeepsTheChildToBeInstalled) {
    const comp_ptr_t apache = makeComponent(moxel, "apache");
    const comp_ptr_t nginx = makeComponent(moxel, "nginx");
    manager.nodes = {makeRadio(moxel, "web", {apache, nginx}, "nginx")};
    cs.setMode(apache, REQ_INSTALL);
    markByName("moxel", {"web"}, REQ_INSTALL);
    EXPECT_EQ(REQ_INSTALL, cs.getMode(apache));
    EXPECT_FALSE(cs.contains(nginx));
}

TEST_F(ChangesetOpsTest, RadioGroupNameRemovesEveryChild) {
    const comp_ptr_t apache = makeComponent(moxel, "apache", AiComponent::UP2DATE);
    const comp_ptr_t nginx = makeComponent(moxel, "nginx");
    manager.nodes = {makeRadio(moxel, "web", {apache, nginx}, "nginx")};
    markByName("", {"web"}, REQ_REMOVE);
    EXPECT_EQ(REQ_REMOVE, cs.getMode(apache));
    EXPECT_EQ(REQ_REMOVE, cs.getMode(nginx));
    EXPECT_TRUE(cs.isExplicit(apache));
}

TEST_F(ChangesetOpsTest, NamesOfAnotherProductAreNotFound) {
    const comp_ptr_t theirs = makeComponent(other, "mail");
    const comp_ptr_t theirRadioChild = makeComponent(other, "apache");
    manager.nodes = {theirs, makeRadio(other, "web", {theirRadioChild})};
    markByName("moxel", {"mail", "web"}, REQ_INSTALL);
    EXPECT_TRUE(cs.empty());
    EXPECT_THAT(
        log(),
        HasSubstr("Warning: the following component(s) were not found in product moxel:  'mail' 'web'\n"));
}

TEST_F(ChangesetOpsTest, StrictRunRefusesUnknownNamesAfterRecordingTheKnownOnes) {
    Options::instance().strict = true;
    const comp_ptr_t a = makeComponent(moxel, "known");
    manager.nodes = {a};

    const auto e = caught([&] { markByName("", {"b", "known", "a"}, REQ_INSTALL); });
    EXPECT_EQ("The following product component(s) were not found: a, b. "
              "Use the 'list' command to check the names of available components.\n",
              e.text);
    EXPECT_EQ(2, e.e_class);
    EXPECT_EQ(1, e.repeat);
    EXPECT_EQ(1, e.system_state);
    EXPECT_EQ(2, e.support);
    EXPECT_EQ(REQ_INSTALL, cs.getMode(a));

    const auto inProduct = caught([&] { markByName("moxel", {"gone"}, REQ_REMOVE); });
    EXPECT_EQ("The following component(s) were not found in the product 'moxel': gone. "
              "Use the 'list' command to check the names of available components.\n",
              inProduct.text);
}

TEST_F(ChangesetOpsTest, StrictRunWithEveryNameFoundPasses) {
    Options::instance().strict = true;
    const comp_ptr_t a = makeComponent(moxel, "a");
    manager.nodes = {a};
    markByName("moxel", {"a"}, REQ_INSTALL);
    EXPECT_EQ(REQ_INSTALL, cs.getMode(a));
}

TEST_F(ChangesetOpsTest, MarkingIntoNoChangesetFailsOnTheFirstRecord) {
    manager.nodes = {makeComponent(moxel, "a")};
    ComponentsChangeset::MarkComponentsByName nothingFound(nullptr, "", {"x"}, REQ_INSTALL, true);
    manager.accept(nothingFound);
    ComponentsChangeset::MarkComponentsByName found(nullptr, "", {"a"}, REQ_INSTALL, true);
    EXPECT_THAT(caught([&] { manager.accept(found); }).text, HasSubstr("Try of use NULL pointer"));
}

// ---------------------------------------------------------------------------------------------------------
// Marking everything under a part of the tree

TEST_F(ChangesetOpsTest, SelectAllSkipsHiddenComponentsUnlessShownInstalled) {
    const comp_ptr_t plain = makeComponent(moxel, "plain");
    const comp_ptr_t shown = makeComponent(moxel, "shown", AiComponent::UP2DATE);
    shown->hidden = true;
    shown->showInstalledHidden = true;
    const comp_ptr_t hiddenInstalled = makeComponent(moxel, "hidden-installed", AiComponent::UP2DATE);
    hiddenInstalled->hidden = true;
    const comp_ptr_t hiddenAbsent = makeComponent(moxel, "hidden-absent");
    hiddenAbsent->hidden = true;
    hiddenAbsent->showInstalledHidden = true;
    const comp_ptr_t foreign = makeComponent(other, "foreign");
    const comp_ptr_t nested = makeComponent(moxel, "nested");
    manager.nodes = {plain, shown, hiddenInstalled, hiddenAbsent, foreign, makeSub(moxel, "sub", {nested})};

    ComponentsChangeset::MarkAllComponents(&cs, "moxel", REQ_INSTALL, true, true)
        .mark(manager.nodes.begin(), manager.nodes.end());
    EXPECT_THAT(cs.getNamesToInstall(), ElementsAre("nested", "plain", "shown"));
    EXPECT_THAT(cs.getImplicitNamesToInstall(), IsEmpty());

    ComponentsChangeset all;
    ComponentsChangeset::MarkAllComponents(&all, "", REQ_LEAVE, false, false)
        .mark(manager.nodes.begin(), manager.nodes.end());
    EXPECT_EQ(6u, all.getNamesToLeave().size());
    EXPECT_EQ(6u, all.getImplicitNamesToLeave().size());
}

TEST_F(ChangesetOpsTest, SelectAllOnARadioGroupRecordsOnlyWhatChanges) {
    const comp_ptr_t apache = makeComponent(moxel, "apache", AiComponent::UP2DATE);
    const comp_ptr_t nginx = makeComponent(moxel, "nginx");
    const auto current = makeRadio(moxel, "web", {apache, nginx}, "nginx");
    const comp_ptr_t postfix = makeComponent(moxel, "postfix", AiComponent::UPGRADE);
    const comp_ptr_t exim = makeComponent(moxel, "exim");
    const auto older = makeRadio(moxel, "mta", {exim, postfix}, "exim");
    const comp_ptr_t bind = makeComponent(moxel, "bind");
    const comp_ptr_t unbound = makeComponent(moxel, "unbound");
    const auto fresh = makeRadio(moxel, "dns", {bind, unbound}, "unbound");
    manager.nodes = {current, older, fresh};

    ComponentsChangeset::MarkAllComponents(&cs, "", REQ_INSTALL, true, true)
        .mark(manager.nodes.begin(), manager.nodes.end());
    // apache is installed in its newest state already; postfix is upgraded; dns gets its default.
    EXPECT_THAT(cs.getNamesToInstall(), ElementsAre("postfix", "unbound"));

    ComponentsChangeset deselect;
    ComponentsChangeset::MarkAllComponents(&deselect, "", REQ_LEAVE, true, true)
        .mark(manager.nodes.begin(), manager.nodes.end());
    EXPECT_THAT(deselect.getNamesToLeave(),
                ElementsAre("apache", "bind", "exim", "nginx", "postfix", "unbound"));
}

TEST_F(ChangesetOpsTest, MarkAllRejectsUnknownNodeKinds) {
    class StrayNode : public AiCompNode {
    public:
        char getStatusChar() const override { return ' '; }
        std::string getDescription() const override { return ""; }
        std::string getProductId() const override { return ""; }
    };
    manager.nodes = {std::make_shared<StrayNode>()};
    const auto e = caught([&] {
        ComponentsChangeset::MarkAllComponents(&cs, "", REQ_INSTALL, false, false)
            .mark(manager.nodes.begin(), manager.nodes.end());
    });
    EXPECT_THAT(e.text, HasSubstr("installer/ComponentsChangesetOps, line 141"));
}

} // namespace
