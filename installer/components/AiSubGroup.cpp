#include "installer/components/AiSubGroup.h"

#include <set>

char AiSubGroup::getStatusChar() const {
    std::set<char> shown;
    for (const std::shared_ptr<AiCompNode>& child : children)
        shown.insert(child->getStatusChar());
    if (shown.empty())
        return ' ';
    return shown.size() == 1 ? *shown.begin() : '.';
}
