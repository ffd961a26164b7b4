#pragma once

#include <string>

// One installation-source location as users type it, normalised: a local path (a directory ends in
// '/', a path that does not exist is kept as typed) or a network URL that ends in '/' unless it names
// a ".inf3" catalogue file.
class SourceUrl {
public:
    SourceUrl() = default;
    // Never fails: whatever cannot be read as a local path is taken for a network location.
    explicit SourceUrl(const std::string& location);

    const std::string& str() const { return location; }
    operator const std::string&() const { return location; }

private:
    std::string location;
};

// True when the location starts with '/'; the file system is not asked.
bool isLocalPath(const std::string& location);
// Everything up to and including the last '/'; "/" when there is none.
std::string parentLocation(const std::string& location);
// Everything after the last '/'; the whole text when there is none.
std::string locationBaseName(const std::string& location);
