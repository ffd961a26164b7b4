#pragma once

#include "installer/sources/SourceUrl.h"

#include <boost/program_options/errors.hpp>
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/variables_map.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <iostream>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One release to select: the latest or the installed release of a product, or a release by its id.
struct ReleaseSelector {
    enum kind_t { latest = 0, current = 1, by_id = 2 };

    // By id; the release id must not be empty.
    ReleaseSelector(const std::string& productId, const std::string& releaseId);
    // Latest or current; by_id is refused.
    ReleaseSelector(const std::string& productId, int kind);

    std::string productId;
    int kind;
    std::string releaseId;
};

// What to change in one product.
struct ProductRequest {
    enum mode_t {
        none = 0,
        install_all = 1,
        remove_all = 2,
        upgrade_installed = 3,
        installation_type = 4,
        explicit_components = 5,
    };

    int mode = none;
    std::vector<std::string> installComponents;
    std::vector<std::string> removeComponents;
    // Entries such as "aspect=panel".
    std::vector<std::string> componentClasses;
    std::string installationType;
};

// One captioned group of command-style options.
struct OptionGroup {
    std::string caption;
    std::vector<boost::shared_ptr<boost::program_options::option_description>> options;
};

// What one command of the command style accepts, and its help page.
struct CommandDescription {
    // Every option of the groups, for parsing.
    boost::program_options::options_description options;
    // In help order.
    std::vector<OptionGroup> groups;
    boost::program_options::positional_options_description positional;
    std::string synopsis;
    // Formatted with the example product id, version and release id.
    std::string usage;
    std::string footer;
};

class BuildManager;

// The console wizard prints line feeds instead of clearing the screen.
extern bool noClearScreen;

// The process-wide settings record, built once from the built-in defaults, the rc file, the
// environment, the component-settings file and the command line, in this order. Fields are named
// after their long options.
class Options {
public:
    enum run_mode_t {
        mode_console = 0,
        mode_command_line = 1,
        mode_web = 2,
        mode_mirror = 3,
        mode_service = 4,
        mode_version = 5,
        mode_bare_version = 6,
        mode_help_options = 7,
        mode_command_help = 8,
        mode_command_list = 9,
        mode_query_status = 10,
        mode_stop = 11,
    };
    enum command_t {
        cmd_none = 0,
        cmd_check_updates = 1,
        cmd_show_all_releases = 2,
        cmd_show_os_list = 3,
        cmd_show_releases = 4,
        cmd_show_products = 5,
        cmd_show_installation_types = 6,
        cmd_show_components = 7,
        cmd_show_packages = 8,
        cmd_change = 9,
        cmd_enable_feedback = 10,
        cmd_disable_feedback = 11,
        cmd_set_feedback_product = 12,
        cmd_set_feedback_group_id = 13,
    };
    enum verb_t { verb_none = 0, verb_install = 1, verb_update = 2, verb_upgrade = 3, verb_add_remove = 4 };

    // Stands in for an empty product id.
    static const char* const defaultProductId;
    static const char* const defaultSource;
    // The environment variable that carries the proxy password to a launched web back end.
    static const char* const handedOverProxyPasswordVariable;

    // The record of the process; the first call builds it from the saved arguments. When building
    // fails, a default record becomes the process's record and the exception goes on.
    static Options& instance();
    // The arguments of main, kept for instance() and for restarting the installer.
    static void saveArguments(int argc, char** argv);
    static int savedArgc() { return saved_argc; }
    static char** savedArgv() { return saved_argv; }

    // Defaults only.
    Options();
    // All layers.
    Options(int argc, char** argv);

    void setDefaults();

    // Setters with conflict rules; `name` is the option (without dashes) or command word, for messages.
    void setRunMode(const std::string& name, int mode);
    void setCommand(const std::string& name, int code);
    void setProductMode(const std::string& productId, const std::string& name, int mode);
    void addReleaseSelector(int kind, const std::string& productId, const std::string& releaseId);
    void setUserInteractionMode(const std::string& name, const std::string& value);

    // Tiers.
    void setTiers(const std::string& text);
    void setTierList(const std::vector<std::string>& list);
    void showAllVersions();
    void applyTierDefaults();

    void setWebDefaultPage(const std::string& page);
    // `text` is one NAME=VALUE line in the syntax of options.ini.
    void setComponentSetting(const std::string& productId, const std::string& text);

    bool runInBackground() const;
    bool isProdIDSelected(const std::string& productId) const;

    // Every saved argument as a C-style literal followed by a blank, for display.
    std::string commandLineText() const;
    // A /bin/sh command line that starts this installer again as the web wizard's back end.
    std::string webLaunchCommand() const;
    // Whether an argument is the option --proxy-password, and where its value is.
    enum password_argument_t { no_password = 0, password_follows = 1, password_attached = 2 };
    static int proxyPasswordArgument(const std::string& argument);

    // The layers before the command line.
    void readRcFile();
    void readEnvironment();
    void readComponentOptions();

