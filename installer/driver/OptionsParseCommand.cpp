#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/driver/OptionsHelpPrinter.h"

#include <boost/format.hpp>
#include <boost/make_shared.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <array>
#include <memory>

namespace po = boost::program_options;

namespace {

// The values that fill the usage texts' placeholders.
const char* const example_version = "12.5.30";
const char* const example_release_id = "MOXEL_12_5_30";
// Columns kept for option descriptions in the help.
const unsigned min_description_columns = 40;
// The description used for parsing.
const uint64_t parsing_level = 100;

struct command_info_t {
    const char* word;
    // Joined: the first, an empty line, then each further text on a line of its own.
    std::array<const char*, 4> usage;
    const char* synopsis;
    // Whether selectors may follow the command word.
    bool selectors;
};

const command_info_t commands[] = {
    {"version", {"usage_cmd_version"}, "", false},
    {"help", {"usage_cmd_help"}, "[COMMAND] [--verbose | -v]", true},
    {"list-all", {"usage_cmd_list_all"}, "", false},
    {"list",
     {"usage_cmd_list", "usage_selector", "usage_cmd_list_tail"},
     "[SELECTOR ...] [(--presets | --components [--options])]",
     true},
    {"install",
     {"usage_cmd_install", "usage_components", "usage_selector", "usage_cmd_install_tail"},
     "[SELECTOR ...] [(--preset PRESET [--with COMPONENTS] [--without COMPONENTS] | --components "
     "COMPONENTS)]",
     true},
    {"upgrade", {"usage_cmd_upgrade", "usage_selector", "usage_cmd_upgrade_tail"}, "SELECTOR ...", true},
    {"update",
     {"usage_cmd_update", "usage_product", "usage_cmd_update_tail"},
     "[PRODUCT] [--repatch] [--panel-only]",
     true},
    {"add",
     {"usage_cmd_add", "usage_components", "usage_product", "usage_cmd_add_remove_tail"},
     "[PRODUCT] --components COMPONENTS",
     true},
    {"remove",
     {"usage_cmd_remove", "usage_components", "usage_product", "usage_cmd_add_remove_tail"},
     "[PRODUCT] --components COMPONENTS",
     true},
    {"stop", {"usage_cmd_stop"}, "[--terminate]", true},
};

error userError() {
    return error(error::user, 1, 1, 2);
}

const command_info_t& findCommand(const std::string& word) {
    for (const command_info_t& command : commands)
        if (word == command.word)
            return command;
    throw userError() << Messages().format("err_opt_unknown_command", word);
}

bool isOneOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* candidate : words)
        if (word == candidate)
            return true;
    return false;
}

std::string usageText(const command_info_t& command) {
    Messages messages;
    std::string joined = messages.getMessage(command.usage[0]);
    for (size_t i = 1; i < command.usage.size() && command.usage[i]; ++i)
        joined += (i == 1 ? "\n\n" : "\n") + messages.getMessage(command.usage[i]);
    boost::format formatter(joined);
    // Most texts use only some of the three values.
    formatter.exceptions(boost::io::all_error_bits ^ boost::io::too_many_args_bit);
    return (formatter % Options::defaultProductId % example_version % example_release_id).str();
}

// Builds the groups of one description.
class GroupBuilder {
public:
    GroupBuilder(CommandDescription& description, bool extended)
        : description(description), extended(extended) {}

    GroupBuilder& group(const char* caption_key) {
        description.groups.push_back({Messages().getMessage(caption_key), {}});
        return *this;
    }
    GroupBuilder& add(const char* name, const po::value_semantic* semantic, const char* description_key) {
        const std::string text = description_key ? Messages().getMessage(description_key) : std::string();
        auto option = boost::make_shared<po::option_description>(name, semantic, text.c_str());
        description.groups.back().options.push_back(option);
        description.options.add(option);
        return *this;
    }
    // Only in the full help and when parsing.
    GroupBuilder& addExtended(const char* name, const po::value_semantic* semantic,
                              const char* description_key) {
        std::unique_ptr<const po::value_semantic> owned(semantic);
        if (extended)
            add(name, owned.release(), description_key);
        return *this;
    }

private:
    CommandDescription& description;
    bool extended;
};

