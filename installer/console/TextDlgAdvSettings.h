#pragma once

#include "installer/console/DlgAdvSettings.h"
#include "installer/console/TextDialog.h"

// The settings of the run on the console. They are changed by starting again with other options, so
// the page only goes back or quits.
class TextDlgAdvSettings : public DlgAdvSettings, private TextDialog {
public:
    using DlgAdvSettings::DlgAdvSettings;

    int run() override;

private:
    void showPage();
    void showNetworkSettings();
};
