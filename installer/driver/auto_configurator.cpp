#include "installer/driver/auto_configurator.h"

namespace driver {

auto_configurator::auto_configurator(SystemSpecificConfigurator* configurator, bool cleanup)
    : held(orDummy(configurator)), cleanup(cleanup) {}

auto_configurator::~auto_configurator() {
    if (cleanup) {
        try {
            held->cleanup();
        } catch (...) {
        }
    }
    try {
        held->finalize();
    } catch (...) {
    }
}

void auto_configurator::reset(SystemSpecificConfigurator* configurator) {
    if (configurator == held.get())
        return;
    std::unique_ptr<SystemSpecificConfigurator> next = orDummy(configurator);
    if (cleanup)
        held->cleanup();
    held->finalize();
    held = std::move(next);
}

std::unique_ptr<SystemSpecificConfigurator>
auto_configurator::orDummy(SystemSpecificConfigurator* configurator) {
    if (configurator)
        return std::unique_ptr<SystemSpecificConfigurator>(configurator);
    return std::make_unique<DummyConfigurator>();
}

} // namespace driver
