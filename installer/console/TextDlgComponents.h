#pragma once

#include "installer/components/AiCompNode.h"
#include "installer/console/DlgComponents.h"
#include "installer/console/TextDialog.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class AiSubGroup;
class BuildManager;

// The component trees on the console, one product and one level at a time: every visible component,
// radio-group child and sub-group is numbered; with several products the products come first.
class TextDlgComponents : public DlgComponents, private TextDialog {
public:
    struct ProductEntry {
        std::string productId;
        std::string productName;
    };

    // Requests the upgrade of installed components that have a newer version. Raises an internal
    // error when no release is selected.
    TextDlgComponents(ComponentManager* manager, BuildManager* catalogue);

    int run() override;

private:
    void showPage();
    // Writes the numbered lines of the current product's nodes; returns the last number given.
    unsigned showList(const nodes_t& nodes, unsigned counter);
    bool selectItem(int number);
    bool checkAnySelected();
    // Some listed node is a sub-group: those of other products are not listed.
    bool hasSubGroup(const nodes_t& nodes) const;

    // The nodes of the shown level: the opened sub-group's children, else the top level.
    const nodes_t& shownNodes() const;
    // The listed products: those of the selected releases that the page was given.
    std::vector<const ProductEntry*> listedProducts() const;
    // "selected of total" of the product's whole tree (empty group name) or of one of its sub-groups.
    std::string selectedText(const std::string& productId, const std::string& groupName) const;
    void selectAll(request_mode_t mode);

    std::vector<ProductEntry> products;
    std::string currentProductId;
    unsigned itemCount = 0;
    std::vector<std::shared_ptr<AiSubGroup>> groupStack;
    bool uninstallSupported = false;
};
