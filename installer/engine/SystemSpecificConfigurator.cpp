#include "installer/engine/SystemSpecificConfigurator.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

namespace {

const char* const unit = "installer/SystemSpecificConfigurator";

} // namespace

SystemSpecificConfigurator::~SystemSpecificConfigurator() = default;

void SystemSpecificConfigurator::configureSystem() {
    if (configured)
        throw internal_error(unit, 31);
    doConfigureSystem();
    configured = true;
}

std::string SystemSpecificConfigurator::checkConfiguration() {
    if (!configured)
        throw internal_error(unit, 45);
    if (!checkCached) {
        checkText = doCheckConfiguration();
        checkCached = true;
    }
    return checkText;
}

const Package* SystemSpecificConfigurator::getAvailablePackage(const std::string& name) {
    if (!configured)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_sysconf_init");
    return doGetAvailablePackage(name);
}

void SystemSpecificConfigurator::cleanup() {
    if (configured)
        doCleanup();
}

void SystemSpecificConfigurator::finalize() {
    if (configured)
        doFinalize();
}

void SystemSpecificConfigurator::rollback() {
    Log::stream(3, true) << "SystemSpecificConfigurator: rollback";
    commitChanges = false;
    finalize();
}

void SystemSpecificConfigurator::setCommitChanges() {
    Log::stream(3, true) << "SystemSpecificConfigurator: set commitChanges flag = true";
    commitChanges = true;
}

std::string SystemSpecificConfigurator::doCheckConfiguration() {
    return "";
}
