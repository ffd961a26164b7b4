#pragma once

#include "installer/components/Param.h"

// A group of settings in one branch named ""; it takes no value of its own.
class ParamGroup : public SubParams {
public:
    using SubParams::SubParams;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
