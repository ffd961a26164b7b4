#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/components/AiRadioGroup.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

bool holdsName(const cpkgs_t& out, PooledString name) {
    return std::any_of(out.begin(), out.end(),
                       [name](const Package* package) { return package->getName() == name; });
}

bool installedSameOrNewer(const Package* installed, const Package* package) {
    return installed && installed->getVersion().compare(package->getVersion()) >= 0;
}

void registerProgress(const AiComponent* component, const Package* package) {
    ProductsProgress* progress = ProductsProgress::instance();
    if (progress && component)
        progress->add_product_package(component->getRelease(), package->getName().str());
}

// Appends the build packages of the list; each must be one of the build's package headers.
void addPackages(const AiComponent* component, const cpkgs_t& list, Repository& repository, cpkgs_t& out) {
    for (const Package* wanted : list) {
        const Package* package =
            repository.findPackage(wanted->getName(), wanted->getVersion(), wanted->getArch().str());
        if (!package) {
            Log::stream(1, true) << "Package " << *wanted
                                 << " from inf3 file not found in build headers (hdr.gz) file.";
            throw error(1, 1, 1, 3) << Messages().format("err_misheaders", ".inf3", ".hdr.gz");
        }
        if (holdsName(out, package->getName()))
            continue;
        if (const Package* installed = repository.findInstalled(package->getName())) {
            if (installedSameOrNewer(installed, package)) {
                Log::stream(1, true)
                    << "  skip package '" << *package << "'"
                    << " from component " << (component ? component->name : "<unknown>")
                    << " - same or newer version of this package is already installed (in system "
                    << *installed << ")";
                continue;
            }
            const std::string from = installed->getArch().str();
            const std::string to = package->getArch().str();
            if (dynamic_cast<const RPMPackage*>(package) && !from.empty() && !to.empty() && from != to &&
                from[0] == 'i' && to[0] == 'i')
                Log::stream(1, true) << "Warning: The package architecture will be changed during upgrade: "
                                        "Trying to upgrade "
                                     << *installed << " to " << *package;
        }
        out.push_back(package);
        Log::stream(3, true) << "  Scheduling the following package for installation: "
                             << package->getFileName();
        registerProgress(component, package);
    }
}

void logPackageList(const char* title, const cpkgs_t& out) {
    Log::stream line(2, true);
    line << title;
    if (out.empty())
        line << "(empty)";
    for (const Package* package : out)
        line << *package << " ";
}

class PackagesToInstall : public ComponentManager::Visitor {
public:
    PackagesToInstall(cpkgs_t& out, Repository& repository,
                      checked_pointer<SystemSpecificConfigurator> configurator)
        : out(out), repository(&repository), configurator(configurator) {}

    void visit(const comp_ptr_t& component) override {
        if (component->isMarkedForInstall())
            addForInstall(*component);
        else if (component->isMarkedForRemove())
            addForRemove(*component);
    }

private:
    void addForInstall(const AiComponent& component) {
        Log::stream(3, true) << "Get packages for installation from selected component " << component.name;
        addPackages(&component, component.packages, *repository, out);
        if (!component.rmpackages.empty()) {
            Log::stream(3, true) << "Get packages for removal from selected component " << component.name
                                 << " (via <rmpackages>)";
            for (const std::string& name : component.rmpackages) {
                if (!repository->findInstalled(PooledString(name)))
                    continue;
                out.push_back(repository->addRemoverFor(name));
                Log::stream(3, true) << "  Scheduling the following package for remove: " << name;
            }
        }
        if (component.keyPackageSets.empty())
            return;
        for (const Component::keypackages_t& section : component.keyPackageSets) {
            if (section.keyprovides.empty() || !component.matchesKeySection(section, repository.get()))
                continue;
            addKeyPackages(component, section.keypackages);
            addKeyPackages(component, providerNames(section));
            return;
        }
        addKeyPackages(component, component.keyPackageSets.front().keypackages);
    }

    // The installed packages behind the key provides of the section, in order.
    std::vector<std::string> providerNames(const Component::keypackages_t& section) const {
        std::vector<std::string> names;
        for (const std::string& capability : section.keyprovides) {
            const Package* provider = repository->findBestInstalledProvider(capability);
            if (!provider)
                throw error(1, 1, 1, 3) << "Failed to add package to install list by key provide: "
                                           "no packages that provide '"
                                        << capability << "' are installed.";
            names.push_back(provider->getName().str());
        }
        return names;
    }

