#include "installer/console/InstTypes.h"

#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

#include <algorithm>
#include <locale>

namespace {

const char* const unit = "installer/InstTypes";

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    const std::locale locale;
    return std::equal(a.begin(), a.end(), b.begin(), [&locale](char x, char y) {
        return std::toupper(x, locale) == std::toupper(y, locale);
    });
}

} // namespace

const InstallationType& InstTypes::Product::getType(const std::string& name) const {
    if (name.empty())
        throw error(3, 1, 1, 3) << "InstTypes data: tname is empty in request";
    for (const InstallationType& type : types)
        for (const std::string& typeName : type.names)
            if (sameNameIgnoringCase(typeName, name))
                return type;
    throw error(3, 1, 1, 3) << "InstTypes data: can't get install type from product: " << productId << "/"
                            << name;
}

InstallationType& InstTypes::Product::getType(const std::string& name) {
    return const_cast<InstallationType&>(static_cast<const Product&>(*this).getType(name));
}

void InstTypes::addType(const boost::shared_ptr<Build>& build, const InstallationType& type) {
    if (type.names.empty())
        throw internal_error(unit, 83);
    if (type.kind == InstallationType::DECLARED && type.components.empty())
        throw internal_error(unit, 84);
    // An add-on build that was never moved under a release has no product to file the type under.
    const Release& release = *checked_pointer<Release>(checked_pointer<Build>(build.get())->_parent.get());
    const ::Product& product = *checked_pointer<::Product>(release._product.get());

    products_t::iterator entry = findProduct(product._id);
    if (entry != products.end()) {
        entry->types.push_back(type);
        return;
    }
    // Complete the entry before it joins the list, so a failure leaves no entry without types.
    Product added;
    added.productId = product._id;
    added.productName = product._name;
    added.types.push_back(type);
    products.push_back(std::move(added));
}

InstTypes::products_t::iterator InstTypes::findProduct(const std::string& productId) {
    return std::find_if(products.begin(), products.end(),
                        [&productId](const Product& entry) { return entry.productId == productId; });
}

InstTypes::products_t::const_iterator InstTypes::findProduct(const std::string& productId) const {
    return std::find_if(products.begin(), products.end(),
                        [&productId](const Product& entry) { return entry.productId == productId; });
}

InstTypes::Product& InstTypes::getProduct(const std::string& productId) {
    return const_cast<Product&>(static_cast<const InstTypes&>(*this).getProduct(productId));
}

const InstTypes::Product& InstTypes::getProduct(const std::string& productId) const {
    products_t::const_iterator entry = findProduct(productId);
    if (entry == products.end())
        throw error(3, 1, 1, 3) << "InstTypes data: can't get product by id='" << productId << "'";
    return *entry;
}
