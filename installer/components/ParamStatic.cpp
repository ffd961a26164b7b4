#include "installer/components/ParamStatic.h"

const char* ParamStatic::getType() const {
    return "static-text";
}

bool ParamStatic::validate(const std::string& /*text*/) {
    return true;
}
