#include "installer/console/TextDlgMessage.h"

int TextDlgMessage::run() {
    pressEnter(text);
    return CLOSED;
}
