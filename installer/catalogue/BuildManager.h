#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/smart_ptr/owner_less.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class Addon;
class Build;
class FileFetcher;
class Product;
class Release;
class Repository;
namespace tinybind {
class Document;
class Element;
} // namespace tinybind

// The catalogue of one installation source: reads the catalogue files once, owns every release and
// add-on, answers lookups by product and release id and keeps the selection flags. Visitors are the
// way to walk it.
class BuildManager {
public:
    // Walks the releases (promoted first, then the main list) with their builds, then the add-ons.
    class Visitor {
    public:
        virtual void visitRelease(boost::shared_ptr<Release> release) = 0;
        virtual void leaveRelease(boost::shared_ptr<Release> release) = 0;
        virtual void visitAddon(Addon& addon) = 0;
        virtual void visitBuild(Build& build) = 0;
        virtual ~Visitor() = default;
    };

    // One entry of a products list.
    struct product_ref_t {
        std::string _id;
        std::string _name;
        // Path of the product or add-on file, relative to the source root.
        std::string _reference;
        bool _hidden_to_install = false;
        bool _lazy = false;
        std::vector<std::string> _incompatible_with;
    };

    // Reads the whole catalogue. `source_filename` is the last component of the source location;
    // when it is empty, "products.inf3" and then "versions.inf3" are tried.
    BuildManager(FileFetcher& fetcher, const std::string& source_filename);
    BuildManager(const BuildManager&) = delete;
    BuildManager& operator=(const BuildManager&) = delete;
    ~BuildManager();

    std::vector<boost::shared_ptr<Release>> getReleases(bool with_promoted) const;
    boost::shared_ptr<Release> findRelease(const std::string& id) const;
    boost::shared_ptr<Product> findProduct(const std::string& product_id) const;
    boost::shared_ptr<Release> findReleaseByVersion(const std::string& product_id,
                                                    const std::string& version_text) const;
    std::string getLatestReleaseId(const std::string& product_id) const;
    // The queries about installed and actual releases raise until the release states are computed.
    std::string getInstalledReleaseId(const std::string& product_id) const;
    std::string getInstalledReleaseVersion(const std::string& product_id) const;
    std::string getInstalledProductVersion(const std::string& product_id) const;
    std::vector<std::string> getInstalledProducts() const;
    std::string getSelectedReleaseId(const std::string& product_id) const;
    std::string getSelectedReleaseVersion(const std::string& product_id) const;
    std::vector<std::string> getSelectedReleaseIds() const;
    bool isProductSelected(const std::string& product_id) const;

    void unselectProduct(const std::string& product_id);
    void unselectAll();
    // An expired pointer raises boost::bad_weak_ptr unless the list is empty.
    void removeRelease(boost::weak_ptr<Release> release);

    // The visitor may change the lists while it walks.
    void accept(Visitor& visitor);

    // Compares every release of the main list with the installed packages and this server's OS.
    void calculateReleaseStates(const Repository* installed);

    // The filters, run right after the states in this order: the notices, the releases that cannot be
    // installed, clean installations of hidden products, then the tiers. `tiers` are in priority order.
    void collectUpgradeWarnings(const std::vector<std::string>& tiers);
    void removeNotActualReleases();
    void removeHiddenProductsReleases();
    // Per product, the first release carrying a requested tier represents it; installed releases and
    // those named in `keep_ids` stay whatever their tiers. No tiers: nothing changes.
    void cropReleasesByTags(const std::vector<std::string>& tiers, const std::vector<std::string>& keep_ids);

    // Selects the releases with that id and unselects the others of the product (of every product
    // when `product_id` is empty). Raises a user error when none has the id.
    void selectRelease(const std::string& product_id, const std::string& release_id);
    // The latest release of the default product, unless some release is installed.
    void selectDefaultProductRelease();

    // Word list of a display-tag hide policy, separated by ',' and blanks, into its bits.
    static uint32_t parseHidePolicy(const std::string& text);

    // Main release list in reading order.
    std::vector<boost::shared_ptr<Release>> _releases;
    // Releases kept only through a promoted tier.
    std::vector<boost::shared_ptr<Release>> _promoted_releases;
    // Ordered by version.
    std::vector<boost::shared_ptr<Addon>> _addons;
    // The product or add-on file being read, for messages.
    std::string _current_file;
    // Notices for the user about upgrades.
    std::vector<std::string> _warnings;

private:
    std::vector<product_ref_t> parseProductsList(tinybind::Document& document,
                                                 std::vector<product_ref_t>& addons);
    void parseIncompatibleWith(product_ref_t& entry, const tinybind::Element& element);
    void parseProduct(const product_ref_t& entry, const std::string& path);
    int parseReleases(const tinybind::Element& root, const boost::shared_ptr<Product>& product,
                      const std::string& dir);
    void parseRelease(const tinybind::Element& element, const boost::shared_ptr<Product>& product,
                      const std::string& dir);
    boost::shared_ptr<Build> parseBuild(const boost::shared_ptr<Release>& release,
                                        const tinybind::Element& element, const std::string& dir);
    void parseBestWith(const tinybind::Element& element, Release& release);
    // Never raises: a bad add-on file is logged and costs only its own add-ons.
    void parseAddon(const product_ref_t& entry, const std::string& path);
    void loadBuildDescription(const std::string& path);
    void readCatalogue(FileFetcher& fetcher, const std::string& path);

    // A release and its builds point at each other, so the catalogue remembers every release it
    // creates, also those it drops or removes later, and breaks those circles when it goes or when
    // reading fails.
    boost::shared_ptr<Release> newRelease(const boost::shared_ptr<Product>& product, const std::string& id,
                                          const std::string& name, const std::string& codename,
                                          const std::string& version,
                                          const std::string& upgrade_allowed_from);
    void dropRecords();
    std::vector<boost::shared_ptr<Release>> read_releases;
};

// Marks the releases that conflict with an installed product: used as a visitor to mark, then as a
// predicate that is true for the releases to keep.
class to_remove : public BuildManager::Visitor {
public:
    explicit to_remove(BuildManager* bm) : _bm(bm) {}

    void visitRelease(boost::shared_ptr<Release> release) override;
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

    bool operator()(const boost::shared_ptr<Release>& release) const;

private:
    BuildManager* _bm;
    std::set<boost::shared_ptr<Release>, boost::owner_less<boost::shared_ptr<Release>>> _to_drop;
    std::set<std::string> _seen_products;
};
