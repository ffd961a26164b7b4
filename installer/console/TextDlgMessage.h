#pragma once

#include "installer/console/DlgMessage.h"
#include "installer/console/TextDialog.h"

// A message on the console, acknowledged with Enter.
class TextDlgMessage : public DlgMessage, private TextDialog {
public:
    using DlgMessage::DlgMessage;

    int run() override;
};
