#include "installer/components/ComponentManagerPasses.h"

#include "common/packages/Package.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::ElementsAre;
using testing::IsEmpty;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::makeSub;
using testsupport::namesOf;

namespace {

using Section = Component::keypackages_t;

std::vector<std::string> namesOf(const std::vector<comp_ptr_t>& components) {
    std::vector<std::string> names;
    for (const auto& component : components)
        names.push_back(component->name);
    return names;
}

class PassesTest : public ::testing::Test {
protected:
    boost::shared_ptr<Build> build = makeBuild("moxel");
    ComponentManager manager;
};

// -----------------------------------------------------------------------------------------------------------
// Key-package names

TEST_F(PassesTest, PackageNamesAreCollectedFromTheWholeTreeNegativeSetsFirst) {
    auto mail = std::make_shared<AiComponent>(
        build, "mail", "Mail", "",
        std::vector<Section>{{{"moxel-mail"}, {"moxel-qmail"}, {"mta"}},
                             {{"moxel-mail2", "/opt/moxel-mail-common"}, {}, {}}});
    auto dns =
        std::make_shared<AiComponent>(build, "dns", "DNS", "", std::vector<Section>{{{"moxel-dns"}, {}, {}}});
    auto web = std::make_shared<AiComponent>(build, "web", "Web", "",
                                             std::vector<Section>{{{"moxel-web"}, {"moxel-oldweb"}, {}}});
    manager.nodes = {mail, makeSub(build, "servers", {makeRadio(build, "naming", {dns})}), web};

    ComponentManager::PreparePackagesList pass;
    manager.accept(pass);
    // Key provides are capabilities, not package names.
    EXPECT_THAT(pass.getNames(),
                ElementsAre("moxel-qmail", "moxel-mail", "moxel-mail2", "/opt/moxel-mail-common", "moxel-dns",
                            "moxel-oldweb", "moxel-web"));
}

// -----------------------------------------------------------------------------------------------------------
// Shrinking radio groups

TEST_F(PassesTest, ARadioGroupLeftWithOneAlternativeIsReplacedByItUnderTheGroupsName) {
    const comp_ptr_t base = makeComponent(build, "base", AiComponent::UP2DATE);
    const comp_ptr_t apache = makeComponent(build, "apache", AiComponent::UP2DATE);
    const comp_ptr_t nginx = makeComponent(build, "nginx", AiComponent::INSTALL);
    auto web = makeRadio(build, "webserver", {apache, nginx}, "nginx");
    // Nothing may be switched to from the installed alternative.
    web->addSwitch("nginx", "apache");
    auto other = makeRadio(build, "spam", {makeComponent(build, "sa"), makeComponent(build, "rspamd")});
    manager.nodes = {base, web, other};

    ComponentManager::ShriveledRadioGroupsRemover pass(&manager);
    manager.accept(pass);

    // The component takes the group's place, then swaps with the first group left.
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("base", "spam", "webserver"));
    EXPECT_EQ(apache, manager.nodes[2]);
    EXPECT_EQ(nullptr, apache->radioGroup.raw());
    EXPECT_EQ(nullptr, nginx->radioGroup.raw());

    // A request naming the group now reaches the component.
    ComponentManager::MarkSpecifiedNamesComponents marker(&manager, "", {"webserver"}, REQ_REMOVE);
    manager.accept(marker);
    EXPECT_EQ(REQ_REMOVE, apache->requestMode);
}

