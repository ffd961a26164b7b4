#pragma once

#include <memory>
#include <string>
#include <vector>

// A node of the component tree: an installable component or a group of nodes. Nodes are shared
// between the tree and whoever walks it; a component or group is recovered by a pointer cast.
class AiCompNode {
public:
    AiCompNode() = default;
    AiCompNode(const AiCompNode&) = delete;
    AiCompNode& operator=(const AiCompNode&) = delete;
    virtual ~AiCompNode();

    // One character for list displays.
    virtual char getStatusChar() const = 0;
    virtual std::string getDescription() const = 0;
    // The id of the product whose build holds the node.
    virtual std::string getProductId() const = 0;
};

using nodes_t = std::vector<std::shared_ptr<AiCompNode>>;
