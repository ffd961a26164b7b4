#include "installer/engine/DebianAPTConfigurator.h"

#include "common/packages/DebPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/driver/Options.h"
#include "installer/engine/GpgKeyManager.h"
#include "installer/engine/InstallDeb.h"
#include "installer/sources/Downloader.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceMoxel.h"
#include "installer/sources/SourceUrl.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <sstream>

namespace {

const size_t longestPolicyLine = 4095;
const char* const fromAptCache = "package_from_apt_cache";

std::string boolText(bool value) {
    return value ? "true" : "false";
}

// The user or password as a part of a URL: a reserved character (':', '@', '/') would end it early.
std::string urlComponent(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

std::string listPath(const char* name) {
    return std::string(DebianAPTConfigurator::listDirectory) + name;
}

// The lines of a command's output; a line longer than longestPolicyLine comes in pieces of that size.
std::vector<std::string> policyLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        for (size_t at = 0; at == 0 || at < line.size(); at += longestPolicyLine)
            lines.push_back(line.substr(at, longestPolicyLine));
    return lines;
}

int runPolicy(std::string& output) {
    std::ostringstream text;
    const int code = exec::run_command("apt-cache policy", false, false, &text, nullptr);
    output = text.str();
    return code;
}

// The URI of a "deb" line as apt names it in its messages: no trailing '/', "file:" for "file://".
std::string aptUri(const std::string& line) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    while (words >> word && word.front() == '[') {
        while (word.back() != ']' && words >> word) {
        }
    }
    fileops::strip_trailing(word, '/');
    if (word.compare(0, 7, "file://") == 0)
        word = "file:" + word.substr(7);
    return word;
}

// apt-get update's lines of a source it could not read (its other warnings, such as that of the
// legacy key ring, are no failure).
bool isFetchFailure(const std::string& line) {
    if (line.compare(0, 4, "Err:") == 0)
        return true;
    if (line.compare(0, 2, "W:") != 0 && line.compare(0, 2, "E:") != 0)
        return false;
    for (const char* failure :
         {"Failed to fetch", "GPG error", "is not signed", "does not have a Release file"})
        if (line.find(failure) != std::string::npos)
            return true;
    return false;
}

Package* availablePackage(const std::string& name, const std::string& candidate) {
    auto package = std::make_unique<DebPackage>(name, candidate);
    package->setFileName(fromAptCache);
    package->setType('u');
    return keepForever(std::move(package));
}

const boost::regex& candidateLine() {
    static const boost::regex pattern("Candidate: (.+)");
    return pattern;
}

} // namespace

const char* const DebianAPTConfigurator::sourcesList = "/etc/apt/sources.list";
const char* const DebianAPTConfigurator::sourcesListBackup = "/etc/apt/sources.list.ai_back";
const char* const DebianAPTConfigurator::listDirectory = "/etc/apt/sources.list.d/";
const char* const DebianAPTConfigurator::temporaryList = "50vx_dizadizezeroz.list";
const char* const DebianAPTConfigurator::persistentList = "moxel.list";
const char* const DebianAPTConfigurator::keyRing = "/etc/apt/trusted.gpg";
const char* const DebianAPTConfigurator::keyRingCopy = "/etc/apt/trusted.gpg~";

DebianAPTConfigurator::DebianAPTConfigurator(const std::string& source, ComponentManager&,
                                             SourceManager& sources, Repository& repository)
    : source(source), sources(sources), repository(repository),
      persistentListBackup(listPath(persistentList)), keyRingBackup(keyRing), keyRingCopyBackup(keyRingCopy) {
}

DebianAPTConfigurator::~DebianAPTConfigurator() = default;

void DebianAPTConfigurator::doConfigureSystem() {
    finishInterruptedPackages();
    setProxyEnvironment();
    configureSources();
    // From here on the end of the run undoes the list files, whatever fails next.
    configured = true;
    importGpgKeys();
    if (Opsys().getArch() == "x86_64")
        registerArchitecture("i386");
    updatePackageIndex();
    checkSourceForCurrentRelease();
}

void DebianAPTConfigurator::reconfigureSources() {
    configureSources();
    importGpgKeys();
    updatePackageIndex();
}

std::shared_ptr<Installer> DebianAPTConfigurator::createInstaller(ComponentManager& components,
                                                                  StageActions& stages) {
    return std::make_shared<InstallDeb>(&repository, &components, this, stages);
}

