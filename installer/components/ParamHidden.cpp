#include "installer/components/ParamHidden.h"

const char* ParamHidden::getType() const {
    return "__type_hidden__tei9Rae9__";
}

bool ParamHidden::validate(const std::string& /*text*/) {
    return true;
}
