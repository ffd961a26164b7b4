#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::namesOf;
using testsupport::makeSub;

namespace {

// A node of a kind the tree does not know.
class StrayNode : public AiCompNode {
public:
    char getStatusChar() const override { return ' '; }
    std::string getDescription() const override { return ""; }
    std::string getProductId() const override { return "moxel"; }
};

class Recorder : public ComponentManager::Visitor {
public:
    void visit(const comp_ptr_t& component) override { events.push_back("visit " + component->name); }
    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override {
        events.push_back("begin radio " + group->name);
    }
    void beginSubGroup(const std::shared_ptr<AiSubGroup>& group) override {
        events.push_back("begin sub " + group->name);
    }
    void endSubGroup(const std::shared_ptr<AiSubGroup>& group) override {
        events.push_back("end sub " + group->name);
    }
    void endRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override {
        events.push_back("end radio " + group->name);
    }
    void done() override { events.push_back("done"); }
    std::vector<std::string> events;
};

// ---------------------------------------------------------------------------------------------------------
// Walking

TEST(ComponentManagerTest, WalkVisitsEveryNodeInOrder) {
    const auto build = makeBuild("moxel");
    ComponentManager manager;
    manager.nodes = {makeComponent(build, "base"),
                     makeSub(build, "mail",
                             {makeComponent(build, "smtp"),
                              makeRadio(build, "webmail",
                                        {makeComponent(build, "roundcube"), makeComponent(build, "horde")}),
                              makeSub(build, "lists", {makeComponent(build, "mailman")})}),
                     makeRadio(build, "web", {makeComponent(build, "apache")})};
    Recorder recorder;
    manager.accept(recorder);
    EXPECT_THAT(recorder.events,
                ElementsAre("visit base", "begin sub mail", "visit smtp", "begin radio webmail",
                            "visit roundcube", "visit horde", "end radio webmail", "begin sub lists",
                            "visit mailman", "end sub lists", "end sub mail", "begin radio web",
                            "visit apache", "end radio web", "done"));
}

TEST(ComponentManagerTest, UnknownNodeKindsAreInternalErrors) {
    const auto build = makeBuild("moxel");
    ComponentManager manager;
    manager.nodes = {makeComponent(build, "base"), makeSub(build, "mail", {std::make_shared<StrayNode>()})};
    Recorder recorder;
    EXPECT_NE(std::string::npos,
              caught([&] { manager.accept(recorder); }).text.find("installer/ComponentManager, line 1046"));
    EXPECT_NE(std::string::npos, caught([&] {
                                     manager.markComponents(manager.nodes.begin(), manager.nodes.end(),
                                                            REQ_INSTALL, "", false);
                                 }).text.find("installer/ComponentManager, line 1170"));
}

// ---------------------------------------------------------------------------------------------------------
// Tree editor

class TreeEditorTest : public testing::Test {
protected:
    comp_ptr_t component(const std::string& name) { return makeComponent(build, name); }
    std::shared_ptr<AiRadioGroup> radio(const std::string& name, const comp_ptr_t& child) {
        return makeRadio(build, name, {child});
    }

    boost::shared_ptr<Build> build = makeBuild("moxel");
    ComponentManager manager;
};

TEST_F(TreeEditorTest, ReplacementTakesThePlaceOfTheGroupAndGoesBehindTheFirstGroup) {
    const comp_ptr_t c = component("c");
    const auto g1 = radio("g1", c);
    manager.nodes = {component("a"), component("b"), g1, radio("g2", component("x"))};
    manager.edit_components_tree_replace(g1, c);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "b", "g2", "c"));
    EXPECT_EQ(nullptr, c->radioGroup.raw());
}

TEST_F(TreeEditorTest, ReplacementSwapsWithAnEarlierGroup) {
    const comp_ptr_t c = component("c");
    const auto g2 = radio("g2", c);
    manager.nodes = {component("a"), radio("g1", component("x")), g2};
    manager.edit_components_tree_replace(g2, c);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "c", "g1"));
}

