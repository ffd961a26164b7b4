#pragma once

#include "installer/catalogue/BuildInfFile.h"

#include <boost/shared_ptr.hpp>

#include <ostream>
#include <string>
#include <vector>

class Opsys;
class Package;
class Release;
namespace Bootstrapper {
class Action;
}

// One build of a release (or of an add-on) for one operating system. The catalogue readers fill the
// OS fields and paths; the component-tree loader later attaches the parsed build description and
// what it copies from it.
class Build {
public:
    // The build is deprecated only when `deprecated` is exactly "true".
    Build(const boost::shared_ptr<Release>& parent, const std::string& os_name, const std::string& os_vendor,
          const std::string& os_version, const std::string& os_arch, const std::string& os_release_name,
          const std::string& environment, const std::string& config, const std::string& deprecated);
    Build(const Build&) = delete;
    Build& operator=(const Build&) = delete;

    // "build for <name> <vendor> <version> <arch>[ under <environment>][ (<config>)]"
    void print(std::ostream& out) const;
    // Strict match of this build's OS against `os`.
    bool isCompatible(const Opsys& os) const;
    // Whether the parent lists this very build (an add-on build moved under a release does not).
    bool belongsToParentRelease() const;
    void setParent(const boost::shared_ptr<Release>& release);
    // Appends the packages; the actions replace the earlier ones.
    void setBootstrapper(const std::vector<Package*>& packages,
                         const std::vector<boost::shared_ptr<Bootstrapper::Action>>& actions);

    std::string _os_name;
    std::string _os_vendor;
    std::string _os_version;
    std::string _os_arch;
    std::string _os_release_name;
    std::string _parameters_file;
    // "" for any environment.
    std::string _environment;
    // Build description path, relative to the source root.
    std::string _config;
    // Directory of the product or add-on file that listed the build ("" at the source root).
    std::string _base_dir;
    bool _deprecated = false;
    // Patch-list paths, relative to the source root.
    std::vector<std::string> _patches;
    bool _uninstall_support = false;
    // Installed before all other packages.
    std::vector<Package*> _bootstrapper_packages;
    std::vector<boost::shared_ptr<Bootstrapper::Action>> _bootstrapper_actions;
    bool _gpgcheck = false;
    std::string _gpg_public_key;
    std::vector<BuildInfFile::examine_t> _examine;
    // Empty for an add-on build until the loader moves it under a release.
    boost::shared_ptr<Release> _parent;
    boost::shared_ptr<BuildInfFile> _build_description;
};

std::ostream& operator<<(std::ostream& out, const Build& build);