TEST_F(PassesTest, RadioGroupsKeepTheAlternativesTheInstalledStateAllows) {
    struct Case {
        const char* what;
        int statusA, statusB, statusC;
        std::vector<std::pair<std::string, std::string>> rules;
        std::vector<std::string> left;
    } cases[] = {
        {"no rules", AiComponent::UP2DATE, 1, 1, {}, {"a", "b", "c"}},
        {"rules but nothing installed", 1, 1, 1, {{"a", "b"}}, {"a", "b", "c"}},
        {"a rule from the installed child", AiComponent::UPGRADE, 1, 1, {{"a", "c"}}, {"a", "c"}},
        {"a rule from another child keeps nothing",
         AiComponent::UP2DATE,
         1,
         1,
         {{"b", "c"}, {"a", "x"}},
         {"a"}},
        {"the first installed child counts",
         1,
         AiComponent::UP2DATE,
         AiComponent::UP2DATE,
         {{"b", "a"}},
         {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComponentManager tree;
        const comp_ptr_t a = makeComponent(build, "a", c.statusA);
        auto group = makeRadio(
            build, "g", {a, makeComponent(build, "b", c.statusB), makeComponent(build, "c", c.statusC)});
        for (const auto& rule : c.rules)
            group->addSwitch(rule.first, rule.second);
        tree.nodes = {group};
        ComponentManager::ShriveledRadioGroupsRemover pass(&tree);
        tree.accept(pass);
        if (c.left.size() == 1) {
            EXPECT_THAT(namesOf(tree.nodes), ElementsAre("g"));
            EXPECT_EQ(a, tree.nodes[0]);
        } else {
            EXPECT_EQ(group, tree.nodes[0]);
            EXPECT_EQ(c.left, namesOf(group->children));
        }
    }
}

TEST_F(PassesTest, AnEmptyRadioGroupIsRemovedFromItsParent) {
    auto empty = makeRadio(build, "empty", {});
    const comp_ptr_t tool = makeComponent(build, "tool");
    auto tools = makeSub(build, "tools", {tool, empty});
    manager.nodes = {makeComponent(build, "base"), tools};

    ComponentManager::ShriveledRadioGroupsRemover pass(&manager);
    manager.accept(pass);
    EXPECT_THAT(namesOf(manager.nodes), ElementsAre("base", "tools"));
    EXPECT_THAT(namesOf(tools->children), ElementsAre("tool"));
}

// -----------------------------------------------------------------------------------------------------------
// Marking by name

TEST_F(PassesTest, MarkingByNameUsesTheChecksOfTheRequests) {
    struct Case {
        int status;
        request_mode_t before, mode, after;
    } cases[] = {
        {AiComponent::INSTALL, REQ_LEAVE, REQ_INSTALL, REQ_INSTALL},
        {AiComponent::UPGRADE, REQ_LEAVE, REQ_INSTALL, REQ_INSTALL},
        // Up to date: nothing to reinstall.
        {AiComponent::UP2DATE, REQ_INSTALL, REQ_INSTALL, REQ_LEAVE},
        {AiComponent::UPGRADE, REQ_LEAVE, REQ_REMOVE, REQ_REMOVE},
        {AiComponent::UP2DATE, REQ_LEAVE, REQ_REMOVE, REQ_REMOVE},
        // Not installed: nothing to remove.
        {AiComponent::INSTALL, REQ_INSTALL, REQ_REMOVE, REQ_LEAVE},
        {AiComponent::INSTALL, REQ_INSTALL, REQ_LEAVE, REQ_LEAVE},
        {AiComponent::UP2DATE, REQ_REMOVE, REQ_LEAVE, REQ_LEAVE},
        // Not available: skipped.
        {AiComponent::NOT_AVAILABLE, REQ_LEAVE, REQ_INSTALL, REQ_LEAVE},
        {AiComponent::NOT_AVAILABLE, REQ_LEAVE, REQ_REMOVE, REQ_LEAVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.status << " " << c.before << " -> " << c.mode);
        ComponentManager tree;
        const comp_ptr_t mail = makeComponent(build, "mail", c.status, c.before);
        const comp_ptr_t dns = makeComponent(build, "dns", AiComponent::UPGRADE);
        tree.nodes = {mail, dns};
        ComponentManager::MarkSpecifiedNamesComponents marker(&tree, "moxel", {"mail"}, c.mode);
        tree.accept(marker);
        EXPECT_EQ(c.after, mail->requestMode);
        EXPECT_EQ(REQ_LEAVE, dns->requestMode);
    }
}

TEST_F(PassesTest, MarkingByNameStopsAtARefusedRequest) {
    const comp_ptr_t base = makeComponent(build, "base", AiComponent::UP2DATE);
    base->setRequired();
    const comp_ptr_t mail = makeComponent(build, "mail", AiComponent::UP2DATE);
    manager.nodes = {base, mail};

    ComponentManager::MarkSpecifiedNamesComponents marker(&manager, "", {"base", "mail"}, REQ_REMOVE);
    const auto failure = caught([&] { manager.accept(marker); });
    EXPECT_EQ("Unable to remove the component moxel/base:\nit is required component.\n", failure.text);
    EXPECT_EQ(2, failure.e_class);
    EXPECT_EQ(REQ_INSTALL, base->requestMode);
    EXPECT_EQ(REQ_LEAVE, mail->requestMode);

    ComponentManager::MarkSpecifiedNamesComponents odd(&manager, "", {"mail"}, REQ_UNSPECIFIED);
    const auto unexpected = caught([&] { manager.accept(odd); });
    EXPECT_EQ("MarkSpecifiedNamesComponents::visit: unexpected request_mode_t: 0\n", unexpected.text);
    EXPECT_EQ(3, unexpected.e_class);
}

TEST_F(PassesTest, MarkingByNameMatchesTheProductOnlyWhenOneIsGiven) {
    const auto other = makeBuild("sitebuilder");
    const comp_ptr_t ownMail = makeComponent(build, "mail");
    const comp_ptr_t otherMail = makeComponent(other, "mail");
    manager.nodes = {otherMail, ownMail};

    ComponentManager::MarkSpecifiedNamesComponents forOwn(&manager, "moxel", {"mail"}, REQ_INSTALL);
    manager.accept(forOwn);
    EXPECT_EQ(REQ_INSTALL, ownMail->requestMode);
    EXPECT_EQ(REQ_LEAVE, otherMail->requestMode);

    // Without a product the first component of the name takes the request, and only it.
    ownMail->requestMode = REQ_LEAVE;
    ComponentManager::MarkSpecifiedNamesComponents forAny(&manager, "", {"mail", "absent"}, REQ_INSTALL);
    manager.accept(forAny);
    EXPECT_EQ(REQ_INSTALL, otherMail->requestMode);
    EXPECT_EQ(REQ_LEAVE, ownMail->requestMode);
}

TEST_F(PassesTest, MarkingARadioGroupByNameActsOnItsEffectiveAlternative) {
    struct Case {
        const char* what;
        int statusA, statusB;
        request_mode_t mode;
        request_mode_t afterA, afterB;
    } cases[] = {
        {"install, nothing installed: the default", 1, 1, REQ_INSTALL, REQ_LEAVE, REQ_INSTALL},
        {"install, one installed: nothing", AiComponent::UP2DATE, 1, REQ_INSTALL, REQ_LEAVE, REQ_LEAVE},
        {"install, the default unavailable: nothing", 1, AiComponent::NOT_AVAILABLE, REQ_INSTALL, REQ_LEAVE,
         REQ_LEAVE},
        {"remove: the installed one", AiComponent::UPGRADE, 1, REQ_REMOVE, REQ_REMOVE, REQ_LEAVE},
        {"remove, nothing installed: nothing", 1, 1, REQ_REMOVE, REQ_LEAVE, REQ_LEAVE},
        {"leave: nothing", AiComponent::UPGRADE, 1, REQ_LEAVE, REQ_LEAVE, REQ_LEAVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComponentManager tree;
        const comp_ptr_t a = makeComponent(build, "a", c.statusA);
        const comp_ptr_t b = makeComponent(build, "b", c.statusB);
        tree.nodes = {makeRadio(build, "g", {a, b}, "b")};
        ComponentManager::MarkSpecifiedNamesComponents marker(&tree, "moxel", {"g"}, c.mode);
        tree.accept(marker);
        EXPECT_EQ(c.afterA, a->requestMode);
        EXPECT_EQ(c.afterB, b->requestMode);
    }
}

// -----------------------------------------------------------------------------------------------------------
// Components that required ones need

TEST_F(PassesTest, RequiredComponentsGetWhatTheyNeedDirectlyAndThroughOthers) {
    const comp_ptr_t base = makeComponent(build, "base", AiComponent::UPGRADE);
    base->setRequired();
    base->requires = {"db", "core", "web"};
    const comp_ptr_t db = makeComponent(build, "db", AiComponent::INSTALL);
    db->requires = {"libs"};
    const comp_ptr_t libs = makeComponent(build, "libs", AiComponent::INSTALL);
    // Up to date: stays installed, needs nothing marked.
    const comp_ptr_t core = makeComponent(build, "core", AiComponent::UP2DATE);
    // A requirement on a radio group that nothing installed satisfies: its default.
    const comp_ptr_t apache = makeComponent(build, "apache", AiComponent::INSTALL);
    const comp_ptr_t nginx = makeComponent(build, "nginx", AiComponent::INSTALL);
    const comp_ptr_t unrelated = makeComponent(build, "dns", AiComponent::INSTALL);
    manager.nodes = {base, makeSub(build, "data", {libs, db}), core, unrelated,
                     makeRadio(build, "web", {apache, nginx}, "nginx")};

    EXPECT_THAT(manager.getComponentsForCheckWith(base), ElementsAre("db", "nginx", "libs"));

    ComponentManager::MarkNeedForRequired pass(&manager);
    manager.accept(pass);
    EXPECT_EQ(REQ_INSTALL, db->requestMode);
    EXPECT_EQ(REQ_INSTALL, libs->requestMode);
    EXPECT_EQ(REQ_INSTALL, nginx->requestMode);
    EXPECT_EQ(REQ_LEAVE, apache->requestMode);
    EXPECT_EQ(REQ_LEAVE, core->requestMode);
    EXPECT_EQ(REQ_LEAVE, unrelated->requestMode);
    // Already requested: nothing left to name.
    EXPECT_THAT(manager.getComponentsForCheckWith(base), IsEmpty());
}

// -----------------------------------------------------------------------------------------------------------
// Upgrades

TEST_F(PassesTest, UpgradesWithoutAFilterRequestEveryOlderComponent) {
    const comp_ptr_t mail = makeComponent(build, "mail", AiComponent::UPGRADE);
    const comp_ptr_t dns = makeComponent(build, "dns", AiComponent::UP2DATE);
    dns->microUpdateAvailable = true;
    const comp_ptr_t web = makeComponent(build, "web", AiComponent::UP2DATE);
    const comp_ptr_t spam = makeComponent(build, "spam", AiComponent::INSTALL);
    manager.nodes = {mail, dns, web, spam};

    ComponentManager::MarkComponentsForUpgrade pass({});
    manager.accept(pass);
    pass.commit(manager);
    // A pending micro-update reads as an older state.
    EXPECT_EQ(REQ_INSTALL, mail->requestMode);
    EXPECT_EQ(REQ_INSTALL, dns->requestMode);
    EXPECT_EQ(REQ_LEAVE, web->requestMode);
    EXPECT_EQ(REQ_LEAVE, spam->requestMode);
    EXPECT_THAT(manager.additionalUpgradePackages, IsEmpty());
}

TEST_F(PassesTest, UpgradesByClassTakeComponentsOrSinglePackages) {
    Package security("moxel-mail-security", "1.1-1");
    security.addClass("security");
    Package plain("moxel-mail", "1.1-1");
    const comp_ptr_t mail = makeComponent(build, "mail", AiComponent::UPGRADE);
    mail->packages = {&plain, &security};
    const comp_ptr_t kernel = makeComponent(build, "kernel", AiComponent::UPGRADE);
    kernel->classes = {"security", "system"};
    const comp_ptr_t dns = makeComponent(build, "dns", AiComponent::UPGRADE);
    dns->packages = {&plain};
    const comp_ptr_t web = makeComponent(build, "web", AiComponent::UP2DATE);
    web->packages = {&security};
    manager.nodes = {mail, kernel, dns, web};

    ComponentManager::MarkComponentsForUpgrade pass({"backup", "security"});
    manager.accept(pass);
    pass.commit(manager);
    EXPECT_EQ(REQ_INSTALL, kernel->requestMode);
    EXPECT_EQ(REQ_LEAVE, mail->requestMode);
    EXPECT_TRUE(mail->packagesUpgraded);
    EXPECT_EQ(REQ_LEAVE, dns->requestMode);
    EXPECT_FALSE(dns->packagesUpgraded);
    EXPECT_FALSE(web->packagesUpgraded);
    EXPECT_THAT(manager.additionalUpgradePackages, ElementsAre(&security));
}

// -----------------------------------------------------------------------------------------------------------
// Counting selections

TEST_F(PassesTest, SelectionsAreCountedPerGroupForOneProduct) {
    const comp_ptr_t installed = makeComponent(build, "installed", AiComponent::UP2DATE);
    const comp_ptr_t plain = makeComponent(build, "plain", AiComponent::INSTALL);
    const comp_ptr_t chosen = makeComponent(build, "chosen", AiComponent::INSTALL, REQ_INSTALL);
    const comp_ptr_t hidden = makeComponent(build, "hidden", AiComponent::UP2DATE);
    hidden->hidden = true;
    const comp_ptr_t shown = makeComponent(build, "shown", AiComponent::UP2DATE);
    shown->hidden = shown->showInstalledHidden = true;
    const comp_ptr_t shownButAbsent = makeComponent(build, "absent", AiComponent::INSTALL, REQ_INSTALL);
    shownButAbsent->hidden = shownButAbsent->showInstalledHidden = true;
    const comp_ptr_t foreign = makeComponent(makeBuild("sitebuilder"), "foreign", AiComponent::UP2DATE);
    auto web = makeRadio(
        build, "web", {makeComponent(build, "apache", AiComponent::UPGRADE), makeComponent(build, "nginx")});
    auto dns = makeRadio(build, "dns", {makeComponent(build, "bind"), makeComponent(build, "pdns")});
    const boost::shared_ptr<Build> sitebuilder = makeBuild("sitebuilder");
    auto foreignRadio =
        makeRadio(sitebuilder, "themes", {makeComponent(sitebuilder, "light", AiComponent::UP2DATE)});
    manager.nodes = {
        installed,
        plain,
        foreign,
        makeSub(build, "extras", {chosen, hidden, shown, shownButAbsent, makeSub(build, "inner", {web})}),
        dns,
        foreignRadio};

    ComponentManager::SelectedCounter counter("moxel");
    manager.accept(counter);
    const auto& counts = counter.getCounts();
    EXPECT_EQ(std::make_pair(1, 1), counts.at("inner"));
    EXPECT_EQ(std::make_pair(3, 3), counts.at("extras"));
    EXPECT_EQ(std::make_pair(4, 6), counts.at(""));
}

TEST_F(PassesTest, UnbalancedGroupEndsAreInternalErrors) {
    const auto group = [&](const std::string& name) { return makeSub(build, name, {}); };
    ComponentManager::SelectedCounter counter("moxel");
    counter.beginSubGroup(group("a"));
    const std::string mismatch = caught([&] { counter.endSubGroup(group("b")); }).text;
    EXPECT_EQ(internal_error("installer/ComponentManager", 1422).getText(), mismatch);

    counter.endSubGroup(group("a"));
    // Ending the product level itself.
    const std::string levelGone = caught([&] { counter.endSubGroup(group("")); }).text;
    EXPECT_EQ(internal_error("installer/ComponentManager", 1426).getText(), levelGone);
    const std::string empty = caught([&] { counter.endSubGroup(group("")); }).text;
    EXPECT_EQ(internal_error("installer/ComponentManager", 1421).getText(), empty);
}

} // namespace
