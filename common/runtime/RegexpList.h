#pragma once

#include "common/runtime/Regexp.h"

#include <string>
#include <vector>

class RegexpList : public std::vector<Regexp> {
public:
    // True at the first pattern that matches, in list order; false for an empty list.
    bool matchAny(const std::string& text) const;
};
