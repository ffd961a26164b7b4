#pragma once

#include <cstddef>

// A file compiled into the web server: a static file under its URL, or a page template under
// "templates/<file>".
struct WebAsset {
    const char* name;
    const unsigned char* data;
    size_t size;
};

namespace web_assets {

// Every asset, static files first in the order they are registered.
extern const WebAsset all[];
extern const size_t count;

// The asset of that name; the templates a page names are always there.
const WebAsset& get(const char* name);

} // namespace web_assets
