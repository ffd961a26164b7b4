#pragma once

#include <string>
#include <vector>

namespace driver {

// The wizard pages reached since the last return to the start page, in the order reached; the
// last one is the page the browser must show.
class WebPages {
public:
    // Appends a page not reached yet; a page reached before leaves the list as it is.
    void setCurrent(const std::string& id);
    // Back to the start page alone.
    void reset();
    void clear();
    bool contains(const std::string& id) const;
    // Empty before any page was reached.
    std::string current() const;
    const std::vector<std::string>& visited() const { return pages; }

private:
    std::string listed() const;

    std::vector<std::string> pages;
};

} // namespace driver
