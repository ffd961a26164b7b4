#pragma once

#include "common/runtime/utf8.h"

namespace msgc {
namespace utf8 {

using ::utf8::decode;
using ::utf8::encode;

// True for characters that show no glyph or look like a plain blank: no-break and other
// special spaces, direction marks and controls, line and paragraph separators, joiners.
bool isInvisible(unsigned long code);

} // namespace utf8
} // namespace msgc
