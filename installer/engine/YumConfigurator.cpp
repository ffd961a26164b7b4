#include "installer/engine/YumConfigurator.h"

#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"
#include "installer/engine/GpgKeyManager.h"
#include "installer/engine/InstallYum.h"
#include "installer/engine/YumHelperScripts.h"
#include "installer/sources/SourceManager.h"
#include "installer/sources/SourceMoxel.h"
#include "installer/sources/SourceUrl.h"

#include <boost/regex.hpp>

#include <sstream>

namespace {

const char* const fromYumInfo = "package_from_yum_info";

const YumConfigurator::HelperTool yumTool{"/usr/bin/yum", "/usr/local/zeq/bin/yum_install", yumHelperScript};
const YumConfigurator::HelperTool dnfTool{"/usr/bin/dnf-3", "/usr/local/zeq/bin/dnf_install",
                                          dnfHelperScript};

const YumConfigurator::HelperTool*& selectedHelper() {
    static const YumConfigurator::HelperTool* tool = &yumTool;
    return tool;
}

std::string kindName(char kind) {
    switch (kind) {
    case 'b':
        return "dist";
    case 'u':
        return "updates";
    case 't':
        return "thirdparty";
    case 'x':
        return "extras";
    default:
        return "unkn";
    }
}

std::vector<const SourceMoxel*> productSources(const SourceManager& sources) {
    std::vector<const SourceMoxel*> result;
    for (const auto& entry : sources.getSources()) {
        const auto* moxel = dynamic_cast<const SourceMoxel*>(entry.get());
        if (moxel && moxel->getKind() != 'u')
            result.push_back(moxel);
    }
    return result;
}

std::string productIdOf(const SourceMoxel& source) {
    const boost::shared_ptr<Build> build = source.getBuild();
    if (!build || !build->_parent || !build->_parent->prod())
        return "";
    return build->_parent->prod()->_id;
}

const Package* makePackage(const std::string& name, const std::string& version, const std::string& release,
                           const std::string& epoch) {
    std::string text = version;
    if (!release.empty())
        text += "-" + release;
    if (!epoch.empty())
        text = epoch + ":" + text;
    auto package = std::make_unique<Package>(name, text);
    package->setFileName(fromYumInfo);
    package->setType('u');
    return keepForever(std::move(package));
}

const boost::regex& infoLine() {
    static const boost::regex pattern("^([[:alpha:]]+) *: (.+)$");
    return pattern;
}

// The exit of a helper run, logged at info level; a shell that could not start is the caller's.
void reportExitStatus(int code, const std::string& step, const std::string& command,
                      const std::string& errors) {
    if (code != 0)
        Log::stream(2, true) << step << ": '" << command << "' finished with errors (rc = " << code << ")\n"
                             << errors;
}

// The product id comes from the installation source: it must name a file in the repository directory.
std::string persistentRepoPath(const std::string& productId) {
    if (productId.find('/') != std::string::npos)
        throw error(error::repository, 1, 1, 2)
            << "The installation source names the product " << util::escape_c_string(productId)
            << ", which cannot name a file in " << YumConfigurator::repoDirectory << ".";
    return YumConfigurator::repoDirectory + productId + ".repo";
}

std::string logFile() {
    return util::shell_quote(Log::get_file_name());
}

} // namespace

const char* const YumConfigurator::repoDirectory = "/etc/yum.repos.d/";
const char* const YumConfigurator::temporaryRepoFile = "/etc/yum.repos.d/dizadizezeroz-sources.repo";

void YumConfigurator::detectTool() {
    if (fileops::exists(dnfTool.program)) {
        selectedHelper() = &dnfTool;
        Log::stream(2, true) << "Notice: seems dnf is ready to use.";
    } else if (fileops::exists(yumTool.program)) {
        selectedHelper() = &yumTool;
        Log::stream(2, true) << "Notice: seems yum is ready to use.";
    } else {
        throw error(error::system, 1, 1, 2) << Messages().getMessage("err_yum_not_found");
    }
}

const YumConfigurator::HelperTool& YumConfigurator::selectedTool() {
    return *selectedHelper();
}

std::string YumConfigurator::getHelperPath() {
    return selectedTool().helperPath;
}

YumConfigurator::YumConfigurator(const std::string& source, SourceManager& sources, Repository& repository)
    : source(source), sources(sources), repository(repository) {}

YumConfigurator::~YumConfigurator() = default;

std::string YumConfigurator::repoId(const SourceMoxel& source) {
    if (!source.getYumRepoId().empty())
        return source.getYumRepoId();
    return source.getReleaseId() + "-" + kindName(source.getKind());
}

