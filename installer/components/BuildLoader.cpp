#include "installer/components/BuildLoader.h"

#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/console/InstallationType.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "installer/engine/Bootstrapper.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceConfig.h"
#include "installer/sources/SourceConfigLazyAddon.h"
#include "installer/sources/SourceManager.h"

#include <boost/make_shared.hpp>
#include <boost/tokenizer.hpp>

#include <algorithm>

namespace {

// The sources that loaders make bring packages into the run's repository, which must find them as
// long as it lives; like the packages, they are kept until the process ends.
std::vector<std::unique_ptr<Source>>& keptSources() {
    static std::vector<std::unique_ptr<Source>> sources;
    return sources;
}

template <class S, class... Args> S* makeKeptSource(Args&&... args) {
    auto source = std::make_unique<S>(std::forward<Args>(args)...);
    S* made = source.get();
    keptSources().push_back(std::move(source));
    return made;
}

// The description's directory with one trailing '/'; "" for a description at the source root, whose
// relative paths need no prefix.
std::string baseDirOf(const std::string& configName) {
    std::string dir = fileops::dirname(configName);
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

std::vector<BuildInfFile::examine_t> withBaseDir(const std::vector<BuildInfFile::examine_t>& examinations,
                                                 const std::string& baseDir) {
    std::vector<BuildInfFile::examine_t> copies = examinations;
    for (BuildInfFile::examine_t& examine : copies)
        examine.baseDir = baseDir;
    return copies;
}

std::string productIdOf(const boost::shared_ptr<Build>& build) {
    return build->_parent ? build->_parent->prod()->_id : std::string();
}

// The record's EZ templates, or one name made from the prefix and the component name.
std::vector<std::string> ezTemplatesFor(const BuildInfFile::component_t& record,
                                        const BuildInfFile& description) {
    if (!record.ezTemplates.empty())
        return record.ezTemplates;
    const std::string prefix =
        description.build.ezTemplatePrefix.empty() ? "moxel8" : description.build.ezTemplatePrefix;
    const std::string generated = record.name == "base" ? prefix : prefix + "-" + record.name;
    Log::stream(3, true) << "EZ template name for component " << record.name
                         << " was generated: " << generated;
    return {generated};
}

} // namespace

// ---------------------------------------------------------------------------------------------------------

BuildLoader::ErrLoadRelease::ErrLoadRelease(const error& cause, const boost::weak_ptr<Release>& release)
    : error(cause), release(release) {}

BuildLoader::BuildLoader(Repository* repository, ComponentManager* componentManager, FileFetcher* fetcher,
                         SourceManager* sourceManager, ParamManager* paramManager,
                         MicroUpdateManager* microUpdateManager,
                         std::vector<boost::shared_ptr<ProductInf3FileGuard>>* fileGuards)
    : repository(repository), componentManager(componentManager), fetcher(fetcher),
      sourceManager(sourceManager), paramManager(paramManager), microUpdateManager(microUpdateManager),
      fileGuards(fileGuards), configSource(makeKeptSource<SourceConfig>(repository)) {
    Log::stream(3, true) << "DEBUG: BuildLoader::BuildLoader() entry";
}

BuildLoader::~BuildLoader() {
    if (!committed)
        Log::stream(2, true) << "Warning: BuildLoader finish with unsuccess.";
}

void BuildLoader::leaveRelease(boost::shared_ptr<Release>) {}

void BuildLoader::visitBuild(Build&) {}

void BuildLoader::visitRelease(boost::shared_ptr<Release> release) {
    if (!release->_selected)
        return;
    try {
        Log::stream(3, true) << "DEBUG: BuildLoader: visit release " << release->_id;
        visitedReleases.push_back(release);

        const Opsys os;
        const boost::shared_ptr<Build> build = release->SelectBestBuild(os);
        if (!build) {
            Log::stream(1, true) << "unable to find suitable to installation build from release "
                                 << release->_id;
            throw error(2, 1, 1, 2) << Messages().getMessage("err_rel_notsupp");
        }
        if (!build->isCompatible(os)) {
            Log::stream(1, true) << "This build is not compatible with current OS: Current OS is " << os
                                 << "\n but this build for " << *build;
            throw error(2, 1, 1, 1) << Messages().getMessage("err_build_incomp");
        }
        Log::stream(3, true) << "BuildLoader: load " << *build;

        readDescription(build);
        const BuildInfFile& description = *build->_build_description;
        build->_os_release_name = description.build.os_release_name;
        build->_parameters_file = description.product.parametersFile;
        feedbackRequested = description.build.sendFeedback;

        loadBuild(build, kind_release, configSource);
        if (release->getUpdateMode() == 1)
            addInstallationTypes(build);
        microUpdateManager->loadPatches(build);
    } catch (const error& e) {
        throw ErrLoadRelease(e, release);
    } catch (...) {
        Log::stream(3, true) << "DEBUG: BuildLoader: release visit failed (throwing an exception).";
        throw;
    }
}

void BuildLoader::visitAddon(Addon& addon) {
    Log::stream(3, true) << "DEBUG: BuildLoader: visit addon " << addon._id;

    boost::shared_ptr<Release> release;
    for (const boost::shared_ptr<Release>& visited : visitedReleases) {
        if (addon.applicableTo(*visited)) {
            release = visited;
            break;
        }
    }
    if (!release)
        return;

    const boost::shared_ptr<Build> build = addon._builds.getBestBuild(Opsys());
    if (!build) {
        Log::stream(2, true) << "Addon " << addon._id << " have no build for current OS";
        return;
    }
    Log::stream(2, true) << "Attach addon " << addon._id << " to release " << *release;
    build->setParent(release);

    try {
        readDescription(build);
        if (addon._lazy) {
            SourceConfigLazyAddon*& lazy = lazySources[build];
            if (!lazy)
                lazy = makeKeptSource<SourceConfigLazyAddon>(repository, boost::weak_ptr<Build>(build));
            loadBuild(build, kind_lazy_addon, lazy);
        } else {
            loadBuild(build, kind_addon, configSource);
        }
    } catch (const error& e) {
        throw ErrLoadRelease(e, release);
    } catch (...) {
        Log::stream(3, true) << "DEBUG: BuildLoader: addon visit failed (throwing an exception).";
        throw;
    }
}

void BuildLoader::readDescription(const boost::shared_ptr<Build>& build) {
    auto guard = boost::make_shared<ProductInf3FileGuard>(*fetcher, build->_config);
    fileGuards->push_back(guard);
    build->_build_description = boost::make_shared<BuildInfFile>(guard->getLocalPath(), build->_config);
}

void BuildLoader::loadBuild(const boost::shared_ptr<Build>& build, build_kind_t kind, SourceConfig* source) {
    BuildInfFile& description = *build->_build_description;
    try {
        loadComponents(build, kind, source);
        loadBootstrapper(build, source);
    } catch (const tinybind::err& failure) {
        // The XML helpers' failures in settings and bootstrapper actions are faults of the description.
        throw error(error::repository, 1, 1, 3)
            << failure.text << ". Error while parse " << description.configName;
    }

    build->_gpgcheck = description.build.gpgCheck;
    build->_gpg_public_key = description.build.gpgPublicKey;

    if (kind != kind_lazy_addon)
        sourceManager->addBuildSources(fetcher, build);

    for (const std::string& name : description.preferredPackages)
        PkgManager::preferredPackages().insert(name);
    removerNames.insert(description.removablePackages.begin(), description.removablePackages.end());
    for (const std::string& name : description.forceRemovePackages)
        sourceManager->addTemplateName(name);

    const std::vector<std::string>& locations = fetcher->getSources();
    const std::string portsArchive = (locations.empty() ? std::string() : locations.front()) +
                                     fileops::dirname(description.configName) + "/" +
                                     description.updatesRepository.dir + "/ports.tgz";
    sourceManager->setPortsArchive(portsArchive, "");
    for (const auto& port : description.portOptions)
        sourceManager->mergePortOptions(port);
    if (!description.build.ezTemplateSuffix.empty())
        sourceManager->setOsTemplateName(description.build.ezTemplateSuffix);
    else
        Log::stream(2, true) << "Warning: ez_template_suffix is NOT defined in  " << description.configName;

    build->_uninstall_support = description.build.uninstallSupport;

    const std::vector<BuildInfFile::examine_t> examinations =
        withBaseDir(description.build.examinations, baseDirOf(description.configName));
    build->_examine.insert(build->_examine.end(), examinations.begin(), examinations.end());

    for (const std::vector<Package*>* packages :
         {&description.updatePackages, &description.thirdpartyPackages, &description.extCatalogPackages})
        for (Package* package : *packages)
            source->addPackage(package);
}

void BuildLoader::loadBootstrapper(const boost::shared_ptr<Build>& build, SourceConfig* source) {
    const BuildInfFile& description = *build->_build_description;
    if (!description.build.bootstrapper.element)
        return;
    Bootstrapper::actions_t actions;
    Bootstrapper::loadActions(tinybind::Element(description.build.bootstrapper.element.get()),
                              build->_parent->_id, actions);
    build->setBootstrapper(description.build.bootstrapper.packages, actions);
    for (Package* package : description.build.bootstrapper.packages)
        source->addPackage(package);
}

void BuildLoader::loadComponents(const boost::shared_ptr<Build>& build, build_kind_t kind,
                                 SourceConfig* source) {
    BuildInfFile& description = *build->_build_description;
    const std::string& configName = description.configName;
    const std::string baseDir = baseDirOf(configName);

    Log::stream(3, true) << "Load components from build " << configName;
    Log::stream(3, true) << "Debug: from inf " << description.components.size() << " components";
    for (const boost::shared_ptr<BuildInfFile::component_t>& record : description.components)
        Log::stream(3, true) << "Debug:   " << record->name;

    for (const boost::shared_ptr<BuildInfFile::component_t>& recordPointer : description.components) {
        const BuildInfFile::component_t& record = *recordPointer;
        if (record.name == BuildInfFile::includeRecordName) {
            fetcher->getFile(record.description);
            throw error(1, 1, 1, 3) << "  included components inside .build.inf3 temporary not supported";
        }
        if (skipPagewrightComponent && description.product.id == "moxel" && record.name == "pagewright") {
            Log::stream(3, true) << "Skip component " << record.name << " by some hack";
            continue;
        }

        auto earlier =
            std::find_if(loadedComponents.begin(), loadedComponents.end(),
                         [&](const loaded_component_t& loaded) { return loaded.node->name == record.name; });
        if (earlier != loadedComponents.end() && kind == kind_release) {
            Log::stream(2, true) << "Skip component " << record.name << " from " << configName
                                 << " - it has already come from <include> or addon";
            continue;
        }

        auto node = std::make_shared<AiComponent>(build, record.name, record.description, record.environment,
                                                  record.keyPackageSets);
        if (kind == kind_lazy_addon)
            node->lazyAddonBuild = build;

        if (!node->isEnvironmentCompatible()) {
            Log::stream(2, true) << "Skip component " << record.name << " because incompatible environment";
            for (BuildInfFile::installation_type_t& type : description.installationTypes)
                type.components.erase(
                    std::remove(type.components.begin(), type.components.end(), record.name),
                    type.components.end());
            Log::stream(3, true) << "Removed component " << record.name << " from all installation types";
            continue;
        }

        node->requires = record.requires;
        node->hardwired_with = record.hardwired_with;
        node->conflicts = record.conflicts;
        node->uninstallSupport = record.uninstallSupport;
        node->hidden = record.hidden && !Options::instance().showHiddenComponents;
        node->showInstalledHidden = record.showInstalledHidden;
        if (!description.build.ezTemplateSuffix.empty())
            node->ezTemplates = ezTemplatesFor(record, description);
        node->portOptions = record.portOptions;
        node->packages.assign(record.packages.begin(), record.packages.end());
        node->expackages = record.expackages;
        node->rmpackages = record.rmpackages;
        const std::vector<BuildInfFile::examine_t> examinations = withBaseDir(record.examinations, baseDir);
        node->examinations.insert(node->examinations.end(), examinations.begin(), examinations.end());
        node->classes.insert(record.classes.begin(), record.classes.end());

        for (Package* package : record.packages)
            source->addPackage(package);
        for (Package* package : record.bootstrapper.packages) {
            node->bootstrapper.push_back(package);
            source->addPackage(package);
        }
        if (record.bootstrapper.element)
            Bootstrapper::loadActions(tinybind::Element(record.bootstrapper.element.get()), record.name,
                                      node->bootstrapperActions);

        if (record.settingsElement)
            paramManager->loadSettings(node, tinybind::Element(record.settingsElement.get()));

        if (earlier != loadedComponents.end()) {
            Log::stream(2, true) << "Overwrite component " << record.name
                                 << " with component from <include> or addon at " << configName;
            // The settings of the node that leaves the tree would outlive it without an owner.
            paramManager->dropSettingsOf(earlier->node);
            earlier->node = node;
        } else {
            loadedComponents.push_back({node, false});
        }
        node->denyImplicitRemoval = record.denyImplicitRemoval;
    }

    Log::stream(3, true) << "Debug: after create AiComponent objects: " << loadedComponents.size()
                         << " components";
    for (const loaded_component_t& loaded : loadedComponents)
        Log::stream(3, true) << "Debug:   " << loaded.node->name;
    loadedBuilds.push_back(build);
}

void BuildLoader::addInstallationTypes(const boost::shared_ptr<Build>& build) {
    const BuildInfFile& description = *build->_build_description;
    bool hasFull = false;
    for (const BuildInfFile::installation_type_t& declared : description.installationTypes) {
        // Components dropped for this system may have emptied the type.
        if (declared.components.empty()) {
            Log::stream(2, true) << "Installation type " << declared.name
                                 << " has no components left for this system; dropped";
            continue;
        }
        InstallationType type;
        try {
            type.names = util::split_escaped_list(declared.name);
        } catch (const boost::escaped_list_error& e) {
            throw error(1, 1, 1, 3) << "Wrong name of installation type '" << declared.name << "' in "
                                    << description.configName << ": " << e.what();
        }
        type.description = declared.description;
        type.kind = InstallationType::DECLARED;
        type.components = declared.components;
        if (std::find(type.names.begin(), type.names.end(), "Full") != type.names.end())
            hasFull = true;
        componentManager->addType(build, type);
    }
    if (!hasFull) {
        InstallationType full;
        full.names = {"Full"};
        full.description = "Install all components.";
        full.kind = InstallationType::FULL;
        componentManager->addType(build, full);
    }
    InstallationType custom;
    custom.names = {"Custom"};
    custom.description = "Custom components selection. Recommended only for experienced users.";
    custom.kind = InstallationType::CUSTOM;
    componentManager->addType(build, custom);
}

BuildLoader::loaded_component_t* BuildLoader::findLoaded(const std::string& name,
                                                         const std::string& productId) {
    for (loaded_component_t& loaded : loadedComponents)
        if (loaded.node->name == name && loaded.node->getProductId() == productId)
            return &loaded;
    return nullptr;
}

std::shared_ptr<AiGroup> BuildLoader::makeGroup(const BuildInfFile::group_t& group,
                                                const boost::shared_ptr<Build>& build,
                                                const std::string& productId) {
    if (group.radio) {
        auto radio =
            std::make_shared<AiRadioGroup>(group.name, group.description, build, group.defaultComponent);
        if (group.hasSwitchRules) {
            radio->hasSwitchRules = true;
            for (const auto& rule : group.switchRules)
                radio->addSwitch(rule.first, rule.second);
        }
        for (const std::string& member : group.components) {
            loaded_component_t* found = findLoaded(member, productId);
            if (!found) {
                Log::stream(3, true) << "components group warning: unable to find specified component "
                                     << member << " for group " << group.name << ", ignore";
                continue;
            }
            radio->addChild(found->node);
            found->grouped = true;
        }
        return radio;
    }

    auto sub = std::make_shared<AiSubGroup>(group.name, group.description, build);
    for (const std::string& member : group.components) {
        loaded_component_t* found = findLoaded(member, productId);
        if (!found) {
            Log::stream(3, true) << "Components grouping warning: unable to find component with name "
                                 << member << " for group '" << group.name << "'";
            continue;
        }
        sub->children.push_back(found->node);
        found->grouped = true;
    }
    for (const BuildInfFile::group_t& nested : group.groups)
        sub->children.push_back(makeGroup(nested, build, productId));
    return sub;
}

void BuildLoader::commit() {
    Log::stream(3, true) << "DEBUG: BuildLoader::commit() entry";
    for (const boost::shared_ptr<Build>& build : loadedBuilds)
        for (const BuildInfFile::group_t& group : build->_build_description->groups)
            groupNodes.push_back(makeGroup(group, build, productIdOf(build)));

    for (const loaded_component_t& loaded : loadedComponents)
        if (!loaded.grouped)
            componentManager->nodes.push_back(loaded.node);
    for (const std::shared_ptr<AiGroup>& group : groupNodes)
        if (!group->isEmpty())
            componentManager->nodes.push_back(group);

    for (const std::string& name : removerNames)
        repository->addRemoverFor(name);

    if (visitedReleases.empty())
        Log::stream(0, true) << "Warning: no any release selected!";
    Log::stream(2, true) << "BuildLoader: " << visitedReleases.size() << " releases processed";

    setFeedbackRequired(feedbackRequested);
    committed = true;
}
