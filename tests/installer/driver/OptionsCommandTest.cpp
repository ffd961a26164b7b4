#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "tests/installer/driver/OptionsTestSupport.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using optionstest::Argv;
using optionstest::commandStyle;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::caught;
using testsupport::ErrorFacts;

namespace {

class OptionsCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        Options::statusPrefix.clear();
        Options::enableXmlOutput = false;
    }

    // The message of the option library's error the command line raises.
    static std::string parseError(const std::vector<std::string>& arguments) {
        try {
            commandStyle(arguments);
        } catch (const boost::program_options::error& e) {
            return e.what();
        }
        ADD_FAILURE() << "no parse error was raised";
        return "";
    }
};

// ---------------------------------------------------------------------------------------------------------
// First stage

struct FirstStageCase {
    std::vector<std::string> arguments;
    int runMode, command, verb;
    const char* statusPrefix;
};

void PrintTo(const FirstStageCase& c, std::ostream* out) {
    *out << optionstest::testName(c.arguments);
}

class CommandFirstStage : public OptionsCommandTest, public ::testing::WithParamInterface<FirstStageCase> {};

TEST_P(CommandFirstStage, SetsModeCommandVerbAndStatusPrefix) {
    const FirstStageCase& expected = GetParam();
    const auto options = commandStyle(expected.arguments);
    EXPECT_EQ(options->commandWord, expected.arguments.front());
    EXPECT_TRUE(options->strict);
    EXPECT_EQ(options->runMode, expected.runMode);
    EXPECT_EQ(options->command, expected.command);
    EXPECT_EQ(options->verb, expected.verb);
    EXPECT_EQ(Options::statusPrefix, expected.statusPrefix);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandFirstStage,
    ::testing::Values(
        FirstStageCase{{"version"}, 5, 0, 0, ""}, FirstStageCase{{"help"}, 9, 0, 0, ""},
        FirstStageCase{{"help", "list"}, 8, 0, 0, ""},
        FirstStageCase{{"help", "list", "install"}, 9, 0, 0, ""}, FirstStageCase{{"list-all"}, 1, 2, 0, ""},
        FirstStageCase{{"list", "moxel"}, 1, 0, 0, ""}, FirstStageCase{{"list", "--presets"}, 1, 0, 0, ""},
        FirstStageCase{{"install"}, 1, 9, 1, "install_"},
        FirstStageCase{{"install", "--dry-run"}, 1, 8, 1, ""},
        FirstStageCase{{"upgrade", "moxel"}, 1, 0, 3, ""}, FirstStageCase{{"update"}, 1, 9, 2, ""},
        FirstStageCase{{"update", "--dry-run"}, 1, 8, 2, ""},
        FirstStageCase{{"add", "--components", "dns"}, 1, 9, 4, "install_"},
        FirstStageCase{{"remove", "--components", "dns", "--dry-run"}, 1, 8, 4, ""},
        FirstStageCase{{"stop"}, 11, 0, 0, ""},
        // stop takes selectors and ignores them.
        FirstStageCase{{"stop", "now"}, 11, 0, 0, ""},
        // --help: the page of the command, no rule.
        FirstStageCase{{"install", "--help"}, 8, 0, 0, ""}, FirstStageCase{{"add", "--help"}, 8, 0, 0, ""}),
    [](const ::testing::TestParamInfo<FirstStageCase>& info) {
        return optionstest::testName(info.param.arguments);
    });

