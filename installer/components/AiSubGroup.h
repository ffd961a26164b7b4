#pragma once

#include "installer/components/AiGroup.h"

// A group that only nests nodes for display and counting.
class AiSubGroup : public AiGroup {
public:
    using AiGroup::AiGroup;

    // The children's common character, '.' when they differ, ' ' without children.
    char getStatusChar() const override;
    bool isEmpty() const override { return children.empty(); }

    // Components, radio groups or sub-groups, in document order.
    nodes_t children;
};
