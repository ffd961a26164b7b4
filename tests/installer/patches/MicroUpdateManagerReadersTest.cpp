// Reading patch lists: what a list gives, and how each malformed list ends.

#include "common/runtime/tinybind.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/patches/MUEntityCmd.h"
#include "installer/patches/MUEntityFile.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <boost/make_shared.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

const char* const listPath = "moxel/18.0.1/patches.xml";
const char* const md5 = "80a4dc10ff73db5eb32478dd84c64d40";

class MicroUpdateManagerReadersTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        auto product = boost::make_shared<Product>();
        product->_id = "moxel";
        release =
            boost::make_shared<Release>(product, "moxel-18.0.1", "Moxel 18.0.1", "", "18.0.1", "17.0.0");
        build = boost::make_shared<Build>(release, "Linux", "Debian", "12", "x86_64", "", "",
                                          "moxel/18.0.1/debian-12-x86_64.build.inf3", "");
        ASSERT_EQ(system(("mkdir -p '" + source.file("moxel/18.0.1") + "'").c_str()), 0);
    }

    // Reads a list with one product element for the build's release holding `patches`.
    void read(const std::string& patches) {
        testsupport::writeFile(source.file(listPath), "<?xml version=\"1.0\"?>\n<patches>\n"
                                                      "<product id=\"moxel\" version=\"18.0.1\">\n" +
                                                          patches + "</product>\n</patches>\n");
        manager.parseUrl(build, listPath);
    }

    std::vector<std::string> versions() const {
        std::vector<std::string> found;
        for (const auto& patch : manager.getPatches("moxel", "18.0.1"))
            found.push_back(patch->getVersion().toString());
        return found;
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    testsupport::TempDir logs;
    testsupport::TempDir source;
    testsupport::TempDir target;
    boost::shared_ptr<Release> release;
    boost::shared_ptr<Build> build;
    FileFetcher fetcher{source.path() + "/", target.path()};
    ComponentManager components;
    MicroUpdateManager manager{&fetcher, &components};
};

TEST_F(MicroUpdateManagerReadersTest, PatchesAndItemsAreReadAsWritten) {
    read("<patch version=\"3\" timestamp=\"2026-11-15\" security=\"yes\" forced=\"maybe\" type=\"hotfix\" "
         "revision=\"r3\">\n"
         "  <package>\n"
         "    <file name=\"files/panel.conf\" target=\"/usr/local/zeq/etc/panel.conf\" md5=\"" +
         std::string(md5) +
         "\" create_new=\"on\">\n"
         "      <permissions sticky=\"true\">\n"
         "        <user name=\"panel\" read=\"True\" write=\"true\" exec=\"false\" suid=\"yes\"/>\n"
         "        <user name=\"ignored\" read=\"false\"/>\n"
         "        <group name=\"admins\" read=\"true\" write=\"false\" suid=\"true\"/>\n"
         "        <others read=\"false\" write=\"false\" exec=\"\"/>\n"
         "      </permissions>\n"
         "    </file>\n"
         "    <shell cmd=\"echo 100% done\"/>\n"
         "  </package>\n"
         "  <package><shell cmd=\"ignored\"/></package>\n"
         "</patch>\n"
         "<patch version=\"1\"/>\n"
         "<patch version=\"3\" revision=\"second of a version\"/>\n");

    EXPECT_THAT(versions(), ElementsAre("1", "3"));
    const auto patch = manager.getLastPatch("moxel", "18.0.1");
    ASSERT_TRUE(patch);
    EXPECT_EQ(patch->toString(), "moxel-18.0.1~patch3");
    EXPECT_EQ(patch->getTimestamp(), "2026-11-15");
    EXPECT_TRUE(patch->isSecurity());
    EXPECT_FALSE(patch->isForced());
    EXPECT_EQ(patch->getType(), "hotfix");
    EXPECT_EQ(patch->getRevision(), "r3");
    ASSERT_EQ(patch->getItems().size(), 2u);

    const auto file = std::dynamic_pointer_cast<MUEntityFile>(patch->getItems()[0]);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->getName(), "moxel/18.0.1/files/panel.conf");
    EXPECT_EQ(file->getTarget(), "/usr/local/zeq/etc/panel.conf");
    EXPECT_EQ(file->getMd5(), md5);
    EXPECT_TRUE(file->getCreateNew());
    EXPECT_EQ(file->getOwner(), "panel");
    EXPECT_EQ(file->getGroup(), "admins");
    // "True" and "yes" leave their bits alone; only the first user element counts.
    EXPECT_EQ(file->getSetBits(), 01000 | 0200 | 040 | 02000);
    EXPECT_EQ(file->getClearBits(), 0100 | 020 | 04 | 02);

    const auto command = std::dynamic_pointer_cast<MUEntityCmd>(patch->getItems()[1]);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->getCommand(), "echo 100% done");
    EXPECT_THAT(logText(), HasSubstr("DEBUG: parse_file_entity: files/panel.conf\n"));
}

TEST_F(MicroUpdateManagerReadersTest, ListAtTheSourceRootGivesNamesFromTheRoot) {
    testsupport::writeFile(source.file("patches.xml"),
                           "<patches><product id=\"moxel\" version=\"18.0.1\"><patch version=\"1\"><package>"
                           "<file name=\"a.conf\" target=\"/etc/a.conf\" md5=\"" +
                               std::string(md5) + "\"/></package></patch></product></patches>");
    manager.parseUrl(build, "patches.xml");
    const auto patch = manager.getLastPatch("moxel", "18.0.1");
    ASSERT_TRUE(patch);
    EXPECT_EQ(std::dynamic_pointer_cast<MUEntityFile>(patch->getItems().at(0))->getName(), "/a.conf");
}

