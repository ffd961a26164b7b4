#include "installer/web/BackendProtocol.h"

#include "installer/components/ComponentManager.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamManager.h"
#include "installer/components/ParamString.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/web/BackendAnswers.h"
#include "tests/support/DebugLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using testsupport::makeBuild;
using testsupport::makeComponent;
using webtest::answerText;
using webtest::golden;
using webtest::raised;
using webtest::Request;

namespace {

// The settings manager saves options.ini into root's home directory when it goes, which the sandbox
// keeps private.
class BackendProtocolSettingsSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        moxel = makeBuild("moxel");
        base = makeComponent(moxel, "base", AiComponent::INSTALL, REQ_INSTALL);
        webmail = makeComponent(moxel, "webmail", AiComponent::INSTALL, REQ_INSTALL);
        protocol.reset();
    }

    template <typename T, typename... Args>
    std::shared_ptr<T> make(const comp_ptr_t& owner, const std::string& id, const std::string& name,
                            Args... args) {
        auto param = std::make_shared<T>(owner, id, args...);
        param->setTexts(name, name + " <described> & \"quoted\"", "Bad " + name);
        return param;
    }

    std::shared_ptr<ParamString> text(const comp_ptr_t& owner, const std::string& id) {
        return make<ParamString>(owner, id, id, "", "8", "");
    }

    template <typename T> std::shared_ptr<T> top(const std::shared_ptr<T>& param) {
        manager.topLevelParams.push_back(param);
        return param;
    }

    testsupport::TempDir logs;
    boost::shared_ptr<Build> moxel;
    comp_ptr_t base, webmail;
    ParamManager manager;
    BackendProtocol protocol{false};
};

TEST_F(BackendProtocolSettingsSandboxTest, SettingsAnswerNestsBranchesAndGroups) {
    auto admin = top(text(base, "admin"));
    admin->setDefault("root");
    // A boolean without a value lists the settings of both its branches.
    auto ssl = top(make<ParamBool>(base, "ssl", "SSL"));
    ssl->addToBranch("true", text(base, "cert"));
    ssl->addToBranch("false", make<ParamInteger>(base, "http_port", "HTTP port", "", ""));
    // An enum with a value lists only the branch of its value.
    auto db = top(make<ParamEnum>(base, "db", "Database"));
    db->setChoices({{"mysql", "MySQL"}, {"postgres", "PostgreSQL & co"}});
    db->addToBranch("mysql", text(base, "mysql_socket"));
    auto pgPort = text(base, "pg_port");
    db->addToBranch("postgres", pgPort);
    ASSERT_TRUE(db->setValue("postgres"));
    ASSERT_TRUE(pgPort->setValue("5432"));
    // Two sibling groups each receive their own settings.
    auto limits = top(make<ParamGroup>(base, "limits", "Limits"));
    limits->addToBranch("", text(base, "max_mail"));
    limits->addToBranch("", text(base, "max_sites"));
    auto backup = top(make<ParamGroup>(base, "backup", "Backup"));
    backup->addToBranch("", text(base, "backup_dir"));
    // Declared by two components: written under the product itself.
    auto shared = top(text(base, "domain"));
    shared->ownerComponents.push_back(webmail);
    top(text(webmail, "imap_host"));
    // Not to be installed: left out.
    top(text(makeComponent(moxel, "spare", AiComponent::INSTALL, REQ_LEAVE), "spare_setting"));

    protocol.sendComponentParams(&manager);
    EXPECT_EQ(answerText(protocol), golden("settings.xml", answerText(protocol)));
}

TEST_F(BackendProtocolSettingsSandboxTest, RejectedValuesShowTheTextAndTheError) {
    auto theme = top(make<ParamEnum>(base, "theme", "Theme"));
    theme->setChoices({{"light", "Light"}, {"dark", "Dark"}});
    ASSERT_TRUE(theme->setValue("dark"));
    EXPECT_FALSE(theme->setValue("neon \"glow\" & <b>"));
    auto nick = top(text(base, "nick"));
    EXPECT_FALSE(nick->setValue("far too long"));
    top(text(base, "never_set"));

    protocol.sendComponentParams(&manager);
    EXPECT_EQ(answerText(protocol), golden("settings-bad-values.xml", answerText(protocol)));
}

TEST_F(BackendProtocolSettingsSandboxTest, EmptyAnswersAndTreeFaults) {
    protocol.sendComponentParams(&manager);
    EXPECT_THAT(answerText(protocol), HasSubstr("<dizadizezeroz status=\"ok\">\n  <products />"));
    EXPECT_THAT(raised([&] { protocol.sendComponentParams(nullptr); }),
                HasSubstr("installer/BackendProtocol, line 941."));

    // A branch that names no choice cannot be placed.
    auto mode = top(make<ParamEnum>(base, "mode", "Mode"));
    mode->setChoices({{"a", "A"}});
    mode->addToBranch("b", text(base, "nested"));
    protocol.reset();
    EXPECT_EQ(raised([&] { protocol.sendComponentParams(&manager); }),
              "3 in iterate tag stack: can't find node <choice[id]='b'>\n");
}

TEST_F(BackendProtocolSettingsSandboxTest, SubmittedValuesAreReadWhole) {
    const std::string longValue(5000, 'v');
    const Request request(
        "<request><command value=\"set_component_params\"/><products>"
        "<product id=\"moxel\"><settings>"
        "<setting id=\"admin\" value=\"first\"/>"
        "<setting id=\"admin\" value=\"a &amp; &quot;b&quot; &lt;c&gt; caf\xC3\xA9\"/>"
        "<setting id=\"" +
        std::string(200, 'i') + "\" value=\"" + longValue +
        "\"/>"
        "<setting id=\"empty\"/><group><setting id=\"nested\" value=\"x\"/></group>"
        "</settings></product>"
        "<product id=\"moxel\"><settings><setting id=\"other\" value=\"2\"/></settings></product>"
        "<product><settings/></product></products></request>");
    const ParamManager::values_t values = protocol.parseComponentParams(request.root());
    const ParamManager::values_t expected = {
        {"", {}},
        {"moxel",
         {{"admin", "a & \"b\" <c> caf\xC3\xA9"},
          {std::string(200, 'i'), longValue},
          {"empty", ""},
          {"other", "2"}}},
    };
    EXPECT_EQ(values, expected);

    struct Case {
        std::string request;
        std::string expected;
    };
    const Case cases[] = {
        {"<request/>", "line 1069."},
        {"<request><products><product id=\"moxel\"/></products></request>", "line 1079."},
    };
    for (const Case& c : cases)
        EXPECT_THAT(raised([&] { protocol.parseComponentParams(Request(c.request).root()); }),
                    HasSubstr(c.expected));
    EXPECT_TRUE(protocol.parseComponentParams(Request("<request><products/></request>").root()).empty());
}

} // namespace
