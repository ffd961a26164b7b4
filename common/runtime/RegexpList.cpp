#include "common/runtime/RegexpList.h"

bool RegexpList::matchAny(const std::string& text) const {
    for (const Regexp& regexp : *this) {
        if (regexp.match(text.c_str()))
            return true;
    }
    return false;
}
