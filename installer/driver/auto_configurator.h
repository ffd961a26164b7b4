#pragma once

#include "installer/engine/SystemSpecificConfigurator.h"

#include <memory>

namespace driver {

// Owns the run's package-manager configurator and is never empty. A configurator it lets go, when
// replaced or at the holder's end, is cleaned up (unless switched off) and finalised exactly once.
class auto_configurator {
public:
    // The configurator of systems without a package manager family of their own: it does nothing.
    class DummyConfigurator : public SystemSpecificConfigurator {
    public:
        void reconfigureSources() override {}
        void prepareAvailablePackagesList(names_iterator, names_iterator) override {}
        std::shared_ptr<Installer> createInstaller(ComponentManager&, StageActions&) override {
            return nullptr;
        }

    protected:
        const Package* doGetAvailablePackage(const std::string&) override { return nullptr; }
        void doConfigureSystem() override {}
        void doPrepare() override {}
        void doCleanup() override {}
        void doFinalize() override {}
    };

    // Takes the configurator over; null holds a DummyConfigurator.
    auto_configurator(SystemSpecificConfigurator* configurator, bool cleanup);
    auto_configurator(const auto_configurator&) = delete;
    auto_configurator& operator=(const auto_configurator&) = delete;
    // Errors of the cleanup and finalisation are swallowed here.
    ~auto_configurator();

    // Lets the held configurator go and holds this one (null: a DummyConfigurator). Errors of the
    // old one's cleanup and finalisation reach the caller: the old one stays held, the new one is
    // destroyed.
    void reset(SystemSpecificConfigurator* configurator);

    // Valid until the next reset or the holder's end.
    SystemSpecificConfigurator* get() const { return held.get(); }
    SystemSpecificConfigurator* operator->() const { return held.get(); }

private:
    static std::unique_ptr<SystemSpecificConfigurator> orDummy(SystemSpecificConfigurator* configurator);

    std::unique_ptr<SystemSpecificConfigurator> held;
    bool cleanup;
};

} // namespace driver
