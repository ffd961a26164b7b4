#pragma once

#include "installer/components/ComponentManager.h"
#include "installer/web/BackendProtocol.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

class TiXmlElement;

// Writes the component tree into the answer while the tree is walked: one "product" per product with
// something to show, groups and radio groups as nested elements, components with their marks under
// the given changeset.
class BackendProtocol::ComponentSender : public ComponentManager::Visitor {
public:
    // Appends "products" to the root at once, so an empty tree still answers an empty list.
    ComponentSender(TiXmlElement& root, ComponentsChangeset& changeset,
                    const std::vector<std::string>& excluded);

    void visit(const comp_ptr_t& component) override;
    void beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;
    void beginSubGroup(const std::shared_ptr<AiSubGroup>& group) override;
    void endSubGroup(const std::shared_ptr<AiSubGroup>& group) override;
    void endRadioGroup(const std::shared_ptr<AiRadioGroup>& group) override;

    // The element that takes the next node of the build: found or created under its product's
    // "components", then down the open groups.
    TiXmlElement* productElement(const Build& build);

private:
    // Appends the group's element and enters it.
    TiXmlElement* beginGroup(const char* tag, const AiGroup& group);

    TiXmlElement& root;
    ComponentsChangeset& changeset;
    // (tag, name) of the groups open below the current product's "components", outermost first.
    std::vector<std::pair<std::string, std::string>> pathStack;
    std::set<std::string> excludedProducts;
};
