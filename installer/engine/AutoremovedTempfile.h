#pragma once

#include <string>

// A file under /tmp holding one GPG key text, removed when the object goes away.
class AutoremovedTempfile {
public:
    // Writes the text and a newline. Raises (4, 1, 1, 2) when the file cannot be made or written.
    explicit AutoremovedTempfile(const std::string& content);
    AutoremovedTempfile(const AutoremovedTempfile&) = delete;
    AutoremovedTempfile& operator=(const AutoremovedTempfile&) = delete;
    ~AutoremovedTempfile();

    const std::string& path() const { return filePath; }

private:
    std::string filePath;
};
