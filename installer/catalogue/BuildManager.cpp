#include "installer/catalogue/BuildManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/FileFetcher.h"

#include <boost/make_shared.hpp>

#include <algorithm>

BuildManager::BuildManager(FileFetcher& fetcher, const std::string& source_filename) {
    Log::stream(3, true) << "BuildManager::BuildManager: source_filename=" << source_filename;

    std::vector<std::string> candidates;
    if (!source_filename.empty())
        candidates.push_back(source_filename);
    else
        candidates = {"products.inf3", "versions.inf3"};

    std::string path;
    std::string failures;
    for (const std::string& name : candidates) {
        try {
            path = fetcher.getFile(name);
            break;
        } catch (const error& e) {
            failures += "Can't process " + name + ": " + e.getText() + "\n";
        }
    }
    if (path.empty())
        throw error(1, 1, 1, 2) << Messages().getMessage("err_read_prodsinfo") << ": " << failures;

    try {
        readCatalogue(fetcher, path);
    } catch (...) {
        dropRecords();
        throw;
    }
}

void BuildManager::readCatalogue(FileFetcher& fetcher, const std::string& path) {
    try {
        tinybind::Document document(path);
        const tinybind::Element root(document.root(""));
        const std::string kind = root.name();
        std::vector<product_ref_t> products;
        std::vector<product_ref_t> addons;
        if (kind == "vendors" || kind == "product")
            SelfUpgrade::check_required_AI_version(*root.get());
        if (kind == "vendors") {
            products = parseProductsList(document, addons);
        } else if (kind == "product") {
            // A product file given directly: its build paths are relative to the source root.
            product_ref_t entry;
            entry._id = root.attribute("id");
            entry._name = root.attribute("name");
            entry._reference = fileops::basename(path);
            entry._hidden_to_install = util::to_bool(root.attribute("hidden_to_install"));
            products.push_back(entry);
        } else if (kind == "build" || kind == "build_1") {
            loadBuildDescription(path);
        } else {
            throw error(1, 1, 1, 3) << "Unsupported config file";
        }

        for (const product_ref_t& entry : products) {
            const std::string local = fetcher.getFile(entry._reference);
            _current_file = local;
            parseProduct(entry, local);
            _current_file.clear();
        }
        for (const product_ref_t& entry : addons) {
            const std::string local = fetcher.getFile(entry._reference);
            _current_file = local;
            parseAddon(entry, local);
            _current_file.clear();
        }
    } catch (const tinybind::err& e) {
        throw error(1, 1, 1, 2) << "Can't parse " << path << ": " << e.text;
    }
}

BuildManager::~BuildManager() {
    dropRecords();
}

void BuildManager::dropRecords() {
    for (const boost::shared_ptr<Release>& release : read_releases)
        release->_builds.clear();
    read_releases.clear();
}

boost::shared_ptr<Release> BuildManager::newRelease(const boost::shared_ptr<Product>& product,
                                                    const std::string& id, const std::string& name,
                                                    const std::string& codename, const std::string& version,
                                                    const std::string& upgrade_allowed_from) {
    auto release = boost::make_shared<Release>(product, id, name, codename, version, upgrade_allowed_from);
    read_releases.push_back(release);
    return release;
}

namespace {

using release_list = std::vector<boost::shared_ptr<Release>>;

release_list allReleases(const release_list& promoted, const release_list& main) {
    release_list all(promoted);
    all.insert(all.end(), main.begin(), main.end());
    return all;
}

bool ofProduct(const boost::shared_ptr<Release>& release, const std::string& product_id) {
    return release->_product->_id == product_id;
}

} // namespace

std::vector<boost::shared_ptr<Release>> BuildManager::getReleases(bool with_promoted) const {
    return with_promoted ? allReleases(_promoted_releases, _releases) : _releases;
}

boost::shared_ptr<Release> BuildManager::findRelease(const std::string& id) const {
    for (const boost::shared_ptr<Release>& release : _releases)
        if (release->_id == id)
            return release;
    return {};
}

boost::shared_ptr<Product> BuildManager::findProduct(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        if (ofProduct(release, product_id))
            return release->_product;
    return {};
}

