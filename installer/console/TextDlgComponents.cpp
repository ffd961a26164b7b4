#include "installer/console/TextDlgComponents.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/components/ComponentsChangesetOps.h"
#include "installer/console/ChangeState.h"

#include <iomanip>
#include <iostream>

namespace {

const char* const unit = "installer/TextDlgComponents";

bool isListed(const std::shared_ptr<AiCompNode>& node, const std::string& productId) {
    if (node->getProductId() != productId)
        return false;
    const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node);
    return !component || component->isVisible();
}

} // namespace

TextDlgComponents::TextDlgComponents(ComponentManager* manager, BuildManager* catalogue)
    : DlgComponents(manager) {
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true)) {
        if (!release->_selected)
            continue;
        for (const boost::shared_ptr<Build>& build : release->_builds)
            if (build->_uninstall_support)
                uninstallSupported = true;
        products.push_back(ProductEntry{release->prod()->_id, release->prod()->_name});
    }
    if (products.empty())
        throw internal_error(unit, 36);
    currentProductId = products.front().productId;
    ComponentManager::MarkComponentsForUpgrade upgrades({});
    manager->accept(upgrades);
    upgrades.commit(*manager);
}

int TextDlgComponents::run() {
    groupStack.clear();
    currentProductId = *productIds.begin();
    if (manager->isAllInstalled() && !uninstallSupported) {
        std::cout << "\n" << textOf("components_allready_installed") << "\n";
        return QUIT;
    }
    showPage();
    for (;;) {
        const bool topLevel = groupStack.empty();
        const Choice choice =
            readChoice(numberLegend(topLevel ? "F/b/q/a/d" : "B/q/a/d", itemCount), topLevel ? 'F' : 'B');
        if (choice.isNumber) {
            try {
                if (selectItem(choice.number))
                    showPage();
                else
                    std::cout << textOf("wizard_prompt_action_or_number_retry");
            } catch (const error& e) {
                pressEnter(e.getText());
                showPage();
            }
        } else if ((choice.letter == 'F' || choice.letter == 'N') && topLevel) {
            if (checkAnySelected())
                return NEXT;
            showPage();
        } else if (choice.letter == 'B' || choice.letter == 'P') {
            if (topLevel)
                return BACK;
            groupStack.pop_back();
            showPage();
        } else if (choice.letter == 'Q') {
            return QUIT;
        } else if (choice.letter == 'A' || choice.letter == 'D') {
            selectAll(choice.letter == 'A' ? REQ_INSTALL : REQ_LEAVE);
            showPage();
        } else {
            std::cout << textOf("wizard_prompt_action_or_number_retry");
        }
    }
}

void TextDlgComponents::selectAll(request_mode_t mode) {
    ComponentsChangeset changeset;
    ComponentsChangeset::MarkAllComponents marker(&changeset, currentProductId, mode, true, true);
    const nodes_t& nodes = shownNodes();
    marker.mark(nodes.begin(), nodes.end());
    manager->resolveComponents(&changeset);
    if (confirmChangeset(changeset))
        manager->setRequestModes(changeset);
}

bool TextDlgComponents::checkAnySelected() {
    if (manager->isAnySelected())
        return true;
    pressEnter(textOf("components_atleast_one"));
    return false;
}

bool TextDlgComponents::hasSubGroup(const nodes_t& nodes) const {
    for (const std::shared_ptr<AiCompNode>& node : nodes)
        if (std::dynamic_pointer_cast<AiSubGroup>(node) && isListed(node, currentProductId))
            return true;
    return false;
}

const nodes_t& TextDlgComponents::shownNodes() const {
    return groupStack.empty() ? manager->nodes : groupStack.back()->children;
}

std::vector<const TextDlgComponents::ProductEntry*> TextDlgComponents::listedProducts() const {
    std::vector<const ProductEntry*> listed;
    for (const ProductEntry& entry : products)
        if (productIds.count(entry.productId))
            listed.push_back(&entry);
    return listed;
}

std::string TextDlgComponents::selectedText(const std::string& productId,
                                            const std::string& groupName) const {
    ComponentManager::SelectedCounter counter(productId);
    manager->accept(counter);
    const ComponentManager::SelectedCounter::counts_t& counts = counter.getCounts();
    const auto found = counts.find(groupName);
    // A group without countable components has none selected of none.
    const std::pair<int, int> pair = found == counts.end() ? std::make_pair(0, 0) : found->second;
    return Messages().format("components_page_num_selected", pair.first, pair.second);
}