// A value-less option, bound or not. A bound switch defaults to its setting, so that it never
// turns off what an earlier layer turned on.
po::typed_value<bool>* flag() {
    return po::bool_switch();
}
po::typed_value<bool>* flag(bool& setting) {
    return po::bool_switch(&setting)->default_value(setting);
}

po::typed_value<std::vector<std::string>>* list(const char* value_name) {
    return po::value<std::vector<std::string>>()->multitoken()->value_name(value_name);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Parsing

void Options::parseCommand(int argc, char** argv) {
    if (argc <= 1 || argv[1][0] == '-')
        throw internal_error("installer/Options.cpp", 1847);
    commandWord = argv[1];
    strict = true;
    findCommand(commandWord);
    if (parseCommandOptions(argc, argv))
        applyCommandRule();
}

bool Options::parseCommandOptions(int argc, char** argv) {
    const CommandDescription description = describeCommand(commandWord, parsing_level);
    commandLineValues.clear();
    po::store(po::command_line_parser(argc, argv)
                  .options(description.options)
                  .positional(description.positional)
                  .run(),
              commandLineValues);
    if (!isGiven("help")) {
        po::notify(commandLineValues);
        // Component lists are split later; their escapes are checked now, with the other values.
        for (const char* list_option : {"with", "without", "components"})
            if (isGiven(list_option) &&
                commandLineValues[list_option].value().type() == typeid(std::vector<std::string>))
                collectListOption(list_option);
        return true;
    }
    if (isGiven("verbose"))
        verbose = commandLineValues["verbose"].as<uint64_t>();
    setRunMode("help", mode_command_help);
    return false;
}

bool Options::isGiven(const std::string& name) const {
    const auto found = commandLineValues.find(name);
    return found != commandLineValues.end() && !found->second.defaulted();
}

void Options::refuseConflict(const std::string& first, const std::string& second) const {
    if (isGiven(first) && isGiven(second))
        throw po::error(Messages().format("err_opt_conflict", first, second));
}

void Options::requireOption(const std::string& option, const std::string& required) const {
    if (isGiven(option) && !isGiven(required))
        throw po::error(Messages().format("err_opt_requires", option, required));
}

void Options::applyCommandRule() {
    const std::string& word = commandWord;
    // A change that is no dry run reports as an installation.
    const auto change = [&]() {
        if (isGiven("dry-run")) {
            setCommand(word, cmd_show_packages);
            return false;
        }
        setCommand(word, cmd_change);
        return true;
    };

    if (word == "version") {
        setRunMode(word, mode_version);
    } else if (word == "help") {
        setRunMode(word, selectors.size() == 1 ? mode_command_help : mode_command_list);
    } else if (word == "list-all") {
        setCommand(word, cmd_show_all_releases);
    } else if (word == "list") {
        refuseConflict("presets", "components");
        refuseConflict("presets", "options");
        setRunMode(word, mode_command_line);
    } else if (word == "install") {
        refuseConflict("preset", "components");
        requireOption("with", "preset");
        requireOption("without", "preset");
        if (change())
            statusPrefix = "install_";
        verb = verb_install;
    } else if (word == "upgrade") {
        setRunMode(word, mode_command_line);
        verb = verb_upgrade;
    } else if (word == "update") {
        change();
        verb = verb_update;
    } else if (word == "add" || word == "remove") {
        if (change())
            statusPrefix = "install_";
        verb = verb_add_remove;
    } else if (word == "stop") {
        setRunMode(word, mode_stop);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Descriptions and help

CommandDescription Options::describeCommand(const std::string& word, uint64_t level) {
    const command_info_t& command = findCommand(word);
    const bool parsing = level >= parsing_level;
    CommandDescription description;
    GroupBuilder groups(description, level >= 2);

    if (word == "list") {
        groups.group("usage_hdr_command_opts")
            .add("presets", flag(), "usage_opt_list_presets")
            .add("components", flag(), "usage_opt_list_components")
            .add("options", flag(showOptions), "usage_opt_list_options");
    } else if (word == "install") {
        groups.group("usage_hdr_command_opts")
            .add("preset", po::value<std::string>(), "usage_opt_install_preset")
            .add("with", list("name ..."), "usage_opt_install_with")
            .add("without", list("name ..."), "usage_opt_install_without")
            .add("components", list("name ..."), "usage_opt_install_components")
            .add("options", list("name=value ..."), "usage_opt_install_options")
            .add("dry-run", flag(), "usage_opt_dry_run");
    } else if (word == "upgrade") {
        groups.group("usage_hdr_command_opts").add("dry-run", flag(), "usage_opt_dry_run");
    } else if (word == "update") {
        groups.group("usage_hdr_command_opts")
            .add("panel-only", flag(), "usage_opt_update_panel_only")
            .add("dry-run", flag(), "usage_opt_dry_run");
    } else if (word == "add" || word == "remove") {
        groups.group("usage_hdr_command_opts")
            .add("components", list("name ...")->required(), "usage_opt_addremove_components")
            .add("dry-run", flag(), "usage_opt_dry_run");
    } else if (word == "stop") {
        groups.group("usage_hdr_command_opts").add("terminate", flag(terminate), "usage_opt_stop_terminate");
    }

    const auto verbose_option = [&]() { return po::value<uint64_t>(&verbose)->implicit_value(1); };
    const bool listing = word == "list" || word == "list-all";
    if (isOneOf(word, {"version", "help", "stop"})) {
        groups.group("usage_hdr_general_opts")
            .add("help", flag(), "usage_opt_help")
            .addExtended("debug", flag(debug), "usage_opt_debug")
            .addExtended("verbose,v", verbose_option(), "usage_opt_verbose")
            .addExtended("completion,c", flag(), "usage_opt_completion")
            .addExtended("disable-self-upgrade", flag(disableSelfUpgrade), "usage_opt_no_self_upgrade");
    } else if (level != 0) {
        groups.group("usage_hdr_download_opts")
            .add("source",
                 po::value<std::string>()->notifier([this](const std::string& s) { source = SourceUrl(s); }),
                 "usage_opt_source")
            .add("target", po::value<std::string>(&target), "usage_opt_target")
            .add("tries",
                 po::value<int32_t>(&downloadRetryCount)
                     ->default_value(downloadRetryCount)
                     ->notifier([](int32_t n) {
                         if (n < 1)
                             throw userError() << Messages().format("err_retry_arg", "--tries");
                     }),
                 "usage_opt_tries")
            .addExtended("ext-catalog-url", po::value<std::string>(&extCatalogUrl), "usage_opt_ext");
        groups.group("usage_hdr_proxy_opts")
            .add("proxy-host", po::value<std::string>(&proxyHost), "usage_opt_proxy_host")
            .add("proxy-port", po::value<int32_t>(&proxyPort), "usage_opt_proxy_port")
            .add("proxy-user", po::value<std::string>(&proxyUser), "usage_opt_proxy_user")
            .add("proxy-password", po::value<std::string>(&proxyPassword), "usage_opt_proxy_pass");
        // The help shows the detected system; parsing must not detect it before the overrides are set.
        const auto override_option = [&](std::string& setting,
                                         const std::string& (Opsys::*detected)() const) {
            auto* value = po::value<std::string>(&setting);
            return parsing ? value : value->default_value((Opsys().*detected)());
        };
        groups.group("usage_hdr_env_opts")
            .add("override-os-name", override_option(Opsys::override_name, &Opsys::getName),
                 "usage_opt_override_os_name")
            .add("override-os-vendor", override_option(Opsys::override_vendor, &Opsys::getVendor),
                 "usage_opt_override_os_vendor")
            .add("override-os-version", override_option(Opsys::override_version, &Opsys::getVersion),
                 "usage_opt_override_os_version")
            .add("override-os-arch", override_option(Opsys::override_arch, &Opsys::getArch),
                 "usage_opt_override_os_arch")
            .add("override-environment", override_option(Opsys::override_environment, &Opsys::getEnvironment),
                 "usage_opt_override_env");
        const bool patching = isOneOf(word, {"update", "add", "remove"}) || (!listing && level >= 2);
        if (patching)
            groups.group("usage_hdr_patch_opts")
                .add("repatch", flag(reinstallPatch), "usage_opt_repatch")
                .addExtended("skip-patch", flag(skipPatch), "usage_opt_skip_patch");
        if (!listing || level >= 2)
            groups.group("usage_hdr_skip_opts")
                .add("skip-components-check", flag(skipComponentsCheck), "usage_opt_skip_examine")
                .addExtended("skip-gpg-check", flag(skipGpgCheck), "usage_opt_skip_gpg")
                .addExtended("skip-cleanup", flag(skipCleanup), "usage_opt_skip_cleanup")
                .addExtended("disable-self-upgrade", flag(disableSelfUpgrade), "usage_opt_no_self_upgrade");
        groups.group("usage_hdr_general_opts")
            .add("help", flag(), "usage_opt_help")
            .add("xml", flag(enableXmlOutput), "usage_opt_xml")
            .add("debug", flag(debug), "usage_opt_debug")
            .add("truncate-log", flag(truncateLog), "usage_opt_truncate_log")
            .add("separate-logs", flag(separateLogs), "usage_opt_separate_log")
            .add("email", po::value<std::string>(&notifyEmail), "usage_opt_email")
            .addExtended("verbose,v", verbose_option(), "usage_opt_verbose")
            .addExtended("completion,c", flag(), "usage_opt_completion");
    } else if (word == "update") {
        groups.group("usage_hdr_patch_opts").add("repatch", flag(reinstallPatch), "usage_opt_repatch");
    }

    if (parsing) {
        description.groups.push_back({});
        groups.add("command", po::value<std::string>(&commandWord)->required(), nullptr);
        description.positional.add("command", 1);
        if (command.selectors) {
            groups.add("selector", po::value<std::vector<std::string>>(&selectors), nullptr);
            description.positional.add("selector", -1);
        }
    }
    if (level == 0)
        description.footer = Messages().getMessage("usage_verbose");
    description.synopsis = command.synopsis;
    description.usage = usageText(command);
    return description;
}

void Options::printCommandHelp(std::ostream& out) const {
    const std::string word = commandWord == "help" && selectors.size() == 1 ? selectors.front() : commandWord;
    // A description binds its options to a record; the help only reads it, so a scratch copy serves.
    Options scratch(*this);
    const CommandDescription description = scratch.describeCommand(word, verbose);

    if (isGiven("completion")) {
        out << "{\n";
        const char* separator = "";
        for (const OptionGroup& group : description.groups) {
            for (const auto& option : group.options) {
                const bool flag = option->semantic()->min_tokens() == 0;
                out << separator << "  \"--" << option->long_name()
                    << "\": {\"flag\": " << (flag ? "true" : "false") << "}";
                separator = ",\n";
            }
        }
        out << "\n}" << std::endl;
        return;
    }

    out << Messages().getMessage("usage_cmd_prefix") << word << " " << description.synopsis << "\n\n"
        << description.usage << "\n";
    OptionsHelpPrinter(static_cast<unsigned>(terminalWidth), min_description_columns)
        .print(out, description.groups);
    out << "\n" << description.footer << std::endl;
}

bool Options::isCompletionRequested() const {
    return !debug && runMode == mode_command_help && isGiven("completion");
}
