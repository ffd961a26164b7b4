#pragma once

#include "installer/components/Param.h"

// A number that holds a decimal literal somewhere and lies within the bounds that are given.
class ParamFloat : public Param {
public:
    ParamFloat(const std::shared_ptr<AiComponent>& component, const std::string& id,
               const std::string& minText, const std::string& maxText);

    const char* getType() const override;
    bool validate(const std::string& text) override;

    std::string minText;
    std::string maxText;
};