TEST_F(TreeEditorTest, ReplacementInsideASubGroupStaysInThatSubGroup) {
    const comp_ptr_t c = component("c");
    const auto inner = radio("inner", c);
    const auto sub = makeSub(build, "sub", {inner, component("d")});
    manager.nodes = {component("a"), sub, radio("g", component("x"))};
    manager.edit_components_tree_replace(inner, c);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "sub", "g"));
    EXPECT_THAT(namesOf(sub->children), ElementsAre("c", "d"));
}

TEST_F(TreeEditorTest, RemovalTakesTheGroupOutOfItsOwnList) {
    const auto nested = radio("nested", component("n"));
    const auto sub = makeSub(build, "sub", {component("b"), nested});
    const auto top = radio("top", component("t"));
    manager.nodes = {component("a"), sub, top};

    manager.edit_components_tree_remove(nested);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "sub", "top"));
    EXPECT_THAT(namesOf(sub->children), ElementsAre("b"));

    manager.edit_components_tree_remove(top);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "sub"));

    manager.edit_components_tree_remove(sub);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a"));
}

TEST_F(TreeEditorTest, TargetNotInTheTreeChangesNothing) {
    const comp_ptr_t c = component("c");
    const auto stranger = radio("stranger", c);
    manager.nodes = {component("a"), makeSub(build, "sub", {component("b")})};
    manager.edit_components_tree_remove(stranger);
    manager.edit_components_tree_replace(stranger, c);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("a", "sub"));
    EXPECT_EQ(stranger.get(), c->radioGroup.raw());
}

// ---------------------------------------------------------------------------------------------------------
// Base component

TEST(ComponentManagerTest, BaseComponentIsNamedBaseOrComesFirst) {
    const auto moxel = makeBuild("moxel");
    const auto other = makeBuild("other");
    ComponentManager manager;
    manager.nodes = {makeSub(moxel, "group", {makeComponent(moxel, "base")}), makeComponent(moxel, "first"),
                     makeComponent(other, "lead"), makeComponent(other, "base"),
                     makeComponent(moxel, "second")};

    // Any product: a top-level "base" wins over the first component.
    EXPECT_EQ("base", manager.getBaseComponent("")->name);
    EXPECT_EQ("other", manager.getBaseComponent("")->getProductId());
    // The "base" inside a group does not count.
    EXPECT_EQ("first", manager.getBaseComponent("moxel")->name);
    EXPECT_EQ("base", manager.getBaseComponent("other")->name);

    EXPECT_NE(std::string::npos, caught([&] {
                                     manager.getBaseComponent("absent");
                                 }).text.find("installer/ComponentManager, line 86"));

    ComponentManager empty;
    const auto e = caught([&] { empty.getBaseComponent(""); });
    EXPECT_EQ("The list of product components is empty.\n", e.text);
    EXPECT_EQ(3, e.e_class);
    EXPECT_EQ(3, e.support);
}

TEST(ComponentManagerTest, SelectingTheBaseMakesItRequiredUnlessItCanBeUninstalled) {
    const auto build = makeBuild("moxel");
    ComponentManager manager;
    const comp_ptr_t base = makeComponent(build, "base");
    manager.nodes = {makeComponent(build, "first"), base};

    build->_uninstall_support = true;
    manager.selectBaseComponent();
    EXPECT_EQ(REQ_LEAVE, base->requestMode);
    EXPECT_FALSE(base->required);

    build->_uninstall_support = false;
    manager.selectBaseComponent();
    EXPECT_EQ(REQ_INSTALL, base->requestMode);
    EXPECT_TRUE(base->required);

    base->installMode = AiComponent::NOT_AVAILABLE;
    base->requestMode = REQ_LEAVE;
    EXPECT_EQ("The component moxel/base is not available.\n",
              caught([&] { manager.selectBaseComponent(); }).text);
}

// ---------------------------------------------------------------------------------------------------------
// Marking over subtrees

