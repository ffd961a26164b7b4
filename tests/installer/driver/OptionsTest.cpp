#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using testsupport::caught;
using testsupport::ErrorFacts;

std::string line(const std::string& text) {
    return text + "\n";
}

// ---------------------------------------------------------------------------------------------------------
// The line syntax shared by the rc file, options.ini and --set-option

struct RcLineCase {
    const char* input;
    const char* name;
    const char* value;
};

class RcLineParses : public ::testing::TestWithParam<RcLineCase> {};

TEST_P(RcLineParses, YieldsNameAndValue) {
    std::istringstream in(GetParam().input);
    std::string name = "stale", value = "stale";
    ASSERT_TRUE(Options::parseRcLine(in, name, value));
    EXPECT_EQ(name, GetParam().name);
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RcLineParses,
    ::testing::Values(RcLineCase{"KEY=value", "KEY", "value"},
                      RcLineCase{"  \tPROXY_HOST  =  proxy.example   # the proxy", "PROXY_HOST",
                                 "proxy.example"},
                      RcLineCase{"a1_b=x", "a1_b", "x"}, RcLineCase{"K=\"two words\"", "K", "two words"},
                      RcLineCase{"K=two   words  ", "K", "two   words"},
                      RcLineCase{"K=\"say \\\"hi\\\" \\\\ now\"", "K", "say \"hi\" \\ now"},
                      RcLineCase{"K=\"a # b\" # comment", "K", "a # b"},
                      RcLineCase{"K=\"ab\"cd \"e f\"", "K", "abcd e f"},
                      RcLineCase{"K=ab\"cd", "K", "ab\"cd"}, RcLineCase{"K=a\\b", "K", "a\\b"},
                      RcLineCase{"K=\"\"", "K", ""}, RcLineCase{"K=value\r", "K", "value"},
                      RcLineCase{"\n   \n# comment\n  # indented comment\nK=v\nL=w", "K", "v"}));

TEST(RcLineTest, ReadsSettingsInOrderAndFalseAtTheEnd) {
    std::istringstream in("A=1\n\n# c\nB = 2\n# trailing comment\n\n");
    std::string name, value;
    ASSERT_TRUE(Options::parseRcLine(in, name, value));
    EXPECT_EQ(name + "=" + value, "A=1");
    ASSERT_TRUE(Options::parseRcLine(in, name, value));
    EXPECT_EQ(name + "=" + value, "B=2");
    EXPECT_FALSE(Options::parseRcLine(in, name, value));
    EXPECT_EQ(name, "");
    EXPECT_EQ(value, "");
}

struct RcErrorCase {
    const char* input;
    const char* key;
    bool formatted; // the text carries the line
    int e_class, support;
};

class RcLineFails : public ::testing::TestWithParam<RcErrorCase> {};

TEST_P(RcLineFails, WithTheKeyOfTheFault) {
    const RcErrorCase& c = GetParam();
    std::istringstream in(c.input);
    std::string name, value;
    ErrorFacts facts = caught([&] { Options::parseRcLine(in, name, value); });
    const std::string expected =
        c.formatted ? Messages().format(c.key, std::string(c.input)) : Messages().getMessage(c.key);
    EXPECT_EQ(facts.text, line(expected));
    EXPECT_EQ(facts.e_class, c.e_class);
    EXPECT_EQ(facts.repeat, 1);
    EXPECT_EQ(facts.system_state, 1);
    EXPECT_EQ(facts.support, c.support);
}

