#pragma once

#include "installer/console/Dialog.h"

#include <string>

// A question answered yes (Dialog::YES) or no (Dialog::NO).
class DlgYesNo : public Dialog {
public:
    DlgYesNo(const std::string& text, bool defaultYes) : text(text), defaultYes(defaultYes) {}

protected:
    std::string text;
    bool defaultYes;
};
