#pragma once

#include <string>
#include <vector>

// One product of the installation source. All releases of the product share one Product, which the
// catalogue readers fill completely when they create it.
class Product {
public:
    const std::vector<std::vector<std::string>>& keypackages() const { return _keypackages; }

    std::string _id;
    std::string _name;
    bool _hidden_to_install = false;
    // Groups of key package names in file order; the first installed one tells the installed version.
    std::vector<std::vector<std::string>> _keypackages;
    std::vector<std::string> _upgrade_codes;
    std::vector<std::string> _product_codes;
    std::string _active_icon;
    std::string _disabled_icon;
    std::string _product_site;
    // Named when an upgrade from the installed version is not supported.
    std::string _kb_article;
    // Ids of products that cannot be installed beside this one.
    std::vector<std::string> _incompatible_with;
};