INSTANTIATE_TEST_SUITE_P(Lines, RcLineFails,
                         ::testing::Values(RcErrorCase{"KEY=", "err_rc_value", true, 2, 2},
                                           RcErrorCase{"KEY =   # nothing", "err_rc_value", true, 2, 2},
                                           RcErrorCase{"KEY", "err_rc_line", true, 2, 2},
                                           RcErrorCase{"KEY  # no sign", "err_rc_line", true, 2, 2},
                                           RcErrorCase{"KEY value", "err_rc_eqsign", true, 2, 2},
                                           RcErrorCase{"KEY-X=1", "err_rc_eqsign", true, 2, 2},
                                           RcErrorCase{"1KEY=x", "err_rc_param", false, 2, 2},
                                           RcErrorCase{"_KEY=x", "err_rc_param", false, 2, 2},
                                           RcErrorCase{"=x", "err_rc_param", false, 2, 2},
                                           RcErrorCase{"K=\"open", "err_noquote_closed", false, 0, 0},
                                           RcErrorCase{"K=\"ends in escape\\\"", "err_noquote_closed", false,
                                                       0, 0}));

// options.ini holds setting ids and the saver's "\xhh" escapes; the rc file keeps its own rules.
TEST(RcLineTest, ComponentOptionsLinesTakeSettingIdsAndByteEscapes) {
    struct {
        const char* input;
        const char* name;
        std::string value;
        std::string rcValue; // the same line in the rc file; "" when the rc file rejects it
    } cases[] = {
        {"db-name=\"x\"", "db-name", "x", ""},
        {"1st=\"x\"", "1st", "x", ""},
        {"_id=\"x\"", "_id", "x", ""},
        {"K=\"a\\x0ab\"", "K", "a\nb", "ax0ab"},
        {"K=\"caf\\xc3\\xA9\"", "K", "caf\xc3\xa9", "cafxc3xA9"},
        {"K=\"\\x00\"", "K", std::string(1, '\0'), "x00"},
        {"K=\"C:\\\\x41\"", "K", "C:\\x41", "C:\\x41"},
        {"K=\"\\xg1 \\x4\"", "K", "xg1 x4", "xg1 x4"},
        {"K=a\\x41", "K", "a\\x41", "a\\x41"},
        {"K=\"\\\"q\\\"\"", "K", "\"q\"", "\"q\""},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::string name, value;
        ASSERT_TRUE(Options::parseRcLine(in, name, value, true)) << c.input;
        EXPECT_EQ(name, c.name) << c.input;
        EXPECT_EQ(value, c.value) << c.input;

        std::istringstream rc(c.input);
        if (c.rcValue.empty()) {
            EXPECT_THROW(Options::parseRcLine(rc, name, value), error) << c.input;
        } else {
            ASSERT_TRUE(Options::parseRcLine(rc, name, value)) << c.input;
            EXPECT_EQ(value, c.rcValue) << c.input;
        }
    }
}

TEST(RcLineTest, YesNoAcceptsOnlyTheFourWords) {
    EXPECT_TRUE(Options::parseYesNo("DEBUG", "yes"));
    EXPECT_TRUE(Options::parseYesNo("DEBUG", "YES"));
    EXPECT_FALSE(Options::parseYesNo("DEBUG", "no"));
    EXPECT_FALSE(Options::parseYesNo("DEBUG", "NO"));
    for (const char* word : {"Yes", "true", "1", ""}) {
        ErrorFacts facts = caught([&] { Options::parseYesNo("DEBUG", word); });
        EXPECT_EQ(facts.text,
                  line(Messages().format("err_bool_val", std::string(word), std::string("DEBUG"))));
        EXPECT_EQ(facts.e_class, 2);
        EXPECT_EQ(facts.support, 2);
    }
}

TEST(RcLineTest, RetryCountIsAWholePositiveNumber) {
    EXPECT_EQ(Options::parseRetryCount("N", "1"), 1);
    EXPECT_EQ(Options::parseRetryCount("N", "+7"), 7);
    EXPECT_EQ(Options::parseRetryCount("N", "2147483647"), 2147483647);
    for (const char* text : {"0", "-1", "", "+", "3x", " 3", "2147483648", "99999999999999999999"}) {
        ErrorFacts facts = caught([&] { Options::parseRetryCount("DOWNLOAD_RETRY_COUNT", text); });
        EXPECT_EQ(facts.text, line(Messages().format("err_retry_arg", std::string("DOWNLOAD_RETRY_COUNT"))))
            << text;
        EXPECT_EQ(facts.e_class, 2);
    }
}

