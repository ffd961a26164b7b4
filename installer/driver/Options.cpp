#include "installer/driver/Options.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"

#include <boost/algorithm/string/split.hpp>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

bool noClearScreen = false;
bool Options::enableXmlOutput = false;
std::string Options::statusPrefix;

const char* const Options::defaultProductId = "moxel";
const char* const Options::defaultSource = "https://updates.moxel.example/";

std::unique_ptr<Options> Options::the_instance;
int Options::saved_argc = 0;
char** Options::saved_argv = nullptr;

namespace {

const char* const rc_file_name = ".dizadizezerozrc";
const char* const default_tiers = "stable,release,current";

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool isLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}
// Setting ids may also hold "-" and begin with a digit or "_".
bool isSettingIdChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}
bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

error userError() {
    return error(error::user, 1, 1, 2);
}

// The whole file, or false with errno set.
bool readWholeFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return false;
    content.clear();
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got > 0) {
            content.append(buffer, static_cast<size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
    }
    ::close(fd);
    return true;
}

std::vector<std::string> splitAtCommas(const std::string& text) {
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, text, [](char c) { return c == ','; });
    return pieces;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Records

ReleaseSelector::ReleaseSelector(const std::string& productId, const std::string& releaseId)
    : productId(productId), kind(by_id), releaseId(releaseId) {
    if (releaseId.empty())
        throw internal_error("installer/Options.h", 115);
}

ReleaseSelector::ReleaseSelector(const std::string& productId, int kind) : productId(productId), kind(kind) {
    if (kind == by_id)
        throw internal_error("installer/Options.h", 111);
}

// ---------------------------------------------------------------------------------------------------------
// Construction

Options& Options::instance() {
    if (!the_instance) {
        try {
            the_instance = std::make_unique<Options>(saved_argc, saved_argv);
        } catch (...) {
            // The error handlers of the run still need settings.
            the_instance = std::make_unique<Options>();
            throw;
        }
    }
    return *the_instance;
}

void Options::saveArguments(int argc, char** argv) {
    saved_argc = argc;
    saved_argv = argv;
}

Options::Options() {
    setDefaults();
}

Options::Options(int argc, char** argv) {
    // Built before the process saved its arguments: as if run without any.
    static char program_name[] = "installer";
    static char* no_arguments[] = {program_name, nullptr};
    if (argv == nullptr) {
        argc = 1;
        argv = no_arguments;
    }
    setDefaults();
    readRcFile();
    readEnvironment();
    readComponentOptions();
    if (argc <= 1 || argv[1][0] == '-')
        parseOptions(argc, argv);
    else
        parseCommand(argc, argv);
    // The command style does both once the catalogue is known.
    if (commandWord.empty()) {
        applyTierDefaults();
        check();
    }
}

void Options::setDefaults() {
    componentSettings.clear();
    runMode = mode_console;
    command = cmd_none;
    verb = verb_none;
    releaseSelectors.clear();
    productRequests.clear();
    source = SourceUrl(defaultSource);
    useMoxelUpdates = true;
    target = fileops::get_home_dir() + "/cordavine";
    tier = splitAtCommas(default_tiers);
    tiersAreDefault = true;
    keptReleaseIds.clear();
    allVersions = false;
    proxyHost.clear();
    proxyPort = 3128;
    proxyUser.clear();
    proxyPassword.clear();
    truncateLog = false;
    separateLogs = false;
    notifyEmail.clear();
    verbose = 0;
    strict = false;
    debug = false;
    noDaemon = false;
    webDefaultPage.clear();
    skipCleanup = false;
    disableSelfUpgrade = false;
    showHiddenComponents = false;
    extCatalogUrl.clear();
    skipComponentsCheck = false;
    forceRemovePackagesTree = false;
    showOptions = false;
    removeEverything = false;
    interactiveUninstall = false;
    sslCert.clear();
    sslProtocols.clear();
    sslCiphers.clear();
    sslCipherServerPreference.clear();
    withoutSsl = false;
    openBrowser = true;
    mirrorOs.clear();
    removePackage.clear();
    reinstallPatch = false;
    skipPatch = false;
    setFeedbackProduct.clear();
    setFeedbackGroupId.clear();
    interactionModeHandedOver = false;
    downloadRetryCount = 3;
    skipGpgCheck = false;
    terminate = false;
    commandWord.clear();
    selectors.clear();
    commandLineValues.clear();
    productIdSelector.clear();
    releaseIdSelector.clear();
    versionSelector.clear();
    terminalWidth = util::terminal_width();
    if (terminalWidth == 0)
        terminalWidth = 80;
}

