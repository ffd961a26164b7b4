#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "installer/driver/Reporter.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::Pair;
using testsupport::caught;
using testsupport::ErrorFacts;

namespace {

// The record after the option-style parser and the consistency check, from defaults only.
class ParsedOptions {
public:
    explicit ParsedOptions(std::vector<std::string> arguments) : words(std::move(arguments)) {
        words.insert(words.begin(), "installer");
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
    }
    Options& parse() {
        options.parseOptions(static_cast<int>(words.size()), argv.data());
        options.applyTierDefaults();
        options.check();
        return options;
    }

private:
    std::vector<std::string> words;
    std::vector<char*> argv;
    Options options;
};

class OptionsParseOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("WEB_SECRET");
        unsetenv(Options::handedOverProxyPasswordVariable);
        Options::enableXmlOutput = false;
        Options::statusPrefix = "";
    }
    void TearDown() override { SetUp(); }
};

struct ParsedCase {
    std::vector<std::string> arguments;
    std::function<void(const Options&)> expect;
};

TEST_F(OptionsParseOptionsTest, ArgumentsBecomeSettings) {
    const std::vector<ParsedCase> cases = {
        {{}, [](const Options& o) { EXPECT_EQ(o.runMode, Options::mode_console); }},
        {{"-v"}, [](const Options& o) { EXPECT_EQ(o.runMode, Options::mode_version); }},
        {{"--usage"}, [](const Options& o) { EXPECT_EQ(o.runMode, Options::mode_command_list); }},
        {{"--help-options"}, [](const Options& o) { EXPECT_EQ(o.runMode, Options::mode_help_options); }},
        {{"--print-version-of-this-binary"},
         [](const Options& o) { EXPECT_EQ(o.runMode, Options::mode_bare_version); }},
        {{"--query-status"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_query_status);
             EXPECT_EQ(Options::statusPrefix, "query_");
         }},
        {{"--select-release-latest", "--select-release-id", "R1", "--select-product-id", "ext",
          "--select-release-current"},
         [](const Options& o) {
             ASSERT_EQ(o.releaseSelectors.size(), 3u);
             EXPECT_EQ(o.releaseSelectors[0].productId, "moxel");
             EXPECT_EQ(o.releaseSelectors[0].kind, ReleaseSelector::latest);
             EXPECT_EQ(o.releaseSelectors[1].productId, "");
             EXPECT_EQ(o.releaseSelectors[1].releaseId, "R1");
             EXPECT_EQ(o.releaseSelectors[2].productId, "ext");
             EXPECT_EQ(o.releaseSelectors[2].kind, ReleaseSelector::current);
             EXPECT_THAT(o.keptReleaseIds, ElementsAre("R1"));
         }},
        {{"--install-component", "a", "--install-component=b", "--select-product-id", "ext",
          "--install-component", "c", "--set-option", "port = 8443"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_command_line);
             EXPECT_EQ(o.command, Options::cmd_change);
             EXPECT_EQ(o.productRequests.at("moxel").mode, ProductRequest::explicit_components);
             EXPECT_THAT(o.productRequests.at("moxel").installComponents, ElementsAre("a", "b"));
             EXPECT_THAT(o.productRequests.at("ext").installComponents, ElementsAre("c"));
             EXPECT_EQ(o.componentSettings.at("ext").at("port"), "8443");
             EXPECT_EQ(Options::statusPrefix, "install_");
         }},
        {{"--show-packages", "--install-component", "a"},
         [](const Options& o) { EXPECT_EQ(o.command, Options::cmd_show_packages); }},
        {{"--install-component", "a", "--show-packages"},
         [](const Options& o) { EXPECT_EQ(o.command, Options::cmd_show_packages); }},
        {{"--web-interface", "--show-components"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_command_line);
             EXPECT_EQ(o.command, Options::cmd_show_components);
         }},
        {{"--remove-everything", "--interactive-uninstall", "--remove-package", "p"},
         [](const Options& o) {
             EXPECT_TRUE(o.removeEverything);
             EXPECT_EQ(o.productRequests.at("moxel").mode, ProductRequest::remove_all);
             EXPECT_THAT(o.removePackage, ElementsAre("p"));
             EXPECT_EQ(o.releaseSelectors.size(), 2u);
         }},
        {{"--upgrade-installed-components", "--include-components-from-class", "aspect=panel"},
         [](const Options& o) {
             EXPECT_EQ(o.productRequests.at("moxel").mode, ProductRequest::upgrade_installed);
             EXPECT_THAT(o.productRequests.at("moxel").componentClasses, ElementsAre("aspect=panel"));
         }},
        {{"--installation-type", "Typical"},
         [](const Options& o) { EXPECT_EQ(o.productRequests.at("moxel").installationType, "Typical"); }},
        {{"--select-release-id", "R1", "--mirror-os", "a.inf3", "--select-release-id", "R2", "--mirror-os",
          "b.inf3"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_mirror);
             EXPECT_THAT(o.mirrorOs, ElementsAre(Pair("R1", "a.inf3"), Pair("R2", "b.inf3")));
         }},
        {{"--source", "/srv/mirror", "--target", " t ", "--proxy-host", "proxy", "--proxy-port", "port",
          "--proxy-user", "u", "--proxy-password", "p w", "--download-retry-count", "+7", "--notify-email",
          "a@b", "--ext-catalog-url", "http://ext/"},
         [](const Options& o) {
             EXPECT_EQ(o.source.str(), "/srv/mirror");
             EXPECT_EQ(o.target, " t ");
             EXPECT_EQ(o.proxyHost, "proxy");
             EXPECT_EQ(o.proxyPort, 0);
             EXPECT_EQ(o.proxyUser, "u");
             EXPECT_EQ(o.proxyPassword, "p w");
             EXPECT_EQ(o.downloadRetryCount, 7);
             EXPECT_EQ(o.notifyEmail, "a@b");
             EXPECT_EQ(o.extCatalogUrl, "http://ext/");
         }},
        {{"--tier", "stable,,beta"},
         [](const Options& o) {
             EXPECT_THAT(o.tier, ElementsAre("stable", "", "beta"));
             EXPECT_FALSE(o.tiersAreDefault);
         }},
        {{"--all-versions"},
         [](const Options& o) {
             EXPECT_TRUE(o.allVersions);
             EXPECT_TRUE(o.tier.empty());
         }},
        {{"--web-interface", "--without-ssl", "--disable-browser", "--ssl-cert", "/"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_web);
             EXPECT_TRUE(o.withoutSsl);
             EXPECT_FALSE(o.openBrowser);
             EXPECT_EQ(o.sslCert, "/");
         }},
        {{"--ssl-cert", "/missing/cert.pem"},
         [](const Options& o) { EXPECT_EQ(o.sslCert, "/missing/cert.pem"); }},
        {{"--service-mode=update"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_service);
             EXPECT_EQ(o.webDefaultPage, "update_components");
             EXPECT_STREQ(std::getenv("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE"), "update_components");
         }},
        {{"--service-mode", "--show-options", "--show-components"},
         [](const Options& o) { EXPECT_EQ(o.webDefaultPage, ""); }},
        {{"--set-user-interaction-mode", "webUI", "--without-ssl"},
         [](const Options& o) {
             EXPECT_EQ(o.runMode, Options::mode_web);
             EXPECT_TRUE(o.interactionModeHandedOver);
         }},
        {{"--enable-xml-output", "--no-clear", "--override-os-name", "Debian", "--override-environment", "vz",
          "--source-type", "x", "--no-space-check"},
         [](const Options&) {
             EXPECT_TRUE(Options::enableXmlOutput);
             EXPECT_TRUE(noClearScreen);
             EXPECT_EQ(Opsys::override_name, "Debian");
             EXPECT_EQ(Opsys::override_environment, "vz");
         }},
        {{"--set-feedback-product", "panel"},
         [](const Options& o) {
             EXPECT_EQ(o.command, Options::cmd_set_feedback_product);
             EXPECT_EQ(o.setFeedbackProduct, "panel");
         }},
        {{"--enable-feedback"}, [](const Options& o) { EXPECT_EQ(o.command, Options::cmd_enable_feedback); }},
    };
    for (const ParsedCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        SetUp();
        ParsedOptions parsed(c.arguments);
        try {
            c.expect(parsed.parse());
        } catch (const error& e) {
            ADD_FAILURE() << e.getText();
        }
    }
}

