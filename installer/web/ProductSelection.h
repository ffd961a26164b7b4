#pragma once

#include <ostream>
#include <string>

// One product chosen on the products page of the web wizard.
struct ProductSelection {
    std::string productId;
    std::string releaseId;
    // Empty when no installation type was chosen.
    std::string installationType;
    // The administrator picks the components instead of taking the type's set.
    bool customize = false;
};

// "product-release", then "(type, customize=0|1)" when a type was chosen.
std::ostream& operator<<(std::ostream& out, const ProductSelection& selection);
