#include "installer/components/ParamBool.h"

#include "common/runtime/error.h"
#include "common/runtime/util.h"

namespace {

bool isTrueWord(const std::string& word) {
    return word == "true" || word == "y" || word == "yes";
}

bool isFalseWord(const std::string& word) {
    return word == "false" || word == "n" || word == "no";
}

} // namespace

const char* ParamBool::getType() const {
    return "boolean";
}

bool ParamBool::validate(const std::string& text) {
    std::string word = text;
    util::to_lower(word);
    return isTrueWord(word) || isFalseWord(word);
}

void ParamBool::assign(const std::string& text) {
    std::string word = text;
    util::to_lower(word);
    if (isTrueWord(word))
        acceptedValue = "true";
    else if (isFalseWord(word))
        acceptedValue = "false";
    else
        throw internal_error("installer/ParamBool", 41);
}
