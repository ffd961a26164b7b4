#include "installer/sources/ExtCatalog.h"

#include "common/runtime/DownloadProgressRenderer.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/sources/Downloader.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <sstream>

namespace ExtCatalog {

namespace {

// Support looks reports up by this unit and these lines, so they stay fixed.
const char* const unit = "installer/ExtCatalogCurlFeedDownloader";
const int line_empty_base = 16;
const int line_empty_platform = 21;
const int line_empty_version = 22;

// Real feeds list some hundred extensions in well under a megabyte.
const uint64_t feed_size_limit = 16 << 20;

// How deep arrays and objects may nest: the JSON reader and the tree it builds recurse once per
// level. A real feed nests three levels.
const int max_feed_depth = 64;

// The deepest nesting of arrays and objects outside strings. The reader stops at the first syntax
// error, so brackets that do not pair up only make the count larger than what it would read.
int jsonDepth(const std::string& text) {
    int depth = 0;
    int deepest = 0;
    bool in_string = false;
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (in_string) {
            if (c == '\\')
                ++at;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace

CurlFeedDownloader::CurlFeedDownloader(const std::string& base) : base(base) {
    if (base.empty())
        throw internal_error(unit, line_empty_base);
}

std::string CurlFeedDownloader::download(const std::string& platform, const std::string& version) {
    if (platform.empty())
        throw internal_error(unit, line_empty_platform);
    if (version.empty())
        throw internal_error(unit, line_empty_version);

    const std::string query = "?platform=" + platform + "&version=" + version + "&ai-compatible";
    Log::stream(3, true) << "Debug: download extension catalog feed: " << base << query;

    std::unique_ptr<Downloader> downloader = Downloader::create(query);
    downloader->addSource(base);
    downloader->setSizeLimit(feed_size_limit);
    std::shared_ptr<DownloadProgressRenderer> renderer = DownloadProgressRenderer::create();
    std::ostringstream feed;
    {
        DownloadProgressRenderer::FileScope scope(renderer, base + query);
        renderer->setFileProgress(downloader->getBytes(), downloader->getRetries());
        downloader->download(feed);
    }
    return feed.str();
}

std::shared_ptr<IFeedDownloader> createFeedDownloader(const std::string& base) {
    return std::make_shared<CurlFeedDownloader>(base);
}

Feed downloadFeed(const std::shared_ptr<IFeedDownloader>& downloader, const std::string& platform,
                  const std::string& version) {
    Messages messages;
    Log::stream(0, true) << messages.getMessage("download_ext_catalog_feed");

    std::istringstream text(downloader->download(platform, version));
    if (jsonDepth(text.str()) > max_feed_depth)
        throw error(4, 1, 1, 2) << messages.format("err_ext_catalog_feed_parse",
                                                   "arrays and objects nested deeper than " +
                                                       std::to_string(max_feed_depth) + " levels");
    boost::property_tree::ptree document;
    try {
        boost::property_tree::read_json(text, document);
    } catch (const boost::property_tree::ptree_error& e) {
        throw error(4, 1, 1, 2) << messages.format("err_ext_catalog_feed_parse", std::string(e.what()));
    }

    Feed feed;
    // Whether the root is an array or an object, its children are the entries; member names don't count.
    for (const auto& child : document) {
        const boost::property_tree::ptree& entry = child.second;
        try {
            FeedItem item;
            item.download_url = entry.get<std::string>("download_url");
            item.release = entry.get<std::string>("release");
            item.version = entry.get<std::string>("version");
            item.name = entry.get<std::string>("name");
            const std::string code = entry.get<std::string>("code");
            feed[code] = item;
        } catch (const boost::property_tree::ptree_error& e) {
            Log::stream(2, true) << messages.format("err_ext_catalog_feed_parse_item", std::string(e.what()));
        }
    }
    return feed;
}

} // namespace ExtCatalog
