#include "installer/console/TextDlgPrompt.h"

int TextDlgPrompt::run() {
    answer = readString(text, defaultAnswer);
    return CLOSED;
}
