#include "installer/components/ParamString.h"

#include "common/runtime/Regexp.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <cstdint>

namespace {

// A negative bound reads as a very large one.
uint32_t bound(const std::string& text) {
    return static_cast<uint32_t>(util::to_long(text));
}

} // namespace

ParamString::ParamString(const std::shared_ptr<AiComponent>& component, const std::string& id,
                         const std::string& minLength, const std::string& maxLength,
                         const std::string& regexText)
    : Param(component, id), minLength(minLength), maxLength(maxLength), regexText(regexText) {}

const char* ParamString::getType() const {
    return "string";
}

ParamString::check_t ParamString::check(const std::string& text, const std::string& minLength,
                                        const std::string& maxLength, const std::string& regexText) {
    const size_t length = text.size();
    if (!minLength.empty() && length < bound(minLength))
        return too_short;
    if (!maxLength.empty() && length > bound(maxLength))
        return too_long;
    if (!regexText.empty() && !Regexp(regexText.c_str(), false).match(text.c_str()))
        return mismatch;
    return accepted;
}

bool ParamString::validate(const std::string& text) {
    try {
        return check(text, minLength, maxLength, regexText) == accepted;
    } catch (const error&) {
        return false;
    }
}
