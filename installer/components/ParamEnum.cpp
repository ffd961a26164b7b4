#include "installer/components/ParamEnum.h"

const char* ParamEnum::getType() const {
    return "enum";
}

bool ParamEnum::validate(const std::string& text) {
    for (const auto& choice : choiceList)
        if (choice.first == text)
            return true;
    return false;
}

void ParamEnum::setChoices(const choices_t& choices) {
    choiceList = choices;
}
