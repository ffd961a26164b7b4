#include "common/runtime/PatchingProgressRenderer.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "tests/common/runtime/RuntimeTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::HasSubstr;

namespace {

using Counter = ProgressValue<unsigned long>;

class PatchingProgressRendererTest : public ::testing::Test {
protected:
    void SetUp() override { runtimetest::useEnglishMessages(); }
};

TEST_F(PatchingProgressRendererTest, EachStepAndTheEndAreShown) {
    auto counter = std::make_shared<Counter>();
    auto renderer = PatchingProgressRenderer::create();

    testing::internal::CaptureStderr();
    renderer->setProgress(counter);
    counter->incTotal();
    counter->incTotal();
    counter->step("(%s of %s) ");
    counter->step("(%s of %s) ");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(1 of 2) \n(2 of 2) \nAll patches were applied.\n\n");
}

TEST_F(PatchingProgressRendererTest, TextThatTakesNoValuesIsStillShown) {
    auto counter = std::make_shared<Counter>();
    counter->total = 3;
    counter->value = 1;
    counter->text = "Applying patch";
    auto renderer = PatchingProgressRenderer::create();

    testing::internal::CaptureStderr();
    renderer->setProgress(counter);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("Applying patch"));
}

} // namespace