// ---------------------------------------------------------------------------------------------------------
// Setters with conflict rules

void Options::setRunMode(const std::string& name, int mode) {
    // --mirror-os may be given once per build.
    if (mode == mode_mirror && runMode == mode_mirror)
        return;
    if (runMode != mode_console)
        throw userError() << Messages().format("err_cmd_override", name, runModeOption);
    runMode = mode;
    runModeOption = name;
}

void Options::setCommand(const std::string& name, int code) {
    runMode = mode_command_line;
    runModeOption = name;
    // A dry run combined with a change stays a dry run.
    if ((command == cmd_change && code == cmd_show_packages) ||
        (command == cmd_show_packages && code == cmd_change)) {
        command = cmd_show_packages;
        return;
    }
    if (command != cmd_none && command != code)
        throw userError() << Messages().format("err_cmd_override", name, commandOption);
    command = code;
    commandOption = name;
}

void Options::setProductMode(const std::string& productId, const std::string& name, int mode) {
    ProductRequest& request = productRequests[productId];
    if (request.mode != ProductRequest::none && request.mode != mode)
        throw userError() << Messages().format("err_cmd_override", name, productModeOption);
    request.mode = mode;
    productModeOption = name;
}

void Options::addReleaseSelector(int kind, const std::string& productId, const std::string& releaseId) {
    if (kind == ReleaseSelector::by_id)
        releaseSelectors.emplace_back(productId, releaseId);
    else
        releaseSelectors.emplace_back(productId.empty() ? std::string(defaultProductId) : productId, kind);
}

void Options::setUserInteractionMode(const std::string& name, const std::string& value) {
    if (value == "textUI")
        runMode = mode_console;
    else if (value == "webUI")
        runMode = mode_web;
    else
        throw error(error::internal, 1, 1, 2) << "Invalid argument for option --" << name << "=" << value;
    runModeOption = name;
    interactionModeHandedOver = true;
}

// ---------------------------------------------------------------------------------------------------------
// Tiers

void Options::setTiers(const std::string& text) {
    tier.clear();
    if (!text.empty())
        tier = splitAtCommas(text);
    tiersAreDefault = false;
}

void Options::setTierList(const std::vector<std::string>& list) {
    tier = list;
    tiersAreDefault = false;
}

void Options::showAllVersions() {
    allVersions = true;
    setTiers("");
}

void Options::applyTierDefaults() {
    // The web wizard's service process offers only stable and release builds unless told otherwise.
    if (tiersAreDefault && !util::get_env("WEB_SECRET").empty())
        setTiers("stable,release");
}

// ---------------------------------------------------------------------------------------------------------
// Other operations

void Options::setWebDefaultPage(const std::string& page) {
    webDefaultPage = page;
    util::set_env("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE", page);
    Log::stream(3, true) << "DEBUG: Options: set AI_WEB_UI_DEFAULT_PAGE_OVERRIDE env var to " << page;
}

void Options::setComponentSetting(const std::string& productId, const std::string& text) {
    std::istringstream in(text);
    std::string name, value;
    if (!parseRcLine(in, name, value, true))
        throw userError() << Messages().format("err_rc_line", text);
    componentSettings[productId.empty() ? std::string(defaultProductId) : productId][name] = value;
}

bool Options::runInBackground() const {
    return !noDaemon && command == cmd_change && enableXmlOutput;
}

