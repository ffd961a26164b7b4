#pragma once

#include "installer/console/Dialog.h"

#include <string>

// A message the user acknowledges; run() returns Dialog::CLOSED.
class DlgMessage : public Dialog {
public:
    explicit DlgMessage(const std::string& text) : text(text) {}

protected:
    std::string text;
};
