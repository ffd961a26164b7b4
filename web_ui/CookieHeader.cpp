#include "web_ui/CookieHeader.h"

namespace {

const size_t max_part_length = 5000;

bool endsPart(char c) {
    return c == '\n' || c == '\r' || c == ';';
}

} // namespace

bool parseCookieHeader(const std::string& header, std::map<std::string, std::string>& pairs) {
    size_t pos = 0;
    for (;;) {
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == '\t'))
            ++pos;
        const size_t name_start = pos;
        while (pos < header.size() && header[pos] != '=' && !endsPart(header[pos]))
            ++pos;
        if (pos - name_start > max_part_length || pos == header.size() || header[pos] != '=')
            return false;
        const std::string name = header.substr(name_start, pos - name_start);
        const size_t value_start = ++pos;
        while (pos < header.size() && !endsPart(header[pos]))
            ++pos;
        if (pos - value_start > max_part_length)
            return false;
        pairs[name] = header.substr(value_start, pos - value_start);
        if (pos == header.size() || header[pos] != ';')
            return true;
        ++pos;
    }
}
