#include "installer/driver/FeedbackFlags.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string enabled = "/var/cordavine/feedback-enabled";
const std::string disabled = "/var/cordavine/feedback-disabled";
const std::string product = "/var/cordavine/feedback-product";
const std::string group_id = "/var/cordavine/feedback-group-id";

// Mounting over /var is only safe inside the sandbox's private mount namespace.
bool inSandbox() {
    char name[64] = {};
    return gethostname(name, sizeof(name) - 1) == 0 && std::string(name) == "moxel-sandbox";
}

struct StateCase {
    bool enabled_marker, disabled_marker;
    int state;
};

TEST(FeedbackFlagsSandboxTest, StateFromTheMarkers) {
    const StateCase cases[] = {
        {false, false, feedback_unknown},
        {true, false, feedback_enabled},
        {false, true, feedback_disabled},
        {true, true, feedback_disabled},
    };
    for (const StateCase& c : cases) {
        unlink(enabled.c_str());
        unlink(disabled.c_str());
        if (c.enabled_marker)
            writeFile(enabled, "");
        if (c.disabled_marker)
            writeFile(disabled, "");
        EXPECT_EQ(feedbackState(), c.state) << c.enabled_marker << c.disabled_marker;
        EXPECT_EQ(isFeedbackUnknown(), c.state == feedback_unknown);
        EXPECT_EQ(isFeedbackEnabled(), c.state == feedback_enabled);
    }
}

TEST(FeedbackFlagsSandboxTest, SwitchingLeavesOneMarker) {
    writeFile(enabled, "");
    writeFile(disabled, "");
    setFeedbackEnabled(true);
    EXPECT_EQ(feedbackState(), feedback_enabled);
    EXPECT_FALSE(fileops::exists(disabled));
    struct stat info;
    ASSERT_EQ(stat(enabled.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    setFeedbackEnabled(false);
    EXPECT_EQ(feedbackState(), feedback_disabled);
    EXPECT_FALSE(fileops::exists(enabled));
    EXPECT_TRUE(fileops::is_file(disabled));

    setFeedbackEnabled(false);
    EXPECT_EQ(feedbackState(), feedback_disabled);
}

TEST(FeedbackFlagsSandboxTest, SwitchingCreatesTheDirectory) {
    if (!inSandbox())
        GTEST_SKIP() << "needs the test sandbox";
    ASSERT_EQ(mount("tmpfs", "/var", "tmpfs", 0, "mode=0755"), 0);
    ASSERT_FALSE(fileops::exists("/var/cordavine"));
    setFeedbackEnabled(true);
    EXPECT_TRUE(fileops::is_directory("/var/cordavine"));
    EXPECT_EQ(feedbackState(), feedback_enabled);

    ASSERT_EQ(mount("tmpfs", "/var", "tmpfs", 0, "mode=0755"), 0);
    writeFeedbackGroupId("group-7");
    EXPECT_EQ(readFile(group_id), "group-7");
}

TEST(FeedbackFlagsSandboxTest, TextsAreWrittenWithoutLineEnd) {
    writeFeedbackProduct("pagewright");
    writeFeedbackGroupId("group 42");
    EXPECT_EQ(readFile(product), "pagewright");
    EXPECT_EQ(readFile(group_id), "group 42");
    writeFeedbackProduct("moxel");
    EXPECT_EQ(readFile(product), "moxel");
    EXPECT_EQ(feedbackProduct(), "moxel");
}

TEST(FeedbackFlagsSandboxTest, WriteFailuresAreErrors) {
    if (!inSandbox())
        GTEST_SKIP() << "needs the test sandbox";
    writeFeedbackProduct("pagewright");
    ASSERT_EQ(mount(nullptr, "/var/cordavine", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_THROW(writeFeedbackProduct("other"), error);
    EXPECT_THROW(writeFeedbackGroupId("other"), error);
    EXPECT_THROW(setFeedbackEnabled(true), error);
    EXPECT_EQ(readFile(product), "pagewright");
}

TEST(FeedbackFlagsSandboxTest, ProductFallsBackToTheDefault) {
    EXPECT_EQ(feedbackProduct(), "moxel");
    const std::pair<const char*, const char*> cases[] = {{"  pagewright \n", "pagewright"},
                                                         {"", "moxel"},
                                                         {" \t \n", "moxel"},
                                                         {"sitebuilder", "sitebuilder"}};
    for (const auto& c : cases) {
        writeFile(product, c.first);
        EXPECT_EQ(feedbackProduct(), c.second) << '"' << c.first << '"';
    }
}

TEST(FeedbackFlagsSandboxTest, ReportWantedByConsentAndMode) {
    struct Case {
        const char* marker; // nullptr: none
        bool required;
        bool before_command_line, in_command_line;
    };
    const Case cases[] = {
        {nullptr, true, true, true},
        {"feedback-enabled", true, false, true},
        {"feedback-disabled", true, false, false},
        {nullptr, false, false, false},
        {"feedback-enabled", false, false, false},
    };
    auto prepare = [](const Case& c) {
        unlink(enabled.c_str());
        unlink(disabled.c_str());
        if (c.marker)
            writeFile(std::string("/var/cordavine/") + c.marker, "");
        setFeedbackRequired(c.required);
        EXPECT_EQ(isFeedbackRequired(), c.required);
    };
    for (const Case& c : cases) {
        prepare(c);
        EXPECT_EQ(isFeedbackReportWanted(), c.before_command_line)
            << (c.marker ? c.marker : "none") << c.required;
    }
    setCommandLineMode();
    for (const Case& c : cases) {
        prepare(c);
        EXPECT_EQ(isFeedbackReportWanted(), c.in_command_line)
            << (c.marker ? c.marker : "none") << c.required;
    }
}

} // namespace
