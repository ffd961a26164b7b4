#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/console/ChangeState.h"
#include "installer/console/DlgComponents.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/console/ConsoleTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using consoletest::Console;
using testsupport::caught;
using testsupport::ErrorFacts;
using testsupport::makeBuild;
using testsupport::makeComponent;

namespace {

constexpr int UP2DATE = AiComponent::UP2DATE;
constexpr int UPGRADE = AiComponent::UPGRADE;
constexpr int INSTALL = AiComponent::INSTALL;
constexpr int NOT_AVAILABLE = AiComponent::NOT_AVAILABLE;

// The components page without its screen.
class ComponentsPage : public DlgComponents {
public:
    using DlgComponents::DlgComponents;
    int run() override { return NEXT; }
};

struct Spec {
    std::string name;
    int status;
    request_mode_t request = REQ_LEAVE;
    std::vector<std::string> requires_ = {};
    bool uninstallSupport = true;
    bool denyImplicitRemoval = false;
    std::vector<std::string> conflicts = {};
    std::vector<std::string> hardwired = {};
};

// One product's tree behind an installed base component, on a build with or without uninstall support.
class Tree {
public:
    Tree(const std::vector<Spec>& specs, bool buildUninstalls = true) : build(makeBuild("moxel")) {
        build->_uninstall_support = buildUninstalls;
        manager.nodes.push_back(makeComponent(build, "base", UP2DATE));
        for (const Spec& spec : specs) {
            comp_ptr_t component = makeComponent(build, spec.name, spec.status, spec.request);
            component->requires = spec.requires_;
            component->uninstallSupport = spec.uninstallSupport;
            component->denyImplicitRemoval = spec.denyImplicitRemoval;
            component->conflicts = spec.conflicts;
            component->hardwired_with = spec.hardwired;
            byName[spec.name] = component;
            manager.nodes.push_back(component);
        }
    }

    void toggle(const std::string& name) {
        ComponentsPage page(&manager);
        page.toggleComponent(byName.at(name));
    }

    request_mode_t mode(const std::string& name) const { return byName.at(name)->requestMode; }

    boost::shared_ptr<Build> build;
    ComponentManager manager;
    std::map<std::string, comp_ptr_t> byName;
};

class ComponentToggleTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(logs.file("installer.log")); }
    testsupport::TempDir logs;
};

