#include "installer/web/BackendProtocol.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/web/ComponentSender.h"

#include <algorithm>
#include <string>

namespace {

const char* const unit = "installer/BackendProtocol";

const Product& productOf(const Build& build) {
    return *build._parent->prod();
}

// Appends a "component" of the given type for each conflicting component of the tree.
class ConflictingComponentsCollector : public ComponentManager::Visitor {
public:
    ConflictingComponentsCollector(TiXmlElement& info, const ComponentsChangeset& changeset)
        : info(info), changeset(changeset) {}

    void visit(const comp_ptr_t& component) override {
        if (changeset.isConflicting(component))
            BackendProtocol::appendComponentElement(info, "conflict", component);
    }

private:
    TiXmlElement& info;
    const ComponentsChangeset& changeset;
};

} // namespace

BackendProtocol::ComponentSender::ComponentSender(TiXmlElement& root, ComponentsChangeset& changeset,
                                                  const std::vector<std::string>& excluded)
    : root(root), changeset(changeset), excludedProducts(excluded.begin(), excluded.end()) {
    tinybind::appendElement(root, "products");
}

void BackendProtocol::ComponentSender::visit(const comp_ptr_t& component) {
    if (excludedProducts.count(productOf(*component->build)._id))
        return;
    if (component->hidden && !(component->showInstalledHidden && component->isInstalled()))
        return;
    TiXmlElement* element = tinybind::appendElement(*productElement(*component->build), "component");
    element->SetAttribute("id", component->name);
    element->SetAttribute("action", component->getInstallModeName());
    // Whole 64-bit seconds: a 32-bit value would wrap for builds after January 2038.
    element->SetAttribute("serverbuildtime", std::to_string(component->getServerBuildTime()));
    element->SetAttribute("localbuildtime", std::to_string(component->getLocalBuildTime()));
    element->SetAttribute("serverversion", component->getServerVersion());
    element->SetAttribute("localversion", component->getLocalVersion());
    tinybind::setBoolAttribute(*element, "markedForInstall", changeset.isMarkedForInstall(component));
    tinybind::setBoolAttribute(*element, "markedForRemove", changeset.isMarkedForRemove(component, true));
    tinybind::setBoolAttribute(*element, "installed", component->isInstalled());
    tinybind::setBoolAttribute(*element, "uninstall_support", component->uninstallSupport);
    if (component->required)
        element->SetAttribute("required", "true");
    element->SetAttribute("description", component->description);
}

void BackendProtocol::ComponentSender::beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) {
    // "selected" follows the process-wide marks, whatever changeset the tree is written with.
    TiXmlElement* element = beginGroup("alternative_components", *group);
    tinybind::setBoolAttribute(*element, "selected", group->hasWillBeInstalled());
}

void BackendProtocol::ComponentSender::beginSubGroup(const std::shared_ptr<AiSubGroup>& group) {
    beginGroup("group", *group);
}

TiXmlElement* BackendProtocol::ComponentSender::beginGroup(const char* tag, const AiGroup& group) {
    TiXmlElement* element = tinybind::appendElement(*productElement(*group.build), tag);
    element->SetAttribute("name", group.name);
    element->SetAttribute("description", group.description);
    pathStack.emplace_back(tag, group.name);
    return element;
}

void BackendProtocol::ComponentSender::endSubGroup(const std::shared_ptr<AiSubGroup>&) {
    pathStack.pop_back();
}

void BackendProtocol::ComponentSender::endRadioGroup(const std::shared_ptr<AiRadioGroup>&) {
    pathStack.pop_back();
}

TiXmlElement* BackendProtocol::ComponentSender::productElement(const Build& build) {
    const Product& product = productOf(build);
    TiXmlElement* products = tinybind::findElement(root, "products");
    if (!products)
        throw tinybind::notfound("products", root.Value());
    TiXmlElement* element = tinybind::findElement(*products, "product", "id", product._id);
    if (!element) {
        element = tinybind::appendElement(*products, "product");
        element->SetAttribute("id", product._id);
        element->SetAttribute("name", product._name);
        element->SetAttribute("action", build._parent->getActionName());
        tinybind::setBoolAttribute(*element, "uninstall_support", build._uninstall_support);
        tinybind::appendElement(*element, "components");
    }
    TiXmlElement* parent = element->FirstChildElement("components");
    if (!parent)
        throw internal_error(unit, 547);
    for (const auto& frame : pathStack) {
        parent = tinybind::findElement(*parent, frame.first, "name", frame.second);
        if (!parent)
            throw internal_error(unit, 555);
    }
    return parent;
}

