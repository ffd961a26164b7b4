#pragma once

#include "installer/components/Param.h"

#include <string>
#include <utility>
#include <vector>

// A choice among fixed ids; each choice may have nested settings in the branch of its id.
class ParamEnum : public SubParams {
public:
    // (choice id, display name)
    using choices_t = std::vector<std::pair<std::string, std::string>>;

    using SubParams::SubParams;

    const char* getType() const override;
    // One of the choice ids, byte for byte.
    bool validate(const std::string& text) override;
    void setChoices(const choices_t& choices);

    choices_t choiceList;
};
