#include "common/runtime/Messages.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/console/DlgComponents.h"
#include "installer/console/DlgMaker.h"
#include "tests/installer/catalogue/ReleaseTestSupport.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/console/ConsoleTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using consoletest::Console;
using consoletest::golden;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::makeSub;

namespace {

constexpr int UP2DATE = AiComponent::UP2DATE;
constexpr int UPGRADE = AiComponent::UPGRADE;
constexpr int INSTALL = AiComponent::INSTALL;

// The components page over Mail Server (m1) and Web Server (w20), both selected.
class ComponentsPageTest : public releasetest::ReleaseCatalogueTest {
protected:
    void SetUp() override {
        ReleaseCatalogueTest::SetUp();
        using cataloguetest::build;
        using cataloguetest::productFile;
        using cataloguetest::release;
        put("products.inf3",
            cataloguetest::productsList("<product id=\"mail\" name=\"Mail Server\" reference=\"mail.inf3\"/>"
                                        "<product id=\"web\" name=\"Web Server\" reference=\"web.inf3\"/>"));
        put("mail.inf3", productFile(release("m1", "3.0", build("m1.xml")), "mail"));
        put("web.inf3", productFile(release("w20", "2.0", build("w20.xml")), "web"));
        catalogue = load();
        for (const auto& r : catalogue->_releases)
            r->_selected = true;
    }

    comp_ptr_t add(nodes_t& nodes, const boost::shared_ptr<Build>& build, const std::string& name, int status,
                   request_mode_t request = REQ_LEAVE) {
        comp_ptr_t component = makeComponent(build, name, status, request);
        nodes.push_back(component);
        return component;
    }

    // Mail Server: a required base, a radio group of two engines, a sub-group holding an upgradable
    // component and a nested sub-group, and hidden components of which one is shown as installed.
    // Web Server: one component.
    void buildTrees() {
        const boost::shared_ptr<Build> mail = makeBuild("mail");
        add(tree.nodes, mail, "base", UP2DATE)->required = true;
        add(tree.nodes, mail, "antispam", INSTALL);
        add(tree.nodes, mail, "secret", INSTALL)->hidden = true;
        comp_ptr_t legacy = add(tree.nodes, mail, "legacy", UP2DATE);
        legacy->hidden = true;
        legacy->showInstalledHidden = true;
        tree.nodes.push_back(makeRadio(
            mail, "engine", {makeComponent(mail, "postfix", UP2DATE), makeComponent(mail, "exim", INSTALL)}));
        nodes_t plugins;
        add(plugins, mail, "calendar", INSTALL);
        add(plugins, mail, "internal", INSTALL)->hidden = true;
        nodes_t webmail;
        add(webmail, mail, "roundcube", UPGRADE);
        webmail.push_back(makeSub(mail, "plugins", plugins));
        tree.nodes.push_back(makeSub(mail, "webmail", webmail));
        add(tree.nodes, makeBuild("web"), "apache", INSTALL);
    }

    int runPage(DlgComponents& page, const std::string& input, std::string& screen) const {
        Console console(input);
        const int result = page.run();
        screen = console.screen();
        return result;
    }

    std::unique_ptr<BuildManager> catalogue;
    ComponentManager tree;
};

TEST_F(ComponentsPageTest, TwoProductsNestedGroupsRadioGroupsAndUpgrades) {
    buildTrees();
    const std::unique_ptr<DlgComponents> page = DlgMaker::create()->components(&tree, catalogue.get());
    page->productIds = {"mail", "web"};
    std::string screen;
    // 4 toggles antispam, 8 opens webmail, F there only retries, 2 opens plugins, B twice returns,
    // 2 shows Web Server, F goes forward.
    EXPECT_EQ(runPage(*page, "4\n8\nf\n2\nb\nb\n2\nF\n", screen), Dialog::NEXT);
    EXPECT_EQ(screen, golden("components-two-products.txt", screen));
}

TEST_F(ComponentsPageTest, OneProductSelectAllAndDeselectAllInASubGroup) {
    buildTrees();
    const std::unique_ptr<DlgComponents> page = DlgMaker::create()->components(&tree, catalogue.get());
    page->productIds = {"mail"};
    std::string screen;
    // 6 opens webmail, A selects it all, D deselects it all, Q quits.
    EXPECT_EQ(runPage(*page, "6\na\nd\nq\n", screen), Dialog::QUIT);
    EXPECT_EQ(screen, golden("components-one-product.txt", screen));
}

// Pages that cannot go on: nothing to change, nothing chosen, a change the tree refuses. The trees hold
// an installed base component and components "web" and "mail" of these states.
TEST_F(ComponentsPageTest, PagesThatCannotGoOn) {
    const std::string installed = Messages().getMessage("components_allready_installed");
    struct Case {
        const char* what;
        int web;
        int mail;
        std::string input;
        std::string shown;
    };
    const Case cases[] = {
        {"everything installed, nothing removable", UP2DATE, UP2DATE, "", "\n" + installed + "\n"},
        {"forward with nothing chosen", INSTALL, INSTALL, "F\n\nq\n",
         Messages().getMessage("components_atleast_one")},
        {"removal the build refuses", UP2DATE, INSTALL, "2\n\nq\n",
         "\n\nThe component web description is already installed.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const boost::shared_ptr<Build> build = makeBuild("web");
        ComponentManager components;
        for (const auto& node : {makeComponent(build, "base", UP2DATE), makeComponent(build, "web", c.web),
                                 makeComponent(build, "mail", c.mail)})
            components.nodes.push_back(node);
        const std::unique_ptr<DlgComponents> page =
            DlgMaker::create()->components(&components, catalogue.get());
        page->productIds = {"web"};
        std::string screen;
        EXPECT_EQ(runPage(*page, c.input, screen), Dialog::QUIT);
        EXPECT_NE(screen.find(c.shown), std::string::npos) << screen;
    }
}

} // namespace
