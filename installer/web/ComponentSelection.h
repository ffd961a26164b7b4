#pragma once

#include <string>
#include <vector>

// The install and remove choices for the components of one product, in request order.
struct ComponentSelection {
    std::string productId;
    std::vector<std::string> idsToInstall;
    std::vector<std::string> idsToRemove;
};
