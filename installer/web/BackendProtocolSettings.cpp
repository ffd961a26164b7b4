#include "installer/web/BackendProtocol.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamGroup.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/web/ParamSender.h"

namespace {

const char* const unit = "installer/BackendProtocol";

void appendTextElement(TiXmlElement& parent, const std::string& name, const std::string& text) {
    tinybind::appendText(*tinybind::appendElement(parent, name), text);
}

// The element with that tag (and attribute value) under the parent, made when missing.
TiXmlElement* findOrAppend(TiXmlElement& parent, const std::string& tag, int line,
                           const std::string& attributeName = "", const std::string& value = "") {
    if (TiXmlElement* found = tinybind::findElement(parent, tag, attributeName, value))
        return found;
    TiXmlElement* made = tinybind::appendElement(parent, tag);
    if (!made)
        throw internal_error(unit, line);
    if (!attributeName.empty())
        made->SetAttribute(attributeName, value);
    return made;
}

std::string frameText(const BackendProtocol::ParamSender::Frame& frame) {
    if (frame.attributeName.empty())
        return "<" + frame.tag + ">";
    return "<" + frame.tag + "[" + frame.attributeName + "]='" + frame.attributeValue + "'>";
}

} // namespace

BackendProtocol::ParamSender::ParamSender(BackendProtocol& protocol, TiXmlElement& root)
    : root(root), protocol(protocol) {
    tinybind::appendElement(root, "products");
}

TiXmlElement* BackendProtocol::ParamSender::container(const param_ptr_t& param) {
    return protocol.sendComponentSettingsProduct(*this, param);
}

void BackendProtocol::ParamSender::visit(const param_ptr_t& param) {
    if (std::dynamic_pointer_cast<ParamGroup>(param))
        return;
    TiXmlElement* parent = container(param);
    TiXmlElement* setting = tinybind::appendElement(*parent, "setting");
    setting->SetAttribute("id", param->id);
    setting->SetAttribute("type", param->getType());
    const std::string value = param->getValue();
    setting->SetAttribute("value", value);
    appendTextElement(*setting, "name", param->displayName);
    appendTextElement(*setting, "description", param->displayDescription);
    appendTextElement(*setting, "error-message", param->getErrorMessage());
    if (!param->lastValueAccepted) {
        root.SetAttribute("status", "bad_values");
        appendTextElement(*setting, "error", param->getErrorMessage());
        setting->SetAttribute("value", param->enteredText);
    }
    if (const auto choices = std::dynamic_pointer_cast<ParamEnum>(param)) {
        for (const auto& choice : choices->choiceList) {
            setting->SetAttribute("default", value);
            TiXmlElement* element = tinybind::appendElement(*setting, "choice");
            element->SetAttribute("id", choice.first);
            appendTextElement(*element, "name", choice.second);
        }
    }
}

void BackendProtocol::ParamSender::beginSubParams(const param_ptr_t& param) {
    if (std::dynamic_pointer_cast<ParamGroup>(param)) {
        TiXmlElement* group = tinybind::appendElement(*container(param), "group");
        appendTextElement(*group, "description", param->displayDescription);
        pathStack.push_back(Frame{"group", "", "", group});
    } else if (std::dynamic_pointer_cast<ParamEnum>(param)) {
        pathStack.push_back(Frame{"setting", "id", param->id, nullptr});
    } else if (std::dynamic_pointer_cast<ParamBool>(param)) {
        pathStack.push_back(Frame{"setting", "id", param->id, nullptr});
        openSettings(param);
    }
}

void BackendProtocol::ParamSender::beginBranch(const param_ptr_t& param, const std::string& branch) {
    if (!std::dynamic_pointer_cast<ParamEnum>(param))
        return;
    pathStack.push_back(Frame{"choice", "id", branch, nullptr});
    openSettings(param);
}

void BackendProtocol::ParamSender::openSettings(const param_ptr_t& param) {
    tinybind::appendElement(*container(param), "settings");
    pathStack.push_back(Frame{"settings", "", "", nullptr});
}

