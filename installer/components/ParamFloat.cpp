#include "installer/components/ParamFloat.h"

#include "common/runtime/Regexp.h"

#include <locale>
#include <sstream>

namespace {

// What a stream reads from the start of the text; 0 when it reads nothing.
float leadingNumber(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    float value = 0;
    in >> value;
    return value;
}

} // namespace

ParamFloat::ParamFloat(const std::shared_ptr<AiComponent>& component, const std::string& id,
                       const std::string& minText, const std::string& maxText)
    : Param(component, id), minText(minText), maxText(maxText) {}

const char* ParamFloat::getType() const {
    return "float";
}

bool ParamFloat::validate(const std::string& text) {
    if (!Regexp("[-+]?(\\d+(\\.\\d*)?|\\d*\\.\\d+)([eE][-+]?\\d+)?", false).match(text.c_str()))
        return false;
    const float value = leadingNumber(text);
    if (!minText.empty() && leadingNumber(minText) > value)
        return false;
    if (!maxText.empty() && value > leadingNumber(maxText))
        return false;
    return true;
}
