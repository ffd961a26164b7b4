#pragma once

#include "installer/components/Param.h"

// A whole number: digits and signs only. The bounds are kept as the description gives them.
class ParamInteger : public Param {
public:
    ParamInteger(const std::shared_ptr<AiComponent>& component, const std::string& id,
                 const std::string& minText, const std::string& maxText);

    const char* getType() const override;
    bool validate(const std::string& text) override;

    std::string minText;
    std::string maxText;
};
