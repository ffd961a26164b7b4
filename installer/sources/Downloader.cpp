#include "installer/sources/Downloader.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/driver/Options.h"
#include "installer/sources/CurlDownloader.h"

#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

Downloader::Proxy& proxyRecord() {
    static Downloader::Proxy proxy;
    return proxy;
}

// Creates `dir` and its missing parents; on failure names the directory that could not be made.
void makeDirectories(const std::string& dir) {
    for (size_t end = 1; end <= dir.size(); ++end) {
        if (end != dir.size() && dir[end] != '/')
            continue;
        const std::string prefix = dir.substr(0, end);
        struct stat st;
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (::mkdir(prefix.c_str(), 0755) == 0)
            continue;
        int err = errno;
        if (err == EEXIST && ::stat(prefix.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            // Something that is not a directory stands in the way.
            err = ENOTDIR;
        }
        throw error(4, 1, 1, 2) << Messages().format("err_download_mkdir",
                                                     "\"" + prefix + "\" " + std::strerror(err));
    }
}

} // namespace

void Downloader::setProxy(const std::string& host, int port) {
    proxyRecord().host = host;
    proxyRecord().port = port;
}

void Downloader::setProxyAuth(const std::string& user, const std::string& password) {
    proxyRecord().user = user;
    proxyRecord().password = password;
}

Downloader::Proxy Downloader::getProxy() {
    return proxyRecord();
}

std::unique_ptr<Downloader> Downloader::create(const std::string& remote_path) {
    return std::make_unique<CurlDownloader>(remote_path);
}

Downloader::Downloader(const std::string& remote_path)
    : remote_path(remote_path), retries(std::make_shared<ProgressValue<unsigned long>>()),
      bytes(std::make_shared<ProgressValue<unsigned long>>()) {
    retries->total = static_cast<unsigned long>(std::max(1, Options::instance().downloadRetryCount));
}

void Downloader::addSource(const std::string& base) {
    std::string mirror = base;
    if (mirror.empty() || mirror.back() != '/')
        mirror += '/';
    mirrors.push_back(mirror);
}

void Downloader::downloadToFile(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash != 0)
        makeDirectories(path.substr(0, slash));

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd == -1) {
        const int err = errno;
        throw error(4, 1, 1, 2) << Messages().format("err_filewrite1", path, std::strerror(err));
    }
    // The buffer owns the descriptor from here on; large writes keep system time low on big files.
    __gnu_cxx::stdio_filebuf<char> buffer(fd, std::ios::out | std::ios::binary, 1024 * 1024);
    std::ostream out(&buffer);
    download(out);
    // The last buffered bytes reach the disk only now; a full disk must not pass for a whole file.
    errno = 0;
    if (!buffer.close()) {
        const int err = errno ? errno : EIO;
        throw error(4, 1, 1, 2) << Messages().format("err_filewrite2", path, std::strerror(err));
    }
}
