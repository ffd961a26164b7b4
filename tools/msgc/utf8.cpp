#include "tools/msgc/utf8.h"

namespace msgc {
namespace utf8 {

bool isInvisible(unsigned long code) {
    static const unsigned long ranges[][2] = {
        {0x00A0, 0x00A0}, {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C}, {0x115F, 0x1160},
        {0x17B4, 0x17B5}, {0x180B, 0x180E}, {0x2000, 0x200F}, {0x2028, 0x202F}, {0x205F, 0x206F},
        {0x3000, 0x3000}, {0x3164, 0x3164}, {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0},
    };
    for (const auto& range : ranges)
        if (code >= range[0] && code <= range[1])
            return true;
    return false;
}

} // namespace utf8
} // namespace msgc
