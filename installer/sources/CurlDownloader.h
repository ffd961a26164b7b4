#pragma once

#include "common/runtime/error.h"
#include "installer/sources/Downloader.h"

#include <curl/curl.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

// The downloader over libcurl's easy interface: one handle per downloader, used for one download.
class CurlDownloader : public Downloader {
public:
    // The limits that end a hanging attempt. Tests shorten them.
    struct Timeouts {
        long connect_seconds = 120;
        long low_speed_bytes_per_second = 500;
        long low_speed_seconds = 30;
    };

    explicit CurlDownloader(const std::string& remote_path);
    ~CurlDownloader() override;

    void download(std::ostream& out) override;

    // libcurl's process-wide set-up, done once before the first handle.
    static void initLibrary();
    // Makes the handle open its sockets close-on-exec: other threads start commands meanwhile.
    // False when libcurl refuses the setting.
    static bool closeSocketsOnExec(CURL* handle);

    static Timeouts getTimeouts();
    static void setTimeouts(const Timeouts& timeouts);
    // Sleeps one second of the wait between attempts. Tests replace it to keep the countdown short;
    // an empty function restores the sleep.
    static void setWaitTick(std::function<void()> tick);

private:
    template <typename T> void setOption(CURLoption option, T value);
    void applyProxy();
    [[noreturn]] void fail(const std::string& url, long code, bool code_read);
    error tooLarge() const;
    void wait(unsigned long seconds);

    static size_t writeData(char* data, size_t size, size_t count, void* self);
    static int transferInfo(void* self, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t);

    struct Cleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };

    std::unique_ptr<CURL, Cleanup> handle;
    std::ostream* out = nullptr;
    // Bytes written by the current attempt.
    uint64_t received = 0;
    // An exception may not cross libcurl; a callback parks it here and aborts the transfer.
    std::exception_ptr callback_failure;
    char error_buffer[CURL_ERROR_SIZE] = {};
};
