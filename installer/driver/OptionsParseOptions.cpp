#include "installer/driver/Options.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <getopt.h>

#include <cstdlib>
#include <string>
#include <vector>

const char* const Options::handedOverProxyPasswordVariable = "MOXEL_HANDED_OVER_PROXY_PASSWORD";

namespace {

// What one call of the option-style parser remembers between options.
struct ParseState {
    Options& options;
    std::string product;
    std::string lastReleaseId;

    // The product a change request is for; the default product stands in for none.
    ProductRequest& request(const std::string& name, int mode) {
        const std::string id = product.empty() ? std::string(Options::defaultProductId) : product;
        options.setProductMode(id, name, mode);
        return options.productRequests[id];
    }
    void selectCurrent() { options.addReleaseSelector(ReleaseSelector::current, product, ""); }
};

using Apply = void (*)(ParseState& state, const std::string& name, const std::string& value);

struct OptionSpec {
    const char* name;
    int hasArg;
    Apply apply;
};

void deprecated(ParseState&, const std::string& name, const std::string&) {
    Log::stream(0, true) << Messages().format("warn_deprecated_option", "--" + name);
}

void help(ParseState& s, const std::string&, const std::string&) {
    s.options.setRunMode("help", Options::mode_command_list);
}

void version(ParseState& s, const std::string&, const std::string&) {
    s.options.setRunMode("version", Options::mode_version);
}

void serviceMode(ParseState& s, const std::string& name, const std::string& page) {
    // The launched back end sees the launch request again among its parent's arguments.
    if (!util::get_env("WEB_SECRET").empty()) {
        Log::stream(2, true) << "DEBUG: ignore option --service-mode because environment variable "
                             << "WEB_SECRET"
                             << " is already set.";
        return;
    }
    s.options.setRunMode(name, Options::mode_service);
    if (page == "update")
        s.options.setWebDefaultPage("update_components");
    else if (page == "components")
        s.options.setWebDefaultPage("components");
}

void showAllVersions(ParseState& s, const std::string&, const std::string&) {
    s.options.showAllVersions();
}

void setTiers(ParseState& s, const std::string&, const std::string& value) {
    s.options.setTiers(value);
}

// The long options in the order of the help texts.
const OptionSpec option_table[] = {
    {"source-type", required_argument, deprecated},
    {"source", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.source = SourceUrl(v); }},
    {"target", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.target = v; }},
    {"add-source", required_argument, deprecated},
    {"disable-moxel-sys-updates", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.useMoxelUpdates = false; }},
    {"proxy-host", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.proxyHost = v; }},
    {"proxy-port", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) {
         s.options.proxyPort = std::atoi(v.c_str());
     }},
    {"proxy-user", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.proxyUser = v; }},
    {"proxy-password", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.proxyPassword = v; }},
    {"query-status", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setRunMode(n, Options::mode_query_status);
         Options::statusPrefix = "query_";
     }},
    {"check-updates", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_check_updates);
         s.selectCurrent();
     }},
    {"show-all-releases", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_all_releases);
         s.selectCurrent();
     }},
    {"show-os-list", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_os_list);
     }},
    {"show-releases", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_releases);
         s.selectCurrent();
     }},
    {"show-installation-types", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_installation_types);
     }},
    {"show-components", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_components);
     }},
    {"show-options", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.showOptions = true; }},
    {"show-packages", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_show_packages);
     }},
    {"show-additional-source-types", no_argument, deprecated},
    {"show-additional-sources", no_argument, deprecated},
    {"mirror-os", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setRunMode(n, Options::mode_mirror);
         if (s.lastReleaseId.empty())
             throw error(error::user, 1, 1, 2) << Messages().getMessage("err_mirror_order");
         s.options.mirrorOs.emplace_back(s.lastReleaseId, v);
     }},
    {"installation-type", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_change);
         s.request(n, ProductRequest::installation_type).installationType = v;
     }},
    {"install-component", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_change);
         s.request(n, ProductRequest::explicit_components).installComponents.push_back(v);
         Options::statusPrefix = "install_";
     }},
    {"install-everything", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_change);
         s.request(n, ProductRequest::install_all);
         Options::statusPrefix = "install_";
     }},
    {"upgrade-installed-components", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_change);
         s.request(n, ProductRequest::upgrade_installed);
     }},
    {"include-components-from-class", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_change);
         s.request(n, ProductRequest::upgrade_installed).componentClasses.push_back(v);
     }},
    {"remove-component", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_change);
         s.selectCurrent();
         s.request(n, ProductRequest::explicit_components).removeComponents.push_back(v);
         Options::statusPrefix = "install_";
     }},
    {"remove-package", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_change);
         s.selectCurrent();
         s.options.removePackage.push_back(v);
     }},
    {"force-remove-packages-tree", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.forceRemovePackagesTree = true; }},
    {"remove-everything", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setCommand(n, Options::cmd_change);
         s.selectCurrent();
         s.request(n, ProductRequest::remove_all);
         s.options.removeEverything = true;
     }},
    {"interactive-uninstall", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.interactiveUninstall = true; }},
    {"select-product-id", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.product = v; }},
    {"set-option", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) {
         s.options.setComponentSetting(s.product, v);
     }},
    {"select-release-id", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) {
         s.options.addReleaseSelector(ReleaseSelector::by_id, s.product, v);
         s.lastReleaseId = v;
         s.options.keptReleaseIds.push_back(v);
     }},
    {"select-release-latest", no_argument,
     [](ParseState& s, const std::string&, const std::string&) {
         s.options.addReleaseSelector(ReleaseSelector::latest, s.product, "");
     }},
    {"select-release-current", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.selectCurrent(); }},
    {"enable-xml-output", no_argument,
     [](ParseState&, const std::string&, const std::string&) { Options::enableXmlOutput = true; }},
    {"override-os-name", required_argument,
     [](ParseState&, const std::string&, const std::string& v) { Opsys::override_name = v; }},
    {"override-os-vendor", required_argument,
     [](ParseState&, const std::string&, const std::string& v) { Opsys::override_vendor = v; }},
    {"override-os-version", required_argument,
     [](ParseState&, const std::string&, const std::string& v) { Opsys::override_version = v; }},
    {"override-os-arch", required_argument,
     [](ParseState&, const std::string&, const std::string& v) { Opsys::override_arch = v; }},
    {"override-environment", required_argument,
     [](ParseState&, const std::string&, const std::string& v) { Opsys::override_environment = v; }},
    {"install-system-only", no_argument, deprecated},
    {"allow-kernel-install", no_argument, deprecated},
    {"disable-major-updates", no_argument, deprecated},
    {"upgrade-system-packages", no_argument, deprecated},
    {"web-interface", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setRunMode(n, Options::mode_web);
     }},
    {"ssl-cert", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.sslCert = v; }},
    {"without-ssl", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.withoutSsl = true; }},
    {"console-interface", no_argument,
     [](ParseState& s, const std::string& n,
        const std::string&) { s.options.setRunMode(n, Options::mode_console); }},
    {"disable-browser", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.openBrowser = false; }},
    {"with-ssl", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.withoutSsl = false; }},
    {"service-mode", optional_argument, serviceMode},
    {"reinstall-patch", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.reinstallPatch = true; }},
    {"skip-patch", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.skipPatch = true; }},
    {"download-retry-count", required_argument,
     [](ParseState& s, const std::string&,
        const std::string&
            v) { s.options.downloadRetryCount = Options::parseRetryCount("--download-retry-count", v); }},
    {"skip-gpg-check", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.skipGpgCheck = true; }},
    {"no-clear", no_argument,
     [](ParseState&, const std::string&, const std::string&) { noClearScreen = true; }},
    {"truncate-log", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.truncateLog = true; }},
    {"separate-logs", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.separateLogs = true; }},
    {"no-daemon", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.noDaemon = true; }},
    {"notify-email", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.notifyEmail = v; }},
    {"skip-components-check", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.skipComponentsCheck = true; }},
    {"version", no_argument, version},
    {"print-version-of-this-binary", no_argument,
     [](ParseState& s, const std::string& n, const std::string&) {
         s.options.setRunMode(n, Options::mode_bare_version);
     }},
    {"set-user-interaction-mode", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setUserInteractionMode(n, v);
     }},
    {"skip-cleanup", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.skipCleanup = true; }},
    {"disable-self-upgrade", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.disableSelfUpgrade = true; }},
    {"usage", no_argument, help},
    {"help", no_argument, help},
    {"help-options", no_argument,
     [](ParseState& s, const std::string& n,
        const std::string&) { s.options.setRunMode(n, Options::mode_help_options); }},
    {"debug", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.debug = true; }},
    {"no-space-check", no_argument, deprecated},
    {"enable-feedback", no_argument,
     [](ParseState& s, const std::string& n,
        const std::string&) { s.options.setCommand(n, Options::cmd_enable_feedback); }},
    {"disable-feedback", no_argument,
     [](ParseState& s, const std::string& n,
        const std::string&) { s.options.setCommand(n, Options::cmd_disable_feedback); }},
    {"branch", required_argument, setTiers},
    {"tier", required_argument, setTiers},
    {"skip-branch-filter", no_argument, showAllVersions},
    {"all-versions", no_argument, showAllVersions},
    {"set-feedback-product", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_set_feedback_product);
         s.options.setFeedbackProduct = v;
     }},
    {"set-feedback-group-id", required_argument,
     [](ParseState& s, const std::string& n, const std::string& v) {
         s.options.setCommand(n, Options::cmd_set_feedback_group_id);
         s.options.setFeedbackGroupId = v;
     }},
    {"show-hidden-components", no_argument,
     [](ParseState& s, const std::string&, const std::string&) { s.options.showHiddenComponents = true; }},
    {"ext-catalog-url", required_argument,
     [](ParseState& s, const std::string&, const std::string& v) { s.options.extCatalogUrl = v; }},
};