TEST_F(OptionsParseOptionsTest, WithWebSecretTheLaunchRequestIsIgnoredAndTiersNarrow) {
    setenv("WEB_SECRET", "abc", 1);
    ParsedOptions parsed({"--service-mode=components", "--web-interface", "--without-ssl"});
    const Options& options = parsed.parse();
    EXPECT_EQ(options.runMode, Options::mode_web);
    EXPECT_EQ(options.webDefaultPage, "");
    EXPECT_THAT(options.tier, ElementsAre("stable", "release"));
}

TEST_F(OptionsParseOptionsTest, HandedOverPasswordIsTakenAndLeavesTheEnvironment) {
    setenv(Options::handedOverProxyPasswordVariable, "s3cret", 1);
    ParsedOptions parsed({"--web-interface", "--without-ssl"});
    EXPECT_EQ(parsed.parse().proxyPassword, "s3cret");
    EXPECT_EQ(std::getenv(Options::handedOverProxyPasswordVariable), nullptr);
}

struct RefusedCase {
    std::vector<std::string> arguments;
    std::string text;
    int e_class;
};

TEST_F(OptionsParseOptionsTest, BadCommandLinesRaiseTheirKeys) {
    Messages m;
    const auto override = [&](const char* a, const char* b) {
        return m.format("err_cmd_override", a, b) + "\n";
    };
    const std::vector<RefusedCase> cases = {
        {{"--bogus"}, m.getMessage("err_unkn_option") + "\n", 2},
        {{"--target"}, m.getMessage("err_unkn_option") + "\n", 2},
        {{"-x"}, m.getMessage("err_unkn_option") + "\n", 2},
        {{"--query-status=yes"}, m.getMessage("err_unkn_option") + "\n", 2},
        {{"--debug", "word", "--skip-patch", "two"}, m.getMessage("err_unkn_arg") + "word\ntwo\n\n", 0},
        {{"--web-interface", "--web-interface"}, override("web-interface", "web-interface"), 2},
        {{"--show-components", "--web-interface"}, override("web-interface", "show-components"), 2},
        {{"--web-interface", "-h"}, override("help", "web-interface"), 2},
        {{"--show-components", "--show-releases"}, override("show-releases", "show-components"), 2},
        {{"--install-component", "a", "--installation-type", "T"},
         override("installation-type", "install-component"),
         2},
        {{"--mirror-os", "a.inf3"}, m.getMessage("err_mirror_order") + "\n", 2},
        {{"--download-retry-count", "0"}, m.format("err_retry_arg", "--download-retry-count") + "\n", 2},
        {{"--download-retry-count", "-1"}, m.format("err_retry_arg", "--download-retry-count") + "\n", 2},
        {{"--download-retry-count", "many"}, m.format("err_retry_arg", "--download-retry-count") + "\n", 2},
        {{"--set-user-interaction-mode", "gui"},
         "Invalid argument for option --set-user-interaction-mode=gui\n",
         3},
        {{"--show-options", "--show-installation-types"},
         m.getMessage("err_opt_show_options_wo_components") + "\n",
         2},
        {{"--show-options"}, m.getMessage("err_opt_show_options_wo_components") + "\n", 2},
        {{"--web-interface", "--ssl-cert", "/missing/cert.pem"},
         m.format("err_misfile", "/missing/cert.pem") + "\n",
         2},
        {{"--reinstall-patch", "--skip-patch"},
         m.getMessage("err_opt_repatch_skip_patch_conflict") + "\n",
         2},
        {{"--interactive-uninstall"}, m.getMessage("err_opt_int_uninst_wo_rm_everything") + "\n", 2},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        ParsedOptions parsed(c.arguments);
        const ErrorFacts facts = caught([&] { parsed.parse(); });
        EXPECT_EQ(facts.text, c.text);
        EXPECT_EQ(facts.e_class, c.e_class);
    }
}

} // namespace

namespace {

TEST(OptionsWebLaunchTest, ThePasswordStaysOutOfTheLaunchCommand) {
    char program[] = "/usr/sbin/installer", a[] = "--service-mode", b[] = "--proxy-password", c[] = "s3cret",
         d[] = "--proxy-passw=s3cret", e[] = "--proxy-port", f[] = "8080";
    char* argv[] = {program, a, b, c, d, e, f, nullptr};
    Options::saveArguments(7, argv);
    EXPECT_EQ(Options().webLaunchCommand(), "'/usr/sbin/installer' '--service-mode' '--proxy-port' '8080'  "
                                            "--web-interface --with-ssl --disable-browser");
}

} // namespace
