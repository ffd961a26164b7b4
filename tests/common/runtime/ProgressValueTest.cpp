#include "common/runtime/ProgressValue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::HasSubstr;

namespace {

using Counter = ProgressValue<unsigned long>;

struct CountingObserver : ProgressValueObserver {
    void update() override { ++updates; }
    int updates = 0;
};

std::string internalErrorOf(void (*action)(Counter&), Counter& counter) {
    try {
        action(counter);
    } catch (const error& e) {
        return e.getText();
    }
    return "";
}

TEST(ProgressValueTest, StepStopsAtTheTotalUnlessUnbounded) {
    Counter bounded;
    bounded.total = 3;
    bounded.value = 2;
    bounded.step("c.rpm");
    EXPECT_EQ(bounded.value, 3u);
    EXPECT_EQ(bounded.text, "c.rpm");

    const std::string text = internalErrorOf([](Counter& c) { c.step("d.rpm"); }, bounded);
    EXPECT_THAT(text, HasSubstr("installer/ProgressValueRender, line 101."));
    EXPECT_EQ(bounded.value, 3u);
    EXPECT_EQ(bounded.text, "c.rpm");

    Counter unbounded;
    for (int i = 0; i < 10; ++i)
        unbounded.step("file");
    EXPECT_EQ(unbounded.value, 10u);
}

TEST(ProgressValueTest, IncTotalAllowsTheValueOneAhead) {
    Counter counter;
    counter.value = 1;
    counter.incTotal();
    EXPECT_EQ(counter.total, 1u);

    counter.value = 3;
    EXPECT_THAT(internalErrorOf([](Counter& c) { c.incTotal(); }, counter), HasSubstr("line 101."));
    EXPECT_EQ(counter.total, 1u);
}

TEST(ProgressValueTest, CheckBoundsTable) {
    struct Case {
        unsigned long lower, candidate, upper;
        bool fits;
    } cases[] = {
        {0, 0, 0, true},  {0, 5, 0, true},  {0, 5, 5, true},
        {0, 6, 5, false}, {2, 1, 0, false}, {2, 2, 3, true},
    };
    for (const Case& c : cases) {
        bool raised = false;
        try {
            Counter::checkBounds(c.lower, c.candidate, c.upper);
        } catch (const error& e) {
            raised = true;
            EXPECT_EQ(e.getClass(), error::internal);
        }
        EXPECT_EQ(!raised, c.fits) << c.lower << " <= " << c.candidate << " <= " << c.upper;
    }
}

TEST(ProgressValueTest, UnchangedStateIsAnnouncedOnceAcrossCounters) {
    auto observer = std::make_shared<CountingObserver>();
    auto observedAtBase = [&observer](Counter& counter) {
        counter.addObserver(observer);
        counter.value = 4;
        counter.total = 9;
        counter.text = "base.rpm";
    };
    Counter first;
    observedAtBase(first);
    first.notify(false);
    first.notify(false);
    EXPECT_EQ(observer->updates, 1);

    // The last announced state is shared by all counters of the type.
    Counter second;
    observedAtBase(second);
    second.notify(false);
    EXPECT_EQ(observer->updates, 1);

    second.notify(true);
    EXPECT_EQ(observer->updates, 2);
    second.text = "other.rpm";
    second.notify(false);
    EXPECT_EQ(observer->updates, 3);
}

TEST(ProgressValueTest, ObserversAreHeldWeaklyAndOnce) {
    auto kept = std::make_shared<CountingObserver>();
    auto gone = std::make_shared<CountingObserver>();
    std::weak_ptr<CountingObserver> gone_watch = gone;
    Counter counter;
    counter.addObserver(kept);
    counter.addObserver(kept);
    counter.addObserver(gone);
    gone.reset();
    EXPECT_TRUE(gone_watch.expired());

    counter.step("a");
    EXPECT_EQ(kept->updates, 1);
}

} // namespace
