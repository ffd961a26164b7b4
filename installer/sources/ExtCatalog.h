#pragma once

#include <map>
#include <memory>
#include <string>

// The external extension catalogue: its feed of the extensions that fit a platform and a product version.
namespace ExtCatalog {

struct FeedItem {
    std::string name;
    std::string version;
    std::string release;
    std::string download_url;
};

// Extension code -> entry, in ascending order of code.
using Feed = std::map<std::string, FeedItem>;

// Where the feed text comes from; the reader needs nothing else, so any source of text can stand in.
class IFeedDownloader {
public:
    virtual ~IFeedDownloader() = default;
    virtual std::string download(const std::string& platform, const std::string& version) = 0;
};

// Asks the catalogue service at `base` through the downloader, with its retries, proxy and progress.
class CurlFeedDownloader : public IFeedDownloader {
public:
    explicit CurlFeedDownloader(const std::string& base);
    std::string download(const std::string& platform, const std::string& version) override;

private:
    std::string base;
};

std::shared_ptr<IFeedDownloader> createFeedDownloader(const std::string& base);

// Entries that lack one of the values are logged and skipped; text that is not JSON raises.
Feed downloadFeed(const std::shared_ptr<IFeedDownloader>& downloader, const std::string& platform,
                  const std::string& version);

} // namespace ExtCatalog
