#include "installer/components/ParamEmail.h"

#include "common/runtime/Regexp.h"
#include "common/runtime/error.h"

const char* ParamEmail::getType() const {
    return "email";
}

bool ParamEmail::validate(const std::string& text) {
    try {
        return Regexp("^([^\\@]+){1}\\@([^\\@]+){1}$", false).match(text.c_str());
    } catch (const error&) {
        return false;
    }
}