// Each malformed patch ends the list with a logged error: the patch before it stays, it and
// everything after it are lost, so nothing of it can be applied.
TEST_F(MicroUpdateManagerReadersTest, MalformedListsEndWithTheirError) {
    struct Case {
        const char* name;
        std::string patch;
        std::vector<std::string> lines;
    };
    const std::string file =
        "<file name=\"files/a\" target=\"/usr/local/zeq/a\" md5=\"" + std::string(md5) + "\"";
    const Case cases[] = {
        {"unknown item kind",
         "<patch version=\"2\"><package>\n<copy from=\"a\"/></package></patch>",
         {"Unsupported item type: copy  (line 6 column 1)",
          "Failed to parse the patch file at  (line 6 column 1)"}},
        {"missing md5",
         "<patch version=\"2\"><package>\n<file name=\"files/a\" "
         "target=\"/usr/local/zeq/a\"/></package></patch>",
         {"parse error: attribute 'md5' is empty at  (line 6 column 1)",
          "Failed to parse the patch file at  (line 6 column 1)"}},
        {"relative target",
         "<patch version=\"2\"><package>\n<file name=\"files/a\" target=\"usr/local/zeq/a\" md5=\"" +
             std::string(md5) + "\"/></package></patch>",
         {"parse error: attribute 'target' must be an absolute path without '.' or '..' at (line 6 column "
          "1)"}},
        {"target climbing out",
         "<patch version=\"2\"><package>\n<file name=\"files/a\" "
         "target=\"/usr/local/zeq/../../../etc/shadow\" md5=\"" +
             std::string(md5) + "\"/></package></patch>",
         {"attribute 'target' must be an absolute path"}},
        {"missing target",
         "<patch version=\"2\"><package>\n<file name=\"files/a\" md5=\"" + std::string(md5) +
             "\"/></package></patch>",
         {"attribute 'target' must be an absolute path"}},
        {"name outside the source",
         "<patch version=\"2\"><package>\n<file name=\"../../../etc/shadow\" target=\"/usr/local/zeq/a\" "
         "md5=\"" +
             std::string(md5) + "\"/></package></patch>",
         {"parse error: attribute 'name' must be a relative path without '..' at (line 6 column 1)"}},
        {"absolute name",
         "<patch version=\"2\"><package>\n<file name=\"/etc/shadow\" target=\"/usr/local/zeq/a\" md5=\"" +
             std::string(md5) + "\"/></package></patch>",
         {"attribute 'name' must be a relative path"}},
        {"patch without package",
         "<patch version=\"2\"><!-- nothing --></patch>",
         {"installer/MicroUpdateManager, line 199."}},
        {"empty patch version", "<patch version=\"\">" + file + "/></patch>", {"version"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MicroUpdateManager fresh(&fetcher, &components);
        testsupport::writeFile(source.file(listPath),
                               "<?xml version=\"1.0\"?>\n<patches>\n"
                               "<product id=\"moxel\" version=\"18.0.1\">\n"
                               "<patch version=\"1\"/>\n" +
                                   c.patch + "\n<patch version=\"3\"/>\n</product>\n</patches>\n");
        const std::size_t logged = logText().size();
        fresh.parseUrl(build, listPath);

        std::vector<std::string> found;
        for (const auto& patch : fresh.getPatches("moxel", "18.0.1"))
            found.push_back(patch->getVersion().toString());
        EXPECT_THAT(found, ElementsAre("1"));
        const std::string log = logText().substr(logged);
        EXPECT_THAT(log, HasSubstr("Unable to process patch config: moxel/18.0.1/patches.xml: "));
        for (const std::string& line : c.lines)
            EXPECT_THAT(log, HasSubstr(line));
    }
}

TEST_F(MicroUpdateManagerReadersTest, ListsThatAreNoPatchListsRaise) {
    const char* const documents[] = {
        "<patches><product id=\"moxel\" version=\"18.0.1\"><patch version=\"1\"></product></patches>",
        "<micro-updates/>",
        "",
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        testsupport::writeFile(source.file(listPath), document);
        EXPECT_THROW(manager.parseUrl(build, listPath), tinybind::err);
        EXPECT_THAT(manager.getProducts(), IsEmpty());
    }
}

TEST_F(MicroUpdateManagerReadersTest, ProductBlocksOfOtherReleasesAndMissingListsAreLeftOut) {
    testsupport::writeFile(source.file(listPath),
                           "<patches>"
                           "<product id=\"moxel\" version=\"\"><patch version=\"5\"/></product>"
                           "</patches>");
    manager.parseUrl(build, listPath);
    manager.parseUrl(build, "moxel/18.0.1/missing.xml");
    read("<patch version=\"2\"/>");
    testsupport::writeFile(source.file(listPath),
                           "<patches>"
                           "<product id=\"moxel\" version=\"17.0.0\"><patch version=\"4\"/></product>"
                           "<product id=\"moxel\" version=\"18.0.1\"><patch version=\"2\"/>"
                           "<patch version=\"1\"/></product>"
                           "</patches>");
    manager.parseUrl(build, listPath);

    EXPECT_THAT(versions(), ElementsAre("1", "2"));
    ASSERT_EQ(manager.getProducts().size(), 1u);
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Unable to process patch config: moxel/18.0.1/patches.xml: "));
    EXPECT_THAT(log, HasSubstr("Unable to process patch config: moxel/18.0.1/missing.xml: "));
    EXPECT_THAT(log,
                HasSubstr("Skipping the patch from moxel/18.0.1/patches.xml for moxel version 17.0.0 because "
                          "it is incompatible with build for Linux Debian 12 x86_64"));
}

} // namespace
