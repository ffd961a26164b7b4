#include "installer/console/DlgInstTypes.h"

#include "installer/components/ComponentManager.h"

DlgInstTypes::DlgInstTypes(BuildManager* catalogue, ComponentManager* manager)
    : manager(manager), catalogue(catalogue) {
    for (const InstTypes::Product& product : this->manager->products)
        if (!product.types.empty())
            selections.emplace_back(product.productId, product.types.front().names.front());
}

const DlgInstTypes::Selection* DlgInstTypes::findSelection(const std::string& productId) const {
    for (const Selection& selection : selections)
        if (selection.first == productId)
            return &selection;
    return nullptr;
}

DlgInstTypes::Selection& DlgInstTypes::selectionFor(const std::string& productId) {
    for (Selection& selection : selections)
        if (selection.first == productId)
            return selection;
    selections.emplace_back(productId, std::string());
    return selections.back();
}
