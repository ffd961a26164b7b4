#pragma once

#include "common/runtime/checked_pointer.h"
#include "installer/components/AiCompNode.h"
#include "installer/components/Component.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class AiComponent;
class AiRadioGroup;
class Build;
class ComponentsChangeset;
class Package;
class Release;
class Repository;
class SystemSpecificConfigurator;

// What is to be done with a component.
enum request_mode_t : int {
    REQ_UNSPECIFIED = 0,
    REQ_LEAVE = 1,   // keep as it is
    REQ_INSTALL = 2, // install or upgrade
    REQ_REMOVE = 3,
};

// The enumerator's name, "REQ_UNKNOWN" for any other value.
const char* requestModeName(request_mode_t mode);
std::ostream& operator<<(std::ostream& out, request_mode_t mode);

using comp_ptr_t = std::shared_ptr<AiComponent>;
using comp_cptr_t = std::shared_ptr<const AiComponent>;

// An installable component of a product build. It carries two independent states: its
// installation status (what is on the system against what the build offers) and its request mode
// (what the user or the resolver wants done with it).
class AiComponent : public AiCompNode, public Component {
public:
    // Installation status.
    static constexpr int NOT_CHECKED = 0;
    static constexpr int INSTALL = 1;       // not installed, can be installed
    static constexpr int UPGRADE = 2;       // an older state is installed
    static constexpr int UP2DATE = 3;       // installed in the latest state
    static constexpr int NOT_AVAILABLE = 4; // not installed and not available

    // An empty build raises an internal error.
    AiComponent(boost::shared_ptr<Build> build, const std::string& name, const std::string& description,
                const std::string& environment, std::vector<keypackages_t> keyPackageSets);
    // The text is "name description".
    AiComponent(boost::shared_ptr<Build> build, const char* text);
    ~AiComponent() override;

    char getStatusChar() const override;
    std::string getDescription() const override;
    // "" when the build has no release yet.
    std::string getProductId() const override;

    // The owning release; empty for a build not yet moved under one.
    boost::shared_ptr<Release> getRelease() const;

    // A pending micro-update makes an up-to-date component read as "upgrade". Raises an internal
    // error until the status has been determined.
    int getInstallMode() const;
    const char* getInstallModeName() const;
    // "product/name", or the bare name without a product.
    std::string getFullName() const;
    void setMicroUpdateAvailable();
    void setPackagesUpgraded(bool upgraded);

    // Versions and build times found by the status check; internal error before it ran.
    const std::string& getServerVersion() const;
    const std::string& getLocalVersion() const;
    int64_t getServerBuildTime() const;
    int64_t getLocalBuildTime() const;

    // Requests. A failed request leaves the request mode as it was.
    void select();
    void remove();
    void leave();
    // Requested for install and never to be removed or left out.
    void setRequired();

    bool isInstalled() const;
    // Shown in lists: not hidden, or installed and shown as such.
    bool isVisible() const;
    bool isMarkedForRemove() const;
    bool isMarkedForInstall() const;
    bool willBeInstalled() const;
    bool willBeNotInstalled() const;
    bool willBeInstalledOlder() const;
    bool willBeInstalledNew() const;

    // Relations answer false for components of different products. A null changeset means the
    // process-wide one.
    bool conflictsWith(const comp_cptr_t& other, ComponentsChangeset* changeset = nullptr) const;
    // This component is hard-wired by `other`, which stays at its older installed state.
    bool hardwiredToOlder(const comp_cptr_t& other, ComponentsChangeset* changeset = nullptr) const;
    // When this component is present, `other` must be present too.
    bool needs(const comp_cptr_t& other, ComponentsChangeset* changeset = nullptr) const;

    // Against the environment of this server.
    bool isEnvironmentCompatible() const;

    // Determines the installation status from the key-package sections and the build packages,
    // against the installed and available packages and the configurator (may be null); records the
    // versions and build times, appends installed key packages the build does not list, and tells
    // the release. An unavailable component stays as it is.
    void checkInstalled(const Repository* repository, SystemSpecificConfigurator* configurator);

    // The newest of: this component's package of the name's basename, the repository's newest
    // package of that basename (from this component's lazy add-on only, among lazy add-on packages,
    // with `lazy`) and the configurator's package for the name. Earlier candidates win ties.
    const Package* findBestPackage(const std::string& name, const Repository* repository,
                                   SystemSpecificConfigurator* configurator, bool lazy) const;
    const Package* findLatestLazy(const Repository* repository, const std::string& name) const;

    // For each key-package section: its nokeypackages names, then its keypackages names.
    void appendPackageNames(std::vector<std::string>& names) const;
    // No negative key package is installed, every positive one is, and every key provide has an
    // installed provider.
    bool matchesKeySection(const keypackages_t& section, const Repository* repository) const;

    // Lazy add-on the component came from; empty otherwise.
    boost::weak_ptr<Build> lazyAddonBuild;
    int installMode = NOT_CHECKED;
    request_mode_t requestMode = REQ_LEAVE;
    bool required = false;
    bool microUpdateAvailable = false;
    bool packagesUpgraded = false;
    int64_t installedBuildTime = 0;
    int64_t availableBuildTime = 0;
    std::string installedVersion;
    std::string availableVersion;
    // Never empty.
    boost::shared_ptr<Build> build;
    // The radio group whose alternative the component is; null otherwise.
    checked_pointer<AiRadioGroup> radioGroup;
    bool denyImplicitRemoval = false;

private:
    // The product id without a copy, for the checks made on every pair of components.
    const std::string& productIdText() const;
    bool sameProduct(const comp_cptr_t& other) const;
    void checkAvailable() const;
    void requireChecked(int line) const;
};
