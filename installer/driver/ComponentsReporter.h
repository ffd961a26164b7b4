#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/Reporter.h"

#include <memory>

class AiComponent;
class BuildManager;
class ComponentManager;
class Repository;

// The components of the selected releases with their installation state and, with show-options,
// their settings and current or default values.
class ComponentsReporter : public Reporter {
public:
    ComponentsReporter(Repository* repository, BuildManager* catalogue, ComponentManager* components,
                       ParamManager* params);

    std::ostream& put(std::ostream& out) const override;

    // Prints the settings of one component, indented by their nesting.
    class OptionsPrinter : public ParamManager::Visitor {
    public:
        OptionsPrinter(const std::shared_ptr<AiComponent>& component, std::ostream& out);

        void visit(const param_ptr_t& param) override;
        void beginBranch(const param_ptr_t& param, const std::string& branch) override;
        void endBranch(const param_ptr_t& param, const std::string& branch) override;

        int printed() const { return count; }

    private:
        void printValue(const Param& param);
        std::string margin() const { return std::string(indent, ' '); }

        std::shared_ptr<AiComponent> component;
        std::ostream& out;
        size_t indent = 4;
        bool inside = false;
        int count = 0;
    };

private:
    void putText(std::ostream& out) const;
    void putXml(std::ostream& out) const;

    checked_pointer<Repository> repository;
    checked_pointer<BuildManager> catalogue;
    checked_pointer<ComponentManager> components;
    checked_pointer<ParamManager> params;
};
