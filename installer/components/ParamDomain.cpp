#include "installer/components/ParamDomain.h"

#include "common/runtime/Regexp.h"
#include "common/runtime/util.h"

const char* ParamDomain::getType() const {
    return "domain-name";
}

bool ParamDomain::isExcludedName(const std::string& text) {
    return text.size() > 255 || text == "localhost.rev" || util::ends_with(text, ".in-addr.arpa");
}

bool ParamDomain::matchesDomainPattern(const std::string& text) {
    return Regexp("^[A-Za-z0-9]([A-Za-z0-9\\-]{0,61}[A-Za-z0-9]){0,1}"
                  "(\\.[A-Za-z0-9]([A-Za-z0-9\\-]{0,61}[A-Za-z0-9]){0,1}){1,}$",
                  false)
        .match(text.c_str());
}

bool ParamDomain::validate(const std::string& text) {
    return !isExcludedName(text) && matchesDomainPattern(text);
}