TEST(ComponentManagerTest, MarkingARadioGroupReachesOnlyItsEffectiveChild) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t apache = makeComponent(build, "apache", AiComponent::INSTALL);
    const comp_ptr_t nginx = makeComponent(build, "nginx", AiComponent::UPGRADE);
    const comp_ptr_t lighttpd = makeComponent(build, "lighttpd", AiComponent::INSTALL);
    ComponentManager manager;
    manager.nodes = {makeRadio(build, "web", {apache, nginx, lighttpd}, "apache")};

    manager.markComponents(manager.nodes.begin(), manager.nodes.end(), REQ_REMOVE, "", false);
    EXPECT_EQ(REQ_REMOVE, nginx->requestMode);
    EXPECT_EQ(REQ_LEAVE, apache->requestMode);
    EXPECT_EQ(REQ_LEAVE, lighttpd->requestMode);

    // With nothing to be installed any more, the default child is the one marked.
    manager.markComponents(manager.nodes.begin(), manager.nodes.end(), REQ_REMOVE, "", false);
    EXPECT_EQ(REQ_REMOVE, apache->requestMode);
    EXPECT_EQ(REQ_LEAVE, lighttpd->requestMode);
}

TEST(ComponentManagerTest, MarkingSkipsWhatCannotTakeTheMode) {
    const auto moxel = makeBuild("moxel");
    const auto other = makeBuild("other");
    const comp_ptr_t plain = makeComponent(moxel, "plain");
    const comp_ptr_t unavailable = makeComponent(moxel, "unavailable", AiComponent::NOT_AVAILABLE);
    const comp_ptr_t hidden = makeComponent(moxel, "hidden");
    hidden->hidden = true;
    const comp_ptr_t shownInstalled = makeComponent(moxel, "shown", AiComponent::UP2DATE);
    shownInstalled->hidden = true;
    shownInstalled->showInstalledHidden = true;
    const comp_ptr_t shownNotInstalled = makeComponent(moxel, "shown-absent");
    shownNotInstalled->hidden = true;
    shownNotInstalled->showInstalledHidden = true;
    const comp_ptr_t required = makeComponent(moxel, "required", AiComponent::INSTALL, REQ_INSTALL);
    required->required = true;
    const comp_ptr_t foreign = makeComponent(other, "foreign");
    // Inside a sub-group the product is no longer checked.
    const comp_ptr_t nestedForeign = makeComponent(other, "nested-foreign");
    ComponentManager manager;
    manager.nodes = {plain,
                     unavailable,
                     hidden,
                     shownInstalled,
                     shownNotInstalled,
                     required,
                     foreign,
                     makeSub(moxel, "sub", {nestedForeign})};

    manager.markComponents(manager.nodes.begin(), manager.nodes.end(), REQ_INSTALL, "moxel", true);
    EXPECT_EQ(REQ_INSTALL, plain->requestMode);
    EXPECT_EQ(REQ_LEAVE, unavailable->requestMode);
    EXPECT_EQ(REQ_LEAVE, hidden->requestMode);
    EXPECT_EQ(REQ_INSTALL, shownInstalled->requestMode);
    EXPECT_EQ(REQ_LEAVE, shownNotInstalled->requestMode);
    EXPECT_EQ(REQ_LEAVE, foreign->requestMode);
    EXPECT_EQ(REQ_INSTALL, nestedForeign->requestMode);

    manager.markComponents(manager.nodes.begin(), manager.nodes.end(), REQ_LEAVE, "", false);
    EXPECT_EQ(REQ_LEAVE, plain->requestMode);
    EXPECT_EQ(REQ_INSTALL, required->requestMode);
    EXPECT_EQ(REQ_LEAVE, hidden->requestMode);

    // Without the visible-only flag hidden components are marked too.
    manager.markComponents(manager.nodes.begin(), manager.nodes.end(), REQ_REMOVE, "", false);
    EXPECT_EQ(REQ_REMOVE, hidden->requestMode);
    EXPECT_EQ(REQ_REMOVE, required->requestMode);
    EXPECT_EQ(REQ_LEAVE, unavailable->requestMode);
}

// ---------------------------------------------------------------------------------------------------------
// Questions

