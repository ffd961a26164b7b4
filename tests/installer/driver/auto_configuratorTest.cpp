#include "installer/driver/auto_configurator.h"

#include "common/runtime/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Appends "<name> cleanup" and "<name> finalize" to a shared trace; may fail in either.
class TracedConfigurator : public driver::auto_configurator::DummyConfigurator {
public:
    TracedConfigurator(std::vector<std::string>& trace, const std::string& name) : trace(trace), name(name) {}

    bool failing = false;

protected:
    void doCleanup() override { record("cleanup"); }
    void doFinalize() override { record("finalize"); }

private:
    void record(const std::string& step) {
        trace.push_back(name + " " + step);
        if (failing)
            throw error(error::system, 1, 1, 2) << name << " " << step << " failed";
    }

    std::vector<std::string>& trace;
    std::string name;
};

TracedConfigurator* configured(std::vector<std::string>& trace, const std::string& name) {
    auto* configurator = new TracedConfigurator(trace, name);
    configurator->configureSystem();
    return configurator;
}

TEST(auto_configuratorTest, EmptyHolderHoldsTheDoNothingConfigurator) {
    driver::auto_configurator holder(nullptr, true);
    ASSERT_TRUE(dynamic_cast<driver::auto_configurator::DummyConfigurator*>(holder.get()));
    holder->configureSystem();
    EXPECT_EQ(holder->checkConfiguration(), "");
    EXPECT_EQ(holder->getAvailablePackage("moxeltest-core"), nullptr);
}

TEST(auto_configuratorTest, EveryConfiguratorLetGoIsCleanedUpAndFinalisedOnce) {
    std::vector<std::string> trace;
    {
        driver::auto_configurator holder(configured(trace, "first"), true);
        holder.reset(holder.get());
        EXPECT_THAT(trace, IsEmpty());
        holder.reset(configured(trace, "second"));
        EXPECT_THAT(trace, ElementsAre("first cleanup", "first finalize"));
        holder.reset(nullptr);
        const SystemSpecificConfigurator& held = *holder.get();
        EXPECT_EQ(typeid(held), typeid(driver::auto_configurator::DummyConfigurator));
    }
    EXPECT_THAT(trace, ElementsAre("first cleanup", "first finalize", "second cleanup", "second finalize"));
}

TEST(auto_configuratorTest, WithoutCleanupOnlyFinalises) {
    std::vector<std::string> trace;
    { driver::auto_configurator holder(configured(trace, "only"), false); }
    EXPECT_THAT(trace, ElementsAre("only finalize"));
}

TEST(auto_configuratorTest, FailuresReachTheCallerOfResetButNotTheHoldersEnd) {
    std::vector<std::string> trace;
    TracedConfigurator* failing = configured(trace, "failing");
    failing->failing = true;
    {
        driver::auto_configurator holder(failing, true);
        EXPECT_THROW(holder.reset(nullptr), error);
        // The failing one stays held and is let go again at the end, quietly.
        EXPECT_EQ(holder.get(), failing);
    }
    EXPECT_THAT(trace, ElementsAre("failing cleanup", "failing cleanup", "failing finalize"));
}

} // namespace
