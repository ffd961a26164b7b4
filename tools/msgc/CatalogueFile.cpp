#include "tools/msgc/CatalogueFile.h"

#include "tools/msgc/utf8.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace msgc {

CatalogueError::CatalogueError(const std::string& file, int line, const std::string& key,
                               const std::string& reason)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         (key.empty() ? "" : key + ": ") + reason) {}

namespace {

class Parser {
public:
    Parser(const std::string& path, const std::string& content) : path(path), content(content) {}

    std::vector<Entry> run() {
        std::vector<Entry> entries;
        std::set<std::string> seen;
        while (skipBlankAndComments()) {
            Entry entry;
            entry.line = line;
            entry.key = readKey();
            if (!seen.insert(entry.key).second)
                fail(entry.key, "duplicate key");
            skipSpaces();
            if (peek() != '=')
                fail(entry.key, "expected '=' after the key");
            ++pos;
            skipSpaces();
            if (peek() != '"')
                fail(entry.key, "expected a quoted text");
            while (peek() == '"') {
                entry.text += readQuoted(entry.key);
                skipWhiteAndComments();
            }
            if (pos < content.size() && !atLineStart())
                fail(entry.key, "unexpected text after the quoted text");
            entries.push_back(entry);
        }
        return entries;
    }

private:
    [[noreturn]] void fail(const std::string& key, const std::string& reason) const {
        throw CatalogueError(path, line, key, reason);
    }

    char peek() const { return pos < content.size() ? content[pos] : '\0'; }
    bool atLineStart() const { return pos == 0 || content[pos - 1] == '\n'; }

    void skipSpaces() {
        while (peek() == ' ' || peek() == '\t')
            ++pos;
    }

    // Skips blanks, line ends and comment lines between the segments of one text.
    void skipWhiteAndComments() {
        for (;;) {
            skipSpaces();
            if (peek() == '\n') {
                ++pos;
                ++line;
            } else if (peek() == '#' && atLineStartIgnoringBlanks()) {
                skipRestOfLine();
            } else {
                return;
            }
        }
    }

    bool atLineStartIgnoringBlanks() const {
        size_t p = pos;
        while (p > 0 && (content[p - 1] == ' ' || content[p - 1] == '\t'))
            --p;
        return p == 0 || content[p - 1] == '\n';
    }

    void skipRestOfLine() {
        while (pos < content.size() && content[pos] != '\n')
            ++pos;
    }

    // False at the end of the file.
    bool skipBlankAndComments() {
        skipWhiteAndComments();
        return pos < content.size();
    }

    std::string readKey() {
        const size_t start = pos;
        while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == '_')
            ++pos;
        if (pos == start)
            fail("", "expected a key");
        return content.substr(start, pos - start);
    }

    std::string readQuoted(const std::string& key) {
        ++pos; // opening quote
        std::string text;
        for (;;) {
            if (pos >= content.size() || peek() == '\n')
                fail(key, "unterminated quoted text");
            const char c = content[pos];
            if (c == '"') {
                ++pos;
                return text;
            }
            if (c == '\\') {
                ++pos;
                text += readEscape(key);
                continue;
            }
            text += readRawCharacter(key);
        }
    }

    // Invisible characters must be written as \u{HHHH} so that a reader of the file sees them.
    // Invalid UTF-8 passes here byte by byte; the text check reports it with its key.
    std::string readRawCharacter(const std::string& key) {
        unsigned long code;
        const size_t length = utf8::decode(content, pos, code);
        if (length > 1 && utf8::isInvisible(code)) {
            char escape[16];
            snprintf(escape, sizeof escape, "\\u{%04lX}", code);
            fail(key, std::string("invisible character in the text: write it as ") + escape);
        }
        const size_t taken = length == 0 ? 1 : length;
        pos += taken;
        return content.substr(pos - taken, taken);
    }

    std::string readEscape(const std::string& key) {
        const char c = peek();
        ++pos;
        switch (c) {
        case 'n':
            return "\n";
        case '"':
            return "\"";
        case '\\':
            return "\\";
        case 'u':
            return readCodePoint(key);
        default:
            fail(key, std::string("unknown escape \\") + c);
        }
    }

    std::string readCodePoint(const std::string& key) {
        if (peek() != '{')
            fail(key, "expected \\u{HHHH}");
        const size_t close = content.find('}', pos);
        if (close == std::string::npos || close == pos + 1 || close - pos > 7)
            fail(key, "expected \\u{HHHH}");
        const std::string digits = content.substr(pos + 1, close - pos - 1);
        for (char d : digits)
            if (!std::isxdigit(static_cast<unsigned char>(d)))
                fail(key, "expected \\u{HHHH}");
        const unsigned long code = std::stoul(digits, nullptr, 16);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            fail(key, "\\u{" + digits + "} is not a character");
        pos = close + 1;
        return utf8::encode(code);
    }

    const std::string& path;
    const std::string& content;
    size_t pos = 0;
    int line = 1;
};

} // namespace

CatalogueFile CatalogueFile::parse(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CatalogueError(path, 0, "", "cannot be read");
    std::ostringstream content;
    content << in.rdbuf();
    return parseText(path, content.str());
}

CatalogueFile CatalogueFile::parseText(const std::string& path, const std::string& content) {
    CatalogueFile file;
    file.file_path = path;
    file.file_entries = Parser(path, content).run();
    return file;
}

const Entry* CatalogueFile::find(const std::string& key) const {
    for (const Entry& entry : file_entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

} // namespace msgc
