#pragma once

#include <string>

namespace msgc {
namespace utf8 {

// The UTF-8 bytes of one code point.
std::string encode(unsigned long code);

// Length of the sequence at text[pos], storing its code point in code; 0 when the bytes there
// are not valid UTF-8 (overlong forms and surrogates included).
size_t decode(const std::string& text, size_t pos, unsigned long& code);

// True for characters that show no glyph or look like a plain blank: no-break and other
// special spaces, direction marks and controls, line and paragraph separators, joiners.
bool isInvisible(unsigned long code);

} // namespace utf8
} // namespace msgc