TEST_F(OptionsCommandTest, BoundOptionsReachTheirSettings) {
    const auto options = commandStyle({"install",
                                       "moxel",
                                       "--source",
                                       "/srv/source",
                                       "--target",
                                       "/srv/cache",
                                       "--tries",
                                       "7",
                                       "--ext-catalog-url",
                                       "http://127.0.0.1/cat",
                                       "--proxy-host",
                                       "proxy.example",
                                       "--proxy-port",
                                       "8080",
                                       "--proxy-user",
                                       "pu",
                                       "--proxy-password",
                                       "pp",
                                       "--override-os-name",
                                       "Linux",
                                       "--override-os-vendor",
                                       "Debian",
                                       "--override-os-version",
                                       "12",
                                       "--override-os-arch",
                                       "x86_64",
                                       "--override-environment",
                                       "vz",
                                       "--repatch",
                                       "--skip-patch",
                                       "--skip-components-check",
                                       "--skip-gpg-check",
                                       "--skip-cleanup",
                                       "--disable-self-upgrade",
                                       "--xml",
                                       "--debug",
                                       "--truncate-log",
                                       "--separate-logs",
                                       "--email",
                                       "root@example.com",
                                       "--verbose=2",
                                       "12.5.30"});
    EXPECT_THAT(options->selectors, ElementsAre("moxel", "12.5.30"));
    EXPECT_EQ(options->source.str(), SourceUrl("/srv/source").str());
    EXPECT_EQ(options->target, "/srv/cache");
    EXPECT_EQ(options->downloadRetryCount, 7);
    EXPECT_EQ(options->extCatalogUrl, "http://127.0.0.1/cat");
    EXPECT_EQ(options->proxyHost, "proxy.example");
    EXPECT_EQ(options->proxyPort, 8080);
    EXPECT_EQ(options->proxyUser, "pu");
    EXPECT_EQ(options->proxyPassword, "pp");
    EXPECT_EQ(Opsys::override_name + Opsys::override_vendor + Opsys::override_version + Opsys::override_arch +
                  Opsys::override_environment,
              "LinuxDebian12x86_64vz");
    EXPECT_TRUE(options->reinstallPatch);
    EXPECT_TRUE(options->skipPatch);
    EXPECT_TRUE(options->skipComponentsCheck);
    EXPECT_TRUE(options->skipGpgCheck);
    EXPECT_TRUE(options->skipCleanup);
    EXPECT_TRUE(options->disableSelfUpgrade);
    EXPECT_TRUE(Options::enableXmlOutput);
    EXPECT_TRUE(options->debug);
    EXPECT_TRUE(options->truncateLog);
    EXPECT_TRUE(options->separateLogs);
    EXPECT_EQ(options->notifyEmail, "root@example.com");
    EXPECT_EQ(options->verbose, 2u);

    const auto stop = commandStyle({"stop", "--terminate", "-v"});
    EXPECT_TRUE(stop->terminate);
    EXPECT_EQ(stop->verbose, 1u);
    EXPECT_TRUE(commandStyle({"list", "moxel", "--components", "--options"})->showOptions);
}

TEST_F(OptionsCommandTest, SwitchesNeverTurnOffEarlierLayers) {
    auto options = std::make_unique<Options>();
    options->skipGpgCheck = true;
    options->debug = true;
    options->downloadRetryCount = 5;
    options->target = "/from/rc";
    Argv argv({"install"});
    options->parseCommand(argv.argc(), argv.argv());
    EXPECT_TRUE(options->skipGpgCheck);
    EXPECT_TRUE(options->debug);
    EXPECT_EQ(options->downloadRetryCount, 5);
    EXPECT_EQ(options->target, "/from/rc");
}

TEST_F(OptionsCommandTest, HelpOptionWritesNoSetting) {
    const auto options = commandStyle({"install", "--debug", "--target", "/t", "--help", "moxel", "-v"});
    EXPECT_EQ(options->runMode, Options::mode_command_help);
    EXPECT_FALSE(options->debug);
    EXPECT_NE(options->target, "/t");
    EXPECT_TRUE(options->selectors.empty());
    EXPECT_EQ(options->verbose, 1u);
}

TEST_F(OptionsCommandTest, ListOptionsAccumulateAndSplitAtCommas) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"install", "--components", "postfix", "dovecot"},
          std::vector<std::string>{"install", "--components", "postfix", "--components", "dovecot"},
          std::vector<std::string>{"install", "--components", "postfix,dovecot"},
          std::vector<std::string>{"install", "--components", " postfix , dovecot "}})
        EXPECT_THAT(commandStyle(arguments)->collectListOption("components"),
                    ElementsAre("postfix", "dovecot"));

    const auto options = commandStyle({"install", "--preset", "Full", "--with", "a\\,b", "--without", "c"});
    EXPECT_THAT(options->collectListOption("with"), ElementsAre("a,b"));
    EXPECT_THAT(options->collectListOption("components"), ::testing::IsEmpty());
}

