#include "installer/sources/SourceUrl.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::TempDir;

namespace {

struct NormaliseCase {
    const char* input;
    const char* expected;
};

class SourceUrlNormalises : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(SourceUrlNormalises, Location) {
    EXPECT_EQ(SourceUrl(GetParam().input).str(), GetParam().expected);
}

// None of these names exists in the file system.
INSTANTIATE_TEST_SUITE_P(
    Texts, SourceUrlNormalises,
    ::testing::Values(NormaliseCase{"", ""}, NormaliseCase{"ftp://", ""}, NormaliseCase{"http://", ""},
                      NormaliseCase{"mirror.example/updates", "http://mirror.example/updates/"},
                      NormaliseCase{"http://updates.example/a/products.inf3",
                                    "http://updates.example/a/products.inf3"},
                      NormaliseCase{"http://catalogue.inf3", "http://catalogue.inf3/"},
                      NormaliseCase{"ftp://mirror.example/pub/", "ftp://mirror.example/pub/"},
                      NormaliseCase{"https://updates.example/moxel", "https://updates.example/moxel/"},
                      NormaliseCase{"file:///nonexistent/moxel-mirror", "/nonexistent/moxel-mirror"},
                      NormaliseCase{"/nonexistent/moxel-mirror", "/nonexistent/moxel-mirror"},
                      NormaliseCase{"C:\\mirror", "C:\\mirror"}));

class SourceUrlLocalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(dir.file("repo").c_str(), 0755), 0);
        testsupport::writeFile(dir.file("list.inf3"), "");
    }

    TempDir dir;
};

TEST_F(SourceUrlLocalTest, ExistingDirectoriesGetATrailingSlash) {
    EXPECT_EQ(SourceUrl(dir.file("repo")).str(), dir.file("repo/"));
    EXPECT_EQ(SourceUrl(dir.file("repo/")).str(), dir.file("repo/"));
    EXPECT_EQ(SourceUrl("file://" + dir.file("repo")).str(), dir.file("repo/"));
    EXPECT_EQ(SourceUrl(dir.file("list.inf3")).str(), dir.file("list.inf3"));
}

TEST_F(SourceUrlLocalTest, ExistingRelativePathsBecomeAbsolute) {
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    EXPECT_EQ(SourceUrl("repo").str(), std::string(cwd) + "/repo/");
    EXPECT_EQ(SourceUrl("list.inf3").str(), std::string(cwd) + "/list.inf3");
    EXPECT_EQ(SourceUrl("absent/list.inf3").str(), "http://absent/list.inf3");
}

TEST_F(SourceUrlLocalTest, HttpsIsNeverTakenForALocalPath) {
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(mkdir("https:", 0755), 0);
    ASSERT_EQ(mkdir("https:/updates.example", 0755), 0);
    EXPECT_EQ(SourceUrl("https://updates.example").str(), "https://updates.example/");
}

TEST(SourceUrlTest, EmptyTextLogsOnlyTheOriginal) {
    TempDir dir;
    Messages::getLocale();
    Log::open_file(dir.file("installer.log"), true);
    SourceUrl empty("");
    SourceUrl full("mirror.example");
    const std::string log = testsupport::readFile(dir.file("installer.log"));
    const std::string::size_type empty_line = log.find("SourceUrl: original source url is ");
    const std::string::size_type full_line = log.find("SourceUrl: original source url is mirror.example");
    ASSERT_NE(empty_line, std::string::npos);
    ASSERT_NE(full_line, std::string::npos);
    EXPECT_THAT(log.substr(empty_line, full_line - empty_line), Not(HasSubstr("fixed url")));
    EXPECT_THAT(log.substr(full_line), HasSubstr("SourceUrl: fixed url is http://mirror.example/\n"));
}

struct SplitCase {
    const char* location;
    bool local;
    const char* parent;
    const char* base;
};

class LocationSplits : public ::testing::TestWithParam<SplitCase> {};

TEST_P(LocationSplits, AtTheLastSlash) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(isLocalPath(c.location), c.local);
    EXPECT_EQ(parentLocation(c.location), c.parent);
    EXPECT_EQ(locationBaseName(c.location), c.base);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, LocationSplits,
    ::testing::Values(SplitCase{"http://updates.example/a/products.inf3", false, "http://updates.example/a/",
                                "products.inf3"},
                      SplitCase{"http://updates.example/a/", false, "http://updates.example/a/", ""},
                      SplitCase{"/srv/mirror/", true, "/srv/mirror/", ""},
                      SplitCase{"/srv/list.inf3", true, "/srv/", "list.inf3"},
                      SplitCase{"C:\\mirror", false, "/", "C:\\mirror"}, SplitCase{"", false, "/", ""}));

} // namespace
