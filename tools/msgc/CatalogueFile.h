#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace msgc {

// A fault in a catalogue data file, with the place it was found.
class CatalogueError : public std::runtime_error {
public:
    CatalogueError(const std::string& file, int line, const std::string& key, const std::string& reason);
};

struct Entry {
    std::string key;
    std::string text;
    int line;
};

// One data file: `key = "text" "more text"` entries, '#' comments, escapes \n \" \\ and \u{HHHH}.
class CatalogueFile {
public:
    static CatalogueFile parse(const std::string& path);
    static CatalogueFile parseText(const std::string& path, const std::string& content);

    const std::string& path() const { return file_path; }
    const std::vector<Entry>& entries() const { return file_entries; }
    const Entry* find(const std::string& key) const;

private:
    std::string file_path;
    std::vector<Entry> file_entries;
};

} // namespace msgc
