#include "installer/catalogue/BuildInfFile.h"

#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/driver/Options.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/ExtCatalog.h"

#include <boost/make_shared.hpp>
#include <boost/tokenizer.hpp>
#include <tinyxml.h>

#include <cstdio>
#include <mutex>

const char* const BuildInfFile::includeRecordName = "dummy_component_name_for_include";

namespace {

const char* const unit = "installer/BuildInfFile";

// Packages of build descriptions are referenced by plain pointers from the repository and the
// component tree for the rest of the run, also after the description that named them is gone.
Package* keepForRun(std::unique_ptr<Package> package) {
    static std::mutex lock;
    static std::vector<std::unique_ptr<Package>> pool;
    std::lock_guard<std::mutex> hold(lock);
    pool.push_back(std::move(package));
    return pool.back().get();
}

Package* createPackage(const TiXmlElement* element, Package::type_t type, int line) {
    std::unique_ptr<Package> package = Package::createFromXml(tinybind::Element(element), type);
    if (!package)
        throw internal_error(unit, line);
    package->setType(type);
    return keepForRun(std::move(package));
}

// The error of a missing attribute keeps the helpers' text, which says where the element is.
std::string requiredAttribute(const TiXmlElement* element, const char* name) {
    try {
        return tinybind::Element(element).requiredAttribute(name);
    } catch (const tinybind::err& failure) {
        error missing(error::repository, 1, 1, 3);
        missing << failure.text;
        missing.addLine(error::repository, 1, 1, 3)
            << Messages().format("err_missing_attr", std::string(name));
        throw missing;
    }
}

std::string optionalAttribute(const TiXmlElement* element, const char* name) {
    std::string value;
    tinybind::readAttribute(value, element, name);
    return value;
}

bool flagAttribute(const TiXmlElement* element, const char* name) {
    const std::string value = optionalAttribute(element, name);
    return value == "yes" || value == "true";
}

// The components' own switches accept "true" only.
bool trueAttribute(const TiXmlElement* element, const char* name) {
    return optionalAttribute(element, name) == "true";
}

std::string withoutFinalNewline(std::string text) {
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

template <typename Visit> void forEachChild(const TiXmlElement* parent, const char* name, Visit visit) {
    for (const TiXmlElement* child = parent->FirstChildElement(name); child;
         child = child->NextSiblingElement(name))
        visit(child);
}

BuildInfFile::examine_t readExamine(const TiXmlElement* element) {
    BuildInfFile::examine_t examine;
    examine.scope = requiredAttribute(element, "scope");
    examine.name = requiredAttribute(element, "name");
    examine.script = requiredAttribute(element, "script");
    examine.launcher = optionalAttribute(element, "launcher");
    examine.options = optionalAttribute(element, "options");
    examine.always = flagAttribute(element, "always");
    return examine;
}

BuildInfFile::bootstrapper_t readBootstrapper(const TiXmlElement* element) {
    BuildInfFile::bootstrapper_t bootstrapper;
    bootstrapper.element = std::make_shared<const TiXmlElement>(*element);
    forEachChild(element, "package", [&](const TiXmlElement* child) {
        Package* package = createPackage(child, 'b', __LINE__);
        bootstrapper.packages.push_back(package);
        Log::stream(3, true) << " add package " << package->getFileName();
    });
    Log::stream(3, true) << bootstrapper.packages.size() << " build packages added from bootstrapper";
    return bootstrapper;
}

std::vector<std::string> readNames(const TiXmlElement* parent, const char* name, bool required) {
    std::vector<std::string> names;
    forEachChild(parent, name, [&](const TiXmlElement* child) {
        names.push_back(required ? requiredAttribute(child, "name") : optionalAttribute(child, "name"));
    });
    return names;
}

// The names of the "package" children of a section; a build without the section gets a note in the log.
std::vector<std::string> readPackageList(const TiXmlElement* root, const char* section, bool required,
                                         const char* missing) {
    if (const TiXmlElement* element = root->FirstChildElement(section))
        return readNames(element, "package", required);
    Log::stream(1, true) << missing;
    return {};
}

// The first text node of each such child: one component name each.
std::vector<std::string> readComponentNames(const TiXmlElement* parent, const char* name) {
    std::vector<std::string> names;
    forEachChild(parent, name, [&](const TiXmlElement* child) {
        if (const TiXmlText* text = tinybind::firstTextChild(child))
            names.push_back(text->Value());
    });
    return names;
}

BuildInfFile::group_t readGroup(const TiXmlElement* element) {
    BuildInfFile::group_t group;
    group.name = optionalAttribute(element, "name");
    group.description = optionalAttribute(element, "description");
    group.radio = optionalAttribute(element, "type") == "radio";
    for (const TiXmlElement* child = element->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string tag = child->Value();
        if (tag == "component") {
            group.components.push_back(tinybind::Element(child).requiredAttribute("name"));
            if (trueAttribute(child, "default"))
                group.defaultComponent = group.components.back();
        } else if (tag == "switch_rules") {
            group.hasSwitchRules = true;
            forEachChild(child, "allow", [&](const TiXmlElement* allow) {
                group.switchRules.emplace_back(optionalAttribute(allow, "from"),
                                               optionalAttribute(allow, "to"));
            });
        } else if (tag == "group") {
            group.groups.push_back(readGroup(child));
        }
    }
    return group;
}

BuildInfFile::repository_t readRepository(const TiXmlElement* element, const char* dirAttribute) {
    BuildInfFile::repository_t repository;
    repository.dir = requiredAttribute(element, dirAttribute);
    repository.headers_file = optionalAttribute(element, "headers_file");
    repository.persistent = flagAttribute(element, "persistent_repo");
    repository.yum_repo_id = optionalAttribute(element, "yum_repo_id");
    repository.yum_repo_name = optionalAttribute(element, "yum_repo_name");
    return repository;
}

} // namespace

BuildInfFile::BuildInfFile(const std::string& localPath, const std::string& configName)
    : configName(configName) {
    Messages messages;
    if (localPath.empty())
        throw error(error::repository, 1, 1, 3) << messages.getMessage("err_inf_fname");
    Log::stream(3, true) << "Load and parse component list from " << localPath;

    TiXmlDocument document;
    bool loaded = false;
    try {
        loaded = tinybind::loadFile(document, localPath);
    } catch (const tinybind::err& failure) {
        throw error(error::repository, 1, 1, 3)
            << messages.format("err_config_parse", localPath, failure.text);
    }
    if (!loaded)
        throw error(error::repository, 1, 1, 3)
            << messages.format("err_config_parse", localPath, std::string(document.ErrorDesc()));
    const TiXmlElement* root = document.RootElement();
    if (!root)
        throw error(error::repository, 1, 1, 3) << messages.format("err_inf3_root", localPath);

    SelfUpgrade::check_required_AI_version(*root);
    const std::string rootName = root->Value();
    if (rootName != "build" && rootName != "build_1")
        throw error(error::repository, 1, 1, 3) << messages.format("err_binf3_build", localPath);

    readOsAttributes(root);
    readProduct(root);
    try {
        try {
            readComponents(root);
            readInstallationTypes(root);
            readComponentGroups(root);
            readRepositories(root);
            readExtCatalog(root);
            readPackageLists(root);
            readBuildFlags(root);
        } catch (const tinybind::err& failure) {
            // The helpers' text names the element and its place; it must reach the user as the
            // installer's own error, not as an unexpected exception.
            throw error(error::repository, 1, 1, 3) << failure.text;
        }
    } catch (error& e) {
        e << ". Error while parse " << localPath;
        throw;
    }
}

BuildInfFile::~BuildInfFile() = default;

void BuildInfFile::readOsAttributes(const TiXmlElement* root) {
    build.os_name = requiredAttribute(root, "os_name");
    build.os_vendor = requiredAttribute(root, "os_vendor");
    build.os_version = requiredAttribute(root, "os_version");
    build.os_arch = requiredAttribute(root, "os_arch");
    build.environment = requiredAttribute(root, "environment");
    build.os_release_name = optionalAttribute(root, "os_release_name");
    build.ezTemplatePrefix = optionalAttribute(root, "ez-template-prefix");
    build.ezTemplateSuffix = optionalAttribute(root, "ez-template-suffix");
    build.deprecated = optionalAttribute(root, "deprecated");
}

void BuildInfFile::readProduct(const TiXmlElement* root) {
    const char* const warning =
        "Warning: There is some error during read optional config section 'product': ";
    try {
        const tinybind::Element element = tinybind::Element(root).child("product");
        product.id = element.attribute("id");
        for (tinybind::ChildIterator group(element, "keypackages"), end; group != end; ++group) {
            std::vector<std::string> names;
            for (tinybind::ChildIterator name(*group, "keypackage"); name != end; ++name)
                names.push_back((*name).text(false));
            product.keyPackages.push_back(names);
            for (tinybind::ChildIterator code(*group, "upgrade_code"); code != end; ++code)
                product.upgradeCodes.push_back((*code).text(false));
            for (tinybind::ChildIterator code(*group, "product_code"); code != end; ++code)
                product.productCodes.push_back((*code).text(false));
        }
        const tinybind::Element release = element.child("release");
        product.releaseId = release.attribute("id");
        product.releaseName = release.attribute("name");
        product.releaseCodename = release.attribute("codename");
        product.releaseVersion = release.attribute("version");
        product.upgradeAllowedFrom = release.attribute("upgrade_allowed_from");
        product.parametersFile = release.attribute("parameters_file");
    } catch (const error& e) {
        Log::stream(1, true) << warning << withoutFinalNewline(e.getText());
    } catch (const tinybind::err& e) {
        Log::stream(1, true) << warning << e.text;
    }
}

void BuildInfFile::readComponents(const TiXmlElement* root) {
    for (const TiXmlElement* child = root->FirstChildElement(); child; child = child->NextSiblingElement()) {
        const std::string tag = child->Value();
        if (tag == "component") {
            if (boost::shared_ptr<component_t> component = readComponent(child))
                components.push_back(component);
        } else if (tag == "include") {
            auto include = boost::make_shared<component_t>();
            include->name = includeRecordName;
            include->description = requiredAttribute(child, "config");
            components.push_back(include);
        }
    }
    // Dropped components leave no record; a description needs at least one.
    if (components.empty())
        throw error(error::repository, 1, 1, 3) << Messages().format("err_binf3_comps", configName);
}

boost::shared_ptr<BuildInfFile::component_t> BuildInfFile::readComponent(const TiXmlElement* element) {
    auto component = boost::make_shared<component_t>();
    component->uninstallSupport = optionalAttribute(element, "uninstall_support") != "false";
    component->name = requiredAttribute(element, "name");
    component->description = requiredAttribute(element, "description");
    if (component->description.empty())
        component->description = component->name + " (description empty)";

    try {
        component->classes = util::split_escaped_list(optionalAttribute(element, "classes"));
    } catch (const boost::escaped_list_error& failure) {
        error e(error::repository, 1, 1, 3);
        e << failure.what();
        e.addLine(error::repository, 1, 1, 3)
            << "Failed to parse list of classes for product component '" << component->name << "'.";
        throw e;
    } catch (error& e) {
        e.addLine(error::repository, 1, 1, 3)
            << "Failed to parse list of classes for product component '" << component->name << "'.";
        throw;
    }

    component->hidden = trueAttribute(element, "hidden");
    component->showInstalledHidden = trueAttribute(element, "show_installed_hidden");
    component->denyImplicitRemoval = trueAttribute(element, "deny_implicit_removal");
    component->environment = optionalAttribute(element, "environment");

    if (const TiXmlElement* bootstrapper = element->FirstChildElement("bootstrapper")) {
        Log::stream(3, true) << "parse bootstrapper for component " << component->name;
        component->bootstrapper = readBootstrapper(bootstrapper);
    }

    forEachChild(element, "keypackages", [&](const TiXmlElement* child) {
        keypackages_t set;
        set.keypackages = readNames(child, "keypackage", true);
        set.nokeypackages = readNames(child, "nokeypackage", true);
        set.keyprovides = readNames(child, "keyprovide", true);
        if (set.keypackages.empty() && set.nokeypackages.empty() && set.keyprovides.empty())
            throw error(error::repository, 1, 1, 3)
                << Messages().format("err_binf3_compkey", component->name);
        component->keyPackageSets.push_back(set);
    });

    if (const TiXmlElement* expackages = element->FirstChildElement("expackages"))
        component->expackages = readNames(expackages, "expackage", false);
    if (const TiXmlElement* rmpackages = element->FirstChildElement("rmpackages"))
        component->rmpackages = readNames(rmpackages, "rmpackage", false);
    component->ezTemplates = readNames(element, "eztemplate", true);

    component->hardwired_with = readComponentNames(element, "hardwired_with");
    component->requires = readComponentNames(element, "requires");
    component->conflicts = readComponentNames(element, "conflicts");

    forEachChild(element, "package", [&](const TiXmlElement* child) {
        component->packages.push_back(createPackage(child, 'b', __LINE__));
        if (const TiXmlElement* settings = child->FirstChildElement("settings"))
            component->settingsElement = std::make_shared<const TiXmlElement>(*settings);
    });

    forEachChild(element, "examine",
                 [&](const TiXmlElement* child) { component->examinations.push_back(readExamine(child)); });

    if (const TiXmlElement* ports = element->FirstChildElement("comp_ports_options")) {
        forEachChild(ports, "port", [&](const TiXmlElement* port) {
            std::map<std::string, std::string> options;
            forEachChild(port, "option", [&](const TiXmlElement* option) {
                options[optionalAttribute(option, "name")] = optionalAttribute(option, "value");
            });
            component->portOptions[optionalAttribute(port, "name")] = options;
        });
    }

    if (component->packages.empty() && component->keyPackageSets.empty() && component->ezTemplates.empty() &&
        component->portOptions.empty()) {
        Log::stream(0, true) << "Warning: component " << component->name
                             << " have no build or keypackages, ignore.";
        return nullptr;
    }
    return component;
}

void BuildInfFile::readInstallationTypes(const TiXmlElement* root) {
    const TiXmlElement* types = root->FirstChildElement("installation_types");
    if (!types)
        return;
    forEachChild(types, "type", [&](const TiXmlElement* element) {
        installation_type_t type;
        type.name = optionalAttribute(element, "name");
        type.description = optionalAttribute(element, "description");
        forEachChild(element, "component", [&](const TiXmlElement* component) {
            type.components.push_back(tinybind::Element(component).text(false));
        });
        if (type.name.empty() || type.components.empty())
            throw internal_error(unit, __LINE__);
        installationTypes.push_back(type);
    });
}

void BuildInfFile::readComponentGroups(const TiXmlElement* root) {
    if (const TiXmlElement* section = root->FirstChildElement("component_groups"))
        forEachChild(section, "group",
                     [&](const TiXmlElement* group) { groups.push_back(readGroup(group)); });
}

void BuildInfFile::readRepositories(const TiXmlElement* root) {
    buildRepository = readRepository(root, "build_dir");

    if (const TiXmlElement* updates = root->FirstChildElement("updates")) {
        updatesRepository.dir = requiredAttribute(updates, "updates_dir");
        updatesRepository.headers_file = optionalAttribute(updates, "headers_file");
        forEachChild(updates, "package", [&](const TiXmlElement* entry) {
            if (entry->Attribute("file")) {
                updatePackages.push_back(createPackage(entry, 'u', __LINE__));
                return;
            }
            const std::string port = requiredAttribute(entry, "name");
            std::map<std::string, std::string> options;
            forEachChild(entry, "option", [&](const TiXmlElement* option) {
                const std::string name = requiredAttribute(option, "name");
                options[name] = requiredAttribute(option, "value");
            });
            portOptions[port] = options;
        });
    } else {
        Log::stream(1, true) << "No updates section in this build";
    }

    if (const TiXmlElement* thirdparty = root->FirstChildElement("thirdparty")) {
        thirdpartyRepository = readRepository(thirdparty, "thirdparty_dir");
        forEachChild(thirdparty, "package", [&](const TiXmlElement* entry) {
            thirdpartyPackages.push_back(createPackage(entry, 't', __LINE__));
        });
    } else {
        Log::stream(1, true) << "No thirdparty section in this build";
    }

    if (const TiXmlElement* extras = root->FirstChildElement("extras"))
        extrasRepository = readRepository(extras, "extras_dir");
    else
        Log::stream(1, true) << "No extra section in this build";
}

void BuildInfFile::readExtCatalog(const TiXmlElement* root) {
    const TiXmlElement* section = root->FirstChildElement("ext_catalog");
    if (!section) {
        Log::stream(3, true) << "No ext_catalog section in this build";
        return;
    }
    const TiXmlElement* templatePackage = section->FirstChildElement("package");
    if (!templatePackage)
        Log::stream(3, true) << "No package section in ext_catalog section";

    std::string url = Options::instance().extCatalogUrl;
    if (url.empty())
        url = requiredAttribute(section, "url");

    try {
        const ExtCatalog::Feed feed =
            ExtCatalog::downloadFeed(ExtCatalog::createFeedDownloader(url), "unix", product.releaseVersion);

        std::vector<boost::shared_ptr<component_t>> undescribed;
        for (const boost::shared_ptr<component_t>& component : components)
            if (component->description.empty() ||
                component->description == component->name + " (description empty)")
                undescribed.push_back(component);

        for (const auto& entry : feed) {
            const std::string& code = entry.first;
            const ExtCatalog::FeedItem& item = entry.second;
            TiXmlElement element = templatePackage ? TiXmlElement(*templatePackage) : TiXmlElement("package");
            const std::string name = "ext-" + code;
            element.SetAttribute("name", name);
            element.SetAttribute("file", "");
            element.SetAttribute("version", item.version);
            element.SetAttribute("release", item.release);
            element.SetAttribute("arch", "noarch");

            Package* package = createPackage(&element, 'e', __LINE__);
            auto* extension = dynamic_cast<ExtCatalogPackage*>(package);
            if (!extension)
                throw internal_error(unit, __LINE__);
            extension->setCode(code);
            extension->setDisplayName(item.name);
            extension->setDownloadUrl(item.download_url);
            extCatalogPackages.push_back(package);

            if (item.name.empty())
                continue;
            for (auto component = undescribed.begin(); component != undescribed.end(); ++component) {
                bool named = false;
                for (const keypackages_t& set : (*component)->keyPackageSets)
                    for (const std::string& key : set.keypackages)
                        named = named || key == name;
                if (named) {
                    (*component)->description = item.name;
                    undescribed.erase(component);
                    break;
                }
            }
        }
    } catch (const error& e) {
        Log::stream(2, true) << Messages().format("err_ext_catalog_collect_packages",
                                                  withoutFinalNewline(e.getText()));
    }
}

void BuildInfFile::readPackageLists(const TiXmlElement* root) {
    removablePackages =
        readPackageList(root, "removable_packages", true, "No removers section in this build.");
    forceRemovePackages =
        readPackageList(root, "force_remove_packages", false, "No force remove packages list in this build.");
    preferredPackages =
        readPackageList(root, "preferred_packages", true, "No preferrers section in this build.");
}

void BuildInfFile::readBuildFlags(const TiXmlElement* root) {
    build.sendFeedback = flagAttribute(root, "send_feedback");
    build.uninstallSupport = flagAttribute(root, "uninstall_support");

    const std::string gpgcheck = optionalAttribute(root, "gpgcheck");
    if (gpgcheck == "yes" || gpgcheck == "true")
        build.gpgCheck = true;
    else if (gpgcheck == "deb")
        build.gpgCheck = Opsys().isDebianLike();
    else if (gpgcheck == "rpm")
        build.gpgCheck = Opsys().isRedHatLike();
    if (const TiXmlElement* key = root->FirstChildElement("gpg_public_key"))
        build.gpgPublicKey = tinybind::Element(key).text(false);

    if (const TiXmlElement* bootstrapper = root->FirstChildElement("bootstrapper")) {
        Log::stream(3, true) << "parse bootstrapper for build";
        build.bootstrapper = readBootstrapper(bootstrapper);
    }

    forEachChild(root, "examine",
                 [&](const TiXmlElement* element) { build.examinations.push_back(readExamine(element)); });

    build.apt_repository = optionalAttribute(root, "apt_repository");
    build.apt_source = optionalAttribute(root, "apt_source");
    build.persistent_apt_source = optionalAttribute(root, "persistent_apt_source");
}
