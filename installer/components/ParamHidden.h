#pragma once

#include "installer/components/Param.h"

// A value the front ends do not ask for and pass on like the others.
class ParamHidden : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
