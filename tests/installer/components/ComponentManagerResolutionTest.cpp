#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;

namespace {

// One component of a small tree; `group` names the radio group it is an alternative of.
struct Row {
    std::string name;
    int status = AiComponent::INSTALL;
    request_mode_t request = REQ_LEAVE;
    std::vector<std::string> requires_ = {};
    std::vector<std::string> conflicts = {};
    std::vector<std::string> hardwired = {};
    std::string group = "";
    bool denyImplicitRemoval = false;
};

// A one-product tree built from rows: components at the top level, alternatives in radio groups
// whose default children come from the map.
class Tree {
public:
    explicit Tree(const std::vector<Row>& rows, const std::map<std::string, std::string>& defaults = {},
                  const std::string& productId = "moxel")
        : build(makeBuild(productId)) {
        add(rows, defaults);
    }

    void add(const std::vector<Row>& rows, const std::map<std::string, std::string>& defaults = {}) {
        for (const Row& row : rows) {
            comp_ptr_t component = makeComponent(build, row.name, row.status, row.request);
            component->requires = row.requires_;
            component->conflicts = row.conflicts;
            component->hardwired_with = row.hardwired;
            component->denyImplicitRemoval = row.denyImplicitRemoval;
            byName[row.name] = component;
            if (row.group.empty()) {
                manager.nodes.push_back(component);
                continue;
            }
            auto& group = groups[row.group];
            if (!group) {
                const auto found = defaults.find(row.group);
                group = makeRadio(build, row.group, {}, found == defaults.end() ? "" : found->second);
                manager.nodes.push_back(group);
            }
            group->addChild(component);
        }
    }

    comp_ptr_t operator[](const std::string& name) const { return byName.at(name); }

