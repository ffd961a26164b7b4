#include "installer/components/ComponentsChangesetOps.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/driver/Options.h"

namespace {

const char* const unit = "installer/ComponentsChangesetOps";

} // namespace

ComponentsChangeset::MarkComponentsByName::MarkComponentsByName(ComponentsChangeset* target,
                                                                const std::string& product,
                                                                const std::vector<std::string>& wanted,
                                                                request_mode_t requested, bool explicitChange)
    : changeset(target), productId(product), mode(requested), explicitMark(explicitChange),
      names(wanted.begin(), wanted.end()) {}

void ComponentsChangeset::MarkComponentsByName::record(const comp_ptr_t& component) {
    changeset->setMode(component, mode);
    if (explicitMark)
        changeset->setExplicit(component);
}

void ComponentsChangeset::MarkComponentsByName::visit(const comp_ptr_t& component) {
    if (!productId.empty() && component->getProductId() != productId)
        return;
    if (names.erase(component->name) != 0)
        record(component);
}

void ComponentsChangeset::MarkComponentsByName::beginRadioGroup(const std::shared_ptr<AiRadioGroup>& group) {
    if (!productId.empty() && group->getProductId() != productId)
        return;
    if (names.erase(group->name) == 0)
        return;
    if (mode == REQ_LEAVE || mode == REQ_REMOVE) {
        for (const comp_ptr_t& child : group->children)
            record(child);
    } else if (mode == REQ_INSTALL) {
        record(group->getEffective(changeset.get()));
    }
}

void ComponentsChangeset::MarkComponentsByName::done() {
    if (names.empty())
        return;
    std::string listed;
    std::string joined;
    for (const std::string& name : names) {
        listed += " '" + name + "'";
        joined += (joined.empty() ? "" : ", ") + name;
    }
    if (productId.empty())
        Log::stream(2, true) << "Warning: the following component(s) were not found: " << listed;
    else
        Log::stream(2, true) << "Warning: the following component(s) were not found in product " << productId
                             << ": " << listed;
    if (!Options::instance().strict)
        return;
    Messages messages;
    const std::string useList = messages.getMessage("err_comps_not_found_use_list");
    if (productId.empty())
        throw error(2, 1, 1, 2) << messages.format("err_comps_not_found", joined) + useList;
    throw error(2, 1, 1, 2) << messages.format("err_comps_not_found_in_prod", productId, joined) + useList;
}

ComponentsChangeset::MarkAllComponents::MarkAllComponents(ComponentsChangeset* target,
                                                          const std::string& product,
                                                          request_mode_t requested, bool skipHiddenOnes,
                                                          bool explicitChange)
    : changeset(target), productId(product), mode(requested), explicitMark(explicitChange),
      skipHidden(skipHiddenOnes) {}

void ComponentsChangeset::MarkAllComponents::record(const comp_ptr_t& component) {
    changeset->setMode(component, mode);
    if (explicitMark)
        changeset->setExplicit(component);
}

void ComponentsChangeset::MarkAllComponents::mark(nodes_t::const_iterator first,
                                                  nodes_t::const_iterator last) {
    for (auto it = first; it != last; ++it) {
        const std::shared_ptr<AiCompNode>& node = *it;
        if (!productId.empty() && node->getProductId() != productId)
            continue;
        if (const auto sub = std::dynamic_pointer_cast<AiSubGroup>(node)) {
            mark(sub->children.cbegin(), sub->children.cend());
        } else if (const auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node)) {
            if (mode == REQ_LEAVE || mode == REQ_REMOVE) {
                for (const comp_ptr_t& child : radio->children)
                    record(child);
            } else if (mode == REQ_INSTALL) {
                const comp_ptr_t effective = radio->getEffective(changeset.get());
                if (!changeset->willBeInstalledNew(effective))
                    record(effective);
            }
        } else if (const comp_ptr_t component = std::dynamic_pointer_cast<AiComponent>(node)) {
            if (skipHidden && !component->isVisible())
                continue;
            record(component);
        } else {
            throw internal_error(unit, 141);
        }
    }
}
