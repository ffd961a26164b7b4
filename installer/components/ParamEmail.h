#pragma once

#include "installer/components/Param.h"

// An e-mail address: one "@" with text on both sides.
class ParamEmail : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
