#pragma once

#include <boost/shared_ptr.hpp>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class Package;
class TiXmlElement;

// One build description: what a build of a product release consists of on one operating system.
// The constructor reads the whole file; afterwards the object is only read. Packages named by the
// description live until the process ends; the vectors only point to them.
class BuildInfFile {
public:
    // Port name -> (option name -> value).
    using port_options_t = std::map<std::string, std::map<std::string, std::string>>;

    struct product_t {
        std::string id;
        // One inner list per keypackages element.
        std::vector<std::vector<std::string>> keyPackages;
        std::vector<std::string> upgradeCodes;
        std::vector<std::string> productCodes;
        std::string releaseId;
        std::string releaseName;
        std::string releaseCodename;
        std::string releaseVersion;
        std::string upgradeAllowedFrom;
        std::string parametersFile;
    };

    struct examine_t {
        std::string scope;
        std::string name;
        std::string script;
        std::string launcher;
        std::string options;
        // Empty as read; the component-tree loader fills it on its copies.
        std::string baseDir;
        bool always = false;
    };

    struct bootstrapper_t {
        std::vector<Package*> packages;
        // A copy of the bootstrapper element that outlives the document, for its action list; null
        // when the description has none.
        std::shared_ptr<const TiXmlElement> element;
    };

    struct build_t {
        std::string os_name;
        std::string os_vendor;
        std::string os_version;
        std::string os_release_name;
        std::string os_arch;
        std::string environment;
        std::string ezTemplatePrefix;
        std::string ezTemplateSuffix;
        std::string apt_repository;
        std::string apt_source;
        std::string persistent_apt_source;
        std::string deprecated;
        bool sendFeedback = false;
        bool uninstallSupport = false;
        std::vector<examine_t> examinations;
        bootstrapper_t bootstrapper;
        bool gpgCheck = false;
        std::string gpgPublicKey;
    };

    struct repository_t {
        std::string dir;
        std::string headers_file;
        bool persistent = false;
        std::string yum_repo_id;
        std::string yum_repo_name;
    };

    struct installation_type_t {
        std::string name;
        std::string description;
        // Document order; never empty.
        std::vector<std::string> components;
    };

    struct group_t {
        std::string name;
        std::string description;
        // One member at a time.
        bool radio = false;
        std::string defaultComponent;
        std::vector<std::string> components;
        std::vector<group_t> groups;
        bool hasSwitchRules = false;
        // (from, to) pairs of allowed switches.
        std::vector<std::pair<std::string, std::string>> switchRules;
    };

    // Packages whose installed presence reveals an installed component.
    struct keypackages_t {
        std::vector<std::string> keypackages;
        std::vector<std::string> nokeypackages;
        std::vector<std::string> keyprovides;
    };

    struct component_t {
        std::string name;
        std::string description;
        // "" fits any environment.
        std::string environment;
        std::vector<std::string>
        requires;
        std::vector<std::string> hardwired_with;
        std::vector<std::string> conflicts;
        std::vector<keypackages_t> keyPackageSets;
        std::vector<std::string> expackages;
        std::vector<std::string> rmpackages;
        std::vector<std::string> ezTemplates;
        port_options_t portOptions;
        bootstrapper_t bootstrapper;
        std::vector<Package*> packages;
        std::vector<std::string> classes;
        std::vector<examine_t> examinations;
        // A copy of the settings element of the last package that has one, or null.
        std::shared_ptr<const TiXmlElement> settingsElement;
        bool uninstallSupport = true;
        bool hidden = false;
        bool showInstalledHidden = false;
        bool denyImplicitRemoval = false;
    };

    // The name of the record an include element leaves; its description is the included file.
    static const char* const includeRecordName;

    // `localPath` is the fetched copy; `configName` is the name the catalogue gives, for messages.
    BuildInfFile(const std::string& localPath, const std::string& configName);
    BuildInfFile(const BuildInfFile&) = delete;
    BuildInfFile& operator=(const BuildInfFile&) = delete;
    ~BuildInfFile();

    std::vector<group_t> groups;
    std::vector<installation_type_t> installationTypes;
    std::string configName;
    product_t product;
    build_t build;
    repository_t buildRepository;
    repository_t updatesRepository;
    repository_t thirdpartyRepository;
    repository_t extrasRepository;
    std::vector<Package*> updatePackages;
    std::vector<Package*> thirdpartyPackages;
    std::vector<Package*> extCatalogPackages;
    port_options_t portOptions;
    std::vector<boost::shared_ptr<component_t>> components;
    std::vector<std::string> preferredPackages;
    std::vector<std::string> forceRemovePackages;
    std::vector<std::string> removablePackages;

private:
    void readOsAttributes(const TiXmlElement* root);
    void readProduct(const TiXmlElement* root);
    void readComponents(const TiXmlElement* root);
    boost::shared_ptr<component_t> readComponent(const TiXmlElement* element);
    void readInstallationTypes(const TiXmlElement* root);
    void readComponentGroups(const TiXmlElement* root);
    void readRepositories(const TiXmlElement* root);
    void readExtCatalog(const TiXmlElement* root);
    void readPackageLists(const TiXmlElement* root);
    void readBuildFlags(const TiXmlElement* root);
};
