#include "installer/driver/WebPages.h"

#include "common/runtime/Log.h"

#include <algorithm>

namespace driver {

void WebPages::setCurrent(const std::string& id) {
    if (contains(id)) {
        Log::stream(3, true) << "web_ui: pages: set current: " << id << " skipped (" << listed() << ")";
        return;
    }
    Log::stream(3, true) << "web_ui: pages: set current: " << id << "(" << listed() << ")";
    pages.push_back(id);
}

void WebPages::reset() {
    pages.assign(1, "summary");
    Log::stream(3, true) << "web_ui: pages: reset";
}

void WebPages::clear() {
    pages.clear();
}

bool WebPages::contains(const std::string& id) const {
    return std::find(pages.begin(), pages.end(), id) != pages.end();
}

std::string WebPages::current() const {
    return pages.empty() ? std::string() : pages.back();
}

std::string WebPages::listed() const {
    std::string text;
    for (const std::string& page : pages)
        text += " '" + page + "'";
    return text;
}

} // namespace driver
