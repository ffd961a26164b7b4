#include "installer/console/TextDlgReleases.h"

#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/console/DlgAdvSettings.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgYesNo.h"
#include "installer/driver/FeedbackFlags.h"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

constexpr int text_interface = 1;

bool isProductLine(const TextDlgReleases::Item& item) {
    return !item.productId.empty();
}

} // namespace

TextDlgReleases::TextDlgReleases(BuildManager* catalogue, Repository* repository, bool showAllReleases)
    : DlgReleases(catalogue, repository), showAllReleases(showAllReleases) {
    const Opsys os;
    std::string productId;
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true)) {
        if (!release->hasUsableBuild(os))
            continue;
        if (items.empty() || release->prod()->_id != productId) {
            productId = release->prod()->_id;
            std::string selected = catalogue->getSelectedReleaseId(productId);
            if (selected.empty()) {
                selected = catalogue->getInstalledReleaseId(productId);
                if (!selected.empty())
                    catalogue->selectRelease(productId, selected);
            }
            items.push_back(Item{nullptr, !selected.empty(), productId, release->prod()->_name});
        }
        items.push_back(Item{release.get(), false, "", ""});
        if (release->isCurrentlyInstalled())
            catalogue->selectRelease(productId, release->_id);
    }
}

int TextDlgReleases::run() {
    if (isAutoForward() && canContinue()) {
        askCustomerFeedback();
        return NEXT;
    }
    const bool updateMode = isUpdateChoice();
    const bool hideProduct = updateMode || isSingleProduct();
    showPage(updateMode, hideProduct);
    for (;;) {
        const Choice choice = readChoice(numberLegend("F/b/q/s", itemCount), 'F');
        if (choice.isNumber) {
            if (toggleItem(choice.number, hideProduct))
                showPage(updateMode, hideProduct);
            else
                std::cout << textOf("wizard_prompt_action_or_number_retry");
        } else if (choice.letter == 'F' || choice.letter == 'N') {
            if (canContinue()) {
                askCustomerFeedback();
                return NEXT;
            }
            showPage(updateMode, hideProduct);
        } else if (choice.letter == 'B' || choice.letter == 'P') {
            return BACK;
        } else if (choice.letter == 'Q') {
            return QUIT;
        } else if (choice.letter == 'S') {
            if (settingsDialog && settingsDialog->run() == QUIT)
                return QUIT;
            showPage(updateMode, hideProduct);
        } else {
            std::cout << textOf("wizard_prompt_action_or_number_retry");
        }
    }
}

std::vector<unsigned> TextDlgReleases::numbering(bool hideProduct) const {
    std::vector<unsigned> numbers;
    unsigned next = 1;
    bool productSelected = false;
    for (const Item& item : items) {
        if (isProductLine(item)) {
            productSelected = hideProduct || item.hasSelection;
            numbers.push_back(hideProduct ? 0 : next++);
        } else {
            numbers.push_back(productSelected ? next++ : 0);
        }
    }
    return numbers;
}

void TextDlgReleases::showPage(bool updateMode, bool hideProduct) {
    showTitle(textOf("releases_page_hdr"));
    if (items.empty()) {
        std::ostringstream system;
        system << Opsys();
        std::cout << Messages().format("releases_no_avail", system.str()) << "\n\n\n";
    } else {
        if (!updateMode)
            std::cout << textOf("releases_page_body") << "\n";
        const std::vector<unsigned> numbers = numbering(hideProduct);
        for (size_t i = 0; i < items.size(); ++i) {
            const Item& item = items[i];
            if (numbers[i] == 0)
                continue;
            if (isProductLine(item))
                std::cout << "\n"
                          << numbers[i] << ". [" << (item.hasSelection ? '*' : ' ') << "] "
                          << item.productName << "\n";
            else
                showRelease(item, numbers[i], updateMode, hideProduct);
        }
        itemCount = *std::max_element(numbers.begin(), numbers.end());
        std::cout << "\n";
    }
    showLegend({"wizard_legend_f_forward", "wizard_legend_b_back", "wizard_legend_q_quit",
                "wizard_legend_s_advanced_settings"},
               "wizard_prompt_action_or_number");
}

void TextDlgReleases::showRelease(const Item& item, unsigned number, bool updateMode,
                                  bool hideProduct) const {
    const Release& release = *item.release;
    std::cout << (hideProduct ? "" : "  ") << number << ". " << (release._selected ? "(*) " : "( ) ");
    if (updateMode)
        std::cout << textOf(number == 1 ? "releases_install_latest_update"
                                        : "releases_add_remove_components");
    else if (showAllReleases)
        std::cout << release._name;
    else {
        std::cout << release.prod()->_name << " " << release._codename;
        // The first three lines are short enough without the version.
        if (number >= 4)
            std::cout << " " << release._version;
    }
    if (!updateMode && release.isDisplayTagShown(text_interface))
        std::cout << " (" << release.getDisplayTag() << ")";
    std::cout << "\n";
}

bool TextDlgReleases::toggleItem(int number, bool hideProduct) {
    const std::vector<unsigned> numbers = numbering(hideProduct);
    for (size_t i = 0; i < items.size(); ++i) {
        if (number <= 0 || numbers[i] != static_cast<unsigned>(number))
            continue;
        Item& item = items[i];
        if (isProductLine(item)) {
            toggleProduct(item);
            return true;
        }
        if (!item.release)
            throw error(error::internal, 1, 1, 3) << "bad item object";
        catalogue->selectRelease(item.release->prod()->_id, item.release->_id);
        return true;
    }
    return false;
}

// Takes the product out, or brings it in with its first release or, when one is, its installed release.
void TextDlgReleases::toggleProduct(Item& item) {
    if (item.hasSelection) {
        catalogue->unselectProduct(item.productId);
        item.hasSelection = false;
        return;
    }
    item.hasSelection = true;
    bool first = true;
    for (const boost::shared_ptr<Release>& release : catalogue->_releases) {
        if (release->prod()->_id != item.productId)
            continue;
        if (first || release->isCurrentlyInstalled())
            catalogue->selectRelease(item.productId, release->_id);
        first = false;
    }
}

void TextDlgReleases::askCustomerFeedback() {
    if (!isFeedbackUnknown())
        return;
    const std::unique_ptr<DlgMaker> maker = DlgMaker::create();
    std::cout << "\n";
    setFeedbackEnabled(maker->yesNoDefaultYes(textOf("ask_customer_feedback"))->run() == YES);
}

bool TextDlgReleases::isAutoForward() const {
    return !showAllReleases && items.size() == 2 && isProductLine(items[0]) && !isProductLine(items[1]) &&
           items[1].release->_selected;
}

bool TextDlgReleases::isUpdateChoice() const {
    if (showAllReleases || items.size() != 3 || !isProductLine(items[0]) || isProductLine(items[1]) ||
        isProductLine(items[2]))
        return false;
    const Release& installed = *items[1].release;
    return installed.isCurrentlyInstalled() && !installed._codename.empty() &&
           installed._codename == items[2].release->_codename;
}

bool TextDlgReleases::isSingleProduct() const {
    return !showAllReleases && std::count_if(items.begin(), items.end(), isProductLine) == 1;
}