void DebianAPTConfigurator::setProxyEnvironment() {
    const Downloader::Proxy proxy = Downloader::getProxy();
    if (proxy.host.empty())
        return;
    std::string value = "http://";
    if (!proxy.user.empty())
        value += urlComponent(proxy.user) + ":" + urlComponent(proxy.password) + "@";
    value += proxy.host + ":" + std::to_string(proxy.port);
    if (setenv("http_proxy", value.c_str(), 1) != 0)
        Log::stream(0, true) << Messages().getMessage("err_set_proxyvar");
}

void DebianAPTConfigurator::configureSources() {
    restoreSourcesList();
    presavePersistent();

    std::vector<std::string> temporary;
    std::vector<std::string> persistent;
    collectSourceLines(temporary, persistent);

    if (!fileops::is_directory(listDirectory))
        throw error(0, 0, 0, 0) << "Can't configure APT sources: " << listDirectory << " not found.";

    apt_conf_d_used = true;
    std::string text = "## This is temporary appended by Dizadizezeroz for \n"
                       "## specify source of product's packages for APT.\n";
    for (const std::string& line : temporary) {
        Log::stream(1, true) << "add line '" << line << "' to temporary source list";
        text += line + "\n";
    }
    fileops::write_file(listPath(temporaryList), text, 0644);

    if (persistent.empty())
        return;
    text = "## Persistent repositories for Moxel Products.\n";
    for (const std::string& line : persistent) {
        Log::stream(1, true) << "add line '" << line << "' to persistent source list";
        text += line + "\n";
    }
    fileops::write_file(listPath(persistentList), text, 0644);
}

void DebianAPTConfigurator::collectSourceLines(std::vector<std::string>& temporary,
                                               std::vector<std::string>& persistent) {
    const bool checksOff = Options::instance().skipGpgCheck;
    productUris.clear();
    // Removing everything leaves no source of ours to list.
    if (!sources.hasAptSources())
        return;
    for (const SourceManager::AptSource& record : sources.getAptSources()) {
        std::string line = getSourceLine(record.apt_repository, record.source, record.base_dir);
        const bool trusted = checksOff || !record.gpgCheck;
        productUris.push_back({aptUri(line), trusted});
        // Only these sources go without signature checks; apt keeps checking all others.
        if (trusted) {
            line.insert(4, "[trusted=yes] ");
            Log::stream(1, true) << "Warning: the APT source '" << line
                                 << "' is not signed: its packages are installed without signature checks";
        }
        (record.persistent ? persistent : temporary).push_back(line);
    }
}

void DebianAPTConfigurator::restoreSourcesList() {
    if (!fileops::exists(sourcesListBackup))
        return;
    fileops::remove(sourcesList);
    fileops::rename(sourcesListBackup, sourcesList);
}

void DebianAPTConfigurator::presavePersistent() {
    if (persistentListBackup.isPresaved())
        return;
    Log::stream(3, true) << "DebianAPTConfigurator: presave persistent apt configuration";
    persistentListBackup.presave();
}

std::string DebianAPTConfigurator::getSourceLine(const std::string&, const std::string& sourceText,
                                                 const std::string& baseDir) const {
    std::string line = "deb ";
    if (isLocalPath(source))
        line += "file://";
    std::string directory = parentLocation(source);
    Log::stream(3, true) << "DEBUG: getSourceLine: src 1 = " << directory;
    const size_t slash = sourceText.find('/');
    if (!util::ends_with(source, "/") && slash != std::string::npos) {
        const size_t blank = sourceText.find(' ');
        const size_t end = blank == std::string::npos || blank < slash ? std::string::npos : blank;
        const std::string stopBefore =
            sourceText.substr(slash + 1, end == std::string::npos ? std::string::npos : end - slash - 1);
        Log::stream(3, true) << "DEBUG: getSourceLine: variable stop_before=" << stopBefore;
        const size_t cut = directory.find(stopBefore);
        if (!stopBefore.empty() && cut != std::string::npos)
            directory.erase(cut);
    }
    line += directory;
    if (!baseDir.empty())
        line += baseDir + "/";
    line += sourceText;
    Log::stream(2, true) << "Calculated source line is '" << line << "'";
    return line;
}

