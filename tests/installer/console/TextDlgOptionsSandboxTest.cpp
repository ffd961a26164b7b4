// The component settings page. The settings manager saves options.ini under root's home directory,
// which the sandbox keeps private.

#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamManager.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamStatic.h"
#include "installer/components/ParamString.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgOptions.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/console/ConsoleTestSupport.h"
#include "tests/support/DebugLog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using consoletest::Console;
using consoletest::golden;
using testsupport::makeBuild;
using testsupport::makeComponent;

namespace {

class OptionsPageTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(logs.file("installer.log")); }

    // A component to be installed.
    comp_ptr_t component(const std::string& product) {
        return makeComponent(makeBuild(product), product, AiComponent::INSTALL, REQ_INSTALL);
    }

    template <typename T, typename... Args>
    std::shared_ptr<T> add(const comp_ptr_t& owner, const std::string& id, const std::string& name,
                           Args... args) {
        auto param = std::make_shared<T>(owner, id, args...);
        param->setTexts(name, name + " description", name + " is not valid");
        params.topLevelParams.push_back(param);
        return param;
    }

    int runPage(const std::string& input, std::string& screen) {
        const std::unique_ptr<DlgOptions> page = DlgMaker::create()->options(&params, nullptr);
        Console console(input);
        const int result = page->run();
        screen = console.screen();
        return result;
    }

    testsupport::TempDir logs;
    ParamManager params;
};

// Every kind of setting, asked with nothing defined yet: refused answers are asked again, and R at a
// component's confirmation starts that component over, numbered 1 again.
TEST_F(OptionsPageTest, EveryKindOfSettingIsAskedComponentByComponent) {
    const comp_ptr_t mail = component("mail");
    auto engine = add<ParamEnum>(mail, "engine", "Engine");
    engine->setChoices({{"postfix", "Postfix"}, {"exim", "Exim"}, {"sendmail", "Sendmail"}});
    engine->setDefault("exim");
    auto ssl = add<ParamBool>(mail, "ssl", "SSL");
    ssl->setDefault("true");
    auto limits = add<ParamGroup>(mail, "__SUBGROUP", "Limits");
    auto size = std::make_shared<ParamInteger>(mail, "size", "1", "100");
    size->setTexts("Size", "Size description", "Size must be a number from 1 to 100");
    limits->addToBranch("", size);
    auto secret = add<ParamPassword>(mail, "secret", "Secret", "3", "", "", "");
    auto version = add<ParamStatic>(mail, "version", "Version");
    version->setDefault("3.0");
    auto token = add<ParamHidden>(mail, "token", "Token");
    token->setDefault("t0k3n");
    auto domain = add<ParamString>(mail, "domain", "Domain", "", "", "");
    domain->setDefault("example.com");
    const comp_ptr_t web = component("web");
    auto docroot = add<ParamString>(web, "docroot", "Docroot", "1", "", "");

    std::string screen;
    const std::string mailAnswers =
        std::string("0\n4\nx\n\n") +                        // engine: refused thrice, then the marked one
        "maybe\nno\n" +                                     // ssl: refused, then no
        "many\n10\n" +                                      // size: refused, then 10
        "pw1\npw1\n" +                                      // secret, twice
        "\n" +                                              // domain keeps its default
        "x\nf\n";                                           // confirmation: refused, then forward
    const std::string webAnswers = "/srv/a\nr\n/srv/b\n\n"; // docroot, redone, then forward
    EXPECT_EQ(runPage("F\n" + mailAnswers + webAnswers, screen), Dialog::NEXT);
    EXPECT_EQ(screen, golden("options-every-kind.txt", screen));
    EXPECT_EQ(engine->getValue(), "exim");
    EXPECT_EQ(ssl->getValue(), "false");
    EXPECT_EQ(size->getValue(), "10");
    EXPECT_EQ(secret->getValue(), "pw1");
    EXPECT_EQ(version->getValue(), "3.0");
    EXPECT_EQ(token->getValue(), "t0k3n");
    EXPECT_EQ(domain->getValue(), "example.com");
    EXPECT_EQ(docroot->getValue(), "/srv/b");
}

// The keys of the page by how many components have valid settings.
TEST_F(OptionsPageTest, KeysFollowHowManyComponentsAreDefined) {
    const comp_ptr_t mail = component("mail");
    auto name = add<ParamString>(mail, "name", "Name", "", "", "");
    const comp_ptr_t web = component("web");
    auto port = add<ParamInteger>(web, "port", "Port", "1", "65535");
    ASSERT_TRUE(name->setValue("mx"));

    struct Case {
        const char* what;
        std::string input;
        int result;
        const char* hint;
        std::string askedPort;
    };
    const Case cases[] = {
        // Some defined: U asks (only the undefined port), R is refused.
        {"some defined, U", "r\nu\n8080\n\n", Dialog::NEXT, " [F/u/b/q]: ", "8080"},
        // Every one defined: F goes on without a question, U is refused.
        {"all defined, F", "u\nF\n", Dialog::NEXT, " [F/r/b/q]: ", "8080"},
        // Every one defined: R asks both again.
        {"all defined, R", "R\n\n\n8081\n\n", Dialog::NEXT, " [F/r/b/q]: ", "8081"},
        {"back", "b\n", Dialog::BACK, " [F/r/b/q]: ", "8081"},
        {"quit", "q\n", Dialog::QUIT, " [F/r/b/q]: ", "8081"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string screen;
        EXPECT_EQ(runPage(c.input, screen), c.result);
        EXPECT_NE(screen.find(c.hint), std::string::npos) << screen;
        EXPECT_EQ(port->getValue(), c.askedPort);
        EXPECT_EQ(name->getValue(), "mx");
    }
}

} // namespace
