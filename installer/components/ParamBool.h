#pragma once

#include "installer/components/Param.h"

// A yes/no setting; the settings of its branch "true" apply when it is true.
class ParamBool : public SubParams {
public:
    using SubParams::SubParams;

    const char* getType() const override;
    // "true", "y", "yes", "false", "n" or "no" in any case.
    bool validate(const std::string& text) override;
    // Stores "true" or "false".
    void assign(const std::string& text) override;
};
