#include "common/runtime/DownloadProgressRenderer.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string.hpp>
#include <boost/regex.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::readFile;

namespace {

using Counter = ProgressValue<unsigned long>;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    boost::split(lines, text, boost::is_any_of("\n"));
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// Progress lines are redrawn in place: each ends with padding and backspaces over itself.
std::vector<std::string> drawnLines(const std::string& console) {
    std::vector<std::string> lines;
    boost::split(lines, console, boost::is_any_of("\b"), boost::token_compress_on);
    for (std::string& line : lines)
        boost::trim_right_if(line, boost::is_any_of(" \n"));
    lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
    return lines;
}

class DownloadProgressRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtimetest::useEnglishMessages();
        Log::open_file(dir.file("installer.log"), true);
        renderer = DownloadProgressRenderer::create();
    }

    std::vector<std::string> logLines() const {
        static const boost::regex stamp("^\\[[^]]*\\] ");
        std::vector<std::string> lines = splitLines(readFile(dir.file("installer.log")));
        for (std::string& line : lines)
            line = boost::regex_replace(line, stamp, "");
        return lines;
    }

    void attach() { renderer->setFileProgress(bytes, retries); }

    static void set(Counter& counter, unsigned long value, unsigned long total) {
        counter.value = value;
        counter.total = total;
        counter.notify(true);
    }

    testsupport::TempDir dir;
    std::shared_ptr<DownloadProgressRenderer> renderer;
    std::shared_ptr<Counter> bytes = std::make_shared<Counter>();
    std::shared_ptr<Counter> retries = std::make_shared<Counter>();
};

TEST_F(DownloadProgressRendererTest, PercentageOfTheByteCounter) {
    struct Case {
        unsigned long value, total;
        const char* line;
    } cases[] = {
        {512, 1024, "Downloading file base.rpm: 50%"},
        {0, 1024, "Downloading file base.rpm: 0%"},
        {1023, 1024, "Downloading file base.rpm: 99%"},
        {77, 0, "Downloading file base.rpm: 0%"},
        {1024, 1024, "Downloading file base.rpm: 100% was finished."},
    };
    Log::setConsoleMode(true);
    for (const Case& c : cases) {
        renderer = DownloadProgressRenderer::create();
        DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
        attach();
        testing::internal::CaptureStderr();
        set(*bytes, c.value, c.total);
        const std::vector<std::string> drawn = drawnLines(testing::internal::GetCapturedStderr());
        ASSERT_FALSE(drawn.empty());
        EXPECT_EQ(drawn.back(), c.line);
    }
}

TEST_F(DownloadProgressRendererTest, LogGetsOneLinePerKindOfLine) {
    testing::internal::CaptureStderr();
    {
        DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
        attach();
        for (unsigned long done : {100ul, 512ul, 1000ul, 1024ul})
            set(*bytes, done, 1024);
        scope.completed = true;
    }
    const std::string console = testing::internal::GetCapturedStderr();

    const char* const percentage = "Downloading file base.rpm: 0%";
    const char* const finished = "Downloading file base.rpm: 100% was finished.";
    EXPECT_THAT(logLines(), ElementsAre(percentage, finished));
    // Without a console for progress lines, the same lines are all the user sees.
    EXPECT_THAT(splitLines(console), ElementsAre(percentage, finished));
}

TEST_F(DownloadProgressRendererTest, SharedFileCounterShowsThePositionAmongAllFiles) {
    auto files = std::make_shared<Counter>();
    files->total = 5;
    files->value = 1;
    renderer->setFilesProgress(files);
    Log::setConsoleMode(true);

    testing::internal::CaptureStderr();
    DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
    attach();
    set(*bytes, 47, 100);
    const std::vector<std::string> drawn = drawnLines(testing::internal::GetCapturedStderr());

    EXPECT_EQ(files->value, 2u);
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.back(), "Downloading file (2 of 5) base.rpm: 47%");
}