void BackendProtocol::ParamSender::endBranch(const param_ptr_t& param, const std::string&) {
    if (std::dynamic_pointer_cast<ParamEnum>(param))
        pop(2);
}

void BackendProtocol::ParamSender::endSubParams(const param_ptr_t& param) {
    if (std::dynamic_pointer_cast<ParamBool>(param))
        pop(2);
    else if (std::dynamic_pointer_cast<ParamGroup>(param) || std::dynamic_pointer_cast<ParamEnum>(param))
        pop(1);
}

void BackendProtocol::ParamSender::pop(size_t frames) {
    pathStack.resize(pathStack.size() - frames);
}

void BackendProtocol::sendComponentParams(ParamManager* settings) {
    Log::stream(3, true) << "DEBUG: BackendProtocol::sendComponentParams entry";
    if (!settings)
        throw internal_error(unit, 941);
    ParamSender sender(*this, getRoot());
    settings->accept(sender, nullptr, true);
}

TiXmlElement* BackendProtocol::sendComponentSettingsProduct(ParamSender& sender, const param_ptr_t& param) {
    const std::vector<std::shared_ptr<AiComponent>>& components = param->getComponents();
    const Product& product = *components.front()->build->_parent->prod();
    TiXmlElement* products = tinybind::findElement(sender.root, "products");
    if (!products)
        throw tinybind::notfound("products", sender.root.Value());

    TiXmlElement* element = tinybind::findElement(*products, "product", "id", product._id);
    if (!element) {
        element = tinybind::appendElement(*products, "product");
        element->SetAttribute("id", product._id);
        element->SetAttribute("name", product._name);
    }
    if (components.size() == 1) {
        TiXmlElement* list = findOrAppend(*element, "components", 827);
        const std::string& name = components.front()->name;
        element = tinybind::findElement(*list, "component", "id", name);
        if (!element) {
            element = tinybind::appendElement(*list, "component");
            element->SetAttribute("id", name);
            element->SetAttribute("description", components.front()->description);
        }
    }
    element = findOrAppend(*element, "settings", 855);

    for (const ParamSender::Frame& frame : sender.pathStack) {
        element = frame.group
                      ? frame.group
                      : tinybind::findElement(*element, frame.tag, frame.attributeName, frame.attributeValue);
        if (!element)
            throw error(3, 1, 1, 3) << "in iterate tag stack: can't find node " << frameText(frame);
    }
    return element;
}

ParamManager::values_t BackendProtocol::parseComponentParams(const tinybind::Element& request) {
    tinybind::Element products = request;
    products.findChild("products");
    if (!products)
        throw internal_error(unit, 1069);
    ParamManager::values_t values;
    for (tinybind::ChildIterator product(products, "product"), end; product != end; ++product) {
        const std::string productId = (*product).attribute("id");
        tinybind::Element settings = *product;
        settings.findChild("settings");
        if (!settings)
            throw internal_error(unit, 1079);
        std::map<std::string, std::string>& productValues = values[productId];
        for (tinybind::ChildIterator setting(settings, "setting"); setting != end; ++setting)
            productValues[(*setting).attribute("id")] = (*setting).attribute("value");
    }
    return values;
}

void BackendProtocol::sendPreExamine(const ComponentsExamine& examine) {
    setStatus("ok");
    TiXmlElement* element = tinybind::appendElement(getRoot(), "examine");
    TiXmlElement* warnings = tinybind::appendElement(*element, "warnings");
    for (const ComponentsExamine::Result& result : examine.getPreResults()) {
        TiXmlElement* warning = tinybind::appendElement(*warnings, "warning");
        warning->SetAttribute("name", result.name);
        appendTextElement(*warning, "output", result.output);
        appendTextElement(*warning, "error", result.errors);
    }
}

bool BackendProtocol::parsePreExamine(const tinybind::Element& request, const ComponentsExamine& examine) {
    tinybind::Element element = request;
    element.findChild("examine");
    if (!element)
        throw internal_error(unit, 1155);
    const bool ignore = element.boolAttribute("ignore");
    if (!ignore) {
        sendPreExamine(examine);
        setStatus("warning");
    }
    return ignore;
}
