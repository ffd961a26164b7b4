#pragma once

#include <memory>
#include <string>
#include <vector>

class ComponentManager;
class Installer;
class Package;
class StageActions;

// The configuration of the system's package manager for one run: its repositories and signing keys,
// the packages it would install, and the commit or rollback of the persistent changes at the end.
//
// The calling order is fixed: configureSystem() once, then queries, reconfiguration and the
// installer back end, then cleanup() and finalize(). Calls out of that order are errors.
class SystemSpecificConfigurator {
public:
    using names_iterator = std::vector<std::string>::const_iterator;

    SystemSpecificConfigurator() = default;
    SystemSpecificConfigurator(const SystemSpecificConfigurator&) = delete;
    SystemSpecificConfigurator& operator=(const SystemSpecificConfigurator&) = delete;
    virtual ~SystemSpecificConfigurator();

    // Rewrites the repository configuration after the source list changed.
    virtual void reconfigureSources() = 0;
    // Asks the package manager once for all the names and caches the candidates.
    virtual void prepareAvailablePackagesList(names_iterator first, names_iterator last) = 0;
    // A new installer back end of this package manager, held by the caller; none when it has no back
    // end of its own. Shared, so that a configurator that offers none needs no Installer definition.
    virtual std::shared_ptr<Installer> createInstaller(ComponentManager& components,
                                                       StageActions& stages) = 0;
    // Whether the package manager settles versions itself, so that the installer need not refuse
    // downgrades.
    virtual bool settlesVersions() const { return false; }

    // Once only; a second call is an internal error.
    void configureSystem();
    // Problems of the configuration, empty when there are none. The check runs once per object.
    std::string checkConfiguration();
    // The package the package manager would install under that name, or null. Raises
    // err_sysconf_init before configureSystem().
    const Package* getAvailablePackage(const std::string& name);
    // Both do nothing until the system was configured.
    void cleanup();
    void finalize();
    // Drops the commit request, then finalizes: the persistent changes are undone.
    void rollback();
    // The installation succeeded: finalize() keeps the persistent changes.
    void setCommitChanges();

protected:
    virtual const Package* doGetAvailablePackage(const std::string& name) = 0;
    virtual void doConfigureSystem() = 0;
    virtual std::string doCheckConfiguration();
    virtual void doPrepare() = 0;
    // Removes the temporary configuration.
    virtual void doCleanup() = 0;
    // Commits the persistent configuration when commitChanges is set, else rolls it back.
    virtual void doFinalize() = 0;

    // A derived doConfigureSystem() may set it early, once a failure would leave something to undo.
    bool configured = false;
    bool commitChanges = false;

private:
    bool checkCached = false;
    std::string checkText;
};
