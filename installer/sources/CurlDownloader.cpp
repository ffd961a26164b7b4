#include "installer/sources/CurlDownloader.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "installer/sources/http_error.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

CurlDownloader::Timeouts& timeouts() {
    static CurlDownloader::Timeouts limits;
    return limits;
}

void sleepOneSecond() {
    util::sleep_seconds(1);
}

std::function<void()>& waitTick() {
    static std::function<void()> tick = sleepOneSecond;
    return tick;
}

// Answers that mean this mirror will never have the file for us.
bool dropsMirror(long code) {
    return code == 401 || code == 402 || code == 403 || code == 404 || code == 418;
}

curl_socket_t openCloseOnExecSocket(void*, curlsocktype, curl_sockaddr* address) {
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd == -1 ? CURL_SOCKET_BAD : fd;
}

void copyToBuffer(char* buffer, const char* text) {
    std::strncpy(buffer, text, CURL_ERROR_SIZE - 1);
    buffer[CURL_ERROR_SIZE - 1] = '\0';
}

} // namespace

CurlDownloader::Timeouts CurlDownloader::getTimeouts() {
    return timeouts();
}

void CurlDownloader::setTimeouts(const Timeouts& limits) {
    timeouts() = limits;
}

void CurlDownloader::setWaitTick(std::function<void()> tick) {
    waitTick() = tick ? std::move(tick) : sleepOneSecond;
}

