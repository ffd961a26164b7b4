#include "installer/components/ParamGroup.h"

const char* ParamGroup::getType() const {
    return "__group_no_type__doh1Oolo__";
}

bool ParamGroup::validate(const std::string& /*text*/) {
    return true;
}
