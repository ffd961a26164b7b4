#include "installer/sources/CurlDownloader.h"

#include "common/runtime/exec.h"
#include "installer/sources/http_error.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using downloadtest::requestsFor;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using testservers::FtpServer;
using testservers::HttpServer;

namespace {

class CurlDownloaderTest : public downloadtest::DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        recordWaits();
    }
};

void expectHttpError(const http_error& e, const std::string& url, int64_t code) {
    EXPECT_EQ(e.getUrl(), url);
    EXPECT_EQ(e.getCode(), code);
    EXPECT_EQ(e.getClass(), 1);
    EXPECT_EQ(e.getRepeat(), 2);
    EXPECT_EQ(e.getSystemState(), 1);
    EXPECT_EQ(e.getSupport(), 2);
    EXPECT_THAT(e.getText(), HasSubstr(url));
}

TEST_F(CurlDownloaderTest, HttpAndFtpGiveTheFileAndFillTheByteCounter) {
    HttpServer http(files.path());
    FtpServer ftp(files.path());
    for (const std::string& base : {http.url(), ftp.url()}) {
        SCOPED_TRACE(base);
        auto downloader = Downloader::create("blob.bin");
        downloader->addSource(base);
        EXPECT_EQ(fetch(*downloader), blob);
        EXPECT_EQ(downloader->getBytes()->value, blob.size());
        EXPECT_EQ(downloader->getBytes()->total, blob.size());
        EXPECT_EQ(downloader->getRetries()->value, 0u);
        EXPECT_EQ(downloader->getRetries()->total, 3u);
    }
    EXPECT_TRUE(countdown.empty());
    // No proxy was set, so none was used.
    EXPECT_THAT(http.requests().at(0), Not(HasSubstr("Via")));
}

// An answer longer than the limit ends the download at once, whether the server announces its
// length or streams without one; an answer of exactly the limit is whole.
TEST_F(CurlDownloaderTest, AnswerLongerThanTheLimitIsAnError) {
    HttpServer http(files.path());
    http.setRules(R"({"/endless.bin": [{"endless": true}]})");
    struct Case {
        const char* path;
        uint64_t limit;
        bool whole;
    };
    const Case cases[] = {
        {"blob.bin", 5000, true},
        {"blob.bin", 4999, false},
        {"endless.bin", 1 << 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.limit));
        auto downloader = Downloader::create(c.path);
        downloader->addSource(http.url());
        downloader->setSizeLimit(c.limit);
        if (c.whole) {
            EXPECT_EQ(fetch(*downloader), blob);
            continue;
        }
        try {
            fetch(*downloader);
            ADD_FAILURE() << "the download was accepted";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr("larger than " + std::to_string(c.limit) + " bytes"));
            EXPECT_EQ(e.getClass(), 4);
        }
        EXPECT_EQ(downloader->getRetries()->value, 0u);
    }
}

// Other threads start commands while a download runs: its sockets must not reach them.
TEST_F(CurlDownloaderTest, CommandsStartedDuringADownloadInheritNoSockets) {
    HttpServer http(files.path());
    http.setRules(R"({"/blob.bin": [{"stall": 800}]})");
    std::atomic<bool> done{false};
    std::thread download([&] {
        auto downloader = Downloader::create("blob.bin");
        downloader->addSource(http.url());
        try {
            fetch(*downloader);
        } catch (const error&) {
        }
        done = true;
    });
    size_t commands = 0;
    while (!done) {
        for (const std::string& line : exec::get_output_lines("ls -l /proc/self/fd/", ""))
            EXPECT_EQ(line.find("socket:"), std::string::npos) << line;
        ++commands;
    }
    download.join();
    EXPECT_GT(commands, 0u);
}

// One mirror whose answers follow a script; how the download ends, and after how many attempts.
struct FaultCase {
    const char* name;
    const char* path;
    const char* rules;
    int retry_count;
    std::vector<int> waits;
    size_t attempts;
    int64_t code;             // of the http_error; -1 when the download succeeds
    const char* error_detail; // part of the error text
};

