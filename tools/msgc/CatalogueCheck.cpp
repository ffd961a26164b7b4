#include "tools/msgc/CatalogueCheck.h"

namespace msgc {

namespace {

// Length of the UTF-8 sequence at text[pos], or 0 when it is not valid UTF-8.
size_t utf8SequenceLength(const std::string& text, size_t pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    size_t length;
    unsigned long code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

void CatalogueCheck::checkTexts(const CatalogueFile& file) {
    for (const Entry& entry : file.entries()) {
        if (entry.text.empty())
            throw CatalogueError(file.path(), entry.line, entry.key, "empty text");
        for (size_t pos = 0; pos < entry.text.size();) {
            const unsigned char c = static_cast<unsigned char>(entry.text[pos]);
            if ((c < 0x20 && c != '\n') || c == 0x7F)
                throw CatalogueError(file.path(), entry.line, entry.key,
                                     "control character " + std::to_string(c) + " in the text");
            const size_t length = utf8SequenceLength(entry.text, pos);
            if (length == 0)
                throw CatalogueError(file.path(), entry.line, entry.key, "invalid UTF-8 in the text");
            pos += length;
        }
    }
}

void CatalogueCheck::checkAgainstEnglish(const CatalogueFile& translation, const CatalogueFile& english) {
    for (const Entry& entry : translation.entries())
        if (!english.find(entry.key))
            throw CatalogueError(translation.path(), entry.line, entry.key, "key not in the English file");
}

} // namespace msgc