std::string YumConfigurator::repoName(const SourceMoxel& source) {
    if (!source.getYumRepoName().empty())
        return source.getYumRepoName();
    return source.getReleaseId() + " " + kindName(source.getKind());
}

std::string YumConfigurator::baseUrl(const SourceMoxel& source) {
    const FileFetcher& fetcher = source.getFetcher();
    const std::string url = fetcher.getSources().front() + fetcher.getSubdirOffset();
    return url.compare(0, 1, "/") == 0 ? "file://" + url : url;
}

void YumConfigurator::doConfigureSystem() {
    configureRepositories();
    writeHelper();
}

void YumConfigurator::reconfigureSources() {
    configureRepositories();
}

std::shared_ptr<Installer> YumConfigurator::createInstaller(ComponentManager& components,
                                                            StageActions& stages) {
    return std::make_shared<InstallYum>(&repository, &components, this, stages);
}

std::set<std::string> YumConfigurator::importGpgKeys() {
    std::set<std::string> signedIds;
    if (Options::instance().skipGpgCheck)
        return signedIds;
    std::unique_ptr<GpgKeyManager> keys = GpgKeyManager::create();
    bool keyFound = false;
    std::vector<std::string> assumed;
    for (const SourceMoxel* moxel : productSources(sources)) {
        if (!moxel->getGpgKey().empty()) {
            keys->importKey(moxel->getGpgKey());
            keyFound = true;
            signedIds.insert(repoId(*moxel));
        } else if (moxel->getGpgCheck()) {
            Log::stream(3, true)
                << "DEBUG: gpg public key for source " << moxel->getReleaseId()
                << " is empty but gpgcheck is enabled: assume the key is installed in master "
                   "product";
            assumed.push_back(repoId(*moxel));
        }
    }
    if (!keyFound) {
        Log::stream(2, true) << "Warning: gpg public key was not found in any of product sources so gpgcheck "
                                "will be disabled for all product repositories";
        return signedIds;
    }
    // The master product's key, imported above, signs them.
    signedIds.insert(assumed.begin(), assumed.end());
    return signedIds;
}

void YumConfigurator::configureRepositories() {
    enabledIds.clear();
    const std::set<std::string> signedIds = importGpgKeys();

    std::set<std::string> written;
    std::vector<RepoSection> temporary;
    std::map<std::string, std::vector<RepoSection>> persistent;
    for (const SourceMoxel* moxel : productSources(sources)) {
        const std::string id = repoId(*moxel);
        if (!written.insert(id).second)
            continue;
        const bool checked = moxel->getGpgCheck() && signedIds.count(id);
        if (moxel->getGpgCheck() && !checked && !Options::instance().skipGpgCheck)
            Log::stream(2, true) << "Warning: no gpg public key for the repository " << id
                                 << ": gpgcheck is disabled for it";
        const RepoSection section{moxel, checked};
        if (moxel->isPersistent()) {
            persistent[productIdOf(*moxel)].push_back(section);
        } else {
            temporary.push_back(section);
            enabledIds.insert(id);
        }
    }
    writeRepoFile(temporary, "", false);
    for (const auto& group : persistent)
        writeRepoFile(group.second, group.first, true);
}

void YumConfigurator::writeRepoFile(const std::vector<RepoSection>& sections, const std::string& name,
                                    bool persistent) {
    std::string path = temporaryRepoFile;
    std::ostringstream text;
    if (persistent) {
        path = persistentRepoPath(name);
        presave(path);
    } else {
        text << "\n## This is a temporary yum configuration file added by Moxel Installer.\n"
                "## It specifies sources of products' packages for yum.\n";
    }
    for (const RepoSection& section : sections)
        text << "[" << repoId(*section.source) << "]\n"
             << "name=" << repoName(*section.source) << "\n"
             << "baseurl=" << baseUrl(*section.source) << "\n"
             << "enabled=" << (persistent ? "1" : "0") << "\n"
             << "gpgcheck=" << (section.gpgcheck ? "1" : "0") << "\n\n";
    fileops::write_file(path, text.str(), 0644);
}

void YumConfigurator::presave(const std::string& path) {
    auto& backup = persistentFiles[path];
    if (!backup)
        backup = std::make_unique<LastingFileBackup>(path);
    backup->presave();
}

void YumConfigurator::writeHelper() {
    const std::string path = getHelperPath();
    fileops::create_directory(fileops::parent_path(path));
    fileops::write_file(path, selectedTool().script, 0700);
    const std::string command = "chcon system_u:object_r:rpm_exec_t:s0 " + util::shell_quote(path);
    std::ostringstream errors;
    try {
        reportExitStatus(exec::run_command(command, true, false, &errors, &errors), "doConfigureSystem",
                         command, errors.str());
    } catch (const error&) {
        Log::stream(2, true) << "doConfigureSystem: " << command << "\n" << errors.str();
    }
}