bool Options::isProdIDSelected(const std::string& productId) const {
    bool selected = false;
    for (const ReleaseSelector& selector : releaseSelectors)
        if (selector.productId == productId)
            selected = true;
    Log::stream(3, true) << "Options::isProdIDSelected: " << productId << " " << selected;
    return selected;
}

std::string Options::commandLineText() const {
    std::string text;
    for (int i = 0; i < saved_argc; ++i)
        text += util::escape_c_string(saved_argv[i]) + " ";
    return text;
}

int Options::proxyPasswordArgument(const std::string& argument) {
    // The option parser takes any unambiguous abbreviation, down to "--proxy-pa".
    static const std::string option = "--proxy-password";
    const std::string::size_type equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (name.size() < 10 || option.compare(0, name.size(), name) != 0)
        return no_password;
    return equals == std::string::npos ? password_follows : password_attached;
}

std::string Options::webLaunchCommand() const {
    // Runs through /bin/sh: the C-style literal of commandLineText() would let "$" and "`" through.
    // The proxy password is handed over in the environment instead (handedOverProxyPasswordVariable).
    std::string text;
    for (int i = 0; i < saved_argc; ++i) {
        const int password = proxyPasswordArgument(saved_argv[i]);
        if (password == password_follows)
            ++i;
        if (password == no_password)
            text += util::shell_quote(saved_argv[i]) + " ";
    }
    return text + " --web-interface --with-ssl --disable-browser";
}

// ---------------------------------------------------------------------------------------------------------
// rc file, environment and component settings

bool Options::parseRcLine(std::istream& in, std::string& name, std::string& value, bool componentOptions) {
    name.clear();
    value.clear();
    std::string line;
    while (std::getline(in, line)) {
        std::string::size_type pos = 0;
        const std::string::size_type end = line.size();
        while (pos < end && isBlank(line[pos]))
            ++pos;
        if (pos == end || line[pos] == '#')
            continue;

        if (!(componentOptions ? isSettingIdChar(line[pos]) : isLetter(line[pos])))
            throw userError() << Messages().getMessage("err_rc_param");
        const std::string::size_type name_start = pos;
        while (pos < end && (componentOptions ? isSettingIdChar(line[pos]) : isNameChar(line[pos])))
            ++pos;
        name = line.substr(name_start, pos - name_start);

        while (pos < end && isBlank(line[pos]))
            ++pos;
        if (pos == end || line[pos] == '#')
            throw userError() << Messages().format("err_rc_line", line);
        if (line[pos] != '=')
            throw userError() << Messages().format("err_rc_eqsign", line);
        ++pos;
        while (pos < end && isBlank(line[pos]))
            ++pos;
        if (pos == end || line[pos] == '#')
            throw userError() << Messages().format("err_rc_value", line);

        // Words up to an unquoted '#'; the blanks between words stay, those after the last go.
        std::string gap;
        while (pos < end && line[pos] != '#') {
            if (isBlank(line[pos])) {
                gap += line[pos++];
                continue;
            }
            value += gap;
            gap.clear();
            if (line[pos] == '"') {
                ++pos;
                while (pos < end && line[pos] != '"') {
                    if (line[pos] == '\\' && pos + 1 < end) {
                        ++pos;
                        const bool byte_escape = componentOptions && line[pos] == 'x' && pos + 2 < end &&
                                                 isHexDigit(line[pos + 1]) && isHexDigit(line[pos + 2]);
                        if (byte_escape) {
                            value += static_cast<char>(std::stoi(line.substr(pos + 1, 2), nullptr, 16));
                            pos += 3;
                            continue;
                        }
                    }
                    value += line[pos++];
                }
                if (pos == end)
                    throw error(0, 1, 1, 0) << Messages().getMessage("err_noquote_closed");
                ++pos;
            } else {
                while (pos < end && !isBlank(line[pos]) && line[pos] != '#')
                    value += line[pos++];
            }
        }
        return true;
    }
    return false;
}

