#include "reportsender/ReportSender.h"

#include <curl/curl.h>

#include <memory>

namespace {

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

std::string escaped(CURL* handle, const std::string& text) {
    std::unique_ptr<char, void (*)(void*)> value(curl_easy_escape(handle, text.c_str(), int(text.size())),
                                                 curl_free);
    return value ? value.get() : "";
}

} // namespace

ReportSender::ReportSender(std::string url) : url(std::move(url)) {}

std::string ReportSender::addressWith(const std::string& productVersion) const {
    std::string address = url + (url.find('?') == std::string::npos ? "?" : "&") + "action=install";
    if (!productVersion.empty()) {
        std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
        address += "&product_version=" + escaped(handle.get(), productVersion);
    }
    return address;
}

bool ReportSender::send(const std::string& document, const std::string& productVersion,
                        std::string& failure) const {
    std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
        failure = "unable to create a transfer";
        return false;
    }
    CURL* const curl = handle.get();
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(nullptr, "Content-Type: application/xml; charset=UTF-8"), curl_slist_free_all);
    const std::string address = addressWith(productVersion);
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, document.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(document.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    if (!caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        failure = message[0] ? message : curl_easy_strerror(result);
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        failure = "the receiver answered " + std::to_string(status);
        return false;
    }
    return true;
}