void CurlDownloader::initLibrary() {
    static std::once_flag done;
    std::call_once(done, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool CurlDownloader::closeSocketsOnExec(CURL* handle) {
    return curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &openCloseOnExecSocket) == CURLE_OK;
}

CurlDownloader::CurlDownloader(const std::string& remote_path) : Downloader(remote_path) {
    initLibrary();
    handle.reset(curl_easy_init());
    if (!handle)
        throw error(4, 1, 1, 2) << Messages().getMessage("err_curl_init");

    const Timeouts limits = timeouts();
    if (!closeSocketsOnExec(handle.get()))
        throw error(3, 1, 1, 3) << Messages().getMessage("err_curl_setup");
    setOption(CURLOPT_WRITEFUNCTION, &CurlDownloader::writeData);
    setOption(CURLOPT_WRITEDATA, static_cast<void*>(this));
    // Fewer, larger reads and writes than the 16 KB default: downloads are often big package files.
    setOption(CURLOPT_BUFFERSIZE, 256L * 1024);
    setOption(CURLOPT_NOPROGRESS, 0L);
    setOption(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    setOption(CURLOPT_XFERINFOFUNCTION, &CurlDownloader::transferInfo);
    setOption(CURLOPT_FOLLOWLOCATION, 1L);
    setOption(CURLOPT_MAXREDIRS, 1L);
    setOption(CURLOPT_FAILONERROR, 1L);
    setOption(CURLOPT_CONNECTTIMEOUT, limits.connect_seconds);
    setOption(CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes_per_second);
    setOption(CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
    setOption(CURLOPT_ERRORBUFFER, error_buffer);
}

CurlDownloader::~CurlDownloader() = default;

template <typename T> void CurlDownloader::setOption(CURLoption option, T value) {
    if (curl_easy_setopt(handle.get(), option, value) != CURLE_OK)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_curl_setup");
}

void CurlDownloader::applyProxy() {
    const Proxy proxy = getProxy();
    if (proxy.host.empty())
        return;
    Log::stream(3, true) << "DEBUG: Downloader: proxy " << proxy.host << ":" << proxy.port
                         << (proxy.user.empty() ? std::string() : ", user " + proxy.user);
    setOption(CURLOPT_PROXY, proxy.host.c_str());
    setOption(CURLOPT_PROXYPORT, static_cast<long>(proxy.port));
    if (!proxy.user.empty()) {
        const std::string credentials = proxy.user + ":" + proxy.password;
        // libcurl keeps its own copy.
        setOption(CURLOPT_PROXYUSERPWD, credentials.c_str());
    }
}

size_t CurlDownloader::writeData(char* data, size_t size, size_t count, void* self_pointer) {
    auto* self = static_cast<CurlDownloader*>(self_pointer);
    const size_t length = size * count;
    try {
        self->received += length;
        if (self->size_limit != 0 && self->received > self->size_limit)
            throw self->tooLarge();
        self->out->write(data, static_cast<std::streamsize>(length));
        // A short count turns a failed write (a full disk) into CURLE_WRITE_ERROR.
        return *self->out ? length : 0;
    } catch (...) {
        self->callback_failure = std::current_exception();
        return 0;
    }
}

int CurlDownloader::transferInfo(void* self_pointer, curl_off_t expected, curl_off_t received, curl_off_t,
                                 curl_off_t) {
    auto* self = static_cast<CurlDownloader*>(self_pointer);
    try {
        self->bytes->value = static_cast<unsigned long>(std::max<curl_off_t>(received, 0));
        self->bytes->total = static_cast<unsigned long>(std::max<curl_off_t>(expected, 0));
        self->bytes->notify(false);
        return Progress::requestCancel() ? 1 : 0;
    } catch (...) {
        self->callback_failure = std::current_exception();
        return 1;
    }
}

void CurlDownloader::download(std::ostream& stream) {
    if (mirrors.empty())
        throw error(3, 1, 1, 3) << Messages().getMessage("err_srcs_empty");

    out = &stream;
    const std::streamoff start = std::max<std::streamoff>(stream.tellp(), 0);
    applyProxy();
    // A server that announces more is stopped before it sends anything; writeData stops the others.
    if (size_limit != 0)
        setOption(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(size_limit));

    long code = -1;
    bool code_read = true;
    std::streamoff largest_failed = 0;
    for (;;) {
        const size_t index = retries->value % mirrors.size();
        const std::string url = mirrors[index] + remote_path;
        Log::stream(3, true) << "DEBUG: Downloader: get " << url;
        setOption(CURLOPT_URL, url.c_str());
        bytes->value = 0;
        bytes->total = 0;
        bytes->notify(false);

        error_buffer[0] = '\0';
        received = 0;
        const CURLcode result = curl_easy_perform(handle.get());
        const std::streamoff position = stream.tellp();
        const std::streamoff received = position < start ? 0 : position - start;

        Progress::checkTermination();
        if (callback_failure)
            std::rethrow_exception(callback_failure);
        if (result != CURLE_OK && error_buffer[0] == '\0')
            copyToBuffer(error_buffer, curl_easy_strerror(result));

        if (result == CURLE_FILESIZE_EXCEEDED)
            throw tooLarge();
        if (result == CURLE_OK) {
            if (received >= largest_failed)
                return;
            copyToBuffer(error_buffer, "Unexpected size of file");
        } else if (result == CURLE_WRITE_ERROR) {
            throw error(4, 1, 1, 2) << Messages().getMessage("err_no_space2");
        } else if (url.compare(0, 4, "http") == 0) {
            long answer = 0;
            code_read = curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &answer) == CURLE_OK;
            code = answer;
            if (dropsMirror(code)) {
                Log::stream(2, true) << "Downloader: " << mirrors[index] << " answered " << code
                                     << ", not using it any more";
                mirrors.erase(mirrors.begin() + static_cast<std::ptrdiff_t>(index));
                if (mirrors.empty())
                    fail(url, code, code_read);
            }
        }

        if (retries->value >= retries->total) {
            retries->text = error_buffer;
            retries->notify(false);
            fail(url, code, code_read);
        }
        wait(retries->value);

        stream.clear();
        stream.seekp(start);
        setOption(CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
        retries->step("");
        largest_failed = std::max(largest_failed, received);
    }
}

void CurlDownloader::wait(unsigned long failed_before) {
    static const unsigned long waits[] = {3, 7, 15};
    const unsigned long seconds = waits[std::min<unsigned long>(failed_before, 2)];
    for (unsigned long left = seconds; left > 0; --left) {
        retries->text = Messages().format("download_retry", std::string(error_buffer), left);
        retries->notify(false);
        Progress::checkTermination();
        waitTick()();
    }
}

error CurlDownloader::tooLarge() const {
    return error(4, 1, 1, 2) << Messages().format("err_pkg_dwnld", remote_path,
                                                  "The answer is larger than " + std::to_string(size_limit) +
                                                      " bytes.");
}

void CurlDownloader::fail(const std::string& url, long code, bool code_read) {
    const std::string text = Messages().format("err_pkg_dwnld", url, std::string(error_buffer));
    if (code_read && code >= 0) {
        http_error failure(url, code, 1, 2, 1, 2);
        failure << text;
        throw failure;
    }
    throw error(4, 1, 1, 2) << text;
}
