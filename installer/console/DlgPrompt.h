#pragma once

#include "installer/console/Dialog.h"

#include <string>

// A question with a typed answer; run() returns Dialog::CLOSED.
class DlgPrompt : public Dialog {
public:
    DlgPrompt(const std::string& text, const std::string& defaultAnswer)
        : text(text), defaultAnswer(defaultAnswer) {}

    std::string answer;

protected:
    std::string text;
    std::string defaultAnswer;
};
