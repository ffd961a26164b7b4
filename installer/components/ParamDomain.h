#pragma once

#include "installer/components/Param.h"

// A domain name of at least two labels.
class ParamDomain : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;

    // The checks that domain and host names share: too long, or a reverse-lookup name.
    static bool isExcludedName(const std::string& text);
    static bool matchesDomainPattern(const std::string& text);
};
