#include "installer/console/TextDlgHello.h"

#include <iostream>

int TextDlgHello::run() {
    showPage();
    for (;;) {
        const Choice choice = readChoice("F/q", 'F');
        if (choice.letter == 'F' || choice.letter == 'N')
            return NEXT;
        if (choice.letter == 'Q')
            return QUIT;
        std::cout << textOf("wizard_prompt_action_retry");
    }
}

void TextDlgHello::showPage() {
    showTitle(textOf("hello_page_hdr"));
    std::cout << textOf("hello_page_body") << "\n";
    showLegend({"wizard_legend_f_forward", "wizard_legend_q_quit"}, "wizard_prompt_action");
}