void DebianAPTConfigurator::importGpgKeys() {
    allReposSigned = true;
    if (Options::instance().skipGpgCheck) {
        allReposSigned = false;
        return;
    }
    std::unique_ptr<GpgKeyManager> keys = GpgKeyManager::create();
    for (const auto& entry : sources.getSources()) {
        const auto* moxel = dynamic_cast<const SourceMoxel*>(entry.get());
        if (!moxel || moxel->getKind() == 't' || moxel->getKind() == 'u')
            continue;
        if (!moxel->getGpgCheck()) {
            Log::stream(3, true) << "DEBUG: repository for source " << moxel->getReleaseId()
                                 << " is not signed";
            allReposSigned = false;
        }
        if (!moxel->getGpgKey().empty()) {
            // A failed run takes the keys out again.
            keyRingBackup.presave();
            keyRingCopyBackup.presave();
            keys->importKey(moxel->getGpgKey());
        } else if (moxel->getGpgCheck()) {
            Log::stream(3, true)
                << "DEBUG: gpg public key for source " << moxel->getReleaseId()
                << " is empty but gpgcheck is enabled: assume the key is installed in master "
                   "product";
        }
    }
    Log::stream(3, true) << "DEBUG: all products repos are signed: " << boolText(allReposSigned);
}

// A run killed in the middle of its package transaction leaves packages unpacked or half configured,
// and apt refuses to go on until dpkg has finished them.
void DebianAPTConfigurator::finishInterruptedPackages() {
    std::ostringstream audit;
    exec::run_command("dpkg --audit", false, false, &audit, &audit);
    if (util::trim(audit.str()).empty())
        return;
    Log::stream(0, true)
        << "Packages were left unfinished by an interrupted installation; dpkg configures them:\n"
        << audit.str();
    const std::string command =
        "DEBIAN_FRONTEND=noninteractive /usr/bin/dpkg --force-confdef --force-confold "
        "--configure --pending";
    if (exec::run_command(command, true, false, nullptr, nullptr) != 0)
        throw error(error::packages, 1, 3, 3) << Messages().getMessage("err_debinstall");
}

void DebianAPTConfigurator::registerArchitecture(const std::string& architecture) {
    Log::stream(0, true) << Messages().format("dpkg_register_new_arch", architecture);
    const std::string command = "/usr/bin/dpkg --add-architecture " + util::shell_quote(architecture);
    if (exec::run_command(command, true, false, nullptr, nullptr) != 0)
        throw error(error::system, 2, 1, 2)
            << Messages().format("err_dpkg_arch_register", architecture, architecture);
}

void DebianAPTConfigurator::updatePackageIndex() {
    Log::stream(0, true) << Messages().getMessage("process_apt_get_update");
    std::ostringstream output;
    if (exec::run_command("apt-get update", true, false, &output, &output) != 0)
        Log::stream(0, true) << "Warning: there are errors in 'apt-get update'";
    checkProductFetches(output.str());
}

void DebianAPTConfigurator::checkProductFetches(const std::string& output) const {
    std::string failures;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!isFetchFailure(line))
            continue;
        // apt reads a trusted source whatever its signature says.
        const bool signatureOnly = line.find("GPG error") != std::string::npos;
        const bool product = std::any_of(productUris.begin(), productUris.end(), [&](const ProductUri& uri) {
            const bool named = line.find(uri.uri + " ") != std::string::npos ||
                               line.find(uri.uri + "/") != std::string::npos;
            return named && !(uri.trusted && signatureOnly);
        });
        if (product)
            failures += line + "\n";
    }
    if (!failures.empty())
        throw error(error::repository, 1, 1, 2) << "apt-get update could not read the product repositories:\n"
                                                << failures;
}

void DebianAPTConfigurator::checkSourceForCurrentRelease() {
    const Opsys system;
    std::string output;
    const int code = runPolicy(output);
    Log::stream(3, true) << "DEBUG: checkSourceForCurrentRelease: find source compatible with OS release "
                         << system.getVersion();
    static const boost::regex releaseLine("\\s*release.+v=(.+?),(.*)");
    bool compatible = false;
    std::set<std::string> sections;
    for (const std::string& line : policyLines(output)) {
        if (line.find("cdrom://") != std::string::npos)
            cdromInSources = true;
        boost::smatch match;
        if (!boost::regex_match(line, match, releaseLine))
            continue;
        const std::string version = match[1];
        Log::stream(3, true) << "DEBUG: checkSourceForCurrentRelease: " << version;
        if (Opsys("", "", version, "", "").matches(system, true))
            compatible = true;
        const std::string rest = match[2];
        const size_t at = rest.find("c=");
        if (at == std::string::npos)
            continue;
        const std::string section = rest.substr(at + 2, rest.find_first_of(",\n", at + 2) - at - 2);
        Log::stream(3, true) << "DEBUG: checkSourceForCurrentRelease: add found section '" << section << "'";
        sections.insert(section);
    }
    if (code != 0)
        Log::stream(2, true) << "Warning: apt-cache policy command failed (" << code << "). Continue.";
    if (!compatible) {
        runPolicy(output);
        throw error(0, 0, 0, 0) << "Not found source for system packages (release " << system.getVersion()
                                << ") in APT software sources configuration:\n"
                                << output;
    }
    std::vector<std::string> wanted;
    if (system.getVendor() == "Ubuntu")
        wanted = {"universe", "multiverse"};
    else if (system.getVendor() == "Debian")
        wanted = {"contrib", "non-free"};
    for (const std::string& section : wanted)
        if (!sections.count(section))
            Log::stream(0, true) << "Warning: not connected '" << section << "' repository section";
}

