#include "installer/catalogue/ProductsProgress.h"

#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>

#include <atomic>
#include <thread>

using cataloguetest::CatalogueTest;
using cataloguetest::ReleaseHolder;
using ::testing::HasSubstr;

namespace {

using ProductsProgressTest = CatalogueTest;

const int failed = ProductsProgress::failed;

// The entry of the release in the list, or null.
const ProductsProgress::release_progress_t* entryOf(const ProductsProgress::progress_list_t& list,
                                                    const boost::shared_ptr<Release>& release) {
    for (const auto& entry : list)
        if (entry.release == release)
            return &entry;
    return nullptr;
}

TEST_F(ProductsProgressTest, StateAndPercentFromPackageStages) {
    struct Case {
        const char* what;
        std::vector<int> stages;
        bool started;
        int state;
        int percent;
    };
    const Case cases[] = {
        {"under way", {3, 3, 1, 0}, false, 2, 58},
        {"one package failed", {3, 3, 1, failed}, false, failed, 58},
        {"nothing done, not started", {0, 0, 0}, false, 0, 0},
        {"nothing done, started", {0, 0, 0}, true, 1, 0},
        {"complete", {3, 3}, true, 2, 100},
        // Every package failed: shown as failed, not raised as an internal error.
        {"every package failed", {failed, failed}, true, failed, 0},
        {"stages beyond complete", {5, 5}, false, 0, 100},
        {"negative stages", {-2, 0}, false, 2, 0},
    };
    ReleaseHolder holder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProductsProgress progress;
        const auto release = holder.make("moxel", "r", "1.0");
        release->_name = "Moxel";
        for (size_t i = 0; i < c.stages.size(); ++i) {
            const std::string name = "moxeltest-" + std::to_string(i);
            progress.add_product_package(release, name);
            progress.set_progress(c.stages[i], name);
        }
        if (c.started)
            progress.set_started();
        ProductsProgress::progress_list_t list;
        progress.get_progress(list);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list.front().release, release);
        EXPECT_EQ(list.front().state, c.state);
        EXPECT_EQ(list.front().percent, c.percent);
    }
    EXPECT_THAT(logText(), HasSubstr("WARNING: Internal error in ProductsProgress::get_progress(): "
                                     "num_done[rel]=10  num_total[rel]=6  rel=Moxel\n"));
    EXPECT_THAT(logText(),
                HasSubstr("DEBUG: ProductsProgress::get_progress(): percents too big- 166, strip to "
                          "100\n"));
    EXPECT_THAT(logText(), HasSubstr("WARNING: Internal error in ProductsProgress::get_progress(): "
                                     "num_done[rel]=-2 - percent is negative, dropped\n"));
}

TEST_F(ProductsProgressTest, CallersListIsMergedByReleaseIdentity) {
    ReleaseHolder holder;
    const auto moxel = holder.make("moxel", "moxel-1", "1.0");
    const auto pagewright = holder.make("pagewright", "pw-1", "1.0");
    const auto gone = holder.make("other", "o-1", "1.0");
    ProductsProgress progress;

    ProductsProgress::progress_list_t list{{gone, 2, 40}, {moxel, 0, 0}};
    progress.get_progress(list);
    EXPECT_EQ(list.size(), 2u); // no data yet: unchanged
    EXPECT_THAT(logText(), HasSubstr("ProductsProgress::get_progress: no data for now\n"));

    progress.add_product_package(moxel, "moxeltest-core");
    progress.add_product_package(pagewright, "moxeltest-pagewright");
    progress.set_progress(3, "moxeltest-core");
    progress.set_progress(2, "moxeltest-unknown"); // not registered: ignored
    progress.get_progress(list);

    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.front().release, gone); // a release no longer registered keeps its entry
    EXPECT_EQ(list.front().percent, 40);
    const auto* core = entryOf(list, moxel);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core, &*std::next(list.begin())); // updated in place
    EXPECT_EQ(core->state, 2);
    EXPECT_EQ(core->percent, 100);
    const auto* site = entryOf(list, pagewright);
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->state, 0);
    EXPECT_EQ(site->percent, 0);

    // Registering a package again sets it back to stage 0.
    progress.add_product_package(moxel, "moxeltest-core");
    progress.get_progress(list);
    EXPECT_EQ(entryOf(list, moxel)->percent, 0);
}

TEST_F(ProductsProgressTest, OneRegisteredInstanceAtATime) {
    EXPECT_EQ(ProductsProgress::instance(), nullptr);
    {
        ProductsProgress progress;
        EXPECT_EQ(ProductsProgress::instance(), &progress);
        PackagesProgress& packages = progress;
        packages.set_started();
        ProductsProgress second;
        try {
            ProductsProgress::instance();
            ADD_FAILURE() << "two instances were accepted";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr("installer/ProductsProgress, line 31."));
        }
    }
    EXPECT_EQ(ProductsProgress::instance(), nullptr);
}

// The installation thread reports while the web back end reads; the sanitizer build checks the locking.
TEST_F(ProductsProgressTest, ReportsWhileAnotherThreadReads) {
    ReleaseHolder holder;
    const auto release = holder.make("moxel", "r", "1.0");
    ProductsProgress progress;
    for (int i = 0; i < 20; ++i)
        progress.add_product_package(release, "moxeltest-" + std::to_string(i));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        ProductsProgress::progress_list_t list;
        while (!done) {
            progress.get_progress(list);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_GE(list.front().percent, 0);
            EXPECT_LE(list.front().percent, 100);
        }
    });
    progress.set_started();
    for (int stage = 1; stage <= 3; ++stage)
        for (int i = 0; i < 20; ++i)
            progress.set_progress(stage, "moxeltest-" + std::to_string(i));
    done = true;
    reader.join();
    ProductsProgress::progress_list_t list;
    progress.get_progress(list);
    EXPECT_EQ(list.front().percent, 100);
}

} // namespace
