#include "installer/sources/ExtensionPackages.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/engine/ComponentsExamine.h"

#include <tinyxml.h>

#include <regex>
#include <sstream>

const char* const ExtensionPackages::toolPath = "/usr/local/zeq/bin/extension";

namespace {

const char* const phpExecVariable = "MOXEL_INTERNAL_PHP_EXEC";

// The tool expects the variable while it runs; it is gone again afterwards, whatever happened.
class ToolEnvironment {
public:
    ToolEnvironment() { util::set_env(phpExecVariable, "1"); }
    ~ToolEnvironment() { util::unset_env(phpExecVariable); }
    ToolEnvironment(const ToolEnvironment&) = delete;
    ToolEnvironment& operator=(const ToolEnvironment&) = delete;
};

std::string versionText(const Package& package) {
    const Version& version = package.getVersion();
    std::string text = version.hasEpoch ? std::to_string(version.epoch) + ":" : "";
    text += version.version;
    if (!version.release.empty())
        text += "-" + version.release;
    return text;
}

template <typename List> std::string names(const List& packages) {
    std::ostringstream out;
    for (const auto* package : packages)
        out << " " << package->getName();
    return out.str();
}

} // namespace

ExtensionPackages::ExtensionPackages(Repository* repository) : repository(repository) {}

bool ExtensionPackages::isValidCode(const std::string& code) {
    static const std::regex pattern("[A-Za-z0-9._-]+");
    return std::regex_match(code, pattern);
}

int ExtensionPackages::runTool(const std::string& arguments, std::string& output, std::string& errors) {
    ToolEnvironment environment;
    std::ostringstream out;
    std::ostringstream err;
    const int code = exec::run_command(std::string(toolPath) + " " + arguments, false, false, &out, &err);
    output = out.str();
    errors = err.str();
    return code;
}

std::string ExtensionPackages::detectVersion(const ExtCatalogPackage* package) {
    if (!package)
        return "";
    const std::string name = package->getName().str();
    if (!fileops::exists(toolPath)) {
        Log::stream(3, true) << "DEBUG skip detecting extension '" << name << "' version: " << toolPath
                             << " does not exist";
        return "";
    }
    const std::string code = package->getCode();
    if (!isValidCode(code)) {
        Log::stream(1, true) << "WARNING: failed to detect extension package '" << name
                             << "' version, error: invalid extension code " << util::printable(code);
        return "";
    }
    try {
        std::string output;
        std::string errors;
        if (runTool("--get-xml-info " + util::shell_quote(code), output, errors) != 0) {
            Log::stream(1, true) << "WARNING: failed to detect extension package '" << name
                                 << "' version, stdout: " << output << "\nstderr: " << errors;
            return "";
        }
        TiXmlDocument document;
        document.Parse(output.c_str());
        Log::stream(3, true) << "DEBUG detect extension package " << name << " version: " << output;
        const TiXmlElement* root = document.Error() ? nullptr : document.RootElement();
        if (!root) {
            Log::stream(3, true) << "DEBUG unable to fetch xml root";
            return "";
        }
        const char* version = root->Attribute("fullVersion");
        return version ? version : "";
    } catch (const error& e) {
        Log::stream(1, true) << "WARNING: failed to detect extension package '" << name
                             << "' version, error: " << e.getText();
        return "";
    }
}

