#include "common/packages/Dependency.h"

#include "common/packages/Package.h"

#include <cstring>

namespace {

// Never freed: entries made without a package point at it for the life of the process.
Package* dummyMaster() {
    static Package* instance = [] {
        auto dummy = std::make_unique<Package>("dummy_masterpackage_for_dependency", "1.2.3");
        dummy->setType('d');
        return dummy.release();
    }();
    return instance;
}

} // namespace

Dependency::Dependency(kind_t kind, const Package* master)
    : master(master ? master : dummyMaster()), kind(kind) {}

void Dependency::addProvider(const std::shared_ptr<Dependency>& provide) {
    providers.push_back(provide);
}

std::shared_ptr<Dependency> Dependency::getProvider(size_t index) const {
    if (index >= providers.size())
        return {};
    return providers[index].lock();
}

bool Dependency::matchesPackage(const Package* package) const {
    for (const std::shared_ptr<Dependency>& provide : package->getProvides())
        if (matches(provide.get()))
            return true;
    return matches(package->getSelfProvide().get());
}

std::ostream& operator<<(std::ostream& out, const Dependency& dependency) {
    return dependency.print(out);
}

bool isIgnoredRequirement(const char* text) {
    return text && strncmp(text, "rpmlib(", 7) == 0;
}
