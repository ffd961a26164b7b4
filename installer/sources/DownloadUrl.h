#pragma once

#include <string>
#include <vector>

// The bytes at a URL, fetched with one plain GET and kept in memory; meant for small documents such
// as icons. An HTTP error page comes back as content. More than 1 MiB ends the transfer.
std::vector<char> downloadUrl(const std::string& url);