void PrintTo(const FaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

class CurlDownloaderFaultTest : public CurlDownloaderTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CurlDownloaderFaultTest, EndsAsScripted) {
    const FaultCase& fault = GetParam();
    testsupport::writeFile(files.file("short.bin"), blob.substr(0, 500));
    Options::instance().downloadRetryCount = fault.retry_count;
    HttpServer http(files.path());
    http.setRules(fault.rules);

    auto downloader = Downloader::create(fault.path);
    downloader->addSource(http.url());
    if (fault.code < 0) {
        EXPECT_EQ(fetch(*downloader), blob);
    } else {
        try {
            fetch(*downloader);
            ADD_FAILURE() << "download succeeded";
        } catch (const http_error& e) {
            expectHttpError(e, http.url(fault.path), fault.code);
            EXPECT_THAT(e.getText(), HasSubstr(fault.error_detail));
        }
    }
    EXPECT_EQ(waits(), fault.waits);
    EXPECT_EQ(requestsFor(http, "/" + std::string(fault.path)), fault.attempts);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Http, CurlDownloaderFaultTest,
    ::testing::Values(
        FaultCase{"NotFoundEndsAtOnce", "blob.bin", R"({"/blob.bin": [{"status": 404}]})",
                  3, {}, 1, 404, "returned error: 404"},
        FaultCase{"ForbiddenEndsAtOnce", "blob.bin", R"({"/blob.bin": [{"status": 403}]})",
                  3, {}, 1, 403, "returned error: 403"},
        FaultCase{"ServerErrorUsesEveryRetry", "blob.bin", R"({"/blob.bin": [{"status": 500}]})",
                  3, {3, 7, 15}, 4, 500, "returned error: 500"},
        FaultCase{"OneRetryAllowed", "blob.bin", R"({"/blob.bin": [{"status": 500}]})",
                  1, {3}, 2, 500, "returned error: 500"},
        FaultCase{"LaterWaitsStayAtFifteen", "blob.bin", R"({"/blob.bin": [{"status": 500}]})",
                  5, {3, 7, 15, 15, 15}, 6, 500, "returned error: 500"},
        FaultCase{"ServerErrorThenSuccess", "blob.bin", R"({"/blob.bin": [{"status": 500}, {}]})",
                  3, {3}, 2, -1, ""},
        FaultCase{"BodyCutShortThenWhole", "blob.bin", R"({"/blob.bin": [{"cut": 800}, {}]})",
                  3, {3}, 2, -1, ""},
        // The answer had started, so its code is 200.
        FaultCase{"BodyAlwaysCutShort", "blob.bin", R"({"/blob.bin": [{"cut": 800}]})",
                  1, {3}, 2, 200, "transfer closed"},
        FaultCase{"StalledServerThenWhole", "blob.bin", R"({"/blob.bin": [{"stall": 10}, {}]})",
                  3, {3}, 2, -1, ""},
        FaultCase{"StalledServerAlways", "blob.bin", R"({"/blob.bin": [{"stall": 10}]})",
                  1, {3}, 2, 200, "too slow"},
        FaultCase{"OneRedirectIsFollowed", "moved.bin", R"({"/moved.bin": [{"redirect": "/blob.bin"}]})",
                  3, {}, 1, -1, ""},
        FaultCase{"SecondRedirectIsRefused", "twice.bin",
                  R"({"/twice.bin": [{"redirect": "/moved.bin"}], "/moved.bin": [{"redirect": "/blob.bin"}]})",
                  1, {3}, 2, 302, "redirects"},
        // A whole transfer shorter than an earlier broken one is not the file.
        FaultCase{"ShortWholeTransferAfterLongerFailure", "blob.bin",
                  R"({"/blob.bin": [{"cut": 800}, {"file": "short.bin"}, {}]})",
                  3, {3, 7}, 3, -1, ""}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(CurlDownloaderTest, ShortWholeTransferIsRetriedWithItsReason) {
    testsupport::writeFile(files.file("short.bin"), blob.substr(0, 500));
    HttpServer http(files.path());
    http.setRules(R"({"/blob.bin": [{"cut": 800}, {"file": "short.bin"}, {}]})");
    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(http.url());
    EXPECT_EQ(fetch(*downloader), blob);
    ASSERT_EQ(countdown.size(), 10u);
    EXPECT_THAT(countdown.back().second, HasSubstr("Unexpected size of file"));
}

TEST_F(CurlDownloaderTest, ForbiddenMirrorIsDroppedAndTheNextOneUsed) {
    testsupport::TempDir other;
    testsupport::writeFile(other.file("blob.bin"), blob);
    HttpServer first(files.path());
    HttpServer second(other.path());
    first.setRules(R"({"/blob.bin": [{"status": 403}, {}]})");

    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(first.url());
    downloader->addSource(second.url());
    EXPECT_EQ(fetch(*downloader), blob);
    EXPECT_THAT(waits(), ElementsAre(3));
    EXPECT_EQ(requestsFor(first, "/blob.bin"), 1u);
    EXPECT_EQ(requestsFor(second, "/blob.bin"), 1u);
}

TEST_F(CurlDownloaderTest, DeadMirrorStaysInTheRotation) {
    testsupport::TempDir other;
    testsupport::writeFile(other.file("blob.bin"), blob);
    HttpServer second(other.path());
    second.setRules(R"({"/blob.bin": [{"status": 500}, {}]})");
    const std::string dead = "http://127.0.0.1:" + std::to_string(testservers::freePort());

    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(dead);
    downloader->addSource(second.url());
    EXPECT_EQ(fetch(*downloader), blob);
    // dead, 500, dead again (no answer never drops a mirror), then the file.
    EXPECT_THAT(waits(), ElementsAre(3, 7, 15));
    EXPECT_EQ(requestsFor(second, "/blob.bin"), 2u);
}

TEST_F(CurlDownloaderTest, EveryMirrorDroppedEndsWithoutUsingTheRetries) {
    HttpServer first(files.path());
    HttpServer second(files.path());
    first.setRules(R"({"/blob.bin": [{"status": 404}]})");
    second.setRules(R"({"/blob.bin": [{"status": 401}]})");

    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(first.url());
    downloader->addSource(second.url());
    try {
        fetch(*downloader);
        ADD_FAILURE() << "download succeeded";
    } catch (const http_error& e) {
        expectHttpError(e, second.url("blob.bin"), 401);
    }
    EXPECT_THAT(waits(), ElementsAre(3));
}

TEST_F(CurlDownloaderTest, UnreachableServerIsHttpErrorWithCodeZero) {
    Options::instance().downloadRetryCount = 1;
    const std::string dead = "http://127.0.0.1:" + std::to_string(testservers::freePort()) + "/";
    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(dead);
    try {
        fetch(*downloader);
        ADD_FAILURE() << "download succeeded";
    } catch (const http_error& e) {
        expectHttpError(e, dead + "blob.bin", 0);
    }
    EXPECT_THAT(waits(), ElementsAre(3));
}

TEST_F(CurlDownloaderTest, UntrustedCertificateIsRefused) {
    Options::instance().downloadRetryCount = 1;
    testsupport::TempDir tls;
    testservers::makeCertificate(tls.path());
    HttpServer https(files.path(), tls.file("cert.pem"), tls.file("key.pem"));
    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(https.url());
    try {
        fetch(*downloader);
        ADD_FAILURE() << "download from an untrusted server succeeded";
    } catch (const http_error& e) {
        expectHttpError(e, https.url("blob.bin"), 0);
        EXPECT_THAT(e.getText(), HasSubstr("certificate"));
    }
    EXPECT_EQ(requestsFor(https, "/blob.bin"), 0u);
}

TEST_F(CurlDownloaderTest, FailingFtpIsAPlainSystemError) {
    Options::instance().downloadRetryCount = 1;
    FtpServer ftp(files.path());
    auto downloader = Downloader::create("missing.bin");
    downloader->addSource(ftp.url());
    try {
        fetch(*downloader);
        ADD_FAILURE() << "download succeeded";
    } catch (const http_error&) {
        ADD_FAILURE() << "FTP failures carry no HTTP code";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 2);
        EXPECT_THAT(e.getText(), HasSubstr(ftp.url("missing.bin")));
    }
    // FTP mirrors are never dropped: every retry is used.
    EXPECT_THAT(waits(), ElementsAre(3));
}

TEST_F(CurlDownloaderTest, NoMirrorIsRefused) {
    auto downloader = Downloader::create("blob.bin");
    try {
        fetch(*downloader);
        ADD_FAILURE() << "download without mirrors succeeded";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), 3);
        EXPECT_EQ(e.getSupport(), 3);
        EXPECT_THAT(e.getText(), HasSubstr(Messages().getMessage("err_srcs_empty")));
    }
}