// ---------------------------------------------------------------------------------------------------------
// The record

TEST(OptionsTest, DefaultRecord) {
    unsetenv("WEB_SECRET");
    Options options;
    EXPECT_EQ(options.runMode, 0);
    EXPECT_EQ(options.command, 0);
    EXPECT_EQ(options.source.str(), Options::defaultSource);
    EXPECT_EQ(options.target, fileops::get_home_dir() + "/cordavine");
    EXPECT_THAT(options.tier, ElementsAre("stable", "release", "current"));
    EXPECT_TRUE(options.tiersAreDefault);
    EXPECT_TRUE(options.useMoxelUpdates);
    EXPECT_TRUE(options.openBrowser);
    EXPECT_EQ(options.proxyPort, 3128);
    EXPECT_EQ(options.downloadRetryCount, 3);
    EXPECT_FALSE(options.debug);
    EXPECT_FALSE(options.strict);
    EXPECT_GT(options.terminalWidth, 0);
}

TEST(OptionsTest, RunModeConflicts) {
    {
        Options options;
        options.setRunMode("web-interface", Options::mode_web);
        ErrorFacts facts = caught([&] { options.setRunMode("web-interface", Options::mode_web); });
        EXPECT_EQ(facts.text, line(Messages().format("err_cmd_override", std::string("web-interface"),
                                                     std::string("web-interface"))));
        EXPECT_EQ(facts.e_class, 2);
        EXPECT_EQ(facts.support, 2);
    }
    {
        Options options;
        options.setRunMode("mirror-os", Options::mode_mirror);
        options.setRunMode("mirror-os", Options::mode_mirror);
        EXPECT_EQ(options.runMode, Options::mode_mirror);
    }
    {
        Options options;
        options.setCommand("show-components", Options::cmd_show_components);
        ErrorFacts facts = caught([&] { options.setRunMode("web-interface", Options::mode_web); });
        EXPECT_EQ(facts.text, line(Messages().format("err_cmd_override", std::string("web-interface"),
                                                     std::string("show-components"))));
    }
    {
        Options options;
        options.setRunMode("web-interface", Options::mode_web);
        options.setCommand("show-components", Options::cmd_show_components);
        EXPECT_EQ(options.runMode, Options::mode_command_line);
        EXPECT_EQ(options.command, Options::cmd_show_components);
    }
}

TEST(OptionsTest, DryRunWinsOverChangeInEitherOrder) {
    Options first;
    first.setCommand("show-packages", Options::cmd_show_packages);
    first.setCommand("install-component", Options::cmd_change);
    EXPECT_EQ(first.command, Options::cmd_show_packages);

    Options second;
    second.setCommand("install-component", Options::cmd_change);
    second.setCommand("show-packages", Options::cmd_show_packages);
    EXPECT_EQ(second.command, Options::cmd_show_packages);
    second.setCommand("install-component", Options::cmd_change);
    EXPECT_EQ(second.command, Options::cmd_show_packages);
}

TEST(OptionsTest, CommandConflictNamesTheOptionThatSetTheCommand) {
    Options options;
    options.setCommand("show-releases", Options::cmd_show_releases);
    options.setCommand("show-releases", Options::cmd_show_releases);
    ErrorFacts facts = caught([&] { options.setCommand("show-components", Options::cmd_show_components); });
    EXPECT_EQ(facts.text, line(Messages().format("err_cmd_override", std::string("show-components"),
                                                 std::string("show-releases"))));
    EXPECT_EQ(options.command, Options::cmd_show_releases);
}

