#include "installer/sources/CurlDownloader.h"

#include "common/runtime/Progress.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include <sys/mount.h>

using downloadtest::requestsFor;
using ::testing::HasSubstr;
using testservers::HttpServer;

namespace {

class CurlDownloaderSandboxTest : public downloadtest::DownloadTest {};

TEST_F(CurlDownloaderSandboxTest, StopRequestedWhileWaitingEndsTheDownload) {
    HttpServer http(files.path());
    http.setRules(R"({"/blob.bin": [{"status": 500}, {}]})");
    int seconds_waited = 0;
    CurlDownloader::setWaitTick([&] {
        ++seconds_waited;
        Progress::setTermination(SIGTERM);
    });
    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(http.url());
    EXPECT_THROW(fetch(*downloader), Progress::Interrupted);
    EXPECT_EQ(seconds_waited, 1);
    EXPECT_EQ(requestsFor(http, "/blob.bin"), 1u);
}

// A tmpfs of 64 KiB at `dir`; with `fill`, not one byte is left.
void mountTinyTmpfs(const std::string& dir, bool fill) {
    ASSERT_EQ(mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0755"), 0) << strerror(errno);
    if (fill) {
        std::ofstream filler(dir + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler; ++i)
            filler.write(block.data(), static_cast<std::streamsize>(block.size())).flush();
    }
}

// A full disk is an error, whether it shows during the transfer or only when the file is closed.
TEST_F(CurlDownloaderSandboxTest, FullDiskIsAWriteErrorNotAShortFile) {
    testsupport::writeFile(files.file("big.bin"), downloadtest::randomBytes(1024 * 1024, 3));
    testsupport::writeFile(files.file("small.bin"), "a few bytes that stay in the stream's buffer");
    HttpServer http(files.path());

    struct Case {
        std::string name;
        bool fill;
        std::string expected;
    };
    const Case cases[] = {
        {"big.bin", false, Messages().getMessage("err_no_space2")},
        {"small.bin", true, "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir target;
        mountTinyTmpfs(target.path(), c.fill);
        auto downloader = Downloader::create(c.name);
        downloader->addSource(http.url());
        try {
            downloader->downloadToFile(target.file(c.name));
            ADD_FAILURE() << "a download to a full disk succeeded";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr(c.expected));
            EXPECT_EQ(e.getClass(), 4);
            EXPECT_EQ(e.getRepeat(), 1);
            EXPECT_EQ(e.getSupport(), 2);
        }
        // A write error is not worth a retry.
        EXPECT_EQ(requestsFor(http, "/" + c.name), 1u);
        umount(target.path().c_str());
    }
}

} // namespace
