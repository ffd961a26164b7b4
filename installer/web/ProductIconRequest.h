#pragma once

#include <string>

// Which icon a get_product_icon request asks for.
struct ProductIconRequest {
    std::string productId;
    // The active icon when true, else the disabled one.
    bool enabled = false;
};
