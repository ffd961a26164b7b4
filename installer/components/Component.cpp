#include "installer/components/Component.h"

#include "common/packages/DebPackage.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

Component::Component() = default;

Component::Component(const char* text) {
    const std::string whole = text ? text : "";
    const size_t blank = whole.find(' ');
    name = whole.substr(0, blank);
    if (name.empty())
        throw error(1, 1, 1, 1) << Messages().getMessage("err_bad_component");
    if (blank != std::string::npos)
        description = whole.substr(blank + 1);
    if (description.empty())
        description = name + "(no description available";
}

namespace {

const Package* firstPackage(const Component& component) {
    if (component.packages.empty())
        throw error(1, 1, 1, 3) << Messages().format("err_empty_comp", component.name);
    return component.packages.front();
}

} // namespace

bool Component::isRPMBased() const {
    return dynamic_cast<const RPMPackage*>(firstPackage(*this)) != nullptr;
}

bool Component::isDebBased() const {
    return dynamic_cast<const DebPackage*>(firstPackage(*this)) != nullptr;
}