TEST(OptionsTest, ProductModeConflicts) {
    Options options;
    options.setProductMode("moxel", "install-component", ProductRequest::explicit_components);
    options.setProductMode("moxel", "install-component", ProductRequest::explicit_components);
    options.setProductMode("other", "installation-type", ProductRequest::installation_type);
    ErrorFacts facts = caught(
        [&] { options.setProductMode("moxel", "installation-type", ProductRequest::installation_type); });
    EXPECT_EQ(facts.text, line(Messages().format("err_cmd_override", std::string("installation-type"),
                                                 std::string("installation-type"))));
    EXPECT_EQ(options.productRequests["moxel"].mode, ProductRequest::explicit_components);
    EXPECT_EQ(options.productRequests["other"].mode, ProductRequest::installation_type);
}

TEST(OptionsTest, ReleaseSelectors) {
    Options options;
    options.addReleaseSelector(ReleaseSelector::latest, "", "");
    options.addReleaseSelector(ReleaseSelector::current, "pagewright", "ignored");
    options.addReleaseSelector(ReleaseSelector::by_id, "", "moxel-18.0");
    ASSERT_EQ(options.releaseSelectors.size(), 3u);
    EXPECT_EQ(options.releaseSelectors[0].productId, "moxel");
    EXPECT_EQ(options.releaseSelectors[0].kind, ReleaseSelector::latest);
    EXPECT_EQ(options.releaseSelectors[1].productId, "pagewright");
    EXPECT_EQ(options.releaseSelectors[1].releaseId, "");
    EXPECT_EQ(options.releaseSelectors[2].productId, "");
    EXPECT_EQ(options.releaseSelectors[2].releaseId, "moxel-18.0");
    EXPECT_TRUE(options.isProdIDSelected("pagewright"));
    EXPECT_FALSE(options.isProdIDSelected("other"));

    const std::string internal = "An internal error occured in Moxel Installer ";
    ErrorFacts empty_id = caught([] { ReleaseSelector("moxel", std::string()); });
    EXPECT_THAT(empty_id.text, ::testing::StartsWith(internal));
    EXPECT_THAT(empty_id.text, ::testing::EndsWith("installer/Options.h, line 115.\n"));
    EXPECT_EQ(empty_id.e_class, 3);
    EXPECT_EQ(empty_id.support, 3);
    ErrorFacts by_kind = caught([] { ReleaseSelector("moxel", int(ReleaseSelector::by_id)); });
    EXPECT_THAT(by_kind.text, ::testing::EndsWith("installer/Options.h, line 111.\n"));
}

TEST(OptionsTest, UserInteractionModeIsHandedOverWithoutConflicts) {
    Options options;
    options.setRunMode("web-interface", Options::mode_web);
    options.setUserInteractionMode("set-user-interaction-mode", "textUI");
    EXPECT_EQ(options.runMode, Options::mode_console);
    options.setUserInteractionMode("set-user-interaction-mode", "webUI");
    EXPECT_EQ(options.runMode, Options::mode_web);
    EXPECT_TRUE(options.interactionModeHandedOver);

    ErrorFacts facts = caught([&] { options.setUserInteractionMode("set-user-interaction-mode", "gui"); });
    EXPECT_EQ(facts.text, "Invalid argument for option --set-user-interaction-mode=gui\n");
    EXPECT_EQ(facts.e_class, 3);
    EXPECT_EQ(facts.support, 2);
}

TEST(OptionsTest, Tiers) {
    unsetenv("WEB_SECRET");
    Options options;
    options.setTiers("stable,,testing");
    EXPECT_THAT(options.tier, ElementsAre("stable", "", "testing"));
    EXPECT_FALSE(options.tiersAreDefault);
    options.setTiers("");
    EXPECT_THAT(options.tier, IsEmpty());
    options.setTierList({"release"});
    EXPECT_THAT(options.tier, ElementsAre("release"));

    Options all;
    all.showAllVersions();
    EXPECT_TRUE(all.allVersions);
    EXPECT_THAT(all.tier, IsEmpty());
    EXPECT_FALSE(all.tiersAreDefault);
}

