#pragma once

// Shared set-up of the download tests: a log file with debug lines, no proxy from the environment,
// short transfer limits and a recorded, instant countdown between attempts.

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "installer/driver/Options.h"
#include "installer/sources/CurlDownloader.h"
#include "installer/sources/Downloader.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace downloadtest {

// Bytes that no text coincidence can fake.
inline std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xff);
    return bytes;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Tests talk to 127.0.0.1 only, never through a proxy of the machine.
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            unsetenv(name);
        setenv("LC_ALL", "C", 1);
        Log::setFileThreshold(3);
        Log::open_file(logPath(), true);
        Options::instance().downloadRetryCount = 3;
        CurlDownloader::setTimeouts({5, 500, 1});
        testsupport::writeFile(files.file("blob.bin"), blob);
    }

    // The process-wide settings go back to their defaults: the recording tick refers to this test.
    void TearDown() override {
        CurlDownloader::setWaitTick({});
        CurlDownloader::setTimeouts(CurlDownloader::Timeouts());
        Downloader::setProxy("", 0);
        Downloader::setProxyAuth("", "");
    }

    // The countdown runs without sleeping; every second of it is recorded with the retry counter's
    // value (failed attempts so far) and the text it shows.
    void recordWaits() {
        CurlDownloader::setWaitTick([this] {
            ASSERT_NE(active, nullptr);
            countdown.emplace_back(active->getRetries()->value, active->getRetries()->text);
        });
    }

    // Seconds waited after each failed attempt.
    std::vector<int> waits() const {
        std::vector<int> result;
        for (size_t i = 0; i < countdown.size(); ++i) {
            if (i == 0 || countdown[i].first != countdown[i - 1].first)
                result.push_back(0);
            ++result.back();
        }
        return result;
    }

    std::string fetch(Downloader& downloader) {
        active = &downloader;
        std::ostringstream out;
        downloader.download(out);
        return out.str();
    }

    std::string logPath() const { return logs.file("installer.log"); }
    std::string logText() const { return testsupport::readFile(logPath()); }

    testsupport::TempDir files;
    testsupport::TempDir logs;
    const std::string blob = randomBytes(5000, 7);
    std::vector<std::pair<unsigned long, std::string>> countdown;
    Downloader* active = nullptr;
};

// Requests the server received for one path.
inline size_t requestsFor(const testservers::HttpServer& server, const std::string& path) {
    size_t count = 0;
    for (const std::string& line : server.requests())
        if (line.find("\"path\": \"" + path + "\"") != std::string::npos)
            ++count;
    return count;
}

} // namespace downloadtest
