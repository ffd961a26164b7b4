#pragma once

#include "installer/engine/LastingFileBackup.h"
#include "installer/engine/SystemSpecificConfigurator.h"

#include <map>
#include <string>
#include <vector>

class ComponentManager;
class Repository;
class SourceManager;

// apt for one run: the products' source lines in a temporary list file and, for persistent
// repositories, in a lasting one; the repositories' keys; the i386 architecture on x86_64; the
// package index; the check that the system's own sources serve this release; candidate versions.
class DebianAPTConfigurator : public SystemSpecificConfigurator {
public:
    static const char* const sourcesList;
    static const char* const sourcesListBackup;
    static const char* const listDirectory;
    static const char* const temporaryList;
    static const char* const persistentList;
    // apt-key's key ring and apt-key's own copy of its previous state.
    static const char* const keyRing;
    static const char* const keyRingCopy;

    // `source` is the installation source location as the user gave it.
    DebianAPTConfigurator(const std::string& source, ComponentManager& components, SourceManager& sources,
                          Repository& repository);
    ~DebianAPTConfigurator() override;

    void reconfigureSources() override;
    void prepareAvailablePackagesList(names_iterator first, names_iterator last) override;
    std::shared_ptr<Installer> createInstaller(ComponentManager& components, StageActions& stages) override;
    // apt picks the candidate versions itself.
    bool settlesVersions() const override { return true; }

    // One "deb" line for a source text of a build description; the repository word is not used.
    std::string getSourceLine(const std::string& aptRepository, const std::string& sourceText,
                              const std::string& baseDir) const;

    // False when a product repository is unsigned or signature checks are switched off.
    bool allReposSigned = true;
    // The system's apt sources name a CD or DVD.
    bool cdromInSources = false;

protected:
    const Package* doGetAvailablePackage(const std::string& name) override;
    void doConfigureSystem() override;
    void doPrepare() override {}
    void doCleanup() override;
    void doFinalize() override;

private:
    void finishInterruptedPackages();
    void setProxyEnvironment();
    void configureSources();
    void restoreSourcesList();
    void presavePersistent();
    void importGpgKeys();
    void registerArchitecture(const std::string& architecture);
    void updatePackageIndex();
    void checkSourceForCurrentRelease();
    void commitPersistent();
    void rollbackPersistent();

    // The source lines of the run, persistent ones apart; unsigned sources are marked trusted.
    void collectSourceLines(std::vector<std::string>& temporary, std::vector<std::string>& persistent);
    // Raises when a product repository could not be fetched, though apt-get counts that a warning.
    void checkProductFetches(const std::string& output) const;

    std::string source;
    SourceManager& sources;
    Repository& repository;
    bool apt_conf_d_used = false;
    LastingFileBackup persistentListBackup;
    // Both halves of apt-key's key ring, backed up before the first import.
    LastingFileBackup keyRingBackup;
    LastingFileBackup keyRingCopyBackup;
    struct ProductUri {
        std::string uri;
        bool trusted;
    };
    // The apt URIs of the product lines written last.
    std::vector<ProductUri> productUris;
    // Null: asked for, no candidate.
    std::map<std::string, const Package*> availableCache;
};
