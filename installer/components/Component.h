#pragma once

#include "common/packages/PkgManager.h"
#include "installer/catalogue/BuildInfFile.h"

#include <boost/shared_ptr.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace Bootstrapper {
class Action;
}

// What a build description says about one component.
class Component {
public:
    using keypackages_t = BuildInfFile::keypackages_t;
    // Port name to (option name to value).
    using port_options_t = std::map<std::string, std::map<std::string, std::string>>;

    Component();
    // "name description"; the name ends at the first blank. An empty name raises err_bad_component.
    explicit Component(const char* text);

    // Whether the first package is an RPM or a Debian package; no packages raises err_empty_comp.
    bool isRPMBased() const;
    bool isDebBased() const;

    // Document order; installed base packages the build does not list are appended later.
    cpkgs_t packages;
    cpkgs_t bootstrapper;
    std::vector<boost::shared_ptr<Bootstrapper::Action>> bootstrapperActions;
    // Component names, document order.
    std::vector<std::string> hardwired_with;
    std::vector<std::string>
    requires;
    std::vector<std::string> conflicts;
    port_options_t portOptions;
    std::vector<std::string> expackages;
    // Packages taken out when the component is installed.
    std::vector<std::string> rmpackages;
    std::vector<BuildInfFile::examine_t> examinations;
    std::string name;
    std::string description;
    // "" fits any system.
    std::string environment;
    std::vector<keypackages_t> keyPackageSets;
    std::vector<std::string> ezTemplates;
    std::set<std::string> classes;
    bool uninstallSupport = true;
    bool hidden = false;
    bool showInstalledHidden = false;
};
