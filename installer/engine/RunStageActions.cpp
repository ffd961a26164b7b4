#include "installer/engine/RunStageActions.h"

#include "installer/engine/Bootstrapper.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/sources/ExtensionPackages.h"

RunStageActions::RunStageActions(ComponentManager& components, Repository& repository)
    : components(components), repository(repository) {}

bool RunStageActions::performActions(const std::string& sequence) {
    return Bootstrapper::performActions(&components, sequence);
}

bool RunStageActions::performPkgsFailureActions() {
    return Bootstrapper::performPkgsFailureActions(&components);
}

void RunStageActions::reportProgressStep(const std::string& step, const std::string& text) {
    ::reportProgressStep(step, text);
}

void RunStageActions::removeExtensions(const cpkgs_t& plan) {
    ExtensionPackages(&repository).removeAll(plan);
}

void RunStageActions::installExtensions(const cpkgs_t& plan) {
    ExtensionPackages(&repository).installAll(plan);
}
