#pragma once

#include "installer/components/Param.h"

// A text within length bounds that matches a pattern; bounds and pattern may be empty.
class ParamString : public Param {
public:
    enum check_t { accepted, too_short, too_long, mismatch };

    ParamString(const std::shared_ptr<AiComponent>& component, const std::string& id,
                const std::string& minLength, const std::string& maxLength, const std::string& regexText);

    const char* getType() const override;
    bool validate(const std::string& text) override;

    // The rule strings and passwords share. A bound that is not a number, or a pattern that does
    // not compile, raises.
    static check_t check(const std::string& text, const std::string& minLength, const std::string& maxLength,
                         const std::string& regexText);

    std::string minLength;
    std::string maxLength;
    std::string regexText;
};
