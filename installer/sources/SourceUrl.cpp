#include "installer/sources/SourceUrl.h"

#include "common/runtime/Log.h"
#include "common/runtime/fileops.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace {

const std::string file_prefix = "file://";
const std::string http_prefix = "http://";
const std::string https_prefix = "https://";
const std::string ftp_prefix = "ftp://";
const std::string separator = "://";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string currentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    while (!getcwd(&buffer[0], buffer.size())) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.c_str();
}

std::string normaliseLocal(std::string path) {
    if (!fileops::exists(path))
        return path;
    if (path[0] != '/') {
        const std::string cwd = currentDirectory();
        if (!cwd.empty())
            path = cwd + "/" + path;
    }
    if (fileops::is_directory(path))
        fileops::add_trailing(path, '/');
    return path;
}

std::string normaliseNetwork(std::string url) {
    const std::string::size_type scheme_end = url.find(separator);
    if (scheme_end == std::string::npos)
        return normaliseNetwork(http_prefix + url);
    const std::string::size_type path_start = scheme_end + separator.size();
    if (path_start == url.size())
        return std::string();
    const bool names_catalogue = url.find('/', path_start) != std::string::npos && endsWith(url, ".inf3");
    if (!names_catalogue)
        fileops::add_trailing(url, '/');
    return url;
}

} // namespace

SourceUrl::SourceUrl(const std::string& text) : location(text) {
    Log::stream(2, true) << "SourceUrl: original source url is " << text;
    if (location.empty())
        return;

    if (startsWith(location, file_prefix)) {
        Log::stream(3, true) << "DEBUG: SourceUrl: process as local source, 'file://' proto specified.";
        location = normaliseLocal(location.substr(file_prefix.size()));
    } else if (startsWith(location, http_prefix) || startsWith(location, https_prefix) ||
               startsWith(location, ftp_prefix)) {
        // An https URL must never turn local because a relative path "https:/..." happens to exist.
        location = normaliseNetwork(location);
    } else if (location[0] == '/') {
        Log::stream(3, true) << "DEBUG: SourceUrl: process as local, '/' at begin is unix path.";
        location = normaliseLocal(location);
    } else if (location.size() >= 3 && location[1] == ':' && location[2] == '\\') {
        location = normaliseLocal(location);
    } else if (fileops::exists(location)) {
        Log::stream(3, true) << "DEBUG: SourceUrl: process as local because 'url' exist in filesystem.";
        location = normaliseLocal(location);
    } else {
        Log::stream(3, true) << "DEBUG: SourceUrl: process as network with hope on success.";
        location = normaliseNetwork(location);
    }
    Log::stream(2, true) << "SourceUrl: fixed url is " << location;
}

bool isLocalPath(const std::string& location) {
    return !location.empty() && location[0] == '/';
}

std::string parentLocation(const std::string& location) {
    const std::string::size_type slash = location.rfind('/');
    if (slash == std::string::npos)
        return "/";
    return location.substr(0, slash) + "/";
}

std::string locationBaseName(const std::string& location) {
    const std::string::size_type slash = location.rfind('/');
    if (slash == std::string::npos)
        return location;
    return location.substr(slash + 1);
}
