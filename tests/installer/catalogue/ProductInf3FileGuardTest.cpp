#include "installer/catalogue/ProductInf3FileGuard.h"

#include "common/runtime/Progress.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

const char* const description = "moxel/18.0.1/debian-12-x86_64.build.inf3";
const char* const destroyed = "ProductInf3FileGuard destroyed. Build ";
const char* const checkFailed = "Error during checking for build updates at download site: ";

class ProductInf3FileGuardTest : public cataloguetest::CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        put(description, "<build_1 version=\"1\"/>\n");
        put("pagewright/2.5.0/debian-12-x86_64.build.inf3", "<build_1 version=\"2\"/>\n");
    }

    std::unique_ptr<ProductInf3FileGuard> guard(const std::string& name = description) {
        FileFetcher fetcher(source.path() + "/", target.path());
        return std::make_unique<ProductInf3FileGuard>(fetcher, name);
    }

    size_t count(const std::string& text) const {
        const std::string log = logText();
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        return found;
    }
};

TEST_F(ProductInf3FileGuardTest, UnchangedFileSaysSo) {
    std::unique_ptr<ProductInf3FileGuard> unchanged = guard();
    EXPECT_EQ(unchanged->getLocalPath(), source.file(description));
    unchanged.reset();
    EXPECT_EQ(count(std::string(destroyed) + "didn't change"), 1u);
    EXPECT_EQ(count(Messages().getMessage("new_build_avail")), 0u);
    EXPECT_FALSE(ProductInf3FileGuard::isNewBuildAvailable());
}

TEST_F(ProductInf3FileGuardTest, ChangedFileWarnsAndMarksTheRun) {
    std::unique_ptr<ProductInf3FileGuard> changed = guard();
    std::unique_ptr<ProductInf3FileGuard> unchanged = guard("pagewright/2.5.0/debian-12-x86_64.build.inf3");
    put(description, "<build_1 version=\"1.1\"/>\n");

    changed.reset();
    EXPECT_TRUE(ProductInf3FileGuard::isNewBuildAvailable());
    const std::string log = logText();
    const size_t warning = log.find(Messages().getMessage("new_build_avail"));
    ASSERT_NE(warning, std::string::npos);
    EXPECT_NE(log.find(std::string(destroyed) + "changed", warning), std::string::npos);

    // The word follows the run's mark, not this guard's own file.
    unchanged.reset();
    EXPECT_EQ(count(std::string(destroyed) + "changed"), 2u);
    EXPECT_EQ(count(Messages().getMessage("new_build_avail")), 1u);
}

TEST_F(ProductInf3FileGuardTest, FailuresOfTheSecondLookAreOnlyLogged) {
    std::unique_ptr<ProductInf3FileGuard> gone = guard();
    ASSERT_EQ(unlink(source.file(description).c_str()), 0);
    EXPECT_NO_THROW(gone.reset());
    EXPECT_EQ(count(checkFailed + Messages().format("err_misfile", source.file(description))), 1u);
    EXPECT_EQ(count(destroyed), 0u);

    // A file that can no longer be read gives no digest: the user is told, nothing is compared.
    put(description, "<build_1 version=\"1\"/>\n");
    std::unique_ptr<ProductInf3FileGuard> unreadable = guard();
    ASSERT_EQ(unlink(source.file(description).c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/mem", source.file(description).c_str()), 0);
    unreadable.reset();
    EXPECT_EQ(count(Messages().getMessage("err_chk_md5") + source.file(description)), 1u);
    EXPECT_EQ(count(destroyed), 0u);
    EXPECT_FALSE(ProductInf3FileGuard::isNewBuildAvailable());
}

TEST_F(ProductInf3FileGuardTest, FileThatCannotBeReadMakesNoGuard) {
    ASSERT_EQ(unlink(source.file(description).c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/mem", source.file(description).c_str()), 0);
    try {
        guard();
        ADD_FAILURE() << "a guard was made";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), error::system);
        EXPECT_EQ(e.getText(), Messages().format("err_md5_pre", source.file(description)) + "\n");
    }
    EXPECT_THROW(guard("moxel/absent.build.inf3"), error);
}

TEST_F(ProductInf3FileGuardTest, NoLookWhileAnExceptionPropagates) {
    try {
        std::unique_ptr<ProductInf3FileGuard> unwound = guard();
        put(description, "<build_1 version=\"1.1\"/>\n");
        throw std::runtime_error("installation failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(count(destroyed), 0u);
    EXPECT_FALSE(ProductInf3FileGuard::isNewBuildAvailable());
}

TEST_F(ProductInf3FileGuardTest, SecondLookIsSafeFromStopsAndLeavesTheRunStoppable) {
    guard().reset();
    const std::string log = logText();
    const size_t unsafe = log.find("DEBUG: Mark cancel/stop operation as unsafe");
    ASSERT_NE(unsafe, std::string::npos);
    EXPECT_NE(log.find("DEBUG: Mark cancel/stop operation as safe", unsafe), std::string::npos);
    Progress::setTermination(SIGHUP);
    EXPECT_TRUE(Progress::mayStopNow());
}

TEST_F(ProductInf3FileGuardTest, InsideAnInstallationTheInstallationStaysUnsafe) {
    std::unique_ptr<ProductInf3FileGuard> inner = guard();
    Progress::markUnsafe();
    inner.reset();
    EXPECT_EQ(count(std::string(checkFailed) + "An internal error occured"), 1u);
    EXPECT_NE(logText().find("common/Progress, line 328."), std::string::npos);
    EXPECT_EQ(count(destroyed), 0u);

    // The stop command's SIGHUP must still wait for the end of the installation.
    Progress::setTermination(SIGHUP);
    EXPECT_FALSE(Progress::mayStopNow());
    Progress::markSafe();
    EXPECT_TRUE(Progress::mayStopNow());
}

TEST_F(ProductInf3FileGuardTest, ServedFileIsFetchedAgain) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    testservers::HttpServer http(source.path());
    FileFetcher fetcher(http.url(), target.path());
    auto served = std::make_unique<ProductInf3FileGuard>(fetcher, description);
    EXPECT_EQ(testsupport::readFile(served->getLocalPath()), "<build_1 version=\"1\"/>\n");
    EXPECT_NE(served->getLocalPath(), source.file(description));

    put(description, "<build_1 version=\"1.1\"/>\n");
    served.reset();
    EXPECT_TRUE(ProductInf3FileGuard::isNewBuildAvailable());
    EXPECT_EQ(count(std::string(destroyed) + "changed"), 1u);
}

} // namespace