TEST_F(DownloadProgressRendererTest, RetryShowsItsCountAndMessage) {
    DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
    attach();
    set(*bytes, 300, 1024);
    retries->text = "Connection refused. Will retry in 10 second(s)...";
    set(*retries, 2, 5);

    EXPECT_EQ(logLines().back(),
              "Downloading file base.rpm (retry 2 of 5): Connection refused. Will retry in 10 second(s)...");
}

TEST_F(DownloadProgressRendererTest, EndOfFileOnAProgressConsole) {
    Log::setConsoleMode(true);
    for (bool completed : {true, false}) {
        renderer = DownloadProgressRenderer::create();
        testing::internal::CaptureStderr();
        {
            DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
            attach();
            set(*bytes, 600, 1000);
            scope.completed = completed;
        }
        const std::string console = testing::internal::GetCapturedStderr();
        const std::vector<std::string> drawn = drawnLines(console);
        ASSERT_FALSE(drawn.empty());
        EXPECT_EQ(drawn.back(),
                  completed ? "Downloading file base.rpm: completed." : "Downloading file base.rpm: 60%");
        // The finished progress line is closed, so the next output starts on a line of its own.
        EXPECT_EQ(console.back(), '\n') << completed;
    }
}

TEST_F(DownloadProgressRendererTest, QuietRendererKeepsOffTheConsole) {
    for (bool console_mode : {false, true}) {
        Log::setConsoleMode(console_mode);
        renderer = DownloadProgressRenderer::create();
        renderer->quiet = true;
        testing::internal::CaptureStderr();
        {
            DownloadProgressRenderer::FileScope scope(renderer, "products.inf3");
            attach();
            set(*bytes, 10, 20);
            set(*bytes, 20, 20);
            scope.completed = true;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << console_mode;
    }
    EXPECT_THAT(Log::getReport(), HasSubstr("Downloading file products.inf3: 100% was finished.\n"));
    EXPECT_THAT(logLines().back(), "Downloading file products.inf3: 100% was finished.");
}

TEST_F(DownloadProgressRendererTest, AllFilesDoneIsWrittenOnceAfterTheLastFile) {
    auto files = std::make_shared<Counter>();
    files->total = 5;
    renderer->setFilesProgress(files);

    testing::internal::CaptureStderr();
    for (const char* name : {"a.rpm", "b.rpm", "c.rpm", "d.rpm", "e.rpm"}) {
        bytes = std::make_shared<Counter>();
        retries = std::make_shared<Counter>();
        DownloadProgressRenderer::FileScope scope(renderer, name);
        attach();
        set(*bytes, 2048, 2048);
        scope.completed = true;
    }
    const std::vector<std::string> console = splitLines(testing::internal::GetCapturedStderr());

    EXPECT_EQ(std::count(console.begin(), console.end(), "All files were downloaded."), 1);
    ASSERT_GE(console.size(), 3u);
    EXPECT_EQ(console[console.size() - 3], "Downloading file (5 of 5) e.rpm: 100% was finished.");
    EXPECT_EQ(console[console.size() - 2], "All files were downloaded.");
    EXPECT_EQ(console.back(), "");
}

TEST_F(DownloadProgressRendererTest, FileScopeNeedsARendererWithRoomForTheFile) {
    try {
        DownloadProgressRenderer::FileScope scope(nullptr, "base.rpm");
        FAIL() << "a scope without renderer was opened";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("installer/ProgressValueRender, line 14."));
    }

    auto files = std::make_shared<Counter>();
    files->total = 1;
    files->value = 1;
    renderer->setFilesProgress(files);
    try {
        DownloadProgressRenderer::FileScope scope(renderer, "extra.rpm");
        FAIL() << "a file beyond the total was counted";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("installer/ProgressValueRender, line 101."));
    }
}

TEST_F(DownloadProgressRendererTest, CountersOutliveTheirRenderer) {
    std::weak_ptr<DownloadProgressRenderer> watch = renderer;
    {
        DownloadProgressRenderer::FileScope scope(renderer, "base.rpm");
        attach();
    }
    renderer.reset();
    EXPECT_TRUE(watch.expired());

    const size_t lines = logLines().size();
    set(*bytes, 5, 10);
    set(*retries, 1, 3);
    EXPECT_EQ(logLines().size(), lines);
}

} // namespace