// Every (row, mark) of the cycles: the request the toggle leaves, or the error it raises.
TEST_F(ComponentToggleTest, OneToggleFromEveryStateOfEveryRow) {
    const std::string internal265 = internal_error("installer/DlgComponents", 265).getText();
    struct Case {
        const char* what;
        int status;
        request_mode_t before;
        bool buildUninstalls;
        bool componentUninstalls;
        request_mode_t after;
        ErrorFacts failure;
    };
    const Case cases[] = {
        {"row 0 '=' removable", UP2DATE, REQ_LEAVE, true, true, REQ_REMOVE, {}},
        {"row 0 '=' build without uninstall",
         UP2DATE,
         REQ_LEAVE,
         false,
         true,
         REQ_LEAVE,
         {"The component web description is already installed.\n", 2, 1, 1, 1}},
        {"row 0 '=' component without uninstall",
         UP2DATE,
         REQ_LEAVE,
         true,
         false,
         REQ_LEAVE,
         {"The component web description cannot be removed.\n", 2, 1, 1, 1}},
        {"row 0 'X' removable", UP2DATE, REQ_REMOVE, true, true, REQ_LEAVE, {}},
        {"row 0 'X' not removable", UP2DATE, REQ_REMOVE, true, false, REQ_LEAVE, {}},
        {"row 1 '*' removable", UPGRADE, REQ_INSTALL, true, true, REQ_LEAVE, {}},
        {"row 1 '*' not removable", UPGRADE, REQ_INSTALL, false, true, REQ_LEAVE, {}},
        {"row 1 ' ' removable", UPGRADE, REQ_LEAVE, true, true, REQ_REMOVE, {}},
        {"row 1 ' ' not removable", UPGRADE, REQ_LEAVE, true, false, REQ_INSTALL, {}},
        {"row 1 'X' removable", UPGRADE, REQ_REMOVE, true, true, REQ_INSTALL, {}},
        {"row 1 'X' not removable", UPGRADE, REQ_REMOVE, false, true, REQ_INSTALL, {}},
        {"row 2 ' ' removable", INSTALL, REQ_LEAVE, true, true, REQ_INSTALL, {}},
        {"row 2 ' ' not removable", INSTALL, REQ_LEAVE, false, false, REQ_INSTALL, {}},
        {"row 2 '*' removable", INSTALL, REQ_INSTALL, true, true, REQ_LEAVE, {}},
        {"row 2 '*' not removable", INSTALL, REQ_INSTALL, false, false, REQ_LEAVE, {}},
        {"row 2 'X' has no entry", INSTALL, REQ_REMOVE, true, true, REQ_REMOVE, {internal265, 3, 1, 1, 3}},
        {"row 3 '!'",
         NOT_AVAILABLE,
         REQ_LEAVE,
         true,
         true,
         REQ_LEAVE,
         {"The component moxel/web is not available.\n", 1, 1, 1, 2}},
        {"row 3 'X'",
         NOT_AVAILABLE,
         REQ_REMOVE,
         true,
         true,
         REQ_REMOVE,
         {"The component moxel/web is not available.\n", 1, 1, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Console console;
        Tree tree({{"web", c.status, c.before, {}, c.componentUninstalls}}, c.buildUninstalls);
        if (c.failure.text.empty()) {
            tree.toggle("web");
        } else {
            const ErrorFacts raised = caught([&] { tree.toggle("web"); });
            EXPECT_EQ(raised.text, c.failure.text);
            EXPECT_EQ(std::vector<int>({raised.e_class, raised.repeat, raised.system_state, raised.support}),
                      std::vector<int>(
                          {c.failure.e_class, c.failure.repeat, c.failure.system_state, c.failure.support}));
        }
        EXPECT_EQ(tree.mode("web"), c.after);
        // A toggle without consequences asks nothing.
        EXPECT_EQ(console.screen(), "");
    }
}

// The page selects a base component that is not installed yet; an installed one stays as it is.
TEST_F(ComponentToggleTest, PageSelectsTheBaseComponentToInstall) {
    for (const int status : {INSTALL, UP2DATE}) {
        SCOPED_TRACE(status);
        ComponentManager manager;
        manager.nodes.push_back(makeComponent(makeBuild("moxel"), "base", status));
        const ComponentsPage page(&manager);
        EXPECT_EQ(manager.getBaseComponent("")->requestMode, status == INSTALL ? REQ_INSTALL : REQ_LEAVE);
    }
}

TEST_F(ComponentToggleTest, PendingUpdateCyclesThroughItsStates) {
    struct Case {
        bool removable;
        std::vector<char> marks;
    };
    const Case cases[] = {{true, {' ', 'X', '*', ' '}}, {false, {' ', '*', ' ', '*'}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removable);
        Console console;
        Tree tree({{"web", UPGRADE, REQ_INSTALL, {}, c.removable}});
        std::vector<char> marks;
        for (size_t i = 0; i < c.marks.size(); ++i) {
            tree.toggle("web");
            marks.push_back(tree.byName["web"]->getStatusChar());
        }
        EXPECT_EQ(marks, c.marks);
    }
}

TEST_F(ComponentToggleTest, ImpliedChangesAreAskedWithDefaultYes) {
    const std::string question = "\nTo toggle this component state you also need to\n"
                                 "install or upgrade the following components: php, sql\n"
                                 "\nDo you want to do this? [Y/n]: ";
    struct Case {
        const char* answer;
        request_mode_t webmail;
        request_mode_t php;
        std::string screen;
    };
    const Case cases[] = {
        {"\n", REQ_INSTALL, REQ_INSTALL, question},
        {"yes\n", REQ_INSTALL, REQ_INSTALL, question},
        {"n\n", REQ_LEAVE, REQ_LEAVE, question},
        {"maybe\nNo\n", REQ_LEAVE, REQ_LEAVE, question + "Type Y for yes or N for no [Y/n]: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Console console(c.answer);
        Tree tree({{"webmail", INSTALL, REQ_LEAVE, {"php", "sql"}}, {"php", INSTALL}, {"sql", INSTALL}});
        tree.toggle("webmail");
        EXPECT_EQ(tree.mode("webmail"), c.webmail);
        EXPECT_EQ(tree.mode("php"), c.php);
        EXPECT_EQ(tree.mode("sql"), c.php);
        EXPECT_EQ(console.screen(), c.screen);
    }
}

TEST_F(ComponentToggleTest, RemovalsAndDeselectionsAreListedEach) {
    Console console("\n");
    Tree tree({{"php", UP2DATE}, {"roundcube", UP2DATE, REQ_LEAVE, {"php"}}});
    tree.toggle("php");
    EXPECT_EQ(console.screen(), "\nTo toggle this component state you also need to\n"
                                "remove the following components: roundcube\n"
                                "\nDo you want to do this? [Y/n]: ");
    EXPECT_EQ(tree.mode("roundcube"), REQ_REMOVE);

    // Keeping the panel at its installed version holds back the upgrade of its hardwired skins.
    Tree upgrading(
        {{"panel", UPGRADE, REQ_INSTALL, {}, true, false, {}, {"skins"}}, {"skins", UPGRADE, REQ_INSTALL}});
    Console again("\n");
    upgrading.toggle("panel");
    EXPECT_EQ(again.screen(), "\nTo toggle this component state you also need to\n"
                              "deselect the following components: skins\n"
                              "\nDo you want to do this? [Y/n]: ");
    EXPECT_EQ(upgrading.mode("skins"), REQ_LEAVE);
}

TEST_F(ComponentToggleTest, DeniedImplicitRemovalIsRefusedWithAMessage) {
    Console console("\n");
    Tree tree({{"php", UP2DATE}, {"roundcube", UP2DATE, REQ_LEAVE, {"php"}, true, true}});
    tree.toggle("php");
    EXPECT_EQ(
        console.screen(),
        "\n\nTo remove this component or group of components, first you need to remove components that "
        "cannot be implicitly removed: roundcube (roundcube description)\n\n(press Enter to continue) ");
    EXPECT_EQ(tree.mode("php"), REQ_LEAVE);
    EXPECT_EQ(tree.mode("roundcube"), REQ_LEAVE);
}

TEST_F(ComponentToggleTest, ConflictsAreShownEvenWithImplicitChanges) {
    Console console("\n");
    Tree tree({{"php", UP2DATE}, {"roundcube", UP2DATE, REQ_LEAVE, {"php"}}});
    ComponentsChangeset changeset;
    changeset.setMode(tree.byName["php"], REQ_REMOVE);
    changeset.setExplicit(tree.byName["php"]);
    changeset.setMode(tree.byName["roundcube"], REQ_REMOVE);
    changeset.addConflict(tree.byName["roundcube"]);
    EXPECT_FALSE(confirmChangeset(changeset));
    EXPECT_EQ(console.screen(), "\n\nIt is not possible to toggle these components state as it will break "
                                "dependencies for the following components: \nroundcube\n"
                                "Try toggling components one by one instead.\n\n(press Enter to continue) ");
}

TEST_F(ComponentToggleTest, SeveralExplicitChangesAskAboutTheGroup) {
    Console console("n\n");
    Tree tree({{"a", INSTALL, REQ_LEAVE, {"c"}}, {"b", INSTALL}, {"c", INSTALL}});
    ComponentsChangeset changeset;
    for (const char* name : {"a", "b"}) {
        changeset.setMode(tree.byName[name], REQ_INSTALL);
        changeset.setExplicit(tree.byName[name]);
    }
    ASSERT_TRUE(tree.manager.resolveComponents(&changeset));
    EXPECT_FALSE(confirmChangeset(changeset));
    EXPECT_EQ(console.screen(), "\nTo toggle these components state you also need to\n"
                                "install or upgrade the following components: c\n"
                                "\nDo you want to do this? [Y/n]: ");
}

TEST_F(ComponentToggleTest, UnsatisfiableRequestRaisesAndChangesNothing) {
    Console console;
    // Installing postfix brings in its filter and takes out qmail, which the filter needs.
    Tree tree({{"postfix", INSTALL, REQ_LEAVE, {"filter"}, true, false, {"qmail"}},
               {"filter", INSTALL, REQ_LEAVE, {"qmail"}},
               {"qmail", UP2DATE}});
    const ErrorFacts raised = caught([&] { tree.toggle("postfix"); });
    EXPECT_EQ(raised.text, "Unable to change state for moxel/postfix due to inter-component dependencies\n");
    EXPECT_EQ(std::vector<int>({raised.e_class, raised.repeat, raised.system_state, raised.support}),
              std::vector<int>({5, 1, 1, 2}));
    for (const char* name : {"postfix", "filter", "qmail"})
        EXPECT_EQ(tree.mode(name), REQ_LEAVE) << name;
    EXPECT_EQ(console.screen(), "");
}

} // namespace
