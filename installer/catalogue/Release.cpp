#include "installer/catalogue/Release.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Options.h"

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

std::string Release::getDetailsUrl() const {
    std::string url = _details_url;
    expandMacros(url);
    return url;
}

std::string Release::calculate_current_release(const Repository* rep) const {
    if (!rep)
        throw internal_error("installer/Release", __LINE__);
    // A product without key packages (a catalogue made of one build description may have none)
    // cannot be told installed: it counts as not installed.
    for (const std::vector<std::string>& group : _product->keypackages()) {
        for (const std::string& name : group) {
            if (const Package* package = rep->findLatest(name))
                return package->getVersion().getVersionWithEpoch();
        }
    }
    return "";
}

void Release::calculateState(const Repository* rep) {
    _installed_version = calculate_current_release(rep);
    // A second computation must not keep the mode of the first one.
    _update_mode = 0;
    if (!_installed_version.empty()) {
        const Version installed(_installed_version);
        if (_version < installed) {
            Log::stream(3, true) << "Release " << _id << " too old: " << _installed_version
                                 << " is installed.";
            _state = 1;
            return;
        }
        if (installed < _upgrade_allowed_from) {
            Log::stream(2, true) << "Release " << _id << " not fit because too new: "
                                 << "upgrade are allowed only begins from "
                                 << _upgrade_allowed_from.toString() << " version";
            _state = 1;
            return;
        }
    }

    const Opsys current;
    const bool fits =
        std::any_of(_builds.begin(), _builds.end(), [&current](const boost::shared_ptr<Build>& build) {
            return build->isCompatible(current);
        });
    if (!fits) {
        Log::stream(2, true) << "Release " << _id << " contains no any build for this OS";
        _state = 1;
        return;
    }
    Log::stream(2, true) << "Release " << _id << " is actual";
    _state = 2;

    if (_installed_version.empty()) {
        _update_mode = 1;
        Log::stream(2, true) << "Release " << _id << " no previously installed";
    } else if (isCurrentlyInstalled()) {
        _update_mode = 4;
        Log::stream(2, true) << "Release " << _id << " is currently installed";
    } else {
        _update_mode = 2;
        Log::stream(2, true) << "Release " << _id << " is an upgrade of the installed version "
                             << _installed_version;
    }
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

int Release::getUpdateMode() const {
    if (!isActual())
        throw internal_error("installer/Release", 333);
    return _update_mode;
}

namespace {

std::string modeWord(const Release& release, const char* upgrade_word) {
    switch (release._update_mode) {
    case 0:
        throw error(3, 1, 1, 3) << "release " << release._name << ": update mode is not calculated.";
    case 1:
        return "install";
    case 2:
        return upgrade_word;
    case 4:
        return release.getUpdatesAvailability() != 0 ? "update" : "up2date";
    default:
        throw error(3, 1, 1, 3) << "release " << release._name
                                << ": update mode have invalid value: " << release._update_mode;
    }
}

// TagSet answers like "stable" for an empty set; an added empty word shows whether anything else is in it.
bool hasOwnTags(const TagSet& tags) {
    TagSet probe(tags);
    probe.insert("");
    return !probe.toString().empty();
}

} // namespace

std::string Release::getUpdateModeName() const {
    return modeWord(*this, "update");
}

std::string Release::getActionName() const {
    return modeWord(*this, "upgrade");
}

boost::shared_ptr<Build> Release::SelectBestBuild(const Opsys& os) const {
    Log::stream(3, true) << "Select best build of " << _id << " for current OS";
    boost::shared_ptr<Build> best = _builds.getBestBuild(os);
    if (best)
        Log::stream(2, true) << "The SelectBestBuild function has selected the build " << best->_config
                             << " for installation.";
    else
        Log::stream(2, true) << "The SelectBestBuild function has found no build of " << _id << " for " << os;
    return best;
}

bool Release::hasUsableBuild(const Opsys& os) const {
    const boost::shared_ptr<Build> best = SelectBestBuild(os);
    return best && !best->_deprecated;
}

std::string Release::getCaution() const {
    return isCurrentlyInstalled() ? "" : _caution;
}

std::string Release::getDisplayTag() const {
    if (isCurrentlyInstalled())
        return "currently installed";
    if (!_display_tag.empty())
        return _display_tag;
    return _tags.toString();
}

bool Release::isDisplayTagShown(int ui) const {
    if (isCurrentlyInstalled())
        return true;
    if ((_hide_policy & static_cast<uint32_t>(ui) & 15u) == 0)
        return true;
    const Options& options = Options::instance();
    const bool unfiltered = options.tier.empty() || options.command == Options::cmd_show_all_releases;
    if (unfiltered ? (_hide_policy & 512u) != 0 : (_hide_policy & 256u) != 0)
        return false;
    return hasOwnTags(_tags) || (_hide_policy & 1024u) == 0;
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
