#include "installer/console/TextDlgPackages.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgMessage.h"
#include "installer/driver/PackagesReporter.h"

#include <cstdio>
#include <iostream>
#include <sstream>

namespace {

// Hands the text to the pager and waits until the user leaves it.
void page(const std::string& command, const std::string& text) {
    std::cout.flush();
    FILE* pager = popen(command.c_str(), "we");
    if (!pager)
        throw error(error::system, 1, 1, 2) << "Cannot start '" << command << "'";
    std::fputs(text.c_str(), pager);
    pclose(pager);
}

} // namespace

int TextDlgPackages::run() {
    showPage();
    for (;;) {
        const Choice choice = readChoice("F/b/q/s", 'F');
        if (choice.letter == 'B')
            return BACK;
        if (choice.letter == 'F')
            return NEXT;
        if (choice.letter == 'Q')
            return QUIT;
        if (choice.letter == 'S') {
            showList();
            showPage();
        } else {
            std::cout << textOf("wizard_prompt_action_retry");
        }
    }
}

void TextDlgPackages::showPage() {
    showTitle(textOf("packages_page_hdr"));
    std::cout << Messages().format("packages_page_body_install", installCount) << "\n"
              << Messages().format("packages_page_body_upgrade", upgradeCount) << "\n";
    if (removeCount > 0)
        std::cout << Messages().format("packages_page_body_remove", removeCount) << "\n";
    std::cout << "\n";
    showLegend({"wizard_legend_f_forward", "wizard_legend_b_back", "wizard_legend_q_quit",
                "wizard_legend_s_show_packages"},
               "wizard_prompt_action");
}

void TextDlgPackages::showList() {
    std::ostringstream list;
    list << PackagesReporter(*packages, repository, false);
    try {
        const std::unique_ptr<DlgMaker> maker = DlgMaker::create();
        if (exec::run_command("less --version", false, false, nullptr, nullptr) == 0) {
            page("less -m -C -Pm\"Use arrow keys for navigation and 'q' to return to installer\"",
                 list.str());
            return;
        }
        if (fileops::is_file("/bin/more")) {
            page("more -d", list.str());
        } else {
            Log::stream(0, true) << textOf("err_no_pagers");
            std::cout << textOf("err_no_pagers") << "\n" << list.str();
        }
        maker->message("")->run();
    } catch (error& e) {
        e.addLine(error::system, 1, 1, 2) << textOf("err_show_pkglist");
        throw;
    }
}
