#include "installer/catalogue/ProductsProgress.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Release.h"

#include <boost/smart_ptr/owner_less.hpp>

#include <cstdint>
#include <mutex>
#include <set>

namespace {

const char* const unit = "installer/ProductsProgress";
const int line_unregistered = 23;
const int line_several = 31;

std::mutex progress_mutex;
std::set<ProductsProgress*> instances;

struct sums_t {
    int64_t total = 0;
    int64_t done = 0;
    bool failed = false;
};

} // namespace

ProductsProgress::ProductsProgress() {
    {
        std::lock_guard<std::mutex> hold(progress_mutex);
        instances.insert(this);
    }
    Log::stream(3, true) << "ProductsProgress::ProductsProgress(): _instance="
                         << static_cast<const void*>(this);
}

ProductsProgress::~ProductsProgress() {
    size_t erased;
    {
        std::lock_guard<std::mutex> hold(progress_mutex);
        erased = instances.erase(this);
    }
    // Raising from a destructor would end the process; the fault is only reported.
    if (erased == 0)
        Log::stream(1, true) << internal_error(unit, line_unregistered).getText();
    Log::stream(3, true) << "ProductsProgress::~ProductsProgress(): this=" << static_cast<const void*>(this);
}

ProductsProgress* ProductsProgress::instance() {
    std::lock_guard<std::mutex> hold(progress_mutex);
    if (instances.size() > 1)
        throw internal_error(unit, line_several);
    return instances.empty() ? nullptr : *instances.begin();
}

void ProductsProgress::add_product_package(const boost::shared_ptr<Release>& release,
                                           const std::string& package_name) {
    if (!release)
        throw internal_error(unit, __LINE__);
    Log::stream(3, true) << "ProductsProgress::add_product_package: '" << release->_name
                         << "': " << package_name;
    std::lock_guard<std::mutex> hold(progress_mutex);
    packages[package_name] = package_t{release, 0};
}

void ProductsProgress::set_started() {
    std::lock_guard<std::mutex> hold(progress_mutex);
    started = true;
}

void ProductsProgress::set_progress(int stage, const std::string& package_name) {
    Log::stream(3, true) << "ProductsProgress::set_progress: " << package_name << " stage " << stage;
    std::lock_guard<std::mutex> hold(progress_mutex);
    auto found = packages.find(package_name);
    if (found != packages.end())
        found->second.stage = stage;
}

void ProductsProgress::get_progress(progress_list_t& list) {
    std::lock_guard<std::mutex> hold(progress_mutex);
    std::map<boost::shared_ptr<Release>, sums_t, boost::owner_less<boost::shared_ptr<Release>>> releases;
    for (const auto& package : packages) {
        sums_t& sums = releases[package.second.release];
        sums.total += 3;
        if (package.second.stage == failed)
            sums.failed = true;
        else
            sums.done += package.second.stage;
    }
    if (releases.empty()) {
        Log::stream(3, true) << "ProductsProgress::get_progress: no data for now";
        return;
    }
    // A release whose every package failed reads as failed at 0%, like any other failed release.
    for (const auto& item : releases) {
        const boost::shared_ptr<Release>& release = item.first;
        const sums_t& sums = item.second;
        auto entry = list.begin();
        while (entry != list.end() && entry->release.get() != release.get())
            ++entry;
        if (entry == list.end())
            entry = list.insert(list.end(), release_progress_t{release, 0, 0});

        if (sums.failed) {
            entry->state = failed;
        } else if (sums.done == 0) {
            entry->state = started ? state_started : state_not_started;
        } else if (sums.done > sums.total) {
            Log::stream(1, true) << "WARNING: Internal error in ProductsProgress::get_progress(): "
                                 << "num_done[rel]=" << sums.done << "  num_total[rel]=" << sums.total
                                 << "  rel=" << release->_name;
            entry->state = state_not_started;
        } else {
            entry->state = state_in_progress;
        }

        if (sums.total <= 0) {
            Log::stream(1, true) << "WARNING: Internal error in ProductsProgress::get_progress(): "
                                 << "  num_total[rel]=" << sums.total << "  - percents not calculated";
            entry->percent = 0;
        } else if (sums.done < 0) {
            Log::stream(1, true) << "WARNING: Internal error in ProductsProgress::get_progress(): "
                                 << "num_done[rel]=" << sums.done << " - percent is negative, dropped";
            entry->percent = 0;
        } else {
            int64_t percent = sums.done * 100 / sums.total;
            if (percent > 100) {
                Log::stream(3, true) << "DEBUG: ProductsProgress::get_progress(): percents too big- "
                                     << percent << ", strip to 100";
                percent = 100;
            }
            entry->percent = static_cast<int>(percent);
        }
    }
}
