#pragma once

#include "installer/console/DlgReleases.h"
#include "installer/console/TextDialog.h"

#include <string>
#include <vector>

class Release;

// Products and their releases on the console: a product line per product, its release lines under
// it while the product takes part.
class TextDlgReleases : public DlgReleases, private TextDialog {
public:
    // One line of the page; a product line has a product id.
    struct Item {
        const Release* release = nullptr;
        bool hasSelection = false;
        std::string productId;
        std::string productName;
    };

    // Lists the usable releases and selects the installed ones.
    TextDlgReleases(BuildManager* catalogue, Repository* repository, bool showAllReleases);

    int run() override;

private:
    void showPage(bool updateMode, bool hideProduct);
    void showRelease(const Item& item, unsigned number, bool updateMode, bool hideProduct) const;
    // The number of each line as the page shows it; 0 for a line not shown.
    std::vector<unsigned> numbering(bool hideProduct) const;
    bool toggleItem(int number, bool hideProduct);
    void toggleProduct(Item& item);
    void askCustomerFeedback();
    // One product with one release that is selected already: the page has nothing to ask.
    bool isAutoForward() const;
    // One product whose installed release and one other release share a codename.
    bool isUpdateChoice() const;
    bool isSingleProduct() const;

    std::vector<Item> items;
    unsigned itemCount = 0;
    bool showAllReleases;
};