    void addKeyPackages(const AiComponent& component, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            if (holdsName(out, PooledString(fileops::basename(name))))
                continue;
            const Package* best =
                component.findBestPackage(name, repository.get(), configurator.raw(), false);
            if (!best) {
                Log::stream(1, true) << "Warning: key package " << name << " is not available";
                continue;
            }
            const Package* package =
                repository->findPackage(best->getName(), best->getVersion(), best->getArch().str());
            if (!package)
                package = best;
            const Package* installed = repository->findInstalled(package->getName());
            if (installedSameOrNewer(installed, package)) {
                Log::stream(2, true) << "  skip  keypackage '" << *package << "'"
                                     << " from component " << component.name
                                     << " - same or newer version of this package is already installed"
                                     << " (in system " << *installed << ")";
                continue;
            }
            out.push_back(package);
            Log::stream(3, true) << "  add package from keypackage to install list: "
                                 << package->getFileName();
            registerProgress(&component, package);
        }
    }

    void addForRemove(const AiComponent& component) {
        Log::stream(3, true) << "Get packages for removal from selected component " << component.name;
        if (const AiRadioGroup* group = component.radioGroup.raw()) {
            const comp_ptr_t chosen = group->getEffective();
            if (chosen && chosen->isMarkedForInstall()) {
                // Switching alternatives: the package resolver replaces the packages itself.
                Log::stream(3, true) << "  Skip packages of component " << component.name
                                     << " as it is part of radio group "
                                     << "and packages should be removed via package dependencies "
                                     << "(of packages from component " << chosen->name << ")";
                return;
            }
        }
        for (const Package* package : component.packages) {
            out.push_back(repository->addRemoverFor(package->getName().str()));
            Log::stream(3, true) << "  Scheduling the following package for remove: " << package->getName();
        }
    }

    cpkgs_t& out;
    checked_pointer<Repository> repository;
    checked_pointer<SystemSpecificConfigurator> configurator;
};

} // namespace

void ComponentManager::getPackagesToInstall(cpkgs_t& out, Repository* repository,
                                            checked_pointer<SystemSpecificConfigurator> configurator) {
    Repository& packages = *checked_pointer<Repository>(repository);
    Log::stream(2, true) << "Getting packages to installation list:";
    PackagesToInstall visitor(out, packages, configurator);
    accept(visitor);

    for (const cpkgs_t* list : {&extraPackages, &additionalUpgradePackages}) {
        cpkgs_t removers;
        cpkgs_t rest;
        for (const Package* package : *list)
            (isRemoverPackage(package) ? removers : rest).push_back(package);
        addPackages(nullptr, rest, packages, out);
        for (const Package* remover : removers)
            if (packages.findInstalled(PooledString(remover->getObsolete(0)->getName())))
                out.push_back(remover);
    }

    logPackageList("Following packages will be installed: ", out);
    Log::stream(2, true) << " ----------------";
}

void ComponentManager::getBootstrapperPackagesToInstall(cpkgs_t& out, Repository* repository) {
    class PackagesToInstall : public Visitor {
    public:
        PackagesToInstall(cpkgs_t& out, Repository& repository, ComponentManager& manager)
            : out(out), repository(repository), manager(manager) {}

        void visit(const comp_ptr_t& component) override {
            if (!component->isMarkedForInstall())
                return;
            Log::stream(3, true) << "Get bootstrapper packages to installation from selected component "
                                 << component->name;
            addPackages(component.get(), component->bootstrapper, repository, out);
            const std::string productId = component->getProductId();
            if (!products.insert(productId).second)
                return;
            Log::stream(3, true) << "Get bootstrapper packages to installation from selected product with id "
                                 << productId;
            const comp_ptr_t base = manager.getBaseComponent(productId);
            const std::vector<Package*>& buildPackages = component->build->_bootstrapper_packages;
            addPackages(base.get(), cpkgs_t(buildPackages.begin(), buildPackages.end()), repository, out);
        }

    private:
        cpkgs_t& out;
        Repository& repository;
        ComponentManager& manager;
        std::set<std::string> products;
    };

    Log::stream(2, true) << "\nGetting bootstrapper packages to installation list:";
    PackagesToInstall visitor(out, *checked_pointer<Repository>(repository), *this);
    accept(visitor);
    logPackageList("Following bootstrapper packages will be installed: ", out);
    Log::stream(2, true) << " ---------------- ";
}
