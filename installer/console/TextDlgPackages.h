#pragma once

#include "installer/console/DlgPackages.h"
#include "installer/console/TextDialog.h"

#include <string>

// The planned package counts on the console; the full list is shown in a pager on request.
class TextDlgPackages : public DlgPackages, private TextDialog {
public:
    using DlgPackages::DlgPackages;

    int run() override;

private:
    void showPage();
    // Raises with an extra line when the list cannot be shown.
    void showList();
};
