// The installed-patches database and its plain companion file, in root's private home and
// /var/cordavine inside the sandbox.

#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "installer/patches/MUInstalledDB.h"
#include "installer/patches/MUPatch.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

using ::testing::HasSubstr;

namespace {

const std::string companion = MUInstalledDB::summaryPath;

MUPatch patch(const std::string& productVersion, const std::string& version,
              const std::string& productId = "moxel") {
    return MUPatch(productId, productVersion, version, "2026-11-15", false, false, "hotfix", "r" + version);
}

std::string withoutTimes(const std::string& text) {
    return std::regex_replace(text, std::regex("installed-at=\"\\d{8}T\\d{6}\""), "installed-at=\"TIME\"");
}

class MUInstalledDBSandboxTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(logs.file("installer.log")); }

    std::string saved(const MUInstalledDB& database) const {
        database.save_db_to_file(path);
        return withoutTimes(testsupport::readFile(path));
    }

    testsupport::TempDir logs;
    testsupport::TempDir dir;
    const std::string path = dir.file("db/microupdates.xml");
};

TEST_F(MUInstalledDBSandboxTest, SavedRecordsReadBackWithTheirFullVersions) {
    MUInstalledDB database;
    database.registerProduct("pagewright", "2.5.0");
    database.setInstalled(patch("18.0.1", "2"));
    database.setInstalled(patch("18.0.1", "1:3-1"));
    EXPECT_TRUE(database.isDirty());

    EXPECT_EQ(saved(database),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
              "<patches>\n"
              "    <product id=\"pagewright\" version=\"2.5.0\" installed-at=\"TIME\" />\n"
              "    <product id=\"moxel\" version=\"18.0.1\" installed-at=\"TIME\">\n"
              "        <patch version=\"1:3-1\" timestamp=\"2026-11-15\" installed-at=\"TIME\" "
              "revision=\"r1:3-1\" />\n"
              "    </product>\n"
              "</patches>\n");
    EXPECT_EQ(testsupport::readFile(companion), "moxel-18.0.1-1:3-1");

    // Read back, the release part still counts: the patch is not applied again on every run.
    MUInstalledDB reloaded;
    reloaded.load(path);
    EXPECT_TRUE(reloaded.isInstalled(patch("18.0.1", "1:3-1")));
    EXPECT_TRUE(reloaded.isInstalledOrNewer(patch("18.0.1", "1:3")));
    EXPECT_FALSE(reloaded.isInstalledOrNewer(patch("18.0.1", "1:3-2")));
    EXPECT_FALSE(reloaded.isInstalledOrNewer(patch("18.0.2", "1")));
    EXPECT_FALSE(reloaded.isDirty());
    ASSERT_TRUE(reloaded.lastPatch("moxel", "18.0.1"));
    EXPECT_EQ(reloaded.lastPatch("moxel", "18.0.1")->revision, "r1:3-1");
    EXPECT_EQ(reloaded.lastPatch("pagewright", "2.5.0"), nullptr);
    EXPECT_FALSE(reloaded.installedAt("pagewright", "2.5.0").is_special());
    EXPECT_TRUE(reloaded.installedAt("moxel", "17.0.0").is_not_a_date_time());
}

TEST_F(MUInstalledDBSandboxTest, OnlyTheNewestReleaseOfAProductIsWritten) {
    MUInstalledDB database;
    database.setInstalled(patch("17.8.11", "4"));
    database.setInstalled(patch("18.0.0", "1"));
    database.registerProduct("pagewright", "2.5.0");
    EXPECT_EQ(saved(database), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
                               "<patches>\n"
                               "    <product id=\"moxel\" version=\"18.0.0\" installed-at=\"TIME\">\n"
                               "        <patch version=\"1\" timestamp=\"2026-11-15\" installed-at=\"TIME\" "
                               "revision=\"r1\" />\n"
                               "    </product>\n"
                               "    <product id=\"pagewright\" version=\"2.5.0\" installed-at=\"TIME\" />\n"
                               "</patches>\n");
    EXPECT_EQ(testsupport::readFile(companion), "moxel-18.0.0-1");
    // Nothing but the two files is left in the directory.
    EXPECT_EQ(std::system(("test \"$(ls -A '" + dir.file("db") + "')\" = microupdates.xml").c_str()), 0);
}

TEST_F(MUInstalledDBSandboxTest, HandWrittenFilesKeepTheirRecordsUntilTheNextPatch) {
    ASSERT_EQ(std::system(("mkdir -p '" + dir.file("db") + "'").c_str()), 0);
    testsupport::writeFile(path, "<patches>"
                                 "<product id=\"moxel\" version=\"18.0.1\" installed-at=\"yesterday\">"
                                 "<patch version=\"2\" installed-at=\"20261101T101010\"/>"
                                 "<patch version=\"5\"/>"
                                 "</product>"
                                 "<product id=\"moxel\" version=\"18.0.1\"><patch version=\"9\"/></product>"
                                 "</patches>");
    MUInstalledDB database;
    database.load(path);
    ASSERT_EQ(database.products().size(), 1u);
    EXPECT_EQ(database.products().front().patches.size(), 3u);
    EXPECT_TRUE(database.installedAt("moxel", "18.0.1").is_not_a_date_time());
    EXPECT_TRUE(database.isInstalledOrNewer(patch("18.0.1", "8")));

    database.setInstalled(patch("18.0.1", "3"));
    EXPECT_FALSE(database.isInstalledOrNewer(patch("18.0.1", "8")));
    database.save_db_to_file(path);
    EXPECT_THAT(testsupport::readFile(path), HasSubstr("installed-at=\"not-a-date-time\">"));
    EXPECT_EQ(testsupport::readFile(companion), "moxel-18.0.1-3");

    const char* const broken[] = {
        "<patches><product id=\"moxel\" version=\"18.0.1\"><patch/></product></patches>",
        "<patches><product id=\"moxel\" version=\"18.0.1\">", "<installed/>"};
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        testsupport::writeFile(path, text);
        MUInstalledDB unreadable;
        bool raised = false;
        try {
            unreadable.load(path);
        } catch (const error&) {
            raised = true;
        } catch (const tinybind::err&) {
            raised = true;
        }
        EXPECT_TRUE(raised);
    }
}

TEST_F(MUInstalledDBSandboxTest, FailedFlushKeepsTheRecordsForTheNextOne) {
    MUInstalledDB& database = MUInstalledDB::instance();
    database.flush();
    EXPECT_FALSE(testsupport::readFile(MUInstalledDB::getDbPath()).size());

    database.setInstalled(patch("18.0.1", "2"));
    // Where the database's directory belongs, there is a file.
    testsupport::writeFile("/root/.dizadizezeroz", "");
    EXPECT_THROW(database.flush(), error);
    EXPECT_TRUE(database.isDirty());
    EXPECT_THAT(testsupport::readFile(logs.file("installer.log")),
                HasSubstr("ERROR: path /root/.dizadizezeroz exists, but it is not directory\n"));

    ASSERT_EQ(std::remove("/root/.dizadizezeroz"), 0);
    database.flush();
    EXPECT_FALSE(database.isDirty());
    EXPECT_THAT(testsupport::readFile("/root/.dizadizezeroz/microupdates.xml"),
                HasSubstr("<patch version=\"2\""));
}

} // namespace