std::vector<std::string> Options::rcFilePaths() {
    const std::string home = fileops::get_home_dir();
    std::string config_dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"))
        config_dir = xdg[0] == '/' ? std::string(xdg) : home + "/" + xdg;
    else
        config_dir = home + "/.config";
    return {config_dir + "/" + rc_file_name, home + "/" + rc_file_name};
}

std::string Options::findRcFile() {
    for (const std::string& path : rcFilePaths())
        if (fileops::is_file(path))
            return path;
    return std::string();
}

bool Options::parseYesNo(const std::string& key, const std::string& value) {
    if (value == "yes" || value == "YES")
        return true;
    if (value == "no" || value == "NO")
        return false;
    throw userError() << Messages().format("err_bool_val", value, key);
}

int Options::parseRetryCount(const std::string& name, const std::string& value) {
    std::string::size_type digits = 0;
    if (!value.empty() && (value[0] == '+' || value[0] == '-'))
        digits = 1;
    bool valid = digits < value.size();
    for (std::string::size_type i = digits; i < value.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(value[i])))
            valid = false;
    if (valid) {
        errno = 0;
        const long count = std::strtol(value.c_str(), nullptr, 10);
        if (errno == 0 && count >= 1 && count <= INT32_MAX)
            return static_cast<int>(count);
    }
    throw userError() << Messages().format("err_retry_arg", name);
}

std::string Options::componentOptionsPath() {
    return fileops::get_home_dir() + "/.dizadizezeroz/options.ini";
}

void Options::readRcFile() {
    try {
        Log::stream(1, true) << "Try to find rcfile...";
        const std::string path = findRcFile();
        if (path.empty()) {
            Log::stream(1, true) << "Dizadizezeroz rcfile not found.";
            return;
        }
        Log::stream(1, true) << "Dizadizezeroz found rcfile at " << path;
        std::string content;
        if (!readWholeFile(path, content))
            throw error(error::system, 1, 1, 2) << Messages().format("err_rcfile_open", path);

        std::istringstream in(content);
        std::string name, value;
        while (parseRcLine(in, name, value))
            applyRcSetting(name, value);
    } catch (error& e) {
        e.addLine(error::user, 1, 1, 2) << Messages().getMessage("err_rc_syntax");
        throw;
    }
}

