#include "installer/sources/SourceManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/driver/Options.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceDistMoxel.h"
#include "installer/sources/SourceMoxel.h"
#include "installer/sources/SourceSysMoxelExt.h"

#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>

#include <algorithm>
#include <sstream>

namespace {

const char* const unit = "installer/SourceManager";

// "port:(name=value,...)" in double quotes, "empty" for no options.
std::string portEntryText(const std::string& port, const SourceManager::options_t& options) {
    std::ostringstream text;
    text << '"' << port << ":(";
    if (options.empty())
        text << "empty";
    for (auto option = options.begin(); option != options.end(); ++option)
        text << (option == options.begin() ? "" : ",") << option->first << "=" << option->second;
    text << ")";
    return text.str();
}

void applyRecord(SourceMoxel& source, const BuildInfFile::repository_t& record) {
    source.setPersistent(record.persistent);
    source.setYumRepoId(record.yum_repo_id);
    source.setYumRepoName(record.yum_repo_name);
}

} // namespace

struct SourceManager::Bookkeeping {
    std::vector<std::string> templateNames;
    port_options_t portOptions;
    std::string osTemplateName;
};

SourceManager::SourceManager(Repository* repository)
    : repository(repository), bookkeeping(std::make_unique<Bookkeeping>()) {}

SourceManager::~SourceManager() = default;

void SourceManager::addBuildSources(FileFetcher* fetcher, const boost::shared_ptr<Build>& build) {
    const FileFetcher& runFetcher = *checked_pointer<FileFetcher>(fetcher);
    const Build& owner = *checked_pointer<Build>(build.get());
    const BuildInfFile& description = *checked_pointer<BuildInfFile>(owner._build_description.get());

    auto dist = boost::make_shared<SourceDistMoxel>(repository, runFetcher, build);
    dist->setGpg(owner._gpgcheck, owner._gpg_public_key);
    applyRecord(*dist, description.buildRepository);
    sources.push_back(dist);

    if (!description.updatesRepository.dir.empty() && Options::instance().useMoxelUpdates)
        sources.push_back(boost::make_shared<SourceMoxel>(repository, runFetcher, build, 'u'));

    if (!description.thirdpartyRepository.dir.empty()) {
        auto thirdparty = boost::make_shared<SourceMoxel>(repository, runFetcher, build, 't');
        applyRecord(*thirdparty, description.thirdpartyRepository);
        sources.push_back(thirdparty);
    }

    if (!description.extrasRepository.dir.empty()) {
        auto extras = boost::make_shared<SourceMoxel>(repository, runFetcher, build, 'x');
        extras->setGpg(owner._gpgcheck, "");
        applyRecord(*extras, description.extrasRepository);
        sources.push_back(extras);
    }
}

void SourceManager::dropBuildSources(const boost::shared_ptr<Build>& build) {
    for (auto source = sources.begin(); source != sources.end();) {
        const SourceMoxel* moxel = dynamic_cast<const SourceMoxel*>(source->get());
        if (!moxel || moxel->getBuild() != build) {
            ++source;
            continue;
        }
        std::ostringstream name;
        moxel->print(name);
        Log::stream(3, true) << "DEBUG: drop " << name.str();
        source = sources.erase(source);
    }
}

void SourceManager::addExtensionSource(ComponentManager* components) {
    sources.push_back(boost::make_shared<SourceSysMoxelExt>(repository, components));
}

SourceManager::apt_sources_t SourceManager::getAptSources() const {
    apt_sources_t records = collectAptSources();
    if (records.empty())
        throw internal_error(unit, 196);
    return records;
}

bool SourceManager::hasAptSources() const {
    return !collectAptSources().empty();
}

SourceManager::apt_sources_t SourceManager::collectAptSources() const {
    apt_sources_t records;
    for (const boost::shared_ptr<Source>& source : sources) {
        const auto dist = boost::dynamic_pointer_cast<const SourceDistMoxel>(source);
        if (!dist)
            continue;
        const boost::shared_ptr<Build> build = dist->getBuild();
        const Build& owner = *checked_pointer<const Build>(build.get());
        const BuildInfFile& description =
            *checked_pointer<const BuildInfFile>(owner._build_description.get());
        const BuildInfFile::build_t& facts = description.build;
        if (!facts.apt_source.empty())
            records.push_back({facts.apt_repository, facts.apt_source, facts.os_release_name, owner._base_dir,
                               false, dist->getGpgCheck()});
        if (!facts.persistent_apt_source.empty())
            records.push_back({facts.apt_repository, facts.persistent_apt_source, facts.os_release_name,
                               owner._base_dir, true, dist->getGpgCheck()});
    }
    return records;
}

void SourceManager::setPortsArchive(const std::string& path, const std::string& version) {
    if (!portsArchiveVersion.empty() && portsArchiveVersion > version)
        return;
    portsArchivePath = path;
    portsArchiveVersion = version;
}

void SourceManager::addTemplateName(const std::string& name) {
    std::vector<std::string>& names = bookkeeping->templateNames;
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

void SourceManager::setOsTemplateName(const std::string& name) {
    std::string& recorded = bookkeeping->osTemplateName;
    if (!recorded.empty() && recorded != name)
        throw error(error::repository, 1, 1, 2)
            << "OS template name is already defined as " << recorded << " (try set name " << name << ")";
    recorded = name;
}

void SourceManager::mergePortOptions(const port_options_t::value_type& port) {
    auto stored = bookkeeping->portOptions.find(port.first);
    if (stored == bookkeeping->portOptions.end()) {
        bookkeeping->portOptions.insert(port);
        return;
    }
    if (stored->second == port.second)
        return;
    Log::stream(1, true) << "Warning: Options for port is differ: "
                         << portEntryText(stored->first, stored->second) << " from previous config and "
                         << portEntryText(port.first, port.second) << " try set now.";
}

const std::vector<std::string>& SourceManager::getTemplateNames() const {
    return bookkeeping->templateNames;
}

const SourceManager::port_options_t& SourceManager::getPortOptions() const {
    return bookkeeping->portOptions;
}

const std::string& SourceManager::getOsTemplateName() const {
    return bookkeeping->osTemplateName;
}
