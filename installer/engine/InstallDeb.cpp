#include "installer/engine/InstallDeb.h"

#include "common/packages/DebPackage.h"
#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/DebianAPTConfigurator.h"
#include "installer/engine/StageActions.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

namespace {

const char* const unit = "installer/InstallDeb";
const char* const lockText = "E: Could not get lock ";

DebianAPTConfigurator* aptConfiguratorOf(SystemSpecificConfigurator* configurator) {
    auto* apt = dynamic_cast<DebianAPTConfigurator*>(configurator);
    if (!apt)
        throw error(error::internal, 1, 1, 3) << Messages().getMessage("err_deb_initobj");
    return apt;
}

std::string checkedName(const std::string& name) {
    if (!DebPackage::isValidName(name))
        throw error(error::repository, 1, 1, 2) << "'" << name << "' is not a valid Debian package name.";
    return name;
}

std::string listText(const cpkgs_t& list) {
    if (list.empty())
        return "(empty)";
    std::ostringstream text;
    for (const Package* package : list)
        text << *package << " ";
    return text.str();
}

std::string commandOutput(const std::string& command) {
    std::ostringstream output;
    exec::run_command(command, false, false, &output, &output);
    return output.str();
}

bool hasName(const cpkgs_t& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(),
                       [&name](const Package* package) { return package->getName().str() == name; });
}

bool hasRemoverOf(const cpkgs_t& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&name](const Package* package) {
        return isRemoverPackage(package) && package->getObsolete(0)->getName() == name;
    });
}

} // namespace

InstallDeb::InstallDeb(Repository* repository, ComponentManager* componentManager,
                       SystemSpecificConfigurator* configurator, StageActions& stages)
    : Installer(repository, componentManager, configurator, stages),
      aptConfigurator(aptConfiguratorOf(configurator)) {
    if (!fileops::exists("/usr/bin/apt-get"))
        throw error(error::system, 1, 1, 2) << Messages().getMessage("err_no_apt");
}

std::string InstallDeb::makeAptCommand() const {
    const comp_ptr_t base = componentManager->getBaseComponent("");
    // Unsigned product sources are marked trusted in their list lines; every other source keeps
    // apt's signature checks.
    return "DEBIAN_FRONTEND=noninteractive LANG=C apt-get --assume-yes --show-upgraded --purge "
           "--no-reinstall "
           "-o APT::Get::List-Cleanup=true -o Dpkg::options::=--force-confdef "
           "-o Dpkg::options::=--force-confold "
           " -o APT::Get::AllowUnauthenticated=false"
           " -o Acquire::Retries=" +
           std::to_string(Options::instance().downloadRetryCount) + " " + " -t " +
           util::shell_quote(base->build->_os_release_name + "*") + " ";
}

std::string InstallDeb::makePackageArguments(const cpkgs_t& list) const {
    std::string text;
    for (const Package* package : list) {
        if (dynamic_cast<const ExtCatalogPackage*>(package))
            continue;
        std::string word;
        if (package->getType() == 'd' && package->getRequire(0)) {
            word = checkedName(package->getRequire(0)->getName());
        } else if (isRemoverPackage(package)) {
            const std::string name = package->getObsolete(0)->getName();
            if (dynamic_cast<const ExtCatalogPackage*>(repository->findInstalled(PooledString(name))))
                continue;
            word = checkedName(name) + "-";
        } else if (package->getType() == 'd') {
            continue;
        } else if (package->getType() == 'b' && package->hasVersion() &&
                   !package->getVersion().toString().empty()) {
            word = checkedName(package->getName().str()) + "=" + package->getVersion().toString();
        } else {
            word = checkedName(package->getName().str());
        }
        text += util::shell_quote(word) + " ";
    }
    return text;
}

const cpkgs_t& InstallDeb::resolveDependencies() {
    componentManager->getBootstrapperPackagesToInstall(bootstrapperPackages, repository.get());
    if (!packages.empty())
        throw internal_error(unit, 70);
    packages = bootstrapperPackages;
    componentManager->getPackagesToInstall(packages, repository.get(), configurator);
    if (packages.empty())
        return packages;
    stages.reportProgressStep("checking_deps", Messages().getMessage("checking_deps"));

    std::string command;
    std::ostringstream output;
    int code = -1;
    try {
        command = makeAptCommand() + " --just-print install -- " + makePackageArguments(packages);
        code = exec::run_command(command, false, false, &output, &output);
        if (code != 0) {
            Log::stream(0, true) << output.str();
            throw error(error::dependencies, 1, 1, 3)
                << Messages().getMessage("err_installation_stopped_apt_error");
        }
        readSimulation(output.str());
    } catch (const error& failure) {
        reportResolveFailure(failure, command, code, output.str());
        throw;
    }
    return packages;
}

