#pragma once

#include <string>

// UTF-8 code points and the columns they take on a terminal.
namespace utf8 {

// The UTF-8 bytes of one code point.
std::string encode(unsigned long code);

// Length of the sequence at text[pos], storing its code point in code; 0 when the bytes there
// are not valid UTF-8 (overlong forms and surrogates included).
size_t decode(const std::string& text, size_t pos, unsigned long& code);

// Terminal columns of one code point: 2 for East Asian wide and full-width characters, 0 for
// combining marks and zero-width characters, 1 otherwise.
unsigned columns(unsigned long code);

// Length of the character at text[pos] in bytes, at least 1: an invalid byte counts as one
// character of one column.
size_t characterAt(const std::string& text, size_t pos, unsigned& width);

// Columns of a whole text.
unsigned width(const std::string& text);

} // namespace utf8
