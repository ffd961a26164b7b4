#pragma once

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

class ComponentManager;
namespace tinybind {
class Element;
}

// Shell commands that build descriptions declare around the package transaction. An action belongs to
// a component or to a build and is picked for a step by its sequence, stage and operation.
namespace Bootstrapper {

// Sequences.
extern const std::string sequenceValidate;
extern const std::string sequencePrep;
extern const std::string sequencePkgs;
extern const std::string sequencePost;
extern const std::string sequencePostPatch;
// Stages.
extern const std::string stageExecute;
extern const std::string stageCommit;
extern const std::string stageRollback;
// Operations.
extern const std::string operationInstall;
extern const std::string operationRemove;

class Action {
public:
    Action() = default;
    Action(const Action&) = default;
    Action& operator=(const Action&) = delete;
    virtual ~Action();

    // Whether the action succeeded.
    virtual bool execute() = 0;
    // A new action with every field copied.
    virtual boost::shared_ptr<Action> clone() const = 0;
    // Replaces every occurrence of `from` in the command, left to right, without rescanning what
    // was inserted.
    virtual void replaceInCommand(const std::string& from, const std::string& to) = 0;

    std::string sequence;
    std::string stage = stageExecute;
    int32_t sequenceOrder = 0;
    std::string operation = operationInstall;
    // The component or release that declares the action.
    std::string parentName;
    // A failing critical action stops its sequence.
    bool critical = true;
};

// An action that runs one command through the shell.
class Action_ExecCmd : public Action {
public:
    bool execute() override;
    boost::shared_ptr<Action> clone() const override;
    void replaceInCommand(const std::string& from, const std::string& to) override;

    // Every field, for the log.
    std::string describe() const;

    std::string execCmd;
    // Shown in the description only; it does not filter.
    std::string arch;
};

// Owns its actions, in declaration order.
using actions_t = std::vector<boost::shared_ptr<Action>>;

// Appends an action for every "action" child of a bootstrapper element, in document order. A missing
// "sequence" or "exec-cmd" raises tinybind::err; a "sequence-order" that is not a number raises
// err_non_digit.
void loadActions(const tinybind::Element& element, const std::string& parentName, actions_t& actions);

// Selects actions by exact sequence, stage and operation.
struct SequenceMatch {
    std::string sequence;
    std::string stage;
    std::string operation;

    bool matches(const Action& action) const;
};

// Actions owned by components and builds, in execution order.
using action_refs_t = std::vector<Action*>;

// Appends the matching actions of the selection: those of the components to install or upgrade, then
// per product (by id) those of its build, with the "install" operation when a component of the product
// stays or comes, "remove" when its components only go. Sorted stably by sequence order.
void getActionsSequence(ComponentManager* components, SequenceMatch& match, action_refs_t& result);
// The execute actions of the sequence, then its commit actions, or its rollback actions after a
// failing critical one. False when a critical execute action failed.
bool performActions(ComponentManager* components, const std::string& sequence);
// The rollback actions of the "pkgs" sequence, after a failed package transaction.
bool performPkgsFailureActions(ComponentManager* components);

} // namespace Bootstrapper
