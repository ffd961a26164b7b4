// Release states, the filters that run right after the catalogue is read, and release selection.

#include "installer/catalogue/BuildManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"

#include <boost/format.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {

using release_ptr = boost::shared_ptr<Release>;
using release_list = std::vector<release_ptr>;

bool carriesAny(const Release& release, const std::vector<std::string>& tiers) {
    return std::any_of(tiers.begin(), tiers.end(),
                       [&release](const std::string& tier) { return release._tags.contains(tier); });
}

// Keeps the order of the releases that stay.
template <typename Predicate> void eraseIf(release_list& releases, Predicate drop) {
    releases.erase(std::remove_if(releases.begin(), releases.end(), drop), releases.end());
}

void logList(const char* title, const std::vector<std::string>& words) {
    Log::stream line(3, true);
    line << "DEBUG: " << title << " (";
    for (const std::string& word : words)
        line << " '" << word << "'";
    line << ")";
}

} // namespace

void BuildManager::calculateReleaseStates(const Repository* installed) {
    for (const release_ptr& release : _releases)
        release->calculateState(installed);
}

void BuildManager::collectUpgradeWarnings(const std::vector<std::string>& tiers) {
    _warnings.clear();
    const Version none("0");
    std::set<std::string> handled;
    for (const release_ptr& release : _releases) {
        const Product& product = *release->_product;
        if (release->_installed_version.empty() || !handled.insert(product._id).second)
            continue;
        const Version installed(release->_installed_version);
        Version best = none;
        bool all_reachable = true;
        for (const release_ptr& newer : _releases) {
            if (newer->_product->_id != product._id || !carriesAny(*newer, tiers) ||
                !(newer->_version > installed))
                continue;
            if (installed < newer->_upgrade_allowed_from)
                all_reachable = false;
            if (newer->isActual() && newer->_version > best)
                best = newer->_version;
        }
        if (!all_reachable && best > none)
            _warnings.push_back(Messages().format("upgrade_from_not_supported_versions",
                                                  product._name + " " + release->_installed_version,
                                                  product._name + " " + best.version, product._kb_article));
    }

    const Opsys current;
    const auto runsOn = [&current](const char* name, const char* version) {
        return Opsys(name, "Microsoft", version, "", "").matches(current, true);
    };
    const bool default_installed = handled.count(Options::defaultProductId) != 0;
    if (runsOn("Windows-server", "5.2"))
        _warnings.push_back(Messages().getMessage("os_win2003_not_supported"));
    if (runsOn("Windows-server", "6.0"))
        _warnings.push_back(Messages().getMessage(default_installed
                                                      ? "os_win2008_not_supported_product_installed"
                                                      : "os_win2008_not_supported_product_not_installed"));
    if (runsOn("Windows-server", "6.1") || runsOn("Windows-server-core", "6.1"))
        _warnings.push_back(Messages().getMessage(default_installed
                                                      ? "os_win2008r2_not_supported_product_installed"
                                                      : "os_win2008r2_not_supported_product_not_installed"));
    if (runsOn("Windows-workstation", ""))
        _warnings.push_back(Messages().getMessage("os_win_workstation_not_supported"));
}

void BuildManager::removeNotActualReleases() {
    Log::stream(3, true) << "DEBUG: Removing not actual releases...";
    eraseIf(_releases, [](const release_ptr& release) { return !release->isActual(); });
    to_remove conflicting(this);
    accept(conflicting);
    eraseIf(_releases, [&conflicting](const release_ptr& release) { return !conflicting(release); });
    Log::stream(3, true) << "DEBUG: Removing not actual releases: done";
}

void BuildManager::removeHiddenProductsReleases() {
    Log::stream(3, true) << "DEBUG: Removing releases of products that are hidden for clean installation...";
    // Checked before anything is removed, so a failure leaves the list whole.
    for (const release_ptr& release : _releases)
        if (release->_update_mode == 0)
            throw internal_error("installer/BuildManager", 49);
    eraseIf(_releases, [](const release_ptr& release) {
        return release->_update_mode == 1 && release->_product->_hidden_to_install;
    });
    Log::stream(3, true)
        << "DEBUG: Removing releases of products that are hidden for clean installation: done";
}

void BuildManager::cropReleasesByTags(const std::vector<std::string>& tiers,
                                      const std::vector<std::string>& keep_ids) {
    logList("Cropping releases by tags", tiers);
    if (!keep_ids.empty())
        logList("Keep releases", keep_ids);
    if (tiers.empty())
        return;

    _promoted_releases.clear();
    // Per product: the tiers no release has claimed yet, and those still open for promotion.
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> open;
    release_list kept;
    for (const release_ptr& release : _releases) {
        auto& product_open = open.emplace(release->_product->_id, std::make_pair(tiers, tiers)).first->second;
        std::vector<std::string>& tiers_open = product_open.first;
        std::vector<std::string>& promoted_open = product_open.second;

        bool claimed = false;
        for (auto tier = tiers_open.begin(); tier != tiers_open.end();) {
            if (!release->_tags.contains(*tier)) {
                ++tier;
                continue;
            }
            if (!claimed)
                release->_display_tag = *tier;
            claimed = true;
            promoted_open.erase(std::remove(promoted_open.begin(), promoted_open.end(), *tier),
                                promoted_open.end());
            tier = tiers_open.erase(tier);
        }

        bool promoted = false;
        if (!claimed) {
            for (auto tier = promoted_open.begin(); tier != promoted_open.end();) {
                if (release->_promoted_tags.contains(*tier)) {
                    tier = promoted_open.erase(tier);
                    promoted = true;
                } else {
                    ++tier;
                }
            }
        }

        const bool keep = std::find(keep_ids.begin(), keep_ids.end(), release->_id) != keep_ids.end();
        if (keep || release->isCurrentlyInstalled() || claimed)
            kept.push_back(release);
        else if (promoted)
            _promoted_releases.push_back(release);
    }
    _releases = kept;
}

void BuildManager::selectRelease(const std::string& product_id, const std::string& release_id) {
    release_list all(_promoted_releases);
    all.insert(all.end(), _releases.begin(), _releases.end());
    bool walked = false;
    bool matched = false;
    for (const release_ptr& release : all) {
        if (!product_id.empty() && release->_product->_id != product_id)
            continue;
        walked = true;
        release->_selected = release->_id == release_id;
        matched = matched || release->_selected;
    }
    if (matched)
        return;

    const std::string product =
        product_id.empty() ? (boost::format("<default=%s>") % Options::defaultProductId).str() : product_id;
    error failure(2, 1, 1, 2);
    if (walked)
        failure << Messages().format("err_no_release_id", release_id, product);
    else
        failure << Messages().format("err_no_product_id", product);
    failure << "\n" << Messages().getMessage("err_no_prod_rel_id_advice");
    throw failure;
}

void BuildManager::selectDefaultProductRelease() {
    const std::string prefix = "DEBUG: Selecting release of default product if no releases are current";
    Log::stream(3, true) << prefix << "...";
    for (const release_ptr& release : _releases) {
        if (release->isCurrentlyInstalled()) {
            Log::stream(3, true) << prefix << ": nothing to do, there are current releases";
            return;
        }
    }
    const std::string product_id = Options::defaultProductId;
    const std::string release_id = getLatestReleaseId(product_id);
    if (release_id.empty()) {
        Log::stream(3, true) << prefix << ": nothing to do, cannot select latest release id for "
                             << product_id;
        return;
    }
    selectRelease(product_id, release_id);
    Log::stream(3, true) << prefix << ": done, selected " << product_id << "/" << release_id;
}
