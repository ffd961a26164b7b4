#include "installer/components/ParamUrl.h"

#include "common/runtime/Regexp.h"

const char* ParamUrl::getType() const {
    return "url";
}

bool ParamUrl::validate(const std::string& text) {
    return Regexp("\\w+://.+/.*", false).match(text.c_str());
}
