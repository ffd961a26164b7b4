#pragma once

#include "installer/console/DlgHello.h"
#include "installer/console/TextDialog.h"

// The welcome page on the console.
class TextDlgHello : public DlgHello, private TextDialog {
public:
    int run() override;

private:
    void showPage();
};