std::string YumConfigurator::doCheckConfiguration() {
    const std::string command = util::shell_quote(getHelperPath()) + " -l " + logFile();
    std::ostringstream errors;
    int code = 0;
    try {
        code = exec::run_command(command, false, false, nullptr, &errors);
    } catch (const error&) {
        Log::stream(2, true) << "doCheckConfiguration: '" << command << "' failed to run.";
        return "";
    }
    reportExitStatus(code, "doCheckConfiguration", command, errors.str());
    if (code == 2)
        return Messages().getMessage("err_yum_no_repos");
    if (code != 0)
        return "Failed to check system configuration - Yum utility finished with errors. Installation may "
               "fail.\n" +
               errors.str();
    return errors.str();
}

void YumConfigurator::prepareAvailablePackagesList(names_iterator first, names_iterator last) {
    Log::stream(3, true) << "DEBUG prepareAvailablePackagesList";
    std::string command = infoCommand();
    for (names_iterator name = first; name != last; ++name) {
        availableCache[*name] = nullptr;
        command += util::shell_quote(*name) + " ";
    }
    command += "2>/dev/null";
    Log::stream(3, true) << "DEBUG: prepareAvailablePackagesList cmd = " << command;
    try {
        std::string name, version, release, epoch;
        auto close = [&] {
            if (name.empty())
                return;
            const Package* package = makePackage(name, version, release, epoch);
            availableCache[name] = package;
            Log::stream(3, true) << "prepareAvailablePackagesList package found : " << *package;
        };
        for (const std::string& line : exec::get_output_lines(command, "")) {
            boost::smatch match;
            if (!boost::regex_match(line, match, infoLine()))
                continue;
            const std::string key = match[1];
            if (key == "Name") {
                close();
                name = match[2];
                version.clear();
                release.clear();
                epoch.clear();
            } else if (key == "Version") {
                version = match[2];
            } else if (key == "Release") {
                release = match[2];
            } else if (key == "Epoch") {
                epoch = match[2];
            }
        }
        close();
    } catch (const error& failure) {
        Log::stream(3, true) << "prepareAvailablePackagesList failed: " << failure.getText();
    }
}

// The temporary repositories are off but for the installer's own commands: enable the products' ones.
std::string YumConfigurator::infoCommand() const {
    std::string command = "env LANG=C LC_ALL=C " + std::string(selectedTool().program) + " info ";
    for (const SourceMoxel* moxel : productSources(sources))
        command += "--enablerepo=" + util::shell_quote(repoId(*moxel)) + " ";
    return command + "-- ";
}

const Package* YumConfigurator::doGetAvailablePackage(const std::string& name) {
    const auto cached = availableCache.find(name);
    if (cached != availableCache.end())
        return cached->second;
    Log::stream(3, true) << "DEBUG doGetAvailablePackage package not found in cache : " << name;
    const std::string command = infoCommand() + util::shell_quote(name) + " 2>/dev/null";
    bool inside = false;
    std::string version, release, epoch;
    for (const std::string& line : exec::get_output_lines(command, "")) {
        boost::smatch match;
        if (!boost::regex_match(line, match, infoLine()))
            continue;
        const std::string key = match[1];
        if (key == "Name")
            inside = match[2] == name;
        else if (inside && key == "Version")
            version = match[2];
        else if (inside && key == "Release")
            release = match[2];
        else if (inside && key == "Epoch")
            epoch = match[2];
    }
    if (version.empty()) {
        Log::stream(2, true) << "Package " << name << " was not found in enabled yum repos";
        return nullptr;
    }
    const Package* package = makePackage(name, version, release, epoch);
    availableCache[name] = package;
    return package;
}

void YumConfigurator::doCleanup() {
    if (fileops::exists(temporaryRepoFile))
        fileops::remove(temporaryRepoFile);
}

void YumConfigurator::doFinalize() {
    if (commitChanges)
        commitPersistent();
    else
        rollbackPersistent();
}

void YumConfigurator::commitPersistent() {
    Log::stream(3, true) << "YumConfigurator: commit persistent yum configuration";
    for (auto& file : persistentFiles)
        file.second->commit();
}

void YumConfigurator::rollbackPersistent() {
    Log::stream(3, true) << "YumConfigurator: rollback persistent yum configuration";
    for (auto& file : persistentFiles)
        file.second->rollback();
}
