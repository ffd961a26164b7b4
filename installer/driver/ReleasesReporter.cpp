#include "installer/driver/ReleasesReporter.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"
#include "installer/patches/MUInstalledDB.h"
#include "installer/patches/MicroUpdateManager.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <tinyxml.h>

namespace {

// Releases shown to status queries and reports.
constexpr int queryInterface = 4;

bool someProductSelected(const Options& options) {
    for (const ReleaseSelector& selector : options.releaseSelectors)
        if (!selector.productId.empty())
            return true;
    return false;
}

void addText(TiXmlElement& parent, const char* name, const std::string& text) {
    TiXmlElement child(name);
    child.InsertEndChild(TiXmlText(text));
    parent.InsertEndChild(child);
}

// The later of the two, each only when it is a real time; a special value when neither is.
boost::posix_time::ptime later(const boost::posix_time::ptime& a, const boost::posix_time::ptime& b) {
    if (a.is_special())
        return b;
    if (b.is_special())
        return a;
    return a > b ? a : b;
}

TiXmlElement patchElement(const MUPatch& patch) {
    TiXmlElement element("patch");
    element.SetAttribute("version", patch.getVersion().toString());
    if (!patch.getTimestamp().empty())
        element.SetAttribute("timestamp", patch.getTimestamp());
    if (!patch.getType().empty())
        element.SetAttribute("type", patch.getType());
    if (patch.isSecurity())
        element.SetAttribute("security", "true");
    if (patch.isForced())
        element.SetAttribute("forced", "true");
    if (!patch.getRevision().empty())
        element.SetAttribute("revision", patch.getRevision());
    return element;
}

} // namespace

ReleasesReporter::ReleasesReporter(BuildManager* catalogue, MicroUpdateManager* patches, int mode)
    : Reporter(ok, ""), catalogue(catalogue), patches(patches), mode(mode) {}

std::vector<boost::shared_ptr<Release>> ReleasesReporter::listed() const {
    const Options& options = Options::instance();
    const bool filtered = someProductSelected(options);
    std::vector<boost::shared_ptr<Release>> releases;
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
        if (!filtered || options.isProdIDSelected(release->prod()->_id))
            releases.push_back(release);
    return releases;
}

std::ostream& ReleasesReporter::put(std::ostream& out) const {
    if (catalogue->getReleases(true).empty()) {
        if (mode == updates_only)
            return Reporter(ok, Messages().getMessage("releases_reporter_no_updates"), "").put(out);
        return Reporter(failed, Messages().getMessage("releases_reporter_list_empty"), "").put(out);
    }
    const bool upgrade = Options::instance().verb == Options::verb_upgrade;
    if (!Options::enableXmlOutput)
        putText(out);
    else if (!upgrade)
        putXml(out);
    if (upgrade)
        throw error(error::user, 1, 1, 2) << Messages().getMessage("err_cmd_upgrade_no_smth")
                                          << Messages().getMessage("err_cmd_upgrade_no_release");
    return out;
}

void ReleasesReporter::putText(std::ostream& out) const {
    out << padded("--- prod_id", 12) << " " << padded("release_id", 20) << " " << padded("(description)", 40)
        << " (tiers) ---\n";
    for (const boost::shared_ptr<Release>& release : listed()) {
        out << padded(release->prod()->_id, 12) << " " << padded(release->_id, 20) << " "
            << padded("(" + release->_name + ")", 40);
        if (release->isDisplayTagShown(queryInterface))
            out << " (" << release->getDisplayTag() << ")";
        out << "\n";
    }
    out.flush();
}

void ReleasesReporter::putXml(std::ostream& out) const {
    TiXmlElement releases("releases");
    for (const boost::shared_ptr<Release>& release : listed()) {
        const std::string action = release->isActual() ? release->getUpdateModeName() : "none";
        if (mode == updates_only && action == "up2date")
            continue;
        TiXmlElement element("release");
        element.SetAttribute("id", release->_id);
        element.SetAttribute("codename", release->_codename);
        element.SetAttribute("action", action);
        if (mode == updates_only) {
            const int availability = release->getUpdatesAvailability();
            if (availability == 1 || availability == 2)
                element.SetAttribute("update_grade", availability == 1 ? "minor" : "major");
        }
        if (release->isCurrentlyInstalled())
            addInstalledState(element, *release);
        addText(element, "description", release->_name);
        addText(element, "version", release->_version.getVersionWithEpoch());
        if (!release->_whp_api_version.empty())
            addText(element, "whp_api_version", release->_whp_api_version);
        if (!release->_dispatcher_api_version.empty())
            addText(element, "dispatcher_api_version", release->_dispatcher_api_version);
        releases.InsertEndChild(element);
    }
    printXml(out, &releases);
}

void ReleasesReporter::addInstalledState(TiXmlElement& element, const Release& release) const {
    const std::string& productId = release.prod()->_id;
    const std::string version = release._version.getVersionWithEpoch();
    const MUInstalledDB& installed = MUInstalledDB::instance();
    const MUInstalledDB::PatchRecord* lastPatch = installed.lastPatch(productId, version);
    if (lastPatch)
        element.SetAttribute("installed_patch", lastPatch->version.toString());
    const boost::posix_time::ptime updated =
        later(installed.installedAt(productId, version),
              lastPatch ? lastPatch->installedAt : boost::posix_time::ptime());
    if (!updated.is_special())
        element.SetAttribute("last_update", boost::posix_time::to_simple_string(updated));
    if (!patches)
        return;
    if (const MicroUpdateManager::patch_ptr available = patches->getLastPatch(productId, version))
        element.SetAttribute("available_patch", available->getVersion().toString());
    TiXmlElement offered("patches");
    for (const MicroUpdateManager::patch_ptr& patch : patches->getPatches(productId, version))
        offered.InsertEndChild(patchElement(*patch));
    element.InsertEndChild(offered);
}