boost::shared_ptr<Release> BuildManager::findReleaseByVersion(const std::string& product_id,
                                                              const std::string& version_text) const {
    const Version version(version_text);
    for (const boost::shared_ptr<Release>& release : _releases)
        if (ofProduct(release, product_id) && release->_version == version)
            return release;
    return {};
}

std::string BuildManager::getLatestReleaseId(const std::string& product_id) const {
    Version latest("0");
    std::string id;
    for (const boost::shared_ptr<Release>& release : _releases) {
        if (ofProduct(release, product_id) && release->_version > latest) {
            latest = release->_version;
            id = release->_id;
        }
    }
    return id;
}

std::string BuildManager::getInstalledReleaseId(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : _releases)
        if (ofProduct(release, product_id) && release->isCurrentlyInstalled())
            return release->_id;
    return "";
}

std::string BuildManager::getInstalledReleaseVersion(const std::string& product_id) const {
    const boost::shared_ptr<Release> release = findRelease(getInstalledReleaseId(product_id));
    return release ? release->_version.version : "";
}

std::string BuildManager::getInstalledProductVersion(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : _releases)
        if (ofProduct(release, product_id) && release->isActual() && !release->_installed_version.empty())
            return release->_installed_version;
    return "";
}

std::vector<std::string> BuildManager::getInstalledProducts() const {
    std::vector<std::string> products;
    for (const boost::shared_ptr<Release>& release : _releases)
        if (release->isCurrentlyInstalled())
            products.push_back(release->_product->_id);
    return products;
}

std::string BuildManager::getSelectedReleaseId(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        if (ofProduct(release, product_id) && release->_selected)
            return release->_id;
    return "";
}

std::string BuildManager::getSelectedReleaseVersion(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : _releases)
        if (ofProduct(release, product_id) && release->_selected)
            return release->_version.version;
    return "";
}

std::vector<std::string> BuildManager::getSelectedReleaseIds() const {
    std::vector<std::string> ids;
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        if (release->_selected)
            ids.push_back(release->_id);
    return ids;
}

bool BuildManager::isProductSelected(const std::string& product_id) const {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        if (ofProduct(release, product_id) && release->_selected)
            return true;
    return false;
}

void BuildManager::unselectProduct(const std::string& product_id) {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        if (ofProduct(release, product_id))
            release->_selected = false;
}

void BuildManager::unselectAll() {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases))
        release->_selected = false;
}

void BuildManager::removeRelease(boost::weak_ptr<Release> release) {
    if (_releases.empty())
        return;
    const boost::shared_ptr<Release> target(release);
    _releases.erase(std::remove(_releases.begin(), _releases.end(), target), _releases.end());
}

void BuildManager::accept(Visitor& visitor) {
    for (const boost::shared_ptr<Release>& release : allReleases(_promoted_releases, _releases)) {
        visitor.visitRelease(release);
        const BuildList builds = release->_builds;
        for (const boost::shared_ptr<Build>& build : builds)
            visitor.visitBuild(*build);
        visitor.leaveRelease(release);
    }
    const std::vector<boost::shared_ptr<Addon>> addons = _addons;
    for (const boost::shared_ptr<Addon>& addon : addons)
        visitor.visitAddon(*addon);
}

void to_remove::visitRelease(boost::shared_ptr<Release> release) {
    const std::string& product_id = release->_product->_id;
    if (!_seen_products.insert(product_id).second)
        return;
    const std::string installed = _bm->getInstalledProductVersion(product_id);
    if (installed.empty())
        return;
    for (const boost::shared_ptr<Release>& other : _bm->_releases) {
        if (ofProduct(other, product_id))
            continue;
        if ((release->isIncompatibleWith(*other) || other->isIncompatibleWith(*release)) &&
            _to_drop.insert(other).second)
            Log::stream(3, true) << "DEBUG: drop " << other->_id << " because version " << installed
                                 << " of conflicting product '" << product_id << "' is already installed.";
    }
}

bool to_remove::operator()(const boost::shared_ptr<Release>& release) const {
    return _to_drop.count(release) == 0;
}
