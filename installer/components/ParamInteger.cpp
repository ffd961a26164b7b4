#include "installer/components/ParamInteger.h"

#include "common/runtime/error.h"
#include "common/runtime/util.h"

ParamInteger::ParamInteger(const std::shared_ptr<AiComponent>& component, const std::string& id,
                           const std::string& minText, const std::string& maxText)
    : Param(component, id), minText(minText), maxText(maxText) {}

const char* ParamInteger::getType() const {
    return "integer";
}

bool ParamInteger::validate(const std::string& text) {
    try {
        util::to_long(text);
        return true;
    } catch (const error&) {
        return false;
    }
}
