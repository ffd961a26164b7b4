#pragma once

#include "installer/components/Param.h"

// A domain name of at least two labels, or a text holding a dotted quad.
class ParamHostname : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
