#include "installer/engine/Bootstrapper.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"

#include <boost/make_shared.hpp>

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

} // namespace Bootstrapper
