#pragma once

#include "installer/console/DlgInstTypes.h"
#include "installer/console/TextDialog.h"

#include <string>

// The installation type per product on the console: with several products, the products come first
// and a product's number shows its types.
class TextDlgInstTypes : public DlgInstTypes, private TextDialog {
public:
    using DlgInstTypes::DlgInstTypes;

    int run() override;

private:
    void showPage();
    void showProducts(const std::string& label);
    // The current product's name and the codename of its selected release.
    std::string currentLabel() const;
    bool selectItem(int number);

    std::string currentProductId;
    unsigned itemCount = 0;
};