TEST(ComponentManagerTest, AllInstalledMeansEveryComponentUpToDate) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t a = makeComponent(build, "a", AiComponent::UP2DATE);
    const comp_ptr_t b = makeComponent(build, "b", AiComponent::UP2DATE);
    ComponentManager manager;
    manager.nodes = {a, makeRadio(build, "web", {b})};
    EXPECT_TRUE(manager.isAllInstalled());
    b->microUpdateAvailable = true;
    EXPECT_FALSE(manager.isAllInstalled());
}

TEST(ComponentManagerTest, SelectionQuestionsReadTheRequestModes) {
    const auto moxel = makeBuild("moxel");
    const auto other = makeBuild("other");
    const comp_ptr_t a = makeComponent(moxel, "a");
    const comp_ptr_t b = makeComponent(other, "b");
    const comp_ptr_t c = makeComponent(moxel, "c");
    a->ezTemplates = {"moxel8-web", "moxel8"};
    b->ezTemplates = {"moxel8"};
    c->ezTemplates = {"unused"};
    ComponentManager manager;
    manager.nodes = {makeSub(other, "sub", {b}), a, c};

    EXPECT_FALSE(manager.isAnySelected());
    EXPECT_FALSE(manager.isSelectedFromRelease(moxel->_parent));
    c->requestMode = REQ_REMOVE;
    // A removal request counts even for a component that is not installed.
    EXPECT_TRUE(manager.isAnySelected());
    EXPECT_THAT(manager.getSelection(), IsEmpty());

    a->requestMode = REQ_INSTALL;
    b->requestMode = REQ_INSTALL;
    EXPECT_THAT(manager.getSelection(), ElementsAre("other/b", "moxel/a"));
    EXPECT_THAT(manager.getEZTemplListToInstall(), ElementsAre("moxel8", "moxel8-web"));
    EXPECT_TRUE(manager.isSelectedFromRelease(moxel->_parent));
    EXPECT_TRUE(manager.isSelectedFromRelease(other->_parent));
    EXPECT_FALSE(manager.isSelectedFromRelease(makeBuild("moxel")->_parent));
}

TEST(ComponentManagerTest, CurrentChangesBecomeExplicitEntries) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t toInstall = makeComponent(build, "install", AiComponent::INSTALL, REQ_INSTALL);
    const comp_ptr_t toUpgrade = makeComponent(build, "upgrade", AiComponent::UPGRADE, REQ_INSTALL);
    const comp_ptr_t upToDate = makeComponent(build, "current", AiComponent::UP2DATE, REQ_INSTALL);
    const comp_ptr_t toRemove = makeComponent(build, "remove", AiComponent::UP2DATE, REQ_REMOVE);
    const comp_ptr_t absentRemove = makeComponent(build, "absent", AiComponent::INSTALL, REQ_REMOVE);
    const comp_ptr_t unavailable =
        makeComponent(build, "unavailable", AiComponent::NOT_AVAILABLE, REQ_INSTALL);
    ComponentManager manager;
    manager.nodes = {toInstall, toUpgrade, upToDate, toRemove, absentRemove, unavailable};

    ComponentsChangeset cs;
    manager.getCurrentChanges(&cs);
    EXPECT_THAT(cs.getNamesToInstall(), ElementsAre("install", "upgrade"));
    EXPECT_THAT(cs.getNamesToRemove(), ElementsAre("remove"));
    EXPECT_EQ(3u, cs.getModeMap().size());
    EXPECT_FALSE(cs.hasImplicitChanges());

    EXPECT_NE(std::string::npos,
              caught([&] { manager.getCurrentChanges(nullptr); }).text.find("NULL pointer"));
}

TEST(ComponentManagerTest, AdditionalUpgradePackagesAccumulate) {
    Package first("moxel-mail", "1.0-1");
    Package second("moxel-web", "2.0-1");
    ComponentManager manager;
    manager.markAdditionalPackagesForUpgrade({&first});
    manager.markAdditionalPackagesForUpgrade({&second});
    EXPECT_THAT(manager.additionalUpgradePackages, ElementsAre(&first, &second));
}

} // namespace
