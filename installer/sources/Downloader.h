#pragma once

#include "common/runtime/ProgressValue.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Transfers one remote path, relative to one or more mirror locations, with retries, mirror
// rotation and progress counters. Downloads must not run in parallel: they share the proxy record.
class Downloader {
public:
    using counter_ptr = std::shared_ptr<ProgressValue<unsigned long>>;

    // The proxy of every download of the process; an empty host means none, an empty user no
    // proxy authentication.
    struct Proxy {
        std::string host;
        int port = 0;
        std::string user;
        std::string password;
    };

    static void setProxy(const std::string& host, int port);
    static void setProxyAuth(const std::string& user, const std::string& password);
    static Proxy getProxy();

    static std::unique_ptr<Downloader> create(const std::string& remote_path);

    explicit Downloader(const std::string& remote_path);
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;
    virtual ~Downloader() = default;

    // A '/' is added unless the base ends with one.
    void addSource(const std::string& base);
    // An answer longer than this many bytes is an error; 0 for no limit.
    void setSizeLimit(uint64_t bytes) { size_limit = bytes; }
    // Creates the missing directories and writes the file; a failed download leaves what arrived.
    void downloadToFile(const std::string& path);
    // Writes the remote file into the stream from its current position on.
    virtual void download(std::ostream& out) = 0;

    // value = failed attempts so far, total = retries allowed, text = the retry message while waiting.
    const counter_ptr& getRetries() const { return retries; }
    // Bytes received and expected during the current attempt.
    const counter_ptr& getBytes() const { return bytes; }

protected:
    std::string remote_path;
    std::vector<std::string> mirrors;
    counter_ptr retries;
    counter_ptr bytes;
    uint64_t size_limit = 0;
};
