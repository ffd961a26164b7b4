#pragma once

#include "installer/catalogue/BuildInfFile.h"

#include <boost/shared_ptr.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

class Build;
class ComponentManager;
class FileFetcher;
class Repository;
class Source;

// The update-server sources of one run, in the order they were added, and what build loading
// records on the side (template names, port options, the OS template name, the ports archive).
class SourceManager {
public:
    // One APT source line to write.
    struct AptSource {
        std::string apt_repository;
        // apt_source or persistent_apt_source of the build description
        std::string source;
        std::string os_release_name;
        std::string base_dir;
        bool persistent = false;
        // The build's packages are signed.
        bool gpgCheck = false;
    };

    using sources_t = std::vector<boost::shared_ptr<Source>>;
    using apt_sources_t = std::vector<AptSource>;
    using options_t = std::map<std::string, std::string>;
    using port_options_t = BuildInfFile::port_options_t;

    explicit SourceManager(Repository* repository);
    SourceManager(const SourceManager&) = delete;
    SourceManager& operator=(const SourceManager&) = delete;
    ~SourceManager();

    // Appends the sources of the build's repositories, in the order b, u, t, x; the build's
    // description must be loaded.
    void addBuildSources(FileFetcher* fetcher, const boost::shared_ptr<Build>& build);
    // Removes the build's sources; their packages leave the repository with them.
    void dropBuildSources(const boost::shared_ptr<Build>& build);
    // Appends the source of the installed extensions.
    void addExtensionSource(ComponentManager* components);
    // The records of the dist sources' apt_source and persistent_apt_source; raises an internal
    // error when there is none at all.
    apt_sources_t getAptSources() const;
    // False once every build with APT sources was dropped, as when a product is removed entirely.
    bool hasAptSources() const;
    const sources_t& getSources() const { return sources; }

    // Keeps the archive of the highest version; an equal version takes the newer path.
    void setPortsArchive(const std::string& path, const std::string& version);
    void addTemplateName(const std::string& name);
    // Every loaded build must agree on it.
    void setOsTemplateName(const std::string& name);
    // The first options seen for a port stay; different ones later are only warned about.
    void mergePortOptions(const port_options_t::value_type& port);

    const std::vector<std::string>& getTemplateNames() const;
    const port_options_t& getPortOptions() const;
    const std::string& getOsTemplateName() const;
    const std::string& getPortsArchivePath() const { return portsArchivePath; }
    const std::string& getPortsArchiveVersion() const { return portsArchiveVersion; }

private:
    struct Bookkeeping;

    apt_sources_t collectAptSources() const;

    Repository* repository;
    sources_t sources;
    std::unique_ptr<Bookkeeping> bookkeeping;
    std::string portsArchivePath;
    std::string portsArchiveVersion;
};
