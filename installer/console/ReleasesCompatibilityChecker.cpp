#include "installer/console/ReleasesCompatibilityChecker.h"

#include "common/packages/Version.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

#include <algorithm>
#include <optional>

ReleasesCompatibilityChecker::ReleasesCompatibilityChecker(BuildManager& manager, Repository&)
    : manager(manager) {
    Log::stream(3, true) << "DEBUG: Checking selected releases for compatibility with each others.";
}

bool ReleasesCompatibilityChecker::isError() const {
    return !errors.str().empty();
}

bool ReleasesCompatibilityChecker::isWarning() const {
    return !warnings.str().empty();
}

void ReleasesCompatibilityChecker::visit(const boost::shared_ptr<Release>& release) {
    const Release& r = *release;
    if (!r.isActual()) {
        Log::stream(3, true) << r._name << " not actual, skip check";
        return;
    }
    if (r.isCurrentlyInstalled()) {
        Log::stream(3, true) << r._name << " is currently installed, skip check";
        return;
    }
    if (!r._selected) {
        Log::stream(3, true) << r << " not checked, skip check";
        return;
    }
    Log::stream(3, true) << "ReleasesCompatibilityChecker: check " << r._name;
    for (const boost::shared_ptr<Release>& secondary : manager._releases) {
        const Release& s = *secondary;
        if (s._product->_id == r._product->_id)
            continue;
        // A release that does not fit this system takes no part, whichever side it is on.
        if (!s.isActual()) {
            Log::stream(3, true) << "  secondary " << s._name << " not actual, skip";
            continue;
        }
        if (s.isCurrentlyInstalled()) {
            Log::stream(3, true) << "  secondary " << s._name << " is current, skip";
            continue;
        }
        if (!s._selected) {
            Log::stream(3, true) << "  secondary " << s._name << " is not checked for install, skip";
            continue;
        }
        Log::stream(3, true) << "  secondary is " << s._name << " checked and current, check it";
        if (r.isIncompatibleWith(s))
            checkIncompatible(r, s);
        if (isBestWith(r, s))
            reportBest(r, s);
    }
}

void ReleasesCompatibilityChecker::checkIncompatible(const Release& release, const Release& other) {
    if (!errors.str().empty())
        errors << "\n";
    errors << Messages().format("err_incompatible_products", release._product->_name, other._product->_name);
}

bool ReleasesCompatibilityChecker::isBestWith(const Release& release, const Release& other) {
    Log::stream(3, false) << "debug: ReleasesCompatibilityChecker::isBestWith: have products " << release
                          << " and " << other << " any best with link?... ";
    const std::string& productId = release._product->_id;
    const std::string& otherId = other._product->_id;
    if (productId == otherId)
        throw internal_error("installer/ReleasesCompatibilityChecker", 97);
    const bool linked = std::any_of(
        manager._releases.begin(), manager._releases.end(), [&](const boost::shared_ptr<Release>& candidate) {
            return candidate->_product->_id == productId && candidate->_best_with.count(otherId) > 0;
        });
    Log::stream(3, true) << (linked ? "yes" : "no");
    return linked;
}

void ReleasesCompatibilityChecker::reportBest(const Release& release, const Release& other) {
    Log::stream(3, true) << "  ReleasesCompatibilityChecker::reportBest: here I need report that " << release
                         << " fit to " << other;
    const std::string& otherId = other._product->_id;
    // Kept apart from the versions so that a partner declared as "0.0" still counts.
    std::optional<Version> best;
    Log::stream(3, true) << "    ReleasesCompatibilityChecker::reportBest: iterate by " << release
                         << " best_with records";
    for (const auto& entry : release._best_with) {
        Log::stream(3, true) << "   iter: " << entry.first << " - " << entry.second;
        if (entry.first != otherId)
            continue;
        const Version current(entry.second);
        Log::stream(3, true) << "    check: currVersion=" << current;
        if (current == other._version) {
            Log::stream(3, true) << "   currVersion == b->ver() == " << other._version
                                 << " - bestMatch set to true";
            return;
        }
        if (!best) {
            best = current;
            Log::stream(3, true) << "     bestVersion is None, = currVersion, " << *best;
        }
        if (current > *best) {
            best = current;
            Log::stream(3, true) << "     currVersion > bestVersion, bestVersion = currVersion, " << *best;
        }
    }
    if (!best)
        return;

    Log::stream(3, true) << release._name << " works better with " << other._product->_name << " " << *best
                         << ", but " << other._name << " was selected";
    warnings << "\n"
             << release._name << " works better with " << other._product->_name << " " << best->toString()
             << ", but " << other._name << " was selected";

    const std::string& productId = release._product->_id;
    auto record = std::find_if(bestWith.begin(), bestWith.end(), [&productId](const BestWithInfo& info) {
        return info.productId == productId;
    });
    if (record == bestWith.end()) {
        BestWithInfo info;
        info.productId = productId;
        info.description = release._product->_name;
        info.version = release._version.version;
        record = bestWith.insert(bestWith.end(), info);
    }
    record->alternatives.push_back({otherId, other._product->_name, best->version, other._version.version});
}
