#include "installer/components/ParamPassword.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/components/ParamString.h"

ParamPassword::ParamPassword(const std::shared_ptr<AiComponent>& component, const std::string& id,
                             const std::string& minLength, const std::string& maxLength,
                             const std::string& regexText, const std::string& validateWithLogin)
    : Param(component, id), minLength(minLength), maxLength(maxLength), regexText(regexText),
      validateWithLogin(validateWithLogin) {}

const char* ParamPassword::getType() const {
    return "password";
}

bool ParamPassword::validate(const std::string& text) {
    validationDetail.clear();
    ParamString::check_t result;
    try {
        result = ParamString::check(text, minLength, maxLength, regexText);
    } catch (const error&) {
        validationDetail = Messages().getMessage("param_password_validation_failed");
        return false;
    }
    switch (result) {
    case ParamString::accepted:
        return true;
    case ParamString::too_short:
        validationDetail = Messages().format("param_password_too_short", minLength);
        break;
    case ParamString::too_long:
        validationDetail = Messages().format("param_password_too_long", maxLength);
        break;
    case ParamString::mismatch:
        validationDetail = Messages().getMessage("param_password_contains_invalid_characters");
        break;
    }
    return false;
}