void TextDlgComponents::showPage() {
    unsigned last = 0;
    if (!groupStack.empty()) {
        showTitle(textOf("components_page_hdr") + " / " + groupStack.back()->name);
        std::cout << textOf("components_page_body3") << "\n";
        last = showList(groupStack.back()->children, 1);
    } else if (productIds.size() > 1) {
        showTitle(textOf("components_page_hdr"));
        std::cout << textOf("components_page_body1") << "\n\n";
        unsigned number = 1;
        std::string currentName;
        for (const ProductEntry* entry : listedProducts()) {
            const bool current = entry->productId == currentProductId;
            if (current)
                currentName = entry->productName;
            std::cout << number++ << ". (" << (current ? '*' : ' ') << ") " << entry->productName
                      << "  ........ " << selectedText(entry->productId, "") << "\n";
        }
        std::cout << "\n" << Messages().format("components_page_body2", currentName) << "\n\n";
        last = showList(manager->nodes, number);
    } else {
        const std::vector<const ProductEntry*> listed = listedProducts();
        if (listed.empty())
            throw internal_error(unit, 115);
        const std::string& name = listed.front()->productName;
        showTitle(textOf("components_page_hdr1") + name);
        std::cout << " " << selectedText(listed.front()->productId, "") << "\n\n"
                  << Messages().format("components_page_body2", name) << "\n\n";
        last = showList(manager->nodes, 1);
    }
    itemCount = last;
    std::cout << "\n"
              << textOf(hasSubGroup(shownNodes()) ? "components_page_bottom_toggle_groups"
                                                  : "components_page_bottom_toggle_components")
              << "\n\n";
    if (groupStack.empty())
        showLegend({"wizard_legend_f_forward", "wizard_legend_b_back", "wizard_legend_q_quit",
                    "wizard_legend_a_select_all", "wizard_legend_d_deselect_all"},
                   "wizard_prompt_action_or_number");
    else
        showLegend({"wizard_legend_b_back", "wizard_legend_q_quit", "wizard_legend_a_select_all",
                    "wizard_legend_d_deselect_all"},
                   "wizard_prompt_action_or_number");
}

unsigned TextDlgComponents::showList(const nodes_t& nodes, unsigned counter) {
    unsigned last = counter - 1;
    for (const std::shared_ptr<AiCompNode>& node : nodes) {
        if (!isListed(node, currentProductId))
            continue;
        if (const auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node)) {
            std::cout << "\n  " << radio->getDescription() << "\n";
            for (const comp_ptr_t& child : radio->children)
                if (child->isVisible()) {
                    last = counter;
                    std::cout << std::setw(2) << counter++ << ". (" << child->getStatusChar() << ") "
                              << child->getDescription() << "\n";
                }
            std::cout << "\n";
            continue;
        }
        last = counter;
        std::cout << std::setw(2) << counter++;
        if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(node)) {
            std::cout << ". [" << sub->getStatusChar() << "] <+> " << sub->getDescription() << " // "
                      << selectedText(currentProductId, sub->name) << "\n";
        } else {
            const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node);
            if (component && component->required)
                std::cout << ".  *  " << node->getDescription() << "\n";
            else
                std::cout << ". [" << node->getStatusChar() << "] " << node->getDescription() << "\n";
        }
    }
    return last;
}

bool TextDlgComponents::selectItem(int number) {
    int position = 1;
    if (groupStack.empty() && productIds.size() > 1) {
        for (const ProductEntry* entry : listedProducts()) {
            if (position++ == number) {
                currentProductId = entry->productId;
                return true;
            }
        }
    }
    for (const std::shared_ptr<AiCompNode>& node : shownNodes()) {
        if (!isListed(node, currentProductId))
            continue;
        if (const auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node)) {
            for (const comp_ptr_t& child : radio->children)
                if (child->isVisible() && position++ == number) {
                    toggleComponent(child);
                    return true;
                }
            continue;
        }
        if (position++ != number)
            continue;
        if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(node))
            groupStack.push_back(sub);
        else if (const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node))
            toggleComponent(component);
        else
            throw internal_error(unit, 320);
        return true;
    }
    return false;
}