// ---------------------------------------------------------------------------------------------------------
// Errors

TEST_F(OptionsCommandTest, UnknownCommandFailsBeforeAnyOptionIsParsed) {
    const ErrorFacts unknown = caught([] { commandStyle({"frobnicate", "--no-such-option"}); });
    EXPECT_EQ(unknown.text, Messages().format("err_opt_unknown_command", "frobnicate") + "\n");
    EXPECT_EQ(unknown.text,
              "Unknown command: frobnicate\n"
              "Use the 'help' command without arguments to get the list of available commands.\n");
    EXPECT_EQ(unknown.e_class, 2);
    EXPECT_EQ(unknown.support, 2);

    const ErrorFacts no_command = caught([] {
        Options options;
        Argv argv({"--debug"});
        options.parseCommand(argv.argc(), argv.argv());
    });
    EXPECT_THAT(no_command.text, HasSubstr("installer/Options.cpp, line 1847"));
    EXPECT_EQ(no_command.e_class, 3);
}

TEST_F(OptionsCommandTest, ConflictsAndRequirementsAreParseErrors) {
    EXPECT_EQ(parseError({"install", "--with", "a"}),
              "The option '--with' requires the option '--preset' to be specified");
    EXPECT_EQ(parseError({"install", "--without", "a", "--components", "b"}),
              "The option '--without' requires the option '--preset' to be specified");
    EXPECT_EQ(parseError({"install", "--preset", "Full", "--components", "a"}),
              "Options '--preset' and '--components' cannot be specified together");
    EXPECT_EQ(parseError({"list", "--presets", "--components"}),
              "Options '--presets' and '--components' cannot be specified together");
    EXPECT_EQ(parseError({"list", "--presets", "--options"}),
              "Options '--presets' and '--options' cannot be specified together");
}

TEST_F(OptionsCommandTest, OptionLibraryComplaintsAreParseErrors) {
    const std::vector<std::vector<std::string>> command_lines = {
        {"install", "--no-such-option"},
        {"install", "--preset"},
        {"install", "--tries", "many"},
        {"add", "dns"},
        {"remove", "--dry-run"},
        {"install", "--dry-run", "--dry-run"},
        {"install", "--preset", "A", "--preset", "B"},
        {"version", "1"},
        {"list-all", "moxel"},
        // No patching options for the listings, no command options for the others.
        {"list", "--skip-patch"},
        {"list-all", "--repatch"},
        {"update", "--presets"},
        {"stop", "--xml"},
    };
    for (const auto& arguments : command_lines)
        EXPECT_NE(parseError(arguments), "") << arguments.front() << " " << arguments.back();
}

TEST_F(OptionsCommandTest, ListValueWithABadEscapeIsAParseError) {
    EXPECT_EQ(parseError({"install", "--preset", "Full", "--with", "a\\q"}),
              "the argument ('a\\q') for option '--with' is invalid");
    EXPECT_EQ(parseError({"remove", "--components", "a,\\"}),
              "the argument ('a,\\') for option '--components' is invalid");
}

TEST_F(OptionsCommandTest, TriesMustBePositive) {
    const ErrorFacts zero = caught([] { commandStyle({"install", "--tries", "0"}); });
    EXPECT_EQ(zero.text, "Incorrect argument for the option --tries: it must be a positive integer.\n");
    EXPECT_EQ(zero.e_class, 2);
    EXPECT_EQ(zero.support, 2);
}

// ---------------------------------------------------------------------------------------------------------
// Help

class CommandHelpTest : public OptionsCommandTest {
protected:
    void SetUp() override {
        OptionsCommandTest::SetUp();
        // The help shows the detected system; the overrides make it the same everywhere.
        Opsys::override_name = "Linux";
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
        Opsys::override_environment = "dedicated";
    }

    static std::string helpOf(const std::vector<std::string>& arguments) {
        const auto options = commandStyle(arguments);
        std::ostringstream out;
        options->printCommandHelp(out);
        return out.str();
    }