TEST_F(CurlDownloaderTest, ProxyWithCredentialsKeepsThePasswordOutOfTheLog) {
    const std::string password = "pw-7f3c9e1a";
    testservers::Proxy proxy("moxel", password);
    HttpServer http(files.path());
    Downloader::setProxy("127.0.0.1", proxy.port);
    Downloader::setProxyAuth("moxel", password);

    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(http.url());
    EXPECT_EQ(fetch(*downloader), blob);
    ASSERT_EQ(http.requests().size(), 1u);
    EXPECT_THAT(http.requests()[0], HasSubstr("tinyproxy"));

    // Refused credentials end the download; neither the error nor the log shows the password.
    Options::instance().downloadRetryCount = 1;
    Downloader::setProxyAuth("moxel", "wrong-5d2b8a");
    auto refused = Downloader::create("blob.bin");
    refused->addSource(http.url());
    try {
        fetch(*refused);
        ADD_FAILURE() << "download with a wrong proxy password succeeded";
    } catch (const http_error& e) {
        EXPECT_GE(e.getCode(), 400);
        EXPECT_THAT(e.getText(), Not(HasSubstr("wrong-5d2b8a")));
    }
    EXPECT_EQ(http.requests().size(), 1u);
    EXPECT_THAT(logText(), HasSubstr("DEBUG: Downloader: proxy 127.0.0.1"));
    EXPECT_THAT(logText(), Not(HasSubstr(password)));
    EXPECT_THAT(logText(), Not(HasSubstr("wrong-5d2b8a")));
}