    // Reads lines until one holds a setting; false at the end of the stream. Syntax errors raise.
    // With componentOptions, the line is one of options.ini: the name is a setting id (letters,
    // digits, "_" and "-") and "\x" with two hex digits in a quoted value stands for that byte, as
    // the settings saver writes them.
    static bool parseRcLine(std::istream& in, std::string& name, std::string& value,
                            bool componentOptions = false);
    // Candidate rc files, most specific first, and the first one that is a file ("" when none).
    static std::vector<std::string> rcFilePaths();
    static std::string findRcFile();
    static bool parseYesNo(const std::string& key, const std::string& value);
    // A whole decimal number of at least 1, else err_retry_arg with `name`.
    static int parseRetryCount(const std::string& name, const std::string& value);
    static std::string componentOptionsPath();

    // Command-line layer and consistency check.
    void parseOptions(int argc, char** argv);
    // The option style's help and the command list, on standard output.
    static void printUsage();
    static void printCommands();
    void check();

    // Command style, first stage: the command word, its options and the rule that needs no
    // catalogue. Conflicting options and the option library's own complaints raise
    // boost::program_options::error.
    void parseCommand(int argc, char** argv);
    // Parses into commandLineValues; false when --help was given (nothing is written then).
    bool parseCommandOptions(int argc, char** argv);
    // Level 0 brief help, 1 normal, 2 and more full, 100 and more the description for parsing.
    CommandDescription describeCommand(const std::string& word, uint64_t level);
    // The help page of commandWord (of the selector for "help"), or its options list for shell
    // completion.
    void printCommandHelp(std::ostream& out = std::cout) const;
    bool isCompletionRequested() const;

    // Command style, second stage: classifies the selectors against the catalogue and turns the
    // command into release selectors and product requests. Ends with the tier defaults and check().
    void interpretSelectors(const BuildManager& catalogue);
    void resolveVersionSelector(const BuildManager& catalogue);
    // Every value of a list option, each split at unescaped commas.
    std::vector<std::string> collectListOption(const std::string& name) const;

    // Process-wide, outside the record, so that a default record after a failed build keeps it.
    static bool enableXmlOutput;
    // Prefix of the result document's status: "", "query_" or "install_".
    static std::string statusPrefix;

    std::map<std::string, std::map<std::string, std::string>> componentSettings;
    int32_t runMode;
    int32_t command;
    int32_t verb;
    std::vector<ReleaseSelector> releaseSelectors;
    std::map<std::string, ProductRequest> productRequests;
    SourceUrl source;
    bool useMoxelUpdates;
    std::string target;
    std::vector<std::string> tier;
    bool tiersAreDefault;
    std::vector<std::string> keptReleaseIds;
    bool allVersions;
    std::string proxyHost;
    int32_t proxyPort;
    std::string proxyUser;
    std::string proxyPassword;
    bool truncateLog;
    bool separateLogs;
    std::string notifyEmail;
    uint64_t verbose;
    bool strict;
    bool debug;
    bool noDaemon;
    std::string webDefaultPage;
    bool skipCleanup;
    bool disableSelfUpgrade;
    bool showHiddenComponents;
    std::string extCatalogUrl;
    bool skipComponentsCheck;
    bool forceRemovePackagesTree;
    bool showOptions;
    bool removeEverything;
    bool interactiveUninstall;
    std::string sslCert;
    std::string sslProtocols;
    std::string sslCiphers;
    std::string sslCipherServerPreference;
    bool withoutSsl;
    bool openBrowser;
    // (release id, build description file name)
    std::vector<std::pair<std::string, std::string>> mirrorOs;
    std::vector<std::string> removePackage;
    bool reinstallPatch;
    bool skipPatch;
    std::string setFeedbackProduct;
    std::string setFeedbackGroupId;
    bool interactionModeHandedOver;
    int32_t downloadRetryCount;
    bool skipGpgCheck;
    bool terminate;
    std::string commandWord;
    std::vector<std::string> selectors;
    boost::program_options::variables_map commandLineValues;
    std::string productIdSelector;
    std::string releaseIdSelector;
    std::string versionSelector;
    int32_t terminalWidth;

private:
    void applyRcSetting(const std::string& name, const std::string& value);

    // Command style.
    bool isGiven(const std::string& name) const;
    void refuseConflict(const std::string& first, const std::string& second) const;
    void requireOption(const std::string& option, const std::string& required) const;
    void applyCommandRule();
    // The second-stage rules; `tierSelected` tells whether a tier selector was given.
    void applyListRule(const BuildManager& catalogue, bool tierSelected);
    void applyInstallRule(const BuildManager& catalogue);
    void applyUpgradeRule(const BuildManager& catalogue, bool tierSelected);
    void applyUpdateRule(const BuildManager& catalogue, bool tierSelected);
    void applyAddRemoveRule(const BuildManager& catalogue, bool tierSelected);

    // Options that set the run mode, the command and a product mode, for err_cmd_override.
    std::string runModeOption;
    std::string commandOption;
    std::string productModeOption;

    static std::unique_ptr<Options> the_instance;
    static int saved_argc;
    static char** saved_argv;
};