TEST(OptionsTest, WebSecretNarrowsOnlyDefaultTiers) {
    setenv("WEB_SECRET", "", 1);
    Options unset;
    unset.applyTierDefaults();
    EXPECT_THAT(unset.tier, ElementsAre("stable", "release", "current"));

    setenv("WEB_SECRET", "abcdefghijklmnopqrst", 1);
    Options service;
    service.applyTierDefaults();
    EXPECT_THAT(service.tier, ElementsAre("stable", "release"));

    Options chosen;
    chosen.setTiers("testing");
    chosen.applyTierDefaults();
    EXPECT_THAT(chosen.tier, ElementsAre("testing"));
    unsetenv("WEB_SECRET");
}

TEST(OptionsTest, WebDefaultPageIsExported) {
    Options options;
    options.setWebDefaultPage("components");
    EXPECT_EQ(options.webDefaultPage, "components");
    ASSERT_NE(getenv("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE"), nullptr);
    EXPECT_STREQ(getenv("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE"), "components");
}

TEST(OptionsTest, ComponentSettingUsesTheLineSyntax) {
    Options options;
    options.setComponentSetting("", "admin_email = \"root@example.com\"");
    options.setComponentSetting("pagewright", "port=8080");
    options.setComponentSetting("pagewright", "port=8081");
    EXPECT_EQ(options.componentSettings["moxel"]["admin_email"], "root@example.com");
    EXPECT_EQ(options.componentSettings["pagewright"]["port"], "8081");

    ErrorFacts empty = caught([&] { options.setComponentSetting("", "  "); });
    EXPECT_EQ(empty.text, line(Messages().format("err_rc_line", std::string("  "))));
    ErrorFacts bad = caught([&] { options.setComponentSetting("", "port"); });
    EXPECT_EQ(bad.text, line(Messages().format("err_rc_line", std::string("port"))));
}

// Whatever options.ini may hold can be given on the command line, and means the same there.
TEST(OptionsTest, ComponentSettingTakesWhatOptionsIniTakes) {
    const char* const lines[] = {"db-name=\"x\"", "1st=\"x\"", "_id=\"x\"", "K=\"a\\x0ab\"",
                                 "K=\"C:\\\\x41\""};
    for (const char* text : lines) {
        std::istringstream in(text);
        std::string name, value;
        ASSERT_TRUE(Options::parseRcLine(in, name, value, true)) << text;
        Options options;
        options.setComponentSetting("", text);
        EXPECT_EQ(options.componentSettings["moxel"][name], value) << text;
    }
    for (const char* text : {"a.b=1", "a b=1", "=1"}) {
        std::istringstream in(text);
        std::string name, value;
        EXPECT_THROW(Options::parseRcLine(in, name, value, true), error) << text;
        Options options;
        EXPECT_THROW(options.setComponentSetting("", text), error) << text;
    }
}

TEST(OptionsTest, RunsInBackgroundOnlyForUnattendedXmlChanges) {
    Options options;
    options.command = Options::cmd_change;
    EXPECT_FALSE(options.runInBackground());
    Options::enableXmlOutput = true;
    EXPECT_TRUE(options.runInBackground());
    options.noDaemon = true;
    EXPECT_FALSE(options.runInBackground());
    options.noDaemon = false;
    options.command = Options::cmd_show_packages;
    EXPECT_FALSE(options.runInBackground());
    Options::enableXmlOutput = false;
}

TEST(OptionsTest, CommandLineTexts) {
    char program[] = "/usr/local/bin/installer";
    char quoted[] = "say \"hi\"\n";
    char shell[] = "$(reboot) `id` 'x'";
    char* argv[] = {program, quoted, shell, nullptr};
    Options::saveArguments(3, argv);
    Options options;
    EXPECT_EQ(options.commandLineText(),
              "\"/usr/local/bin/installer\" \"say \\\"hi\\\"\\x0a\" \"$(reboot) `id` 'x'\" ");
    EXPECT_EQ(options.webLaunchCommand(),
              "'/usr/local/bin/installer' 'say \"hi\"\n' '$(reboot) `id` '\\''x'\\''' "
              " --web-interface --with-ssl --disable-browser");
}

} // namespace
