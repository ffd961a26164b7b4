#pragma once

#include "installer/components/Param.h"

// A text for display; its default holds the text.
class ParamStatic : public Param {
public:
    using Param::Param;

    const char* getType() const override;
    bool validate(const std::string& text) override;
};