void BackendProtocol::sendComponents(ComponentManager* components, const std::vector<std::string>& excluded,
                                     ComponentsChangeset* changeset) {
    {
        Log::stream line(3, true);
        line << "DEBUG: BackendProtocol::sendComponents: show_prod_ids: ";
        for (const std::string& id : excluded)
            line << " '" << id << "'";
    }
    if (!components)
        throw internal_error(unit, 568);
    ComponentSender sender(getRoot(), *ComponentsChangeset::instance(changeset), excluded);
    components->accept(sender);
}

std::vector<ComponentSelection> BackendProtocol::parseComponentSelection(const tinybind::Element& request) {
    std::vector<ComponentSelection> selections;
    const tinybind::Element products = request.child("products");
    for (tinybind::ChildIterator product(products, "product"), end; product != end; ++product) {
        ComponentSelection selection;
        selection.productId = (*product).attribute("id");
        const tinybind::Element list = (*product).child("components");
        for (tinybind::ChildIterator component(list, "component"); component != end; ++component) {
            const std::string id = (*component).attribute("id");
            const std::string state = (*component).attribute("state");
            if (state == "install")
                selection.idsToInstall.push_back(id);
            else if (state == "remove")
                selection.idsToRemove.push_back(id);
            else
                Log::stream(3, true) << "DEBUG: BackendProtocol::parseComponentSelection : ignored state ("
                                     << state << ") of component " << id;
        }
        selections.push_back(std::move(selection));
    }
    return selections;
}

bool BackendProtocol::parseConfirmReinstallOldPatch(const tinybind::Element& request, bool& confirm) {
    tinybind::Element answer = request;
    answer.findChild("reinstall_old_patch");
    if (!answer)
        return false;
    confirm = util::to_bool(answer.attribute("confirm"));
    return true;
}

void BackendProtocol::sendComponentsDependenciesInfo(ComponentManager* components,
                                                     const ComponentsChangeset& changeset) {
    setStatus("warning");
    TiXmlElement info("dependencies_info");
    // The changeset keeps its entries by identity; the answer lists them by name so it reads the
    // same on every run.
    std::vector<std::pair<comp_cptr_t, request_mode_t>> entries(changeset.getModeMap().begin(),
                                                                changeset.getModeMap().end());
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.first->getFullName() < b.first->getFullName();
    });
    for (const auto& entry : entries) {
        if (changeset.isExplicit(entry.first))
            continue;
        if (entry.second == REQ_INSTALL)
            appendComponentElement(info, "install", entry.first);
        else if (entry.second == REQ_REMOVE)
            appendComponentElement(
                info, changeset.isMarkedForRemove(entry.first, true) ? "remove" : "denied-remove",
                entry.first);
    }
    if (!components)
        throw internal_error(unit, 1225);
    ConflictingComponentsCollector collector(info, changeset);
    components->accept(collector);
    getRoot().InsertEndChild(info);
}

void BackendProtocol::appendComponentElement(TiXmlElement& parent, const std::string& type,
                                             const comp_cptr_t& component) {
    if (!component)
        return;
    TiXmlElement* element = tinybind::appendElement(parent, "component");
    element->SetAttribute("id", component->name);
    element->SetAttribute("description", component->description);
    element->SetAttribute("type", type);
}

void BackendProtocol::sendConfirmReinstallOldPatch(bool needsConfirm) {
    Log::stream(3, true) << "DEBUG : BackendProtocol::sendConfirmReinstallOldPatch : " << needsConfirm;
    tinybind::setBoolAttribute(*tinybind::appendElement(getRoot(), "reinstall_old_patch"), "needs_confirm",
                               needsConfirm);
}