// Whatever can't be created or opened ends the download before any transfer.
TEST_F(CurlDownloaderTest, DownloadToFileReportsUnusableTargets) {
    HttpServer http(files.path());
    testsupport::TempDir target;
    testsupport::writeFile(target.file("plain"), "x");

    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(http.url());
    downloader->downloadToFile(target.file("new/sub/blob.bin"));
    EXPECT_EQ(testsupport::readFile(target.file("new/sub/blob.bin")), blob);

    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {target.file("plain/sub/blob.bin"),
         Messages().format("err_download_mkdir", "\"" + target.file("plain") + "\" Not a directory")},
        {target.file("new"), Messages().format("err_filewrite1", target.file("new"), "Is a directory")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto failing = Downloader::create("blob.bin");
        failing->addSource(http.url());
        try {
            failing->downloadToFile(c.path);
            ADD_FAILURE() << "download succeeded";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), c.expected + "\n");
            EXPECT_EQ(e.getClass(), 4);
        }
    }
    EXPECT_EQ(requestsFor(http, "/blob.bin"), 1u);
}

class CurlDownloaderRealWaitTest : public downloadtest::DownloadTest {};

TEST_F(CurlDownloaderRealWaitTest, WaitsThreeSecondsBeforeTheFirstRetry) {
    HttpServer http(files.path());
    http.setRules(R"({"/blob.bin": [{"status": 500}, {}]})");
    auto downloader = Downloader::create("blob.bin");
    downloader->addSource(http.url());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(*downloader), blob);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_EQ(downloader->getRetries()->value, 1u);
}

} // namespace
