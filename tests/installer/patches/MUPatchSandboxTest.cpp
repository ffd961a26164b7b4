// File and command items and the patch that drives them, on files under /usr/local/zeq inside the
// sandbox.

#include "common/runtime/md5rep.h"
#include "installer/patches/MUEntityCmd.h"
#include "installer/patches/MUEntityFile.h"
#include "installer/patches/MUInstalledDB.h"
#include "installer/patches/MUPatch.h"
#include "installer/sources/FileFetcher.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string dir = "/usr/local/zeq/etc";
const std::string content = "listen = 8443\n";

class MUPatchSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        testsupport::writeFile(source.file("new.conf"), content);
        char digest[33];
        util::md5_file(source.file("new.conf").c_str(), digest);
        md5 = digest;
        ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    }

    std::shared_ptr<MUEntityFile> fileItem(const std::string& target, bool createNew = false) {
        return std::make_shared<MUEntityFile>(&fetcher, "new.conf", target, md5, createNew, steps, files);
    }

    // The item through all three passes.
    static void run(MUEntity& item) {
        item.check();
        item.prepare();
        item.apply();
    }

    static unsigned modeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    testsupport::TempDir logs;
    testsupport::TempDir source;
    testsupport::TempDir target;
    FileFetcher fetcher{source.path() + "/", target.path()};
    MUEntity::counter_ptr steps = std::make_shared<ProgressValue<unsigned long>>();
    MUEntity::counter_ptr files = std::make_shared<ProgressValue<unsigned long>>();
    std::string md5;
};

TEST_F(MUPatchSandboxTest, SymbolicLinksAreFollowedWithoutTakingTheLinksMode) {
    // A link to a private file: the file gets the content and stays private; the link stays a link.
    testsupport::writeFile(dir + "/secret.conf", "old\n");
    ASSERT_EQ(std::system(
                  ("chmod 0600 " + dir + "/secret.conf && ln -s secret.conf " + dir + "/link.conf").c_str()),
              0);
    auto linked = fileItem(dir + "/link.conf");
    run(*linked);
    EXPECT_EQ(linked->getState(), MUEntity::state_applied);
    EXPECT_TRUE(S_ISLNK(modeOf(dir + "/link.conf")));
    EXPECT_EQ(modeOf(dir + "/secret.conf") & 07777, 0600u);
    EXPECT_EQ(testsupport::readFile(dir + "/secret.conf"), content);
    EXPECT_EQ(MUEntityFile::patchedFiles().back(), dir + "/secret.conf");

    // A dangling link is missing, unless the item creates files: then a new file takes its place.
    ASSERT_EQ(std::system(("ln -s nowhere.conf " + dir + "/dangling.conf").c_str()), 0);
    auto replacing = fileItem(dir + "/dangling.conf");
    run(*replacing);
    EXPECT_EQ(replacing->getState(), MUEntity::state_skipped);
    EXPECT_THAT(logText(), HasSubstr("Skip '" + dir + "/dangling.conf' replacement, it does not exist\n"));
    auto creating = fileItem(dir + "/dangling.conf", true);
    run(*creating);
    EXPECT_EQ(creating->getState(), MUEntity::state_applied);
    EXPECT_EQ(modeOf(dir + "/dangling.conf"), S_IFREG | 0644u);
    EXPECT_EQ(testsupport::readFile(dir + "/dangling.conf"), content);
}

