#include "installer/components/AiSubGroup.h"

#include "tests/installer/components/ComponentFixtures.h"

#include <gtest/gtest.h>

using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;
using testsupport::makeSub;

namespace {

TEST(AiSubGroupTest, StatusCharSummarisesTheChildren) {
    const auto build = makeBuild("moxel");
    const auto selected = [&](const std::string& name) {
        return makeComponent(build, name, AiComponent::INSTALL, REQ_INSTALL);
    };
    const auto plain = [&](const std::string& name) { return makeComponent(build, name); };

    EXPECT_EQ(' ', makeSub(build, "empty", {})->getStatusChar());
    EXPECT_EQ('*', makeSub(build, "same", {selected("a"), selected("b")})->getStatusChar());
    EXPECT_EQ('.', makeSub(build, "mixed", {selected("a"), selected("b"), plain("c")})->getStatusChar());
    // Nested groups count with their own characters.
    const auto radio = makeRadio(build, "web", {selected("x"), plain("y")});
    const auto inner = makeSub(build, "inner", {selected("z")});
    EXPECT_EQ('*', makeSub(build, "outer", {radio, inner, selected("d")})->getStatusChar());
}

TEST(AiSubGroupTest, GroupCarriesItsBuildAndProduct) {
    const auto build = makeBuild("moxel");
    const auto group = makeSub(build, "mail", {});
    EXPECT_TRUE(group->isEmpty());
    EXPECT_EQ("moxel", group->getProductId());
    EXPECT_EQ("mail group", group->getDescription());
    EXPECT_EQ(build, group->getBuild());
    EXPECT_EQ(build->_parent, group->getRelease());
}

} // namespace
