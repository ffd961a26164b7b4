#include "installer/console/TextDlgInstTypes.h"

#include "common/runtime/Messages.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"

#include <iomanip>
#include <iostream>

int TextDlgInstTypes::run() {
    customize = false;
    if (selections.empty())
        return NEXT;
    currentProductId = selections.front().first;
    showPage();
    for (;;) {
        const Choice choice = readChoice(numberLegend("F/b/q", itemCount), 'F');
        if (choice.isNumber) {
            if (selectItem(choice.number))
                showPage();
            else
                std::cout << textOf("wizard_prompt_action_or_number_retry");
        } else if (choice.letter == 'B' || choice.letter == 'P') {
            return BACK;
        } else if (choice.letter == 'F' || choice.letter == 'N') {
            customize = false;
            return NEXT;
        } else if (choice.letter == 'L') {
            // Forward, with the components page for every product.
            customize = true;
            return NEXT;
        } else if (choice.letter == 'Q') {
            return QUIT;
        } else {
            std::cout << textOf("wizard_prompt_action_or_number_retry");
        }
    }
}

std::string TextDlgInstTypes::currentLabel() const {
    std::string label = manager->getProduct(currentProductId).productName;
    const std::string releaseId = catalogue->getSelectedReleaseId(currentProductId);
    if (!releaseId.empty())
        if (const boost::shared_ptr<Release> release = catalogue->findRelease(releaseId))
            label += " " + release->_codename;
    return label;
}

void TextDlgInstTypes::showPage() {
    const std::string label = currentLabel();
    if (selections.size() == 1) {
        showTitle(Messages().format("insttypes_page_hdr1", label));
        std::cout << textOf("insttypes_page_body") << "\n\n";
    } else {
        showProducts(label);
    }
    const InstTypes::Product& product = manager->getProduct(currentProductId);
    const Selection* selection = findSelection(currentProductId);
    unsigned number = selections.size() == 1 ? 0 : manager->products.size();
    for (const InstallationType& type : product.types) {
        const bool chosen = selection && selection->second == type.names.front();
        std::cout << std::setw(2) << ++number << ". (" << (chosen ? '*' : ' ') << ") " << type.names.front()
                  << "\n       " << type.description << "\n\n";
    }
    itemCount = number;
    std::cout << "\n";
    showLegend({"wizard_legend_f_forward", "wizard_legend_b_back", "wizard_legend_q_quit"},
               "wizard_prompt_action_or_number");
}

void TextDlgInstTypes::showProducts(const std::string& label) {
    showTitle(textOf("insttypes_page_hdr"));
    std::cout << textOf("insttypes_page_body") << "\n\n";
    unsigned number = 0;
    for (const InstTypes::Product& product : manager->products) {
        const Selection* selection = findSelection(product.productId);
        const InstallationType& chosen = product.getType(selection ? selection->second : std::string());
        std::cout << std::setw(2) << ++number << ". (" << (product.productId == currentProductId ? '*' : ' ')
                  << ") " << product.productName << " (" << chosen.names.front() << " installation)\n";
    }
    std::cout << "\n" << Messages().format("insttypes_page_hdr1", label) << ":\n\n";
}

bool TextDlgInstTypes::selectItem(int number) {
    int position = 1;
    if (selections.size() > 1) {
        for (const InstTypes::Product& product : manager->products) {
            if (position == number) {
                currentProductId = product.productId;
                return true;
            }
            ++position;
        }
    }
    const std::vector<InstallationType>& types = manager->getProduct(currentProductId).types;
    const int index = number - position;
    if (index < 0 || index >= static_cast<int>(types.size()))
        return false;
    selectionFor(currentProductId).second = types[index].names.front();
    return true;
}
