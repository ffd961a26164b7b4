#include "installer/components/ParamHostname.h"

#include "common/runtime/Regexp.h"
#include "installer/components/ParamDomain.h"

const char* ParamHostname::getType() const {
    return "host-name";
}

bool ParamHostname::validate(const std::string& text) {
    if (ParamDomain::isExcludedName(text))
        return false;
    return ParamDomain::matchesDomainPattern(text) ||
           Regexp("\\d+\\.\\d+\\.\\d+\\.\\d+", false).match(text.c_str());
}
