#include "installer/console/TextDlgYesNo.h"

#include <iostream>
#include <locale>

int TextDlgYesNo::run() {
    showQuestion();
    for (;;) {
        std::string answer = readString(defaultYes ? " [Y/n]" : " [y/n]", "");
        for (char& c : answer)
            c = std::tolower(c, std::locale());
        if ((answer.empty() && defaultYes) || answer == "y" || answer == "yes")
            return YES;
        if (answer == "n" || answer == "no")
            return NO;
        std::cout << textOf("yesno_retry");
    }
}

void TextDlgYesNo::showQuestion() const {
    std::cout << "\n" << text;
}
