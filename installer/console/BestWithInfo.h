#pragma once

#include <string>
#include <vector>

// A chosen release whose product names better partner versions than the ones chosen beside it.
struct BestWithInfo {
    struct Alternative {
        std::string id;          // the partner product
        std::string description; // its name
        std::string version;     // the partner version the declaring product prefers
        std::string insteadOf;   // the partner version chosen
    };

    std::string productId;
    std::string description; // product name
    std::string version;     // version of the declaring release
    std::vector<Alternative> alternatives;
};
