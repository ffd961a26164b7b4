#pragma once

#include "installer/components/Param.h"

// A URL with a path: a scheme, "://", a host and a "/".
class ParamUrl : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
