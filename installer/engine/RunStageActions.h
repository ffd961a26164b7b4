#pragma once

#include "installer/engine/StageActions.h"

class ComponentManager;
class Repository;

// The stage actions of one run: the component tree's bootstrapper actions, the shared progress step
// and the panel's extension tool.
class RunStageActions : public StageActions {
public:
    RunStageActions(ComponentManager& components, Repository& repository);

    bool performActions(const std::string& sequence) override;
    bool performPkgsFailureActions() override;
    void reportProgressStep(const std::string& step, const std::string& text) override;
    void removeExtensions(const cpkgs_t& plan) override;
    void installExtensions(const cpkgs_t& plan) override;

private:
    ComponentManager& components;
    Repository& repository;
};