ExtensionPackages::owned_t ExtensionPackages::listInstalled() {
    owned_t packages;
    if (!fileops::exists(toolPath)) {
        Log::stream(3, true) << "DEBUG skip detecting installed extensions: " << toolPath
                             << " does not exist";
        return packages;
    }
    try {
        Log::stream(3, true) << "DEBUG: detecting installed extensions";
        ToolEnvironment environment;
        SystemCmd command(std::string(toolPath) + " --list", SystemCmd::mode_read);
        static const std::regex line_pattern("^([a-zA-Z0-9-]+)\\s+-\\s+(.*)$");
        char buffer[4096];
        while (fgets(buffer, sizeof buffer, command.stream)) {
            util::trim(buffer);
            Log::stream(3, true) << "DEBUG: output: " << buffer;
            std::cmatch match;
            if (!std::regex_match(buffer, match, line_pattern))
                continue;
            TiXmlElement element("package");
            element.SetAttribute("name", "ext-" + match[1].str());
            element.SetAttribute("file", "");
            element.SetAttribute("version", "0");
            element.SetAttribute("release", "0");
            element.SetAttribute("arch", "noarch");
            std::unique_ptr<Package> made = Package::createFromXml(tinybind::Element(&element), 'e');
            std::unique_ptr<ExtCatalogPackage> extension(dynamic_cast<ExtCatalogPackage*>(made.release()));
            extension->setCode(match[1].str());
            extension->setDisplayName(match[2].str());
            packages.push_back(std::move(extension));
        }
        command.check();
    } catch (const error& e) {
        Log::stream(1, true) << "WARNING: failed to detect installed extensions, error: " << e.getText();
    }
    Log::stream detected(2, true);
    detected << "Detected installed extensions: ";
    for (const auto& package : packages)
        detected << " '" << package->getCode() << "'";
    return packages;
}

void ExtensionPackages::change(const ExtCatalogPackage* package, bool installing) {
    if (!package)
        return;
    const std::string name = package->getName().str();
    const std::string version = versionText(*package);
    Log::stream(3, true) << (installing ? "DEBUG installing extension package "
                                        : "DEBUG uninstalling extension package ")
                         << name << " version " << version;
    const char* step = installing ? "install_install_package" : "install_remove";
    reportProgressStep(step, Messages().getMessage(step) + package->getDisplayName() + " " + version);

    const char* failure = installing ? "err_ext_package_install" : "err_ext_package_remove";
    const std::string code = package->getCode();
    if (!isValidCode(code))
        throw error(4, 0, 2, 2) << Messages().format(failure, package->getDisplayName(), code,
                                                     "invalid extension code " + util::printable(code));
    const std::string arguments = installing ? "--upgrade-url " + util::shell_quote(package->getDownloadUrl())
                                             : "--uninstall " + util::shell_quote(code);
    std::string output;
    std::string errors;
    const int exitCode = runTool(arguments, output, errors);
    if (exitCode == 0)
        return;
    Log::stream(1, true) << "Extension package " << name << " " << version
                         << (installing ? " installation failed with code "
                                        : " uninstallation failed with code ")
                         << exitCode << ", stdout: " << output << "\nstderr: " << errors;
    throw error(4, 0, 2, 2) << Messages().format(failure, package->getDisplayName(), code, errors);
}

void ExtensionPackages::install(const ExtCatalogPackage* package) {
    change(package, true);
}

void ExtensionPackages::uninstall(const ExtCatalogPackage* package) {
    change(package, false);
}

void ExtensionPackages::removeAll(const cpkgs_t& packages) {
    cpkgs_t removals;
    for (const Package* package : packages)
        if (package->getType() == 'd' && !package->getObsoletes().empty())
            removals.push_back(package);
    Log::stream(3, true) << "DEBUG remove extension packages:" << names(removals);
    for (const Package* removal : removals) {
        const Package* installed =
            repository->findInstalled(PooledString(removal->getObsolete(0)->getName()));
        if (const auto* extension = dynamic_cast<const ExtCatalogPackage*>(installed))
            uninstall(extension);
    }
}

void ExtensionPackages::installAll(const cpkgs_t& packages) {
    std::vector<const ExtCatalogPackage*> installations;
    for (const Package* package : packages) {
        const auto* extension = dynamic_cast<const ExtCatalogPackage*>(package);
        if (!extension || extension->getType() == 's' ||
            (extension->getType() == 'd' && !extension->getRequires().empty()))
            continue;
        installations.push_back(extension);
    }
    Log::stream(3, true) << "DEBUG install extension packages:" << names(installations);
    for (const ExtCatalogPackage* extension : installations)
        install(extension);
}
