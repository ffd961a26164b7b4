#include "installer/components/Param.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ParamManager.h"

#include <algorithm>

namespace {

const char* const unit = "installer/Param";

// The settings whose defaults are being expanded on this thread, innermost last. A default that
// quotes a setting already on this list would expand for ever.
thread_local std::vector<const Param*> expanding;

class ExpansionGuard {
public:
    explicit ExpansionGuard(const Param* param) {
        if (std::find(expanding.begin(), expanding.end(), param) != expanding.end())
            throw error(error::repository, 1, 1, 3)
                << "The default value of the setting '" << param->id << "' refers to itself";
        expanding.push_back(param);
    }
    ExpansionGuard(const ExpansionGuard&) = delete;
    ExpansionGuard& operator=(const ExpansionGuard&) = delete;
    ~ExpansionGuard() { expanding.pop_back(); }
};

} // namespace

Param::Param(const std::shared_ptr<AiComponent>& component, const std::string& id)
    : id(id), ownerComponents{component} {}

Param::~Param() = default;

bool Param::isValid() const {
    return hasValue();
}

void Param::assign(const std::string& text) {
    acceptedValue = text;
}

void Param::setTexts(const std::string& name, const std::string& description, const std::string& error) {
    displayName = name;
    displayDescription = description;
    errorMessage = error;
}

void Param::setDefault(const std::string& text) {
    defaultValue = text;
    hasDefault = true;
}

std::string Param::getDefault() const {
    if (!hasDefault)
        throw error(error::internal, 1, 1, 3)
            << "Param::getDefault - default value is not set for opton " << id;
    std::string text = defaultValue;
    if (ParamManager* manager = ParamManager::instance()) {
        ExpansionGuard guard(this);
        manager->expandDefault(text);
    }
    return text;
}

std::string Param::getValue() const {
    if (isValid())
        return acceptedValue;
    if (hasDefault)
        return getDefault();
    return std::string();
}

bool Param::setValue(const std::string& text) {
    if (is_readonly())
        throw error(error::internal, 1, 1, 2) << "Param::setValue: try to change read-only param";
    enteredText = text;
    if (!validate(text)) {
        lastValueAccepted = false;
        return false;
    }
    assign(text);
    valueNotSet = false;
    lastValueAccepted = true;
    return true;
}

bool Param::is_readonly() const {
    bool readonly = false;
    for (const std::shared_ptr<AiComponent>& component : ownerComponents) {
        const int status = component->getInstallMode();
        if (status == AiComponent::UPGRADE || status == AiComponent::UP2DATE)
            readonly = true;
    }
    Log::stream(3, true) << "Param::is_readonly: " << id << " return " << (readonly ? "true" : "false");
    return readonly;
}

bool Param::hasUnselectedComponent() const {
    for (const std::shared_ptr<AiComponent>& component : ownerComponents)
        if (!component->isMarkedForInstall())
            return true;
    return false;
}

std::string Param::getErrorMessage() const {
    if (validationDetail.empty())
        return errorMessage;
    return errorMessage + " - " + validationDetail;
}

const std::vector<std::shared_ptr<AiComponent>>& Param::getComponents() const {
    if (ownerComponents.empty())
        throw internal_error(unit, 98);
    return ownerComponents;
}

bool SubParams::isValid() const {
    if (valueNotSet)
        return false;
    const auto branch = branchMap.find(acceptedValue);
    if (branch == branchMap.end())
        return true;
    for (const param_ptr_t& nested : branch->second)
        if (!nested->isValid())
            return false;
    return true;
}

std::vector<std::string> SubParams::getBranchNames() const {
    std::vector<std::string> names;
    for (const auto& branch : branchMap)
        names.push_back(branch.first);
    return names;
}

void SubParams::addToBranch(const std::string& branch, const param_ptr_t& param) {
    branchMap[branch].push_back(param);
}

params_t SubParams::getBranch(const std::string& branch) const {
    Log::stream(3, true) << "DEBUG: SubParams::getBranch: br=" << branch << ", param ID " << id;
    const auto found = branchMap.find(branch);
    if (found == branchMap.end())
        throw internal_error(unit, 192);
    return found->second;
}
