#pragma once

#include "common/packages/Version.h"
#include "common/runtime/TagSet.h"
#include "installer/catalogue/BuildList.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

class Opsys;
class Product;
class Repository;

// One installable release of a product, with its builds in file order. Created once by the
// catalogue readers; the state fields are filled in when the catalogue is compared with the system.
class Release {
public:
    // An empty version text raises err_empty_version.
    Release(const boost::shared_ptr<Product>& product, const std::string& id, const std::string& name,
            const std::string& codename, const std::string& version, const std::string& upgrade_allowed_from);
    Release(const Release&) = delete;
    Release& operator=(const Release&) = delete;

    const boost::shared_ptr<Product>& prod() const { return _product; }

    void addBuild(const boost::shared_ptr<Build>& build);
    void addTags(const std::string& list);
    void addPromotedTags(const std::string& list);

    // One direction only: whether this release's product names the other's product.
    bool isIncompatibleWith(const Release& other) const;
    // The details address with "[LOCALE]" replaced by the language of the messages, as in "en-US".
    std::string getDetailsUrl() const;

    // The installed version of the product (epoch and version, no release part) as its first installed
    // key package tells; "" when none of them is installed.
    std::string calculate_current_release(const Repository* rep) const;
    // Compares the release with the installed system and this server's OS: fills _installed_version,
    // _state and, for an actual release, _update_mode.
    void calculateState(const Repository* rep);

    // Both raise when the state has not been computed yet.
    bool isActual() const;
    bool isCurrentlyInstalled() const;
    // Only for an actual release.
    int getUpdateMode() const;
    // "install", "update" or "up2date"; "update" also for an up-to-date release with pending updates.
    std::string getUpdateModeName() const;
    // As getUpdateModeName, but "upgrade" for an upgrade.
    std::string getActionName() const;

    // The build to install on `os`; empty when none fits.
    boost::shared_ptr<Build> SelectBestBuild(const Opsys& os) const;
    // Whether the build to install on `os` exists and is not deprecated.
    bool hasUsableBuild(const Opsys& os) const;
    // Nothing to warn about for the release that is installed already.
    std::string getCaution() const;

    // "currently installed", else the tier chosen by tier cropping, else the release's own tiers.
    std::string getDisplayTag() const;
    // `ui`: 1 text interface, 2 web interface, 4 status queries and reports, 8 other.
    bool isDisplayTagShown(int ui) const;

    // Only an installed, up-to-date release takes these marks; a component of any other release that
    // differs from the installed one says nothing about pending updates.
    void setComponentUpgradeAvailable();
    void setMicroUpdateAvailable();
    void addNotInstalledComponent(const std::string& name);
    // 2 component upgrades, 1 micro-updates only, 0 nothing pending.
    int getUpdatesAvailability() const;

    // Product id to version text: releases of other products this one works best with, in file order
    // within one product.
    std::multimap<std::string, std::string> _best_with;
    boost::shared_ptr<Product> _product;
    std::string _id;
    std::string _name;
    std::string _codename;
    Version _version;
    // The lowest installed version this release may be installed over.
    Version _upgrade_allowed_from;
    std::string _details_url;
    std::string _whp_api_version;
    std::string _dispatcher_api_version;
    // 0 not checked yet, 1 not fit for this system, 2 actual.
    int _state = 0;
    // 0 not calculated, 1 install, 2 upgrade, 4 up to date.
    int _update_mode = 0;
    std::string _installed_version;
    std::string _caution;
    BuildList _builds;
    bool _selected = false;
    // Tiers; an empty set stands for "stable".
    TagSet _tags{true};
    // Tiers in which the release is offered only when the product has no release of that tier.
    TagSet _promoted_tags{false};
    std::string _display_tag;
    uint32_t _hide_policy = 0;
    std::vector<std::string> _not_installed_components;
    bool _component_upgrade_available = false;
    bool _micro_update_available = false;
};

// The name, or the id when the name is empty.
std::ostream& operator<<(std::ostream& out, const Release& release);
