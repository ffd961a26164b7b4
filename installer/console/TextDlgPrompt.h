#pragma once

#include "installer/console/DlgPrompt.h"
#include "installer/console/TextDialog.h"

// A question with a typed answer on the console.
class TextDlgPrompt : public DlgPrompt, private TextDialog {
public:
    using DlgPrompt::DlgPrompt;

    int run() override;
};