void DebianAPTConfigurator::prepareAvailablePackagesList(names_iterator first, names_iterator last) {
    Log::stream(2, true) << "DebianAPTConfigurator::prepareAvailablePackagesList()";
    std::string command = "env LANG=C LC_ALL=C apt-cache policy -- ";
    for (names_iterator name = first; name != last; ++name) {
        availableCache[*name] = nullptr;
        command += util::shell_quote(*name) + " ";
    }
    command += "2>/dev/null";
    Log::stream(3, true) << "DEBUG: prepareAvailablePackagesList cmd = " << command;

    static const boost::regex header("^(\\S+):");
    std::string current;
    for (const std::string& line : exec::get_output_lines(command, "")) {
        boost::smatch match;
        if (boost::regex_match(line, match, header)) {
            current = match[1];
            continue;
        }
        if (!boost::regex_match(line, match, candidateLine()) || current.empty())
            continue;
        const std::string candidate = match[1];
        if (candidate == "(none)") {
            current.clear();
            continue;
        }
        const std::string key = current.substr(0, current.find(':'));
        const Package* package = availablePackage(key, candidate);
        std::vector<std::string> names{key};
        if (current != key)
            names.push_back(current);
        for (const std::string& name : names) {
            availableCache[name] = package;
            Log::stream(3, true) << "prepareAvailablePackagesList package found (" << key
                                 << ") : " << *package;
        }
    }
}

const Package* DebianAPTConfigurator::doGetAvailablePackage(const std::string& name) {
    const auto cached = availableCache.find(name);
    if (cached != availableCache.end()) {
        if (cached->second)
            Log::stream(3, true) << "DEBUG DebianAPTConfigurator package '" << name
                                 << "' is available from cache: " << *cached->second;
        else
            Log::stream(3, true) << "DEBUG DebianAPTConfigurator package '" << name
                                 << "' is present in cache but NULL";
        return cached->second;
    }
    Log::stream(3, true) << "DEBUG doGetAvailablePackage package not found in cache : " << name;
    std::string candidate;
    const std::string command =
        "env LANG=C LC_ALL=C apt-cache policy -- " + util::shell_quote(name) + " 2>/dev/null";
    for (const std::string& line : exec::get_output_lines(command, "")) {
        boost::smatch match;
        if (boost::regex_match(line, match, candidateLine())) {
            candidate = match[1];
            break;
        }
    }
    if (candidate.empty() || candidate == "(none)") {
        Log::stream(2, true) << "Package " << name << " not found in apt-cache";
        return nullptr;
    }
    Log::stream(2, true) << "Package " << name << " with version '" << candidate << "' is available from apt";
    return availablePackage(name, candidate);
}

void DebianAPTConfigurator::doCleanup() {
    Log::stream(3, true) << "~DebianAPTConfigurator: apt_conf_d_used=" << boolText(apt_conf_d_used);
    if (apt_conf_d_used && fileops::exists(listPath(temporaryList)))
        fileops::remove(listPath(temporaryList));
}

void DebianAPTConfigurator::doFinalize() {
    if (commitChanges)
        commitPersistent();
    else
        rollbackPersistent();
}

void DebianAPTConfigurator::commitPersistent() {
    Log::stream(3, true) << "DebianAPTConfigurator: commit persistent apt configuration";
    for (LastingFileBackup* file : {&persistentListBackup, &keyRingBackup, &keyRingCopyBackup})
        file->commit();
}

void DebianAPTConfigurator::rollbackPersistent() {
    Log::stream(3, true) << "DebianAPTConfigurator: rollback persistent apt configuration";
    for (LastingFileBackup* file : {&persistentListBackup, &keyRingBackup, &keyRingCopyBackup})
        file->rollback();
}
