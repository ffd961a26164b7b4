#pragma once

#include "installer/components/ParamManager.h"
#include "installer/web/BackendProtocol.h"

#include <string>
#include <vector>

class TiXmlElement;

// Writes the settings answer while the settings are walked: each setting goes into the container
// of its product or component, down the branches and groups open on the path stack.
class BackendProtocol::ParamSender : public ParamManager::Visitor {
public:
    // One step from a container down to the element that takes the next setting: the first child
    // with the tag (and the attribute value, when an attribute is named), or a group element itself.
    struct Frame {
        std::string tag;
        std::string attributeName;
        std::string attributeValue;
        TiXmlElement* group = nullptr;
    };

    // Appends "products" to the root at once.
    ParamSender(BackendProtocol& protocol, TiXmlElement& root);

    void visit(const param_ptr_t& param) override;
    void beginSubParams(const param_ptr_t& param) override;
    void beginBranch(const param_ptr_t& param, const std::string& branch) override;
    void endBranch(const param_ptr_t& param, const std::string& branch) override;
    void endSubParams(const param_ptr_t& param) override;

    TiXmlElement& root;
    std::vector<Frame> pathStack;

private:
    TiXmlElement* container(const param_ptr_t& param);
    // Appends "settings" to the element the stack leads to and steps into it.
    void openSettings(const param_ptr_t& param);
    void pop(size_t frames);

    BackendProtocol& protocol;
};
