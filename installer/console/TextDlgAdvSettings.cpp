#include "installer/console/TextDlgAdvSettings.h"

#include "installer/driver/Options.h"
#include "installer/sources/SourceUrl.h"

#include <iostream>

int TextDlgAdvSettings::run() {
    showPage();
    for (;;) {
        const Choice choice = afterFailure ? readChoice("Q", 'Q') : readChoice("B/q", 'B');
        if (!afterFailure && (choice.letter == 'B' || choice.letter == 'P'))
            return BACK;
        if (choice.letter == 'Q')
            return QUIT;
        std::cout << textOf("wizard_prompt_action_retry");
    }
}

void TextDlgAdvSettings::showPage() {
    showTitle(textOf("settings_page_hdr"));
    std::cout << textOf("wizard_current_settings") << "\n";
    std::cout << textOf("source_product_source");
    if (source == Options::defaultSource)
        std::cout << textOf("source_from_moxel");
    else
        std::cout << textOf(isLocalPath(source) ? "source_from_local" : "source_from_network") << " "
                  << source;
    std::cout << "\n";
    if (!isLocalPath(source))
        showNetworkSettings();
    std::cout << "\n" << textOf("settings_page_body") << "\n";
    std::cout << textOf("settings_page_cfg") << Options::rcFilePaths().back() << "\n\n";
    if (afterFailure)
        showLegend({"wizard_legend_q_quit"}, "wizard_prompt_action");
    else
        showLegend({"wizard_legend_b_back", "wizard_legend_q_quit"}, "wizard_prompt_action");
}

// The proxy password is never shown.
void TextDlgAdvSettings::showNetworkSettings() {
    std::cout << textOf("source_target_dir") << target << "\n";
    if (proxyHost.empty()) {
        std::cout << textOf("proxy_no_proxy") << "\n";
    } else {
        std::cout << textOf("proxy_proxy_host") << proxyHost << ':' << proxyPort << "\n";
        if (proxyUser.empty())
            std::cout << textOf("proxy_no_auth");
        else
            std::cout << textOf("proxy_auth") << proxyUser;
        std::cout << "\n";
    }
    std::cout << textOf("settings_download_retries") << Options::instance().downloadRetryCount << "\n";
}
