#pragma once

#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/PkgManager.h"
#include "common/runtime/checked_pointer.h"

#include <memory>
#include <string>
#include <vector>

class Repository;

// The conversation with the panel's extension tool: installed versions and list, install or upgrade,
// removal. Extension codes are tool arguments and must be made of letters, digits, '.', '_' and '-'.
class ExtensionPackages {
public:
    using owned_t = std::vector<std::unique_ptr<ExtCatalogPackage>>;

    static const char* const toolPath;

    explicit ExtensionPackages(Repository* repository);

    // The installed version; "" when not installed or unknown. Never raises.
    std::string detectVersion(const ExtCatalogPackage* package);
    // One package per installed extension, named "ext-" + code. Never raises.
    owned_t listInstalled();
    // One extension; a null package does nothing. Failures raise err_ext_package_install or
    // err_ext_package_remove.
    void install(const ExtCatalogPackage* package);
    void uninstall(const ExtCatalogPackage* package);
    // The extensions that the plan's removers take out.
    void removeAll(const cpkgs_t& packages);
    // The extension packages of the plan not yet installed, in order; the first failure ends it.
    void installAll(const cpkgs_t& packages);

    static bool isValidCode(const std::string& code);

private:
    // Runs the tool for one extension, with its output and error output captured.
    int runTool(const std::string& arguments, std::string& output, std::string& errors);
    void change(const ExtCatalogPackage* package, bool installing);

    checked_pointer<Repository> repository;
};
