#include "installer/catalogue/Release.h"

#include "common/runtime/error.h"
#include "installer/catalogue/Product.h"

#include <algorithm>

Release::Release(const boost::shared_ptr<Product>& product, const std::string& id, const std::string& name,
                 const std::string& codename, const std::string& version,
                 const std::string& upgrade_allowed_from)
    : _product(product), _id(id), _name(name), _codename(codename), _version(version),
      _upgrade_allowed_from(upgrade_allowed_from) {}

void Release::addBuild(const boost::shared_ptr<Build>& build) {
    _builds.add(build);
}

void Release::addTags(const std::string& list) {
    _tags.parse(list);
}

void Release::addPromotedTags(const std::string& list) {
    _promoted_tags.parse(list);
}

bool Release::isIncompatibleWith(const Release& other) const {
    const std::vector<std::string>& names = _product->_incompatible_with;
    return std::find(names.begin(), names.end(), other._product->_id) != names.end();
}

bool Release::isActual() const {
    if (_state == 0)
        throw error(3, 1, 1, 3) << "release " << _name << " installation state not checked yet";
    return _state == 2;
}

bool Release::isCurrentlyInstalled() const {
    if (_state == 0)
        throw error(3, 1, 1, 3) << "release " << _name << " installation state not checked yet";
    return !_installed_version.empty() && Version(_installed_version) == _version;
}

void Release::setComponentUpgradeAvailable() {
    if (isCurrentlyInstalled() && _update_mode == 4)
        _component_upgrade_available = true;
}

void Release::setMicroUpdateAvailable() {
    if (isCurrentlyInstalled() && _update_mode == 4)
        _micro_update_available = true;
}

void Release::addNotInstalledComponent(const std::string& name) {
    if (isCurrentlyInstalled())
        _not_installed_components.push_back(name);
}

int Release::getUpdatesAvailability() const {
    if (_component_upgrade_available)
        return 2;
    return _micro_update_available ? 1 : 0;
}

std::ostream& operator<<(std::ostream& out, const Release& release) {
    return out << (release._name.empty() ? release._id : release._name);
}