void InstallDeb::readSimulation(const std::string& output) {
    static const boost::regex installLine("(Inst|Conf) ([a-z0-9+.-]+) \\(([A-Za-z0-9.+:~-]+) .+\\)");
    static const boost::regex removeLine("(Remv|Purg) ([a-z0-9+.-]+)");
    std::map<std::string, std::unique_ptr<Package>> installs;
    std::map<std::string, Package*> removals;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        Log::stream(3, true) << "DEBUG: output: " << line;
        boost::smatch match;
        if (boost::regex_search(line, match, installLine)) {
            const std::string name = match[2];
            const auto removal = removals.find(name);
            if (removal != removals.end()) {
                Log::stream(2, true) << "  delete from remove list " << *removal->second;
                removals.erase(removal);
            } else if (!installs.count(name)) {
                auto package = std::make_unique<DebPackage>(name, match[3]);
                package->setType('u');
                Log::stream(2, true) << "  add to install list " << *package;
                installs[name] = std::move(package);
            }
        } else if (boost::regex_search(line, match, removeLine)) {
            const std::string name = match[2];
            const auto install = installs.find(name);
            if (install != installs.end()) {
                Log::stream(2, true) << "  delete from install list " << *install->second;
                installs.erase(install);
            } else if (!removals.count(name)) {
                Package* remover = repository->addRemoverFor(name);
                Log::stream(2, true) << "  add to remove list " << *remover;
                removals[name] = remover;
            }
        }
    }
    for (auto& install : installs)
        if (!hasName(packages, install.first))
            packages.push_back(keepForever(std::move(install.second)));
    for (const auto& removal : removals)
        if (!hasRemoverOf(packages, removal.first))
            packages.push_back(removal.second);
}

void InstallDeb::reportResolveFailure(const error& failure, const std::string& command, int code,
                                      const std::string& output) const {
    ReportError::Stream(-1) << "Apt failed to resolve packages:" << std::endl
                            << "Error: " << failure.getText() << std::endl
                            << "Command line: " << command << std::endl
                            << "Return code: " << code << std::endl
                            << "Output:" << output << std::endl
                            << "Sources list:\n"
                            << commandOutput("cat /etc/apt/sources.list") << std::endl
                            << "Installed in system packages:\n"
                            << commandOutput("dpkg -l") << std::endl;
    Log::stream(0, true) << "\n\n" << Messages().getMessage("err_installation_stopped");
}

void InstallDeb::installPackages(const cpkgs_t& list) {
    Log::stream(3, true) << "DEBUG:  installing packages: " << listText(list);
    const std::string arguments = makePackageArguments(list);
    if (arguments.empty())
        return;

    std::string command;
    std::string output;
    int code = -1;
    try {
        if (aptConfigurator->cdromInSources)
            Log::stream(0, true) << "\n\n" << Messages().getMessage("warn_apt_cdrom_in_source") << "\n";
        command = makeAptCommand() + " install -- " + arguments;
        if (ProductsProgress* progress = ProductsProgress::instance())
            progress->set_started();
        code = runWithLockRetries(command, output);
        if (code != 0)
            throw error(error::packages, 1, 3, 3) << Messages().getMessage("err_debinstall");
    } catch (const error& failure) {
        ReportError::Stream(-1) << "Apt failed to install packages:" << std::endl
                                << "Error: " << failure.getText() << std::endl
                                << "Command line: " << command << std::endl
                                << "Return code: " << code << std::endl
                                << "Output:\n"
                                << output << std::endl;
        throw;
    }
    Log::stream(3, true) << "DEBUG:  installed packages: " << arguments;
}

int InstallDeb::runWithLockRetries(const std::string& command, std::string& output) {
    Messages messages;
    int code = -1;
    for (int retry = 0;; ++retry) {
        if (retry > 0) {
            Log::stream(0, true) << messages.format("download_retry",
                                                    messages.getMessage("err_deb_inst_exec"),
                                                    std::to_string(retryPauseSeconds));
            pauseBeforeRetry(retryPauseSeconds);
            Log::stream(0, true) << messages.getMessage("installling_pkgs")
                                 << messages.format("download_retry_progress", std::to_string(retry),
                                                    std::to_string(lockRetries));
        }
        std::ostringstream buffer;
        try {
            code = exec::run_command(command, true, false, &buffer, &buffer);
        } catch (error& failure) {
            output = buffer.str();
            failure.addLine(error::system, 1, 2, 2) << messages.getMessage("err_deb_inst_exec");
            throw;
        }
        output = buffer.str();
        if (code == 0 || output.find(lockText) == std::string::npos || retry == lockRetries)
            return code;
    }
}

void InstallDeb::pauseBeforeRetry(int seconds) {
    util::sleep_seconds(seconds);
}
