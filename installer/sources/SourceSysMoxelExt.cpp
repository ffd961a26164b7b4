#include "installer/sources/SourceSysMoxelExt.h"

#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/sources/ExtensionPackages.h"

#include <sstream>

namespace {

std::string text(const Dependency& dependency) {
    std::ostringstream out;
    dependency.print(out);
    return out.str();
}

bool named(const std::vector<Package*>& packages, const PooledString& name) {
    for (const Package* package : packages)
        if (package->getName() == name)
            return true;
    return false;
}

} // namespace

SourceSysMoxelExt::SourceSysMoxelExt(Repository* repository, ComponentManager* components)
    : Source(repository), components(components) {}

SourceSysMoxelExt::~SourceSysMoxelExt() = default;

void SourceSysMoxelExt::doGetFull() {}

void SourceSysMoxelExt::addInstalledCopy(const ExtCatalogPackage& package, std::vector<Package*>& copies) {
    const std::string version = ExtensionPackages(getRepository()).detectVersion(&package);
    if (version.empty())
        return;
    auto copy = std::make_unique<ExtCatalogPackage>(package.getName().str(), version);
    copy->addProvide(copy->getSelfProvide());
    copy->setArch(package.getArch().str());
    copy->setType('s');
    copy->setXml(*package.getXml());
    for (const std::string& className : package.getClasses())
        copy->addClass(className);
    for (const auto& property : package.getProperties())
        copy->setProperty(property.first, property.second);
    for (const auto& require : package.getRequires())
        copy->addRequire(text(*require));
    for (const auto& conflict : package.getConflicts())
        copy->addConflict(text(*conflict));
    for (const auto& obsolete : package.getObsoletes())
        copy->addObsolete(text(*obsolete));
    const std::shared_ptr<Dependency> own = package.getSelfProvide();
    for (const auto& provide : package.getProvides())
        if (provide != own)
            copy->addProvide(text(*provide));
    copies.push_back(keepForever(std::move(copy)));
}

void SourceSysMoxelExt::doGetBrief() {
    Log::stream(2, true) << "Checking for installed in extension catalog packages";
    if (!components)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_no_cm");
    Repository* repository = getRepository();
    std::vector<Package*> copies;
    for (Package* package : repository->getPackages()) {
        Log::stream(3, true) << "debug: SourceSysMoxelExt::doGetBrief: " << package->getName();
        if (const auto* extension = dynamic_cast<const ExtCatalogPackage*>(package))
            addInstalledCopy(*extension, copies);
    }
    for (const auto& listed : ExtensionPackages(repository).listInstalled()) {
        if (named(copies, listed->getName()))
            continue;
        try {
            addInstalledCopy(*listed, copies);
        } catch (const error& e) {
            Log::stream(1, true) << "WARNING: failed to get information about installed "
                                 << "'" << listed->getName() << "' extension: " << e.getText();
        }
    }
    Log::stream(3, true) << "debug: SourceSysMoxelExt::doGetBrief: add to repository system packages";
    for (Package* copy : copies)
        repository->addPackage(copy, this);
}