void Options::applyRcSetting(const std::string& name, const std::string& value) {
    // The proxy password must not reach the log file, nor the value of an unknown key: it may be a
    // misspelt password.
    struct LogLine {
        const std::string& name;
        const std::string& value;
        bool known = true;
        ~LogLine() {
            Log::stream(2, true) << "Option from rc file:: '" << name << "' = '"
                                 << (known && name != "PROXY_PASSWORD" ? value : std::string("********"))
                                 << "'";
        }
    } line{name, value};

    static const char* const retired_keys[] = {
        "SOURCE_TYPE",       "CHECK_DISK_SPACE",     "ALLOW_TO_USE_UP2DATE",    "USE_YUM",
        "ADDITIONAL_SOURCE", "ALLOW_KERNEL_INSTALL", "UPGRADE_SYSTEM_PACKAGES", "SEND_EXECUTION_SUMMARY",
        "HOLD_PACKAGES"};
    for (const char* retired : retired_keys) {
        if (name == retired) {
            Log::stream(0, true) << Messages().getMessage("err_rc_ignored") << "'" << name << "' = '" << value
                                 << "'";
            return;
        }
    }

    const auto yes_no = [&]() { return parseYesNo(name, value); };
    if (name == "SOURCE")
        source = SourceUrl(value);
    else if (name == "USE_MOXEL_UPDATES")
        useMoxelUpdates = yes_no();
    else if (name == "TARGET")
        target = value;
    else if (name == "PROXY_HOST")
        proxyHost = value;
    else if (name == "PROXY_PORT")
        proxyPort = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
    else if (name == "PROXY_USER")
        proxyUser = value;
    else if (name == "PROXY_PASSWORD")
        proxyPassword = value;
    else if (name == "REMOVE_PACKAGES_TREE")
        forceRemovePackagesTree = yes_no();
    else if (name == "SKIP_EXAMINE")
        skipComponentsCheck = yes_no();
    else if (name == "NOTIFY_EMAIL")
        notifyEmail = value;
    else if (name == "CLEAR_SCREEN")
        noClearScreen = !yes_no();
    else if (name == "TRUNCATE_LOG")
        truncateLog = yes_no();
    else if (name == "SEPARATE_LOGS")
        separateLogs = yes_no();
    else if (name == "STRICT")
        strict = yes_no();
    else if (name == "DEBUG")
        debug = yes_no();
    else if (name == "OVERRIDE_OS_NAME")
        Opsys::override_name = value;
    else if (name == "OVERRIDE_OS_VENDOR")
        Opsys::override_vendor = value;
    else if (name == "OVERRIDE_OS_VERSION")
        Opsys::override_version = value;
    else if (name == "OVERRIDE_OS_ARCH")
        Opsys::override_arch = value;
    else if (name == "OVERRIDE_ENVIRONMENT")
        Opsys::override_environment = value;
    else if (name == "RELEASE_TIERS_FILTER")
        setTiers(value);
    else if (name == "SHOW_HIDDEN_COMPONENTS")
        showHiddenComponents = yes_no();
    else if (name == "SHOW_ALL_RELEASES" || name == "SHOW_ALL_VERSIONS" ||
             name == "DISABLE_RELEASE_TIERS_FILTER") {
        if (yes_no())
            showAllVersions();
    } else if (name == "DOWNLOAD_RETRY_COUNT")
        downloadRetryCount = parseRetryCount("DOWNLOAD_RETRY_COUNT", value);
    else if (name == "SKIP_GPG_CHECK")
        skipGpgCheck = yes_no();
    else if (name == "EXT_CATALOG_URL")
        extCatalogUrl = value;
    else if (name == "SSL_PROTOCOLS")
        sslProtocols = value;
    else if (name == "SSL_CIPHERS")
        sslCiphers = value;
    else if (name == "SSL_CIPHER_SERVER_PREFERENCE")
        sslCipherServerPreference = value;
    else {
        line.known = false;
        Log::stream(0, true) << Messages().getMessage("err_rc_param") << "'" << name << "'";
    }
}

void Options::readEnvironment() {
    if (std::getenv("MOXEL_INSTALLER_DEBUG"))
        debug = true;
    if (const char* page = std::getenv("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE"))
        webDefaultPage = page;
}

void Options::readComponentOptions() {
    const std::string path = componentOptionsPath();
    if (!fileops::exists(path))
        return;
    Log::stream(2, true) << "Read component settings from " << path;
    std::string content;
    if (!readWholeFile(path, content)) {
        const std::string reason = std::strerror(errno);
        Log::stream(1, true) << "ERROR: " << Messages().format("err_fileread2", path, reason);
        return;
    }

    std::istringstream in(content);
    std::string product;
    bool have_product = false;
    for (;;) {
        in >> std::ws;
        const int next = in.peek();
        if (next == std::char_traits<char>::eof())
            return;
        if (next == '[') {
            in.get();
            std::string id;
            int c;
            while ((c = in.get()) != std::char_traits<char>::eof() && c != ']')
                if (!isBlank(static_cast<char>(c)))
                    id += static_cast<char>(c);
            // A header cut off by the end of the file names no product.
            if (c == std::char_traits<char>::eof())
                return;
            std::string rest;
            std::getline(in, rest);
            product = id;
            have_product = true;
            Log::stream(2, true) << "read options.ini: prod_id=" << product;
            continue;
        }
        if (next == '#') {
            // Comments may stand anywhere, also right before a header.
            std::string comment;
            std::getline(in, comment);
            continue;
        }
        std::string name, value;
        if (!parseRcLine(in, name, value, true))
            return;
        // Values are logged when they are applied, by settings that know whether they are passwords.
        Log::stream(2, true) << "read options.ini: '" << name << "'";
        if (!have_product)
            throw error(error::internal, 1, 1, 2)
                << "broken component options.ini file: [prod_id] must precede any name=val lines";
        componentSettings[product][name] = value;
    }
}