    // Sorted by name: name, the mode mark of the entry and "!" when explicit.
    std::vector<std::string> summary(const ComponentsChangeset& changeset) const {
        std::vector<std::string> lines;
        for (const auto& entry : changeset.getModeMap()) {
            const char marks[] = {'?', '=', '+', '~'};
            std::string line = entry.first->name + marks[entry.second];
            if (changeset.isExplicit(entry.first))
                line += "!";
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    std::map<std::string, request_mode_t> requests() const {
        std::map<std::string, request_mode_t> modes;
        for (const auto& entry : byName)
            modes[entry.first] = entry.second->requestMode;
        return modes;
    }

    boost::shared_ptr<Build> build;
    ComponentManager manager;
    std::map<std::string, comp_ptr_t> byName;
    std::map<std::string, std::shared_ptr<AiRadioGroup>> groups;
};

const int INSTALL = AiComponent::INSTALL;
const int UPGRADE = AiComponent::UPGRADE;
const int UP2DATE = AiComponent::UP2DATE;
const int NOT_AVAILABLE = AiComponent::NOT_AVAILABLE;

class ComponentResolutionTest : public testing::Test {
protected:
    void SetUp() override { Log::open_file(dir.file("installer.log"), true); }
    std::string log() const { return testsupport::readFile(dir.file("installer.log")); }

    testsupport::TempDir dir;
};

// ---------------------------------------------------------------------------------------------------------
// resolveComponents

TEST_F(ComponentResolutionTest, RulesExtendTheChangeset) {
    struct Case {
        const char* what;
        std::vector<Row> tree;
        std::map<std::string, std::string> defaults;
        std::vector<std::pair<std::string, request_mode_t>> asked;
        bool resolved;
        std::vector<std::string> changes;
        std::vector<std::string> conflicts;
    };
    const Case cases[] = {
        {"choosing an alternative removes the installed one, as asked for",
         {{"apache", UP2DATE, REQ_LEAVE, {}, {}, {}, "web"},
          {"nginx", INSTALL, REQ_LEAVE, {}, {}, {}, "web"}},
         {},
         {{"nginx", REQ_INSTALL}},
         true,
         {"apache~!", "nginx+!"},
         {}},
        {"an alternative brought in by a requirement removes the installed one implicitly",
         {{"webmail", INSTALL, REQ_LEAVE, {"nginx"}},
          {"apache", UP2DATE, REQ_LEAVE, {}, {}, {}, "web"},
          {"nginx", INSTALL, REQ_LEAVE, {}, {}, {}, "web"}},
         {},
         {{"webmail", REQ_INSTALL}},
         true,
         {"apache~", "nginx+", "webmail+!"},
         {}},
        {"removing a component removes what requires it",
         {{"php", UP2DATE}, {"roundcube", UP2DATE, REQ_LEAVE, {"php"}}, {"spam", UP2DATE}},
         {},
         {{"php", REQ_REMOVE}},
         true,
         {"php~!", "roundcube~"},
         {}},
        {"removal reaches components that need the removed one only through others",
         {{"php", UP2DATE},
          {"roundcube", UP2DATE, REQ_LEAVE, {"php"}},
          {"plugin", UP2DATE, REQ_LEAVE, {"roundcube"}}},
         {},
         {{"php", REQ_REMOVE}},
         true,
         {"php~!", "plugin~", "roundcube~"},
         {}},
        {"a component that is not installed is not removed along",
         {{"php", UP2DATE}, {"roundcube", INSTALL, REQ_LEAVE, {"php"}}},
         {},
         {{"php", REQ_REMOVE}},
         true,
         {"php~!"},
         {}},
        {"installing a component installs what it requires",
         {{"roundcube", INSTALL, REQ_LEAVE, {"php"}}, {"php", INSTALL}, {"spam", INSTALL}},
         {},
         {{"roundcube", REQ_INSTALL}},
         true,
         {"php+", "roundcube+!"},
         {}},
        {"a required component that is installed already stays as it is",
         {{"roundcube", INSTALL, REQ_LEAVE, {"php"}}, {"php", UPGRADE}},
         {},
         {{"roundcube", REQ_INSTALL}},
         true,
         {"roundcube+!"},
         {}},
        {"an unavailable requirement is no candidate and no conflict",
         {{"roundcube", INSTALL, REQ_LEAVE, {"php"}}, {"php", NOT_AVAILABLE}},
         {},
         {{"roundcube", REQ_INSTALL}},
         true,
         {"roundcube+!"},
         {}},
        {"a requirement on a radio group installs its default alternative",
         {{"webmail", INSTALL, REQ_LEAVE, {"web"}},
          {"apache", INSTALL, REQ_LEAVE, {}, {}, {}, "web"},
          {"nginx", INSTALL, REQ_LEAVE, {}, {}, {}, "web"}},
         {{"web", "nginx"}},
         {{"webmail", REQ_INSTALL}},
         true,
         // An alternative that would not be installed anyway counts as asked to go.
         {"apache~!", "nginx+", "webmail+!"},
         {}},
        {"a requirement on a radio group with an installed alternative changes nothing",
         {{"webmail", INSTALL, REQ_LEAVE, {"web"}},
          {"apache", UP2DATE, REQ_LEAVE, {}, {}, {}, "web"},
          {"nginx", INSTALL, REQ_LEAVE, {}, {}, {}, "web"}},
         {{"web", "nginx"}},
         {{"webmail", REQ_INSTALL}},
         true,
         {"webmail+!"},
         {}},
        {"installing a component removes the installed component it conflicts with",
         {{"postfix", INSTALL, REQ_LEAVE, {}, {"qmail"}}, {"qmail", UP2DATE}},
         {},
         {{"postfix", REQ_INSTALL}},
         true,
         {"postfix+!", "qmail~"},
         {}},
        {"a conflict declared only by the other side counts too",
         {{"postfix", INSTALL}, {"qmail", UP2DATE, REQ_LEAVE, {}, {"postfix"}}},
         {},
         {{"postfix", REQ_INSTALL}},
         true,
         {"postfix+!", "qmail~"},
         {}},
        {"asking for two conflicting components is a conflict",
         {{"postfix", INSTALL, REQ_LEAVE, {}, {"qmail"}}, {"qmail", INSTALL}},
         {},
         {{"postfix", REQ_INSTALL}, {"qmail", REQ_INSTALL}},
         false,
         {"postfix+!", "qmail+!"},
         {"postfix", "qmail"}},
        {"installing a component while removing what it requires is a conflict",
         {{"roundcube", INSTALL, REQ_LEAVE, {"php"}}, {"php", UP2DATE}},
         {},
         {{"roundcube", REQ_INSTALL}, {"php", REQ_REMOVE}},
         false,
         {"php~!", "roundcube+!"},
         {"php", "roundcube"}},
        {"upgrading a component upgrades an older partner hardwired to it",
         {{"panel", UPGRADE, REQ_LEAVE, {}, {}, {"skins"}}, {"skins", UPGRADE}},
         {},
         {{"skins", REQ_INSTALL}},
         true,
         {"panel+", "skins+!"},
         {}},
        {"keeping a component older holds back an upgradable hardwired partner",
         {{"panel", UPGRADE, REQ_LEAVE, {}, {}, {"skins"}}, {"skins", UPGRADE, REQ_INSTALL}},
         {},
         {{"panel", REQ_LEAVE}},
         true,
         {"panel=!", "skins="},
         {}},
        {"keeping a component older takes out a hardwired partner that would be new",
         {{"panel", UPGRADE, REQ_LEAVE, {}, {}, {"skins"}}, {"skins", INSTALL, REQ_INSTALL}},
         {},
         {{"panel", REQ_LEAVE}},
         true,
         {"panel=!", "skins~"},
         {}},
        {"an empty changeset resolves", {{"php", UP2DATE}}, {}, {}, true, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree(c.tree, c.defaults);
        const auto before = tree.requests();
        ComponentsChangeset changeset;
        for (const auto& request : c.asked)
            changeset.setMode(tree[request.first], request.second);

        EXPECT_EQ(c.resolved, tree.manager.resolveComponents(&changeset));
        EXPECT_EQ(c.changes, tree.summary(changeset));
        EXPECT_EQ(c.conflicts, changeset.getConflictNames());
        EXPECT_EQ(before, tree.requests()) << "resolution must not change the tree";
    }
}

TEST_F(ComponentResolutionTest, RelationsStayWithinAProduct) {
    Tree moxel({{"webmail", INSTALL, REQ_LEAVE, {"php"}, {"nginx"}}}, {}, "moxel");
    Tree builder({{"php", INSTALL}, {"nginx", UP2DATE}}, {}, "sitebuilder");
    moxel.manager.nodes.insert(moxel.manager.nodes.end(), builder.manager.nodes.begin(),
                               builder.manager.nodes.end());
    ComponentsChangeset changeset;
    changeset.setMode(moxel["webmail"], REQ_INSTALL);
    EXPECT_TRUE(moxel.manager.resolveComponents(&changeset));
    EXPECT_THAT(moxel.summary(changeset), ElementsAre("webmail+!"));
}

TEST_F(ComponentResolutionTest, TwoAlternativesAskedTogetherKeepTheFirstExamined) {
    Tree tree({{"apache", INSTALL, REQ_LEAVE, {}, {}, {}, "web"},
               {"nginx", INSTALL, REQ_LEAVE, {}, {}, {}, "web"}});
    ComponentsChangeset changeset;
    changeset.setMode(tree["apache"], REQ_INSTALL);
    changeset.setMode(tree["nginx"], REQ_INSTALL);
    // The changeset's own order decides which one is examined first.
    const comp_cptr_t first = changeset.getModeMap().begin()->first;
    const comp_cptr_t second = std::next(changeset.getModeMap().begin())->first;

    EXPECT_TRUE(tree.manager.resolveComponents(&changeset));
    EXPECT_EQ(REQ_INSTALL, changeset.getMode(first));
    EXPECT_EQ(REQ_REMOVE, changeset.getMode(second));
    EXPECT_TRUE(changeset.isExplicit(second));
    EXPECT_THAT(changeset.getConflictNames(), IsEmpty());
}

TEST_F(ComponentResolutionTest, ConflictIsLoggedWithBothSidesAndTheCause) {
    Tree tree({{"postfix", INSTALL, REQ_LEAVE, {}, {"qmail"}}, {"qmail", INSTALL}});
    ComponentsChangeset changeset;
    changeset.setMode(tree["postfix"], REQ_INSTALL);
    changeset.setMode(tree["qmail"], REQ_INSTALL);

    EXPECT_FALSE(tree.manager.resolveComponents(&changeset));
    const std::string text = log();
    EXPECT_THAT(text, HasSubstr("Warning: found inter-component dependencies conflict between '"));
    EXPECT_THAT(text, HasSubstr("'postfix' (will be installed: 1, request = REQ_INSTALL)"));
    EXPECT_THAT(text, HasSubstr("'qmail' (will be installed: 1, request = REQ_INSTALL)"));
    EXPECT_THAT(text, HasSubstr(") while trying to resolve REQ_INSTALL of component '"));
    EXPECT_THAT(text, HasSubstr("' and 1 more change(s)"));
}

TEST_F(ComponentResolutionTest, NullChangesetIsAnError) {
    Tree tree({{"php", UP2DATE}});
    const auto facts = caught([&] { tree.manager.resolveComponents(nullptr); });
    EXPECT_THAT(facts.text, HasSubstr("Try of use NULL pointer"));
}

// ---------------------------------------------------------------------------------------------------------
// Applying

TEST_F(ComponentResolutionTest, ResolveAndApplySetsTheRequestModesOfTheTree) {
    Tree tree({{"roundcube", INSTALL, REQ_LEAVE, {"php"}},
               {"php", INSTALL},
               {"qmail", UP2DATE},
               {"postfix", INSTALL, REQ_LEAVE, {}, {"qmail"}},
               {"spam", UP2DATE, REQ_INSTALL}});
    ComponentsChangeset changeset;
    changeset.setMode(tree["roundcube"], REQ_INSTALL);
    changeset.setMode(tree["postfix"], REQ_INSTALL);
    changeset.setMode(tree["spam"], REQ_LEAVE);

    tree.manager.resolveAndApply(&changeset);
    EXPECT_EQ(REQ_INSTALL, tree["roundcube"]->requestMode);
    EXPECT_EQ(REQ_INSTALL, tree["php"]->requestMode);
    EXPECT_EQ(REQ_INSTALL, tree["postfix"]->requestMode);
    EXPECT_EQ(REQ_REMOVE, tree["qmail"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, tree["spam"]->requestMode);
}

TEST_F(ComponentResolutionTest, ResolveAndApplyRaisesOnConflictAndLeavesTheTree) {
    Tree tree({{"postfix", INSTALL, REQ_LEAVE, {}, {"qmail"}}, {"qmail", INSTALL}});
    ComponentsChangeset changeset;
    changeset.setMode(tree["postfix"], REQ_INSTALL);
    changeset.setMode(tree["qmail"], REQ_INSTALL);

    const auto facts = caught([&] { tree.manager.resolveAndApply(&changeset); });
    EXPECT_EQ(5, facts.e_class);
    EXPECT_EQ(1, facts.repeat);
    EXPECT_EQ(1, facts.system_state);
    EXPECT_EQ(2, facts.support);
    EXPECT_EQ("Unable to resolve components request mode changeset due to inter-component dependencies. "
              "You possibly need to remove some of the conflicting components. Check '" +
                  Log::get_file_name() + "' for more details.\n",
              facts.text);
    EXPECT_THAT(changeset.getConflictNames(), ElementsAre("postfix", "qmail"));
    EXPECT_EQ(REQ_LEAVE, tree["postfix"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, tree["qmail"]->requestMode);
}

TEST_F(ComponentResolutionTest, ChangeComponentStateAppliesTheResolvedChange) {
    Tree tree({{"php", UP2DATE}, {"roundcube", UP2DATE, REQ_LEAVE, {"php"}}, {"spam", UP2DATE}});
    tree.manager.changeComponentState(tree["php"], REQ_REMOVE);
    EXPECT_EQ(REQ_REMOVE, tree["php"]->requestMode);
    EXPECT_EQ(REQ_REMOVE, tree["roundcube"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, tree["spam"]->requestMode);
}

TEST_F(ComponentResolutionTest, ChangeComponentStateRaisesOnConflict) {
    // Installing it removes the conflicting component that it also requires.
    Tree tree({{"webmail", INSTALL, REQ_LEAVE, {"php"}, {"php"}}, {"php", UP2DATE}});
    const auto facts = caught([&] { tree.manager.changeComponentState(tree["webmail"], REQ_INSTALL); });
    EXPECT_EQ(5, facts.e_class);
    EXPECT_EQ(2, facts.support);
    EXPECT_EQ("Unable to change state for moxel/webmail due to inter-component dependencies. Check '" +
                  Log::get_file_name() + "' for more details.\n",
              facts.text);
    EXPECT_EQ(REQ_LEAVE, tree["webmail"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, tree["php"]->requestMode);
}

TEST_F(ComponentResolutionTest, SetRequestModesAppliesEveryModeThroughTheRequests) {
    Tree tree({{"old", UP2DATE},
               {"fresh", INSTALL},
               {"current", UP2DATE},
               {"absent", INSTALL},
               {"kept", UPGRADE, REQ_INSTALL},
               {"untouched", UPGRADE, REQ_INSTALL}});
    ComponentsChangeset changeset;
    changeset.setMode(tree["old"], REQ_REMOVE);
    changeset.setMode(tree["fresh"], REQ_INSTALL);
    changeset.setMode(tree["current"], REQ_INSTALL); // up to date: left as it is
    changeset.setMode(tree["absent"], REQ_REMOVE);   // not installed: left as it is
    changeset.setMode(tree["kept"], REQ_LEAVE);

    tree.manager.setRequestModes(changeset);
    EXPECT_EQ((std::map<std::string, request_mode_t>{{"absent", REQ_LEAVE},
                                                     {"current", REQ_LEAVE},
                                                     {"fresh", REQ_INSTALL},
                                                     {"kept", REQ_LEAVE},
                                                     {"old", REQ_REMOVE},
                                                     {"untouched", REQ_INSTALL}}),
              tree.requests());
}

TEST_F(ComponentResolutionTest, SetRequestModesKeepsEachProductToItsOwnComponents) {
    Tree moxel({{"webmail", INSTALL}, {"spam", UP2DATE}}, {}, "moxel");
    Tree builder({{"webmail", UP2DATE}, {"spam", INSTALL}}, {}, "sitebuilder");
    moxel.manager.nodes.insert(moxel.manager.nodes.end(), builder.manager.nodes.begin(),
                               builder.manager.nodes.end());
    ComponentsChangeset changeset;
    changeset.setMode(moxel["webmail"], REQ_INSTALL);
    changeset.setMode(builder["webmail"], REQ_REMOVE);

    moxel.manager.setRequestModes(changeset);
    EXPECT_EQ(REQ_INSTALL, moxel["webmail"]->requestMode);
    EXPECT_EQ(REQ_REMOVE, builder["webmail"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, moxel["spam"]->requestMode);
    EXPECT_EQ(REQ_LEAVE, builder["spam"]->requestMode);
}

TEST_F(ComponentResolutionTest, SetRequestModesOfAnEmptyChangesetDoesNothing) {
    Tree tree({{"php", UP2DATE, REQ_REMOVE}, {"spam", INSTALL, REQ_INSTALL}});
    tree.manager.setRequestModes(ComponentsChangeset());
    EXPECT_EQ(REQ_REMOVE, tree["php"]->requestMode);
    EXPECT_EQ(REQ_INSTALL, tree["spam"]->requestMode);
}

TEST_F(ComponentResolutionTest, SetRequestModesLetsRequestErrorsThrough) {
    Tree tree({{"base", UP2DATE}});
    tree["base"]->required = true;
    ComponentsChangeset changeset;
    changeset.setMode(tree["base"], REQ_REMOVE);
    const auto facts = caught([&] { tree.manager.setRequestModes(changeset); });
    EXPECT_EQ(2, facts.e_class);
    EXPECT_THAT(facts.text, HasSubstr("moxel/base"));
    EXPECT_EQ(REQ_LEAVE, tree["base"]->requestMode);
}

// ---------------------------------------------------------------------------------------------------------
// Components the package resolver drags in or out

class ComponentsDraggedAlongTest : public ComponentResolutionTest {
protected:
    Package* make(const std::string& name, Package::type_t type) {
        owned.push_back(std::make_unique<Package>(name, "1.0-1"));
        owned.back()->setType(type);
        owned.back()->setArch("x86_64");
        return owned.back().get();
    }
    Component::keypackages_t keys(const std::vector<std::string>& names) {
        Component::keypackages_t section;
        section.keypackages = names;
        return section;
    }

    std::vector<std::unique_ptr<Package>> owned;
};

TEST_F(ComponentsDraggedAlongTest, NeedAlsoInstallNamesTheOwnersOfPlannedBuildPackages) {
    Tree tree(
        {{"webmail", INSTALL, REQ_INSTALL}, {"spam", INSTALL}, {"antivirus", INSTALL}, {"dns", UP2DATE}});
    tree["webmail"]->packages = {make("roundcube", 'b'), make("php-common", 'b')};
    tree["spam"]->packages = {make("spamd", 'b'), make("php-common", 'b')};
    tree["antivirus"]->keyPackageSets = {keys({"/opt/av/clamd"})};
    tree["dns"]->packages = {make("spamd", 'b')}; // a later component takes the name over

    const cpkgs_t planned = {make("roundcube", 'b'), make("php-common", 'b'), make("spamd", 'b'),
                             make("clamd", 'b'),     make("unowned", 'b'),    make("spamd", 'u')};
    EXPECT_THAT(tree.manager.needAlsoInstall(planned), ElementsAre("antivirus", "dns"));
    EXPECT_THAT(log(),
                HasSubstr("The following packages from not selected components will be installed because "
                          "they are required by other components' packages you selected for installation:  "
                          "'spamd' 'clamd'"));
    EXPECT_THAT(tree.manager.needAlsoInstall({make("roundcube", 'b'), make("unowned", 'b')}), IsEmpty());
}

TEST_F(ComponentsDraggedAlongTest, NeedAlsoRemoveNamesInstalledOwnersOfObsoletedKeyPackages) {
    Tree tree({{"mail", UP2DATE},
               {"dns", UPGRADE, REQ_LEAVE, {}, {}, {}, "", true},
               {"leaving", UP2DATE, REQ_REMOVE},
               {"absent", INSTALL},
               {"web", UP2DATE}});
    tree["mail"]->keyPackageSets = {keys({"postfix"})};
    tree["dns"]->keyPackageSets = {keys({"bind9"})};
    tree["leaving"]->keyPackageSets = {keys({"spamd"})};
    tree["absent"]->keyPackageSets = {keys({"clamd"})};
    tree["web"]->keyPackageSets = {keys({"nginx"})};

    Repository repository;
    for (const char* name : {"postfix", "bind9", "spamd", "clamd", "nginx"})
        repository.addPackage(make(name, 's'), nullptr);
    const Package* postfix = repository.addRemoverFor("postfix");
    const Package* bind9 = repository.addRemoverFor("bind9");
    const Package* spamd = repository.addRemoverFor("spamd");
    const Package* clamd = repository.addRemoverFor("clamd");
    const Package* nginx = make("nginx", 'b'); // not a remover

    struct Case {
        const char* what;
        cpkgs_t planned;
        bool askDenied;
        std::vector<std::string> components;
        bool denied;
    };
    const Case cases[] = {
        {"plain removal", {postfix, nginx}, true, {"mail"}, false},
        {"a denied removal hides the others", {postfix, bind9}, true, {"dns"}, true},
        {"without asking, every affected component", {postfix, bind9}, false, {"dns", "mail"}, false},
        {"components marked for removal or not installed do not count", {spamd, clamd}, true, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool denied = !c.denied;
        const auto result =
            tree.manager.needAlsoRemove(c.planned, &repository, c.askDenied ? &denied : nullptr);
        std::vector<std::string> names;
        for (const comp_cptr_t& component : result)
            names.push_back(component->name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(c.components, names);
        if (c.askDenied) {
            EXPECT_EQ(c.denied, denied);
        }
    }
}

TEST_F(ComponentsDraggedAlongTest, NeedAlsoRemoveFollowsObsoletesTheRepositoryDoesNotList) {
    Tree tree({{"mail", UP2DATE}});
    tree["mail"]->keyPackageSets = {keys({"postfix"})};
    Repository repository; // postfix is not listed: only the remover's own entry names it
    const Package* remover = repository.addRemoverFor("postfix");
    const auto result = tree.manager.needAlsoRemove({remover}, &repository, nullptr);
    ASSERT_EQ(1u, result.size());
    EXPECT_EQ("mail", result.front()->name);
}

} // namespace
