#pragma once

#include "installer/engine/LastingFileBackup.h"
#include "installer/engine/SystemSpecificConfigurator.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class Repository;
class SourceManager;
class SourceMoxel;

// yum or dnf for one run: the products' repositories in a temporary .repo file (enabled only for
// the installer's own transactions) and, for persistent ones, in one lasting file per product; the
// repositories' keys; the helper script through which the back end drives the package manager;
// candidate versions.
class YumConfigurator : public SystemSpecificConfigurator {
public:
    struct HelperTool {
        const char* program;
        const char* helperPath;
        const char* script;
    };

    static const char* const repoDirectory;
    static const char* const temporaryRepoFile;

    // Selects dnf when /usr/bin/dnf-3 exists, else yum; raises err_yum_not_found without either.
    static void detectTool();
    static const HelperTool& selectedTool();
    static std::string getHelperPath();

    YumConfigurator(const std::string& source, SourceManager& sources, Repository& repository);
    ~YumConfigurator() override;

    void reconfigureSources() override;
    void prepareAvailablePackagesList(names_iterator first, names_iterator last) override;
    std::shared_ptr<Installer> createInstaller(ComponentManager& components, StageActions& stages) override;
    bool settlesVersions() const override { return true; }

    // Ids of the repositories of the temporary file, for the helper to enable.
    const std::set<std::string>& getEnabledIds() const { return enabledIds; }

    static std::string repoId(const SourceMoxel& source);
    static std::string repoName(const SourceMoxel& source);
    static std::string baseUrl(const SourceMoxel& source);

protected:
    const Package* doGetAvailablePackage(const std::string& name) override;
    void doConfigureSystem() override;
    std::string doCheckConfiguration() override;
    void doPrepare() override {}
    void doCleanup() override;
    void doFinalize() override;

private:
    struct RepoSection {
        const SourceMoxel* source;
        bool gpgcheck;
    };

    void configureRepositories();
    // Ids of the sources whose key was imported or, with an empty key, is assumed installed.
    std::set<std::string> importGpgKeys();
    void writeRepoFile(const std::vector<RepoSection>& sections, const std::string& name, bool persistent);
    void writeHelper();
    // "dnf info" (or yum's) on the products' repositories, up to the package names.
    std::string infoCommand() const;
    // Backs the lasting file up on its first write in this run, whenever that is.
    void presave(const std::string& path);
    void commitPersistent();
    void rollbackPersistent();

    std::string source;
    SourceManager& sources;
    Repository& repository;
    std::set<std::string> enabledIds;
    std::map<std::string, std::unique_ptr<LastingFileBackup>> persistentFiles;
    // Null: asked for, not found.
    std::map<std::string, const Package*> availableCache;
};
