#include "installer/sources/DownloadUrl.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/sources/CurlDownloader.h"

#include <curl/curl.h>

#include <memory>

namespace {

const size_t size_limit = 1048576;

size_t append(char* data, size_t size, size_t count, void* result_pointer) {
    auto* result = static_cast<std::vector<char>*>(result_pointer);
    if (result->size() > size_limit)
        return 0;
    try {
        result->insert(result->end(), data, data + size * count);
    } catch (...) {
        return 0;
    }
    return size * count;
}

struct Cleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

} // namespace

std::vector<char> downloadUrl(const std::string& url) {
    if (url.empty())
        // Support looks reports up by this unit and line, so they stay fixed.
        throw internal_error("installer/DownloadUrl", 15);

    std::vector<char> result;
    char error_buffer[CURL_ERROR_SIZE] = {};
    CurlDownloader::initLibrary();
    std::unique_ptr<CURL, Cleanup> handle(curl_easy_init());
    if (!handle)
        throw error(4, 1, 1, 2) << Messages().getMessage("err_curl_init");

    // Without time-outs a server that stops sending would hold the caller for ever.
    const CurlDownloader::Timeouts limits = CurlDownloader::getTimeouts();
    CURL* curl = handle.get();
    if (!CurlDownloader::closeSocketsOnExec(curl) ||
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(&result)) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_seconds) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes_per_second) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds) != CURLE_OK)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_curl_setup");

    const CURLcode code = curl_easy_perform(curl);
    handle.reset();
    if (code == CURLE_WRITE_ERROR)
        throw error(4, 1, 1, 2) << Messages().getMessage("err_no_space2");
    if (code != CURLE_OK) {
        if (error_buffer[0] == '\0')
            snprintf(error_buffer, sizeof error_buffer, "%s", curl_easy_strerror(code));
        throw error(4, 1, 1, 2) << Messages().format("err_pkg_dwnld", url, std::string(error_buffer));
    }
    return result;
}
