#pragma once

#include "installer/console/DlgYesNo.h"
#include "installer/console/TextDialog.h"

// A yes/no question on the console; asks again until the answer is one of yes, y, no or n.
class TextDlgYesNo : public DlgYesNo, private TextDialog {
public:
    using DlgYesNo::DlgYesNo;

    int run() override;

private:
    void showQuestion() const;
};
