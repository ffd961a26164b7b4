#include "installer/driver/ComponentsReporter.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamPassword.h"
#include "installer/driver/Options.h"
#include "installer/patches/MUInstalledDB.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/join.hpp>

#include <tinyxml.h>

namespace {

const char* const unit = "installer/ComponentsReporter";
const char* const groupId = "__SUBGROUP";

// A yes/no value as the listing shows it.
std::string yesNo(const std::string& value) {
    const std::string word = boost::algorithm::to_lower_copy(value);
    if (word == "true" || word == "yes" || word == "y")
        return "yes";
    if (word == "false" || word == "no" || word == "n")
        return "no";
    throw internal_error(unit, 82);
}

// Each component with its state; with show-options, its settings below it.
class TextComponentsReporter : public ComponentManager::Visitor {
public:
    TextComponentsReporter(std::ostream& out, ParamManager& params, bool showOptions)
        : out(out), params(params), showOptions(showOptions) {}

    void visit(const comp_ptr_t& component) override {
        out << "  " << Reporter::padded(component->name, 18) << "[" << component->getInstallModeName()
            << "] - " << component->getDescription() << "\n";
        if (!showOptions)
            return;
        ComponentsReporter::OptionsPrinter printer(component, out);
        params.accept(printer, nullptr, false);
        optionsPrinted += printer.printed();
    }

    void done() override {
        if (showOptions && optionsPrinted == 0)
            Log::stream(0, true) << Messages().getMessage("comps_no_options");
    }

private:
    std::ostream& out;
    ParamManager& params;
    bool showOptions;
    int optionsPrinted = 0;
};

void addText(TiXmlElement& parent, const char* name, const std::string& text) {
    TiXmlElement child(name);
    child.InsertEndChild(TiXmlText(text));
    parent.InsertEndChild(child);
}

void addDependencies(TiXmlElement& list, const std::vector<std::string>& names, const char* type) {
    for (const std::string& name : names) {
        TiXmlElement dependency("dependency");
        dependency.SetAttribute("id", name);
        dependency.SetAttribute("type", type);
        list.InsertEndChild(dependency);
    }
}

TiXmlElement componentElement(const AiComponent& component) {
    TiXmlElement element("component");
    element.SetAttribute("id", component.name);
    element.SetAttribute("classes", boost::algorithm::join(component.classes, ","));
    element.SetAttribute("action", component.getInstallModeName());
    element.SetAttribute("serverbuildtime", std::to_string(component.getServerBuildTime()));
    element.SetAttribute("localbuildtime", std::to_string(component.getLocalBuildTime()));
    element.SetAttribute("serverversion", component.getServerVersion());
    element.SetAttribute("localversion", component.getLocalVersion());
    element.SetAttribute("kernelupdate", "false");
    if (component.required)
        element.SetAttribute("required", "true");
    addText(element, "description", component.getDescription());
    TiXmlElement dependencies("dependencies");
    addDependencies(dependencies, component.hardwired_with, "hardwired");
    addDependencies(dependencies, component.requires, "required");
    addDependencies(dependencies, component.conflicts, "conflict");
    element.InsertEndChild(dependencies);
    return element;
}

// Fills `components` with the components of one release.
class CompNodeInserter : public ComponentManager::Visitor {
public:
    CompNodeInserter(TiXmlElement& components, const Release& release, bool showOptions)
        : components(components), release(release), showOptions(showOptions) {}

    void visit(const comp_ptr_t& component) override {
        const boost::shared_ptr<Release> owner = component->getRelease();
        if (!owner || owner->_id != release._id)
            return;
        if (showOptions)
            throw error(error::internal, 1, 1, 3)
                << "ComponentsReporter: --show-options with --enable-xml-output is not implemented.";
        components.InsertEndChild(componentElement(*component));
    }

private:
    TiXmlElement& components;
    const Release& release;
    bool showOptions;
};

} // namespace

ComponentsReporter::ComponentsReporter(Repository* repository, BuildManager* catalogue,
                                       ComponentManager* components, ParamManager* params)
    : Reporter(ok, ""), repository(repository), catalogue(catalogue), components(components), params(params) {
}

std::ostream& ComponentsReporter::put(std::ostream& out) const {
    if (Options::enableXmlOutput)
        putXml(out);
    else
        putText(out);
    return out;
}

void ComponentsReporter::putText(std::ostream& out) const {
    TextComponentsReporter reporter(out, *params, Options::instance().showOptions);
    components->accept(reporter);
    out.flush();
}

void ComponentsReporter::putXml(std::ostream& out) const {
    const bool showOptions = Options::instance().showOptions;
    TiXmlElement releases("releases");
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true)) {
        if (!release->_selected)
            continue;
        const std::string version = release->_version.getVersionWithEpoch();
        TiXmlElement element("release");
        element.SetAttribute("id", release->_id);
        element.SetAttribute("version", version);
        if (const MUInstalledDB::PatchRecord* patch =
                MUInstalledDB::instance().lastPatch(release->prod()->_id, version))
            element.SetAttribute("installed_patch", patch->version.toString());
        addText(element, "description", release->_name);
        TiXmlElement list("components");
        CompNodeInserter inserter(list, *release, showOptions);
        components->accept(inserter);
        element.InsertEndChild(list);
        releases.InsertEndChild(element);
    }
    printXml(out, &releases);
}

ComponentsReporter::OptionsPrinter::OptionsPrinter(const std::shared_ptr<AiComponent>& component,
                                                   std::ostream& out)
    : component(component), out(out) {}

void ComponentsReporter::OptionsPrinter::visit(const param_ptr_t& param) {
    inside = param->getComponents().front() == component;
    if (!inside || param->id == groupId || dynamic_cast<const ParamHidden*>(param.get()))
        return;
    out << margin() << "Option: " << param->id << " - " << param->displayName << "\n";
    if (const auto* choice = dynamic_cast<const ParamEnum*>(param.get()))
        for (const auto& entry : choice->choiceList)
            out << margin() << "  " << entry.first << " - " << entry.second << "\n";
    printValue(*param);
    ++count;
}

void ComponentsReporter::OptionsPrinter::printValue(const Param& param) {
    std::string word, value;
    if (param.isValid()) {
        word = "Current: ";
        value = param.acceptedValue;
    } else if (param.hasDefault) {
        word = "Default: ";
        value = param.getDefault();
    } else {
        return;
    }
    if (dynamic_cast<const ParamBool*>(&param))
        value = yesNo(value);
    else if (dynamic_cast<const ParamPassword*>(&param))
        value = std::string(value.size(), '*');
    out << margin() << "  " << word << value << "\n";
}

void ComponentsReporter::OptionsPrinter::beginBranch(const param_ptr_t& param, const std::string& branch) {
    if (!inside)
        return;
    if (param->id == groupId)
        // A group has no name of its own: its heading is its description.
        out << margin() << "=== " << param->displayDescription << " ===\n";
    else
        out << margin() << "For variant '" << (dynamic_cast<const ParamBool*>(param.get()) ? "yes" : branch)
            << "' following sub-options available:\n";
    indent += 2;
}

void ComponentsReporter::OptionsPrinter::endBranch(const param_ptr_t& /*param*/,
                                                   const std::string& /*branch*/) {
    if (inside)
        indent -= 2;
}