    static std::string golden(const std::string& name) {
        return testsupport::readFile(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/help/" + name);
    }
};

struct HelpCase {
    std::vector<std::string> arguments;
    const char* golden;
};

void PrintTo(const HelpCase& c, std::ostream* out) {
    *out << c.golden;
}

class CommandHelpPage : public CommandHelpTest, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(CommandHelpPage, MatchesTheGoldenFile) {
    EXPECT_EQ(helpOf(GetParam().arguments), golden(GetParam().golden));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CommandHelpPage,
    ::testing::Values(HelpCase{{"help", "install"}, "install.txt"},
                      HelpCase{{"help", "install", "-v"}, "install-v.txt"},
                      HelpCase{{"help", "install", "--verbose=2"}, "install-v2.txt"},
                      HelpCase{{"help", "install", "--completion"}, "install-completion.txt"},
                      HelpCase{{"help", "install", "-c", "--verbose=2"}, "install-completion-v2.txt"},
                      HelpCase{{"help", "version"}, "version.txt"},
                      HelpCase{{"help", "list-all"}, "list-all.txt"},
                      HelpCase{{"help", "list-all", "-v"}, "list-all-v.txt"},
                      HelpCase{{"help", "list"}, "list.txt"}, HelpCase{{"help", "update"}, "update.txt"},
                      HelpCase{{"help", "update", "--verbose=2"}, "update-v2.txt"},
                      HelpCase{{"help", "add", "-v"}, "add-v.txt"}, HelpCase{{"help", "stop"}, "stop.txt"}),
    [](const ::testing::TestParamInfo<HelpCase>& info) {
        return optionstest::testName(info.param.arguments);
    });

TEST_F(CommandHelpTest, CommandListIsTheCatalogueText) {
    EXPECT_EQ(Messages().getMessage("usage_commands"), golden("commands.txt"));
}

TEST_F(CommandHelpTest, HelpOptionShowsTheSamePageAsTheHelpCommand) {
    EXPECT_EQ(helpOf({"list", "--help"}), helpOf({"help", "list"}));
    EXPECT_EQ(helpOf({"install", "moxel", "--preset", "Full", "--help", "-v"}),
              helpOf({"help", "install", "-v"}));
}

TEST_F(CommandHelpTest, UnknownCommandFailsWhenItsHelpIsPrinted) {
    const auto options = commandStyle({"help", "frobnicate"});
    EXPECT_EQ(options->runMode, Options::mode_command_help);
    std::ostringstream out;
    const ErrorFacts unknown = caught([&] { options->printCommandHelp(out); });
    EXPECT_EQ(unknown.text, Messages().format("err_opt_unknown_command", "frobnicate") + "\n");
    EXPECT_EQ(out.str(), "");
}

TEST_F(CommandHelpTest, CompletionIsRequestedOnlyWithoutDebug) {
    EXPECT_TRUE(commandStyle({"help", "install", "--completion"})->isCompletionRequested());
    EXPECT_TRUE(commandStyle({"install", "--help", "-c", "--debug"})->isCompletionRequested());
    EXPECT_FALSE(commandStyle({"help", "install", "-c", "--debug"})->isCompletionRequested());
    EXPECT_FALSE(commandStyle({"help", "install"})->isCompletionRequested());
    EXPECT_FALSE(commandStyle({"install", "-c"})->isCompletionRequested());
}

TEST_F(CommandHelpTest, WrapsToTheTerminalWidth) {
    auto options = commandStyle({"help", "install"});
    options->terminalWidth = 60;
    std::ostringstream out;
    options->printCommandHelp(out);
    // Heads wider than the column leave the description to the next line.
    EXPECT_THAT(out.str(), HasSubstr("  --preset arg      Install a predefined set of components.\n"
                                     "                    Use the 'list' command with '--presets'\n"
                                     "                    option to check available presets\n"
                                     "  --with name ...   Add components to the selected preset\n"
                                     "  --without name ...\n"
                                     "                    Subtract components from the selected \n"
                                     "                    preset\n"));
}

} // namespace
