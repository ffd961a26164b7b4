#include "installer/catalogue/ProductInf3FileGuard.h"

#include "common/runtime/Progress.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>

namespace {

// Stopping a run writes the shared status record, which is private inside the sandbox.
class ProductInf3FileGuardSandboxTest : public cataloguetest::CatalogueTest {};

TEST_F(ProductInf3FileGuardSandboxTest, NoLookAfterTheUserStoppedTheRun) {
    put("moxel/18.0.1/debian-12-x86_64.build.inf3", "<build_1 version=\"1\"/>\n");
    FileFetcher fetcher(source.path() + "/", target.path());
    auto guard = std::make_unique<ProductInf3FileGuard>(fetcher, "moxel/18.0.1/debian-12-x86_64.build.inf3");
    put("moxel/18.0.1/debian-12-x86_64.build.inf3", "<build_1 version=\"1.1\"/>\n");

    Progress::setTermination(SIGINT);
    EXPECT_THROW(Progress::checkTermination(), Progress::Interrupted);
    ASSERT_TRUE(Progress::wasInterrupted());
    guard.reset();

    const std::string log = logText();
    EXPECT_EQ(log.find("ProductInf3FileGuard destroyed."), std::string::npos);
    EXPECT_EQ(log.find("Mark cancel/stop operation as unsafe"), std::string::npos);
    EXPECT_FALSE(ProductInf3FileGuard::isNewBuildAvailable());
}

} // namespace
