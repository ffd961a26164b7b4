#pragma once

#include "installer/components/Param.h"

// A password: the rule of strings, with a detail that tells the user why a text was rejected.
class ParamPassword : public Param {
public:
    ParamPassword(const std::shared_ptr<AiComponent>& component, const std::string& id,
                  const std::string& minLength, const std::string& maxLength, const std::string& regexText,
                  const std::string& validateWithLogin);

    const char* getType() const override;
    bool validate(const std::string& text) override;

    std::string minLength;
    std::string maxLength;
    std::string regexText;
    std::string validateWithLogin;
};
