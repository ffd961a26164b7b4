#include "installer/engine/Bootstrapper.h"

#include "common/runtime/Log.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/components/ComponentManager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <map>
#include <sstream>

namespace Bootstrapper {

const std::string sequenceValidate = "validate";
const std::string sequencePrep = "prep";
const std::string sequencePkgs = "pkgs";
const std::string sequencePost = "post";
const std::string sequencePostPatch = "post-patch";
const std::string stageExecute = "execute";
const std::string stageCommit = "commit";
const std::string stageRollback = "rollback";
const std::string operationInstall = "install";
const std::string operationRemove = "remove";

Action::~Action() = default;

std::string Action_ExecCmd::describe() const {
    std::ostringstream out;
    out << "parent_name='" << parentName << "', sequence='" << sequence << "', stage='" << stage
        << "', sequence_order='" << sequenceOrder << "', operation='" << operation << "', exec_cmd='"
        << execCmd << "', m_arch='" << arch << "'";
    return out.str();
}

bool Action_ExecCmd::execute() {
    const std::string description = describe();
    Log::stream(3, true) << " Execute bootstrapper action: " << execCmd;
    Timer timer;
    timer.start();
    std::ostringstream output;
    const int code = exec::run_command(execCmd, true, false, &output, nullptr);
    Log::stream(2, true) << "Bootstrapper has finished action (exec time: " << timer.elapsed()
                         << " sec.): " << description << ", output: " << output.str();
    return code == 0;
}

boost::shared_ptr<Action> Action_ExecCmd::clone() const {
    return boost::make_shared<Action_ExecCmd>(*this);
}

void Action_ExecCmd::replaceInCommand(const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    std::string result;
    std::string::size_type start = 0;
    std::string::size_type found;
    while ((found = execCmd.find(from, start)) != std::string::npos) {
        result.append(execCmd, start, found - start);
        result += to;
        start = found + from.size();
    }
    result.append(execCmd, start, std::string::npos);
    execCmd = result;
}

void loadActions(const tinybind::Element& element, const std::string& parentName, actions_t& actions) {
    for (tinybind::ChildIterator it(element, "action"), end; it != end; ++it) {
        const tinybind::Element child = *it;
        auto action = boost::make_shared<Action_ExecCmd>();
        action->parentName = parentName;
        action->sequence = child.requiredAttribute("sequence");
        tinybind::readAttribute(action->stage, child.get(), "stage");
        std::string order;
        if (tinybind::readAttribute(order, child.get(), "sequence-order")) {
            try {
                action->sequenceOrder = static_cast<int32_t>(util::to_long(order));
            } catch (error& e) {
                e.addLine(1, 1, 1, 3)
                    << "Wrong sequence-order '" << order << "' of a bootstrapper action of " << parentName;
                throw;
            }
        }
        tinybind::readAttribute(action->operation, child.get(), "operation");
        const char* critical = child.get()->Attribute("critical");
        action->critical = !(critical && std::string(critical) == "false");
        action->execCmd = child.requiredAttribute("exec-cmd");
        tinybind::readAttribute(action->arch, child.get(), "arch");
        Log::stream(3, true) << " add action sequence: " << action->sequence
                             << ", sequence_order:" << action->sequenceOrder
                             << ", operation:" << action->operation << ", stage:" << action->stage
                             << ", exec_cmd: " << action->execCmd;
        actions.push_back(action);
    }
}

bool SequenceMatch::matches(const Action& action) const {
    return action.sequence == sequence && action.stage == stage && action.operation == operation;
}

namespace {

void appendMatching(const actions_t& actions, const SequenceMatch& match, action_refs_t& result) {
    for (const boost::shared_ptr<Action>& action : actions)
        if (match.matches(*action))
            result.push_back(action.get());
}

// Collects the component-specific actions during the walk and marks the products whose build-specific
// actions follow: 2 when a component of the product will be installed, 1 when components only go.
class SequenceGetter : public ComponentManager::Visitor {
public:
    SequenceGetter(SequenceMatch& match, action_refs_t& result) : match(match), result(result) {}

    void visit(const comp_ptr_t& component) override {
        addComponentActions(*component);
        int& mark = products[component->getProductId()];
        if (component->willBeInstalled())
            mark = 2;
        else if (component->isMarkedForRemove() && mark != 2)
            mark = 1;
    }

    // Product id to mark; 0 for products that contribute nothing.
    std::map<std::string, int> products;

private:
    void addComponentActions(const AiComponent& component) {
        if (component.requestMode == REQ_REMOVE)
            return;
        if (component.requestMode != REQ_INSTALL && !(component.isInstalled() && component.packagesUpgraded))
            return;
        if (component.bootstrapperActions.empty())
            return;
        match.operation = operationInstall;
        Log::stream(3, true) << component.name << ": get component specific actions for " << match.sequence
                             << "/" << match.stage << "/" << match.operation;
        appendMatching(component.bootstrapperActions, match, result);
    }

    SequenceMatch& match;
    action_refs_t& result;
};

bool runActions(const action_refs_t& actions) {
    for (Action* action : actions)
        if (!action->execute() && action->critical)
            return false;
    return true;
}

bool collectAndRun(ComponentManager* components, SequenceMatch& match) {
    action_refs_t actions;
    getActionsSequence(components, match, actions);
    return runActions(actions);
}

} // namespace

void getActionsSequence(ComponentManager* components, SequenceMatch& match, action_refs_t& result) {
    checked_pointer<ComponentManager> tree(components);
    const size_t first = result.size();
    SequenceGetter getter(match, result);
    tree->accept(getter);
    for (const auto& product : getter.products) {
        if (product.second == 0)
            continue;
        match.operation = product.second == 2 ? operationInstall : operationRemove;
        Log::stream(3, true) << product.first << ": get build specific actions for " << match.sequence << "/"
                             << match.stage << "/" << match.operation;
        const comp_ptr_t base = tree->getBaseComponent(product.first);
        if (base)
            appendMatching(base->build->_bootstrapper_actions, match, result);
    }
    std::stable_sort(result.begin() + static_cast<std::ptrdiff_t>(first), result.end(),
                     [](const Action* a, const Action* b) { return a->sequenceOrder < b->sequenceOrder; });
}

bool performActions(ComponentManager* components, const std::string& sequence) {
    SequenceMatch match{sequence, stageExecute, ""};
    const bool succeeded = collectAndRun(components, match);
    match.stage = succeeded ? stageCommit : stageRollback;
    collectAndRun(components, match);
    return succeeded;
}

bool performPkgsFailureActions(ComponentManager* components) {
    SequenceMatch match{sequencePkgs, stageRollback, ""};
    return collectAndRun(components, match);
}

} // namespace Bootstrapper
