#include "installer/console/ChangeState.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "installer/catalogue/Build.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgMessage.h"
#include "installer/console/DlgYesNo.h"

#include <boost/algorithm/string/join.hpp>
#include <boost/format.hpp>

#include <set>
#include <utility>
#include <vector>

namespace {

class ChangeStateLeaveInstalled : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_LEAVE); }
};

class ChangeStateLeaveNotInstalled : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_LEAVE); }
};

class ChangeStateNoUpdate : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_LEAVE); }
};

class ChangeStateInstall : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_INSTALL); }
};

class ChangeStateUpdate : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_INSTALL); }
};

class ChangeStateRemove : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override { return change(manager, REQ_REMOVE); }
};

// A change that cannot be made; applying it tells why.
class ChangeStateInvalid : public ChangeState {
public:
    using ChangeState::ChangeState;
    bool apply(ComponentManager* manager) override;
};

bool ChangeStateInvalid::apply(ComponentManager*) {
    Messages messages;
    if (row == 3 || mark == '!')
        throw error(error::repository, 1, 1, 2)
            << messages.format("err_comp_notavail", component->getFullName());
    if (!component->build->_uninstall_support)
        throw error(error::user, 1, 1, 1) << messages.format("err_comp_instalr", component->description);
    if (mark == '=' && !component->uninstallSupport)
        throw error(error::user, 1, 1, 1)
            << messages.format("err_comp_uninstall_not_supported", component->description);
    Log::stream(2, true)
        << "Warning: components state machine reached ChangeStateInvalid with unrecognized state";
    throw internal_error("installer/DlgComponents", 247);
}

using Entry = std::pair<char, std::shared_ptr<const ChangeState::BaseInstantiator>>;
using Row = std::vector<Entry>;

template <typename State> Entry entry(char mark) {
    return Entry(mark, std::make_shared<const ChangeState::Instantiator<State>>());
}

// Rows 0 to 2; a not-available component (row 3) has no states.
std::vector<Row>& rows() {
    static std::vector<Row> table(3);
    if (table[0].empty() && table[1].empty() && table[2].empty()) {
        table[0] = {entry<ChangeStateLeaveInstalled>('='), entry<ChangeStateRemove>('X')};
        table[1] = {entry<ChangeStateUpdate>('*'), entry<ChangeStateNoUpdate>(' '),
                    entry<ChangeStateRemove>('X')};
        table[2] = {entry<ChangeStateLeaveNotInstalled>(' '), entry<ChangeStateInstall>('*')};
    }
    return table;
}

bool mayBeRemoved(const AiComponent& component) {
    return component.build->_uninstall_support && component.uninstallSupport;
}

size_t explicitNameCount(const ComponentsChangeset& changeset) {
    std::set<std::string> names;
    for (const auto& entry : changeset.getModeMap())
        if (changeset.isExplicit(entry.first))
            names.insert(entry.first->name);
    return names.size();
}

std::string joined(const std::vector<std::string>& names) {
    return boost::algorithm::join(names, ", ");
}

// Asks, or tells, through a dialog of a factory of its own.
int askYesNo(const std::string& text) {
    const std::unique_ptr<DlgMaker> maker(DlgMaker::create());
    const std::unique_ptr<DlgYesNo> question(maker->yesNoDefaultYes(text));
    return question->run();
}

void tell(const std::string& text) {
    const std::unique_ptr<DlgMaker> maker(DlgMaker::create());
    const std::unique_ptr<DlgMessage> message(maker->message(text));
    message->run();
}

} // namespace

int ChangeState::rowOf(int installMode) {
    switch (installMode) {
    case AiComponent::UP2DATE:
        return 0;
    case AiComponent::UPGRADE:
        return 1;
    case AiComponent::INSTALL:
        return 2;
    default:
        return 3;
    }
}

std::unique_ptr<ChangeState> ChangeState::create(int row, char mark, const comp_ptr_t& component,
                                                 bool toggle) {
    if (row == 3 || mark == '!')
        return std::make_unique<ChangeStateInvalid>(row, mark, component);
    const Row& entries = rows().at(row);
    size_t index = 0;
    while (index < entries.size() && entries[index].first != mark)
        ++index;
    if (index == entries.size())
        throw internal_error("installer/DlgComponents", 265);
    if (toggle) {
        index = (index + 1) % entries.size();
        if (entries[index].first == 'X' && !mayBeRemoved(*component))
            index = (index + 1) % entries.size();
        if (entries[index].first == mark)
            return std::make_unique<ChangeStateInvalid>(row, mark, component);
    }
    return entries[index].second->create(row, mark, component);
}

bool ChangeState::change(ComponentManager* manager, request_mode_t mode) {
    ComponentsChangeset changeset;
    changeset.setMode(component, mode);
    if (!manager->resolveComponents(&changeset))
        throw error(error::dependencies, 1, 1, 2)
            << (boost::format("Unable to change state for %s due to inter-component dependencies") %
                component->getFullName())
                   .str();
    const bool confirmed = confirmChangeset(changeset);
    if (confirmed)
        manager->setRequestModes(changeset);
    return confirmed;
}

bool confirmChangeset(ComponentsChangeset& changeset) {
    Messages messages;
    const std::vector<std::string> conflicts = changeset.getConflictNames();
    if (!conflicts.empty()) {
        tell(messages.getMessage("components_group_deny_conflict") + "\n" + joined(conflicts) + "\n" +
             messages.getMessage("components_group_deny_conflict_suggestion") + "\n");
        return false;
    }
    const std::vector<std::string> toInstall = changeset.getImplicitNamesToInstall();
    const std::vector<std::string> toRemove = changeset.getImplicitNamesToRemove();
    const std::vector<std::string> toLeave = changeset.getImplicitNamesToLeave();
    if (toInstall.empty() && toRemove.empty() && toLeave.empty())
        return true;

    const std::vector<comp_cptr_t> denied = changeset.getDeniedImplicitRemovals();
    if (!denied.empty()) {
        std::string text = messages.getMessage("components_deny_implicit_remove");
        for (size_t i = 0; i < denied.size(); ++i)
            text += (i ? ", " : "") + denied[i]->name + " (" + denied[i]->description + ")";
        tell(text + "\n");
        return false;
    }

    const bool single = explicitNameCount(changeset) == 1;
    std::string text =
        messages.getMessage(single ? "components_toggle_also" : "components_group_toggle_also");
    text += "\n";
    if (!toInstall.empty())
        text += messages.getMessage("components_install_also") + joined(toInstall) + "\n";
    if (!toRemove.empty())
        text += messages.getMessage("components_remove_also") + joined(toRemove) + "\n";
    if (!toLeave.empty())
        text += messages.getMessage("components_unmark_also") + joined(toLeave) + "\n";
    text += "\n" + messages.getMessage("components_install_remove_them");
    return askYesNo(text) == Dialog::YES;
}
