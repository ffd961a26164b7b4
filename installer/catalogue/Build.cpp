#include "installer/catalogue/Build.h"

#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "installer/catalogue/Release.h"

Build::Build(const boost::shared_ptr<Release>& parent, const std::string& os_name,
             const std::string& os_vendor, const std::string& os_version, const std::string& os_arch,
             const std::string& os_release_name, const std::string& environment, const std::string& config,
             const std::string& deprecated)
    : _os_name(os_name), _os_vendor(os_vendor), _os_version(os_version), _os_arch(os_arch),
      _os_release_name(os_release_name), _environment(environment), _config(config),
      _deprecated(deprecated == "true"), _parent(parent) {}

void Build::print(std::ostream& out) const {
    out << "build for " << _os_name << " " << _os_vendor << " " << _os_version << " " << _os_arch;
    if (!_environment.empty())
        out << " under " << _environment;
    if (!_config.empty())
        out << " (" << _config << ")";
}

bool Build::isCompatible(const Opsys& os) const {
    return Opsys(_os_name, _os_vendor, _os_version, _os_arch, _environment).matches(os, false);
}

bool Build::belongsToParentRelease() const {
    for (const boost::shared_ptr<Build>& build : _parent->_builds)
        if (build.get() == this)
            return true;
    return false;
}

void Build::setParent(const boost::shared_ptr<Release>& release) {
    if (_parent)
        Log::stream(3, true) << "DEBUG: Build (addon?) " << *this << " change parent from " << *_parent
                             << " to " << *release;
    _parent = release;
}

void Build::setBootstrapper(const std::vector<Package*>& packages,
                            const std::vector<boost::shared_ptr<Bootstrapper::Action>>& actions) {
    _bootstrapper_packages.insert(_bootstrapper_packages.end(), packages.begin(), packages.end());
    _bootstrapper_actions = actions;
}

std::ostream& operator<<(std::ostream& out, const Build& build) {
    build.print(out);
    return out;
}
