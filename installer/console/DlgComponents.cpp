#include "installer/console/DlgComponents.h"

#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/console/ChangeState.h"

DlgComponents::DlgComponents(ComponentManager* manager) : manager(manager) {
    const comp_ptr_t base = manager->getBaseComponent("");
    if (base && base->getInstallMode() == AiComponent::INSTALL)
        manager->selectBaseComponent();
    ComponentManager::MarkNeedForRequired marker(manager);
    manager->accept(marker);
}

void DlgComponents::toggleComponent(const comp_ptr_t& component) {
    const std::unique_ptr<ChangeState> current = ChangeState::create(
        ChangeState::rowOf(component->getInstallMode()), component->getStatusChar(), component, false);
    const std::unique_ptr<ChangeState> next =
        ChangeState::create(current->row, current->mark, component, true);
    next->apply(manager);
}
