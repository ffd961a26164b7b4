#pragma once

#include "common/runtime/PackagesProgress.h"

#include <boost/shared_ptr.hpp>

#include <list>
#include <map>
#include <string>

class Release;

// Condenses the stages of the packages being installed into one state and percentage per release,
// for the front ends. The installation thread reports; the web back end reads on another thread.
// The object registers itself for its lifetime; there is never more than one.
class ProductsProgress : public PackagesProgress {
public:
    static constexpr int failed = -10000;
    // Report states besides `failed`.
    static constexpr int state_not_started = 0;
    static constexpr int state_started = 1;
    static constexpr int state_in_progress = 2;

    struct release_progress_t {
        boost::shared_ptr<Release> release;
        int state;
        int percent;
    };
    using progress_list_t = std::list<release_progress_t>;

    ProductsProgress();
    ProductsProgress(const ProductsProgress&) = delete;
    ProductsProgress& operator=(const ProductsProgress&) = delete;
    ~ProductsProgress() override;

    // The registered object, or null.
    static ProductsProgress* instance();

    // Registers the package with the release at stage 0.
    void add_product_package(const boost::shared_ptr<Release>& release, const std::string& package_name);
    void set_started() override;
    // Unknown packages are ignored.
    void set_progress(int stage, const std::string& package_name) override;
    // Updates the caller's entries in place and appends entries for releases it does not hold yet.
    void get_progress(progress_list_t& list);

private:
    struct package_t {
        boost::shared_ptr<Release> release;
        int stage;
    };

    bool started = false;
    std::map<std::string, package_t> packages;
};