TEST_F(MUPatchSandboxTest, PermissionErrorsLeaveTheTargetAsItWas) {
    struct Case {
        const char* owner;
        const char* group;
        int set;
        int clear;
        const char* text;
        int e_class;
    };
    const Case cases[] = {
        {"", "", 0400, 0400, "installer/MUEntityFile, line 138.", 3},
        {"moxeltest-nobody", "", 0, 0, "User named 'moxeltest-nobody' does not exist on this system.", 4},
        {"", "moxeltest-nogroup", 0, 0, "Group named 'moxeltest-nogroup' does not exist on this system.", 4},
    };
    testsupport::writeFile(dir + "/kept.conf", "old\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto item = fileItem(dir + "/kept.conf");
        item->setPermissions(c.owner, c.group, c.set, c.clear);
        item->check();
        item->prepare();
        const testsupport::ErrorFacts facts = testsupport::caught([&] { item->apply(); });
        EXPECT_THAT(facts.text, HasSubstr(c.text));
        EXPECT_EQ(facts.e_class, c.e_class);
        EXPECT_EQ(testsupport::readFile(dir + "/kept.conf"), "old\n");
    }
    EXPECT_EQ(std::system(("ls " + dir + " | grep -q update").c_str()), 256);
}

TEST_F(MUPatchSandboxTest, CommandsFailOnErrorOutputOrExitStatus) {
    struct Case {
        const char* command;
        int state;
        const char* raised; // "" when the command does not fail the patch
    };
    const Case cases[] = {
        {"echo 100% done", MUEntity::state_applied, ""},
        {"echo warning >&2", MUEntity::state_failed, ""},
        {"exit 3", MUEntity::state_failed, "Command exited with code 3: exit 3"},
        {"kill -9 $$", MUEntity::state_failed, "Command killed by signal 9: kill -9 $$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        MUEntityCmd item(steps, c.command);
        item.check();
        item.prepare();
        if (*c.raised) {
            const testsupport::ErrorFacts facts = testsupport::caught([&] { item.apply(); });
            EXPECT_EQ(facts.text, std::string(c.raised) + "\n");
            EXPECT_EQ(facts.e_class, 4);
        } else {
            item.apply();
        }
        EXPECT_EQ(item.getState(), c.state);
    }
    // The step text is a format for the renderer: the command's percent sign is doubled.
    MUEntityCmd percent(steps, "echo 50%");
    run(percent);
    EXPECT_EQ(steps->text, "Executing     (%s of %s) echo 50%%");
}

TEST_F(MUPatchSandboxTest, PatchIsRecordedOnlyWhenEveryItemWentThrough) {
    testsupport::writeFile(dir + "/first.conf", "old\n");
    testsupport::writeFile(dir + "/third.conf", "old\n");

    MUPatch warned("moxel", "18.0.1", "3", "", false, false, "", "");
    warned.addItem(std::make_shared<MUEntityCmd>(steps, "echo deprecated >&2"));
    warned.check();
    warned.prepare();
    warned.apply();
    EXPECT_THAT(logText(),
                HasSubstr("Patch moxel-18.0.1~patch3 installation summary: 0 items applied, 0 items "
                          "skipped, 1 items failed.\n"));
    EXPECT_TRUE(MUInstalledDB::instance().isInstalled(warned));

    MUPatch broken("moxel", "18.0.1", "4", "", false, false, "", "");
    broken.addItem(fileItem(dir + "/first.conf"));
    broken.addItem(std::make_shared<MUEntityCmd>(steps, "false"));
    broken.addItem(fileItem(dir + "/third.conf"));
    broken.check();
    broken.prepare();
    const testsupport::ErrorFacts facts = testsupport::caught([&] { broken.apply(); });
    EXPECT_THAT(facts.text, HasSubstr("Command exited with code 1: false\n"));
    EXPECT_THAT(facts.text, HasSubstr("can't apply patch moxel-18.0.1~patch4\n"));
    // Earlier items stay applied, later ones are not; the patch is not recorded and has no summary.
    EXPECT_EQ(testsupport::readFile(dir + "/first.conf"), content);
    EXPECT_EQ(testsupport::readFile(dir + "/third.conf"), "old\n");
    EXPECT_FALSE(MUInstalledDB::instance().isInstalled(broken));
    EXPECT_THAT(logText(), Not(HasSubstr("moxel-18.0.1~patch4 installation summary")));
    // The written files were handed to the security-context restore, which forgets them.
    EXPECT_TRUE(MUEntityFile::patchedFiles().empty());
}

} // namespace