const int option_count = sizeof(option_table) / sizeof(option_table[0]);
// Long options answer with their index after this, clear of the short options and '?'.
const int long_option_base = 256;

std::vector<option> longOptions() {
    std::vector<option> options;
    for (int i = 0; i < option_count; ++i)
        options.push_back({option_table[i].name, option_table[i].hasArg, nullptr, long_option_base + i});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

} // namespace

void Options::parseOptions(int argc, char** argv) {
    // A password handed over by the installer that launched this one stays out of argv and the log.
    const std::string handedOver = util::get_env(handedOverProxyPasswordVariable);
    if (!handedOver.empty()) {
        proxyPassword = handedOver;
        util::unset_env(handedOverProxyPasswordVariable);
    }

    ParseState state{*this, "", ""};
    const std::vector<option> options = longOptions();
    // The parser keeps its position between calls; 0 starts it afresh.
    optind = 0;
    opterr = 1;
    for (;;) {
        const int found = getopt_long(argc, argv, "hv", options.data(), nullptr);
        if (found == -1)
            break;
        if (found == 'h')
            help(state, "help", "");
        else if (found == 'v')
            version(state, "version", "");
        else if (found >= long_option_base && found < long_option_base + option_count)
            option_table[found - long_option_base].apply(state, option_table[found - long_option_base].name,
                                                         optarg ? optarg : "");
        else
            throw error(error::user, 1, 1, 2) << Messages().getMessage("err_unkn_option");
    }
    if (optind < argc) {
        error stray(0, 0, 0, 0);
        stray << Messages().getMessage("err_unkn_arg");
        for (int i = optind; i < argc; ++i)
            stray << argv[i] << "\n";
        throw stray;
    }
}
