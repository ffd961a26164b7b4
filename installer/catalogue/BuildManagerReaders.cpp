// The readers of the catalogue files: products list, product files with their releases and builds,
// add-on files, and a catalogue made of one build description.

#include "installer/catalogue/BuildManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildInfFile.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/patches/SelfUpgrade.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <memory>
#include <utility>

using tinybind::ChildIterator;
using tinybind::Element;

namespace {

ChildIterator children(const Element& parent, const std::string& name) {
    return ChildIterator(parent, name);
}

std::string optional(const Element& element, const char* name) {
    return element.attribute(name);
}

// The "src" attribute of the first child with that tag.
std::string firstSource(const Element& parent, const char* tag) {
    const TiXmlElement* found = parent.get()->FirstChildElement(tag);
    return found ? Element(found).attribute("src") : std::string();
}

std::string inDirectory(const std::string& dir, const std::string& path) {
    return dir.empty() ? path : dir + "/" + path;
}

struct hide_word_t {
    const char* word;
    uint32_t bits;
};

const hide_word_t hide_words[] = {
    {"none", 0},         {"cli", 1},  {"web", 2},        {"interactive", 3},   {"query", 4},
    {"other", 8},        {"all", 15}, {"filtered", 256}, {"nonfiltered", 512}, {"autoassigned", 1024},
    {"inanycase", 1792},
};

// Display names of the products of our own making, for a catalogue made of one build description.
const std::pair<const char*, const char*> product_names[] = {
    {"moxel", "Moxel"},
    {"pagewright", "Pagewright"},
    {"moxel-extensions", "Moxel Extensions"},
};

} // namespace

std::vector<BuildManager::product_ref_t> BuildManager::parseProductsList(tinybind::Document& document,
                                                                         std::vector<product_ref_t>& addons) {
    std::vector<product_ref_t> products;
    const Element root(document.root("vendors"));
    for (ChildIterator vendor = children(root, "vendor"); vendor != ChildIterator(); ++vendor) {
        const Element list = (*vendor).child("products");
        for (ChildIterator item = children(list, ""); item != ChildIterator(); ++item) {
            const Element element = *item;
            product_ref_t entry;
            entry._id = optional(element, "id");
            entry._name = optional(element, "name");
            entry._reference = optional(element, "reference");
            const bool hidden = util::to_bool(optional(element, "hidden_to_install"));
            const std::string tag = element.name();
            if (tag == "product") {
                entry._hidden_to_install = hidden;
                parseIncompatibleWith(entry, element);
                products.push_back(entry);
            } else if (tag == "addon" || tag == "lazy_addon") {
                entry._lazy = tag == "lazy_addon";
                addons.push_back(entry);
            }
        }
    }
    return products;
}

void BuildManager::parseIncompatibleWith(product_ref_t& entry, const Element& element) {
    for (ChildIterator item = children(element, "incompatible_with"); item != ChildIterator(); ++item)
        entry._incompatible_with.push_back((*item).requiredAttribute("prod_id"));
}

void BuildManager::parseProduct(const product_ref_t& entry, const std::string& path) {
    Log::stream(3, true) << "Try to read and parse " << path;
    std::unique_ptr<tinybind::Document> document;
    try {
        document = std::make_unique<tinybind::Document>(path);
    } catch (const tinybind::err& e) {
        throw error(1, 1, 1, 3) << Messages().format("err_inf3_parse", path, e.text);
    }
    const TiXmlElement* first = document->FirstChildElement();
    if (!first)
        throw error(1, 1, 1, 3) << Messages().format("err_inf3_root", path);
    const Element root(first);
    if (root.name() != "product")
        throw error(1, 1, 1, 3) << Messages().format("err_inf3_nonprod", path);
    if (root.attribute("id").empty())
        throw error(1, 1, 1, 3) << Messages().format("err_inf3_noid", path);
    SelfUpgrade::check_required_AI_version(*first);

    auto product = boost::make_shared<Product>();
    for (ChildIterator group = children(root, "keypackages"); group != ChildIterator(); ++group) {
        std::vector<std::string> names;
        for (ChildIterator item = children(*group, ""); item != ChildIterator(); ++item) {
            const std::string tag = (*item).name();
            if (tag == "keypackage")
                names.push_back((*item).text(false));
            else if (tag == "upgrade_code")
                product->_upgrade_codes.push_back((*item).text(false));
            else if (tag == "product_code")
                product->_product_codes.push_back((*item).text(false));
        }
        product->_keypackages.push_back(names);
    }
    if (product->_keypackages.empty() || product->_keypackages.front().empty())
        throw error(1, 1, 1, 3) << Messages().format("err_prod_keypkg", path);

    product->_id = entry._id;
    product->_name = entry._name;
    product->_hidden_to_install = entry._hidden_to_install;
    product->_incompatible_with = entry._incompatible_with;
    product->_active_icon = firstSource(root, "active_icon");
    product->_disabled_icon = firstSource(root, "disabled_icon");
    product->_product_site = firstSource(root, "product_site");
    product->_kb_article = firstSource(root, "kb_article_upgrade_from_not_supported_versions");

    if (parseReleases(root, product, fileops::dirname(entry._reference)) == 0)
        throw error(1, 1, 1, 3) << Messages().format("err_inf3_norel", path);
}

int BuildManager::parseReleases(const Element& root, const boost::shared_ptr<Product>& product,
                                const std::string& dir) {
    int count = 0;
    for (ChildIterator item = children(root, ""); item != ChildIterator(); ++item) {
        const std::string tag = (*item).name();
        if (tag == "release" || tag == "release_1") {
            parseRelease(*item, product, dir);
            ++count;
        }
    }
    return count;
}

void BuildManager::parseRelease(const Element& element, const boost::shared_ptr<Product>& product,
                                const std::string& dir) {
    const TiXmlElement* e = element.get();
    const std::string location =
        " (row " + std::to_string(e->Row()) + ", col " + std::to_string(e->Column()) + ")";
    auto required = [&](const char* name, const char* key) {
        const char* value = e->Attribute(name);
        if (!value)
            throw error(1, 1, 1, 3) << Messages().format(key, _current_file, location);
        return std::string(value);
    };
    const std::string id = required("id", "err_inf3_relid");
    const std::string name = required("name", "err_inf3_relname");
    const std::string codename = optional(element, "codename");
    const std::string version = required("version", "err_inf3_relver");
    const std::string upgrade_allowed_from = required("upgrade_allowed_from", "err_inf3_upgalw");

    const boost::shared_ptr<Release> release =
        newRelease(product, id, name, codename, version, upgrade_allowed_from);
    std::string text;
    tinybind::readAttribute(release->_details_url, e, "details_url");
    if (tinybind::readAttribute(text, e, "tags"))
        release->addTags(text);
    if (tinybind::readAttribute(text, e, "promoted_tags"))
        release->addPromotedTags(text);
    if (tinybind::readAttribute(text, e, "hide_tags"))
        release->_hide_policy = parseHidePolicy(text);
    tinybind::readAttribute(release->_whp_api_version, e, "whp_api_version");
    tinybind::readAttribute(release->_dispatcher_api_version, e, "dispatcher_api_version");
    if (const TiXmlElement* caution = e->FirstChildElement("caution")) {
        const TiXmlNode* first = caution->FirstChild();
        if (first && first->ToText())
            release->_caution = first->Value();
    }

    if (!e->FirstChildElement("build")) {
        Log::stream(1, true) << "In release " << id << " no builds";
        return;
    }
    for (ChildIterator item = children(element, "build"); item != ChildIterator(); ++item)
        release->addBuild(parseBuild(release, *item, dir));
    parseBestWith(element, *release);
    _releases.push_back(release);
}

boost::shared_ptr<Build> BuildManager::parseBuild(const boost::shared_ptr<Release>& release,
                                                  const Element& element, const std::string& dir) {
    const TiXmlElement* e = element.get();
    const std::string location = " (" + _current_file + ": row " + std::to_string(e->Row()) + ", col " +
                                 std::to_string(e->Column()) + ")";
    auto required = [&](const char* name, const char* key) {
        const char* value = e->Attribute(name);
        if (!value)
            throw error(1, 1, 1, 3) << Messages().format(key, _current_file, location);
        return std::string(value);
    };
    const std::string os_name = required("os_name", "err_inf3_osname");
    const std::string os_vendor = required("os_vendor", "err_inf3_vndr");
    const std::string os_version = required("os_version", "err_inf3_osver");
    const std::string os_arch = required("os_arch", "err_inf3_osarch");
    const std::string environment = optional(element, "environment");
    const std::string config = inDirectory(dir, required("config", "err_inf3_bcfg"));

    auto build = boost::make_shared<Build>(release, os_name, os_vendor, os_version, os_arch, "", environment,
                                           config, optional(element, "deprecated"));
    build->_base_dir = dir;
    std::string patches;
    if (tinybind::readAttribute(patches, e, "patches"))
        build->_patches.push_back(inDirectory(dir, patches));
    return build;
}

void BuildManager::parseBestWith(const Element& element, Release& release) {
    const TiXmlElement* info = element.get()->FirstChildElement("compatibility_info");
    if (!info) {
        Log::stream(3, true) << "parseBestWith: no compatibility info in " << release._name;
        return;
    }
    for (ChildIterator best = children(Element(info), "best_with"); best != ChildIterator(); ++best) {
        const std::string product_id = (*best).attribute("product_id");
        if (product_id.empty())
            throw error(1, 1, 1, 3) << "Empty prod_id in best_with";
        for (ChildIterator item = children(*best, "version"); item != ChildIterator(); ++item) {
            const std::string version = (*item).text(false);
            if (version.empty())
                throw error(1, 1, 1, 3) << "Empty version in prod_id=" << product_id << " in best_with";
            Log::stream(3, true) << "parseBestWith: product " << release._name << " best with " << product_id
                                 << " " << version;
            release._best_with.emplace(product_id, version);
        }
    }
}

uint32_t BuildManager::parseHidePolicy(const std::string& text) {
    std::vector<std::string> words;
    boost::algorithm::split(words, text, boost::algorithm::is_any_of(", "));
    uint32_t policy = 0;
    for (const std::string& word : words) {
        const hide_word_t* known = std::find_if(std::begin(hide_words), std::end(hide_words),
                                                [&](const hide_word_t& entry) { return word == entry.word; });
        if (known == std::end(hide_words)) {
            Log::stream(2, true) << "Unrecognized control word '" << word
                                 << "' in display tag hide policy (hide_tags attribute)";
            continue;
        }
        Log::stream(3, true) << "Added control word '" << word << "' to display tag hide policy";
        policy |= known->bits;
    }
    return policy;
}

void BuildManager::parseAddon(const product_ref_t& entry, const std::string& path) {
    Log::stream(3, true) << "DEBUG: BuildManager::parseAddon: " << path;
    try {
        tinybind::Document document(path);
        const Element root(document.root("addon"));
        const std::string dir = fileops::dirname(entry._reference);
        for (ChildIterator item = children(root, "release"); item != ChildIterator(); ++item) {
            const Element element = *item;
            auto addon = boost::make_shared<Addon>(optional(element, "id"), optional(element, "name"),
                                                   optional(element, "version"), entry._lazy);
            const TiXmlElement* info = element.get()->FirstChildElement("compatibility_info");
            if (!info)
                throw error(1, 1, 1, 3) << "Absent compatibility_info in addon";
            for (ChildIterator window = children(Element(info), "compatible"); window != ChildIterator();
                 ++window)
                addon->addCompatible((*window).attribute("product_id"), (*window).attribute("from_version"),
                                     (*window).attribute("to_version"));
            if (!addon->hasCompatible())
                throw error(1, 1, 1, 3) << "Absent compatibility info in addon " << addon->_id;

            const Version version(addon->_version);
            const auto position =
                std::find_if(_addons.begin(), _addons.end(), [&](const boost::shared_ptr<Addon>& other) {
                    return Version(other->_version) > version;
                });
            _addons.insert(position, addon);

            for (ChildIterator build = children(element, "build"); build != ChildIterator(); ++build) {
                addon->_builds.add(parseBuild({}, *build, dir));
                Log::stream(3, true) << "Addon add " << *addon->_builds[addon->_builds.size() - 1];
            }
            if (addon->_builds.empty())
                Log::stream(1, true) << "In Addon " << *addon << " no builds";
        }
    } catch (const error& e) {
        Log::stream(2, true) << "Error in parse " << path << ": " << e.getText();
    } catch (const tinybind::err& e) {
        Log::stream(2, true) << "Error in parse " << path << ": " << e.text;
    }
}

void BuildManager::loadBuildDescription(const std::string& path) {
    const BuildInfFile description(path, fileops::basename(path));
    const BuildInfFile::product_t& block = description.product;

    auto product = boost::make_shared<Product>();
    product->_id = block.id;
    product->_name = block.id;
    for (const auto& row : product_names)
        if (block.id == row.first)
            product->_name = row.second;
    product->_keypackages = block.keyPackages;
    product->_upgrade_codes = block.upgradeCodes;
    product->_product_codes = block.productCodes;

    const boost::shared_ptr<Release> release =
        newRelease(product, block.releaseId, block.releaseName, block.releaseCodename, block.releaseVersion,
                   block.upgradeAllowedFrom);
    const BuildInfFile::build_t& os = description.build;
    release->addBuild(boost::make_shared<Build>(release, os.os_name, os.os_vendor, os.os_version, os.os_arch,
                                                os.os_release_name, os.environment, fileops::basename(path),
                                                os.deprecated));
    _releases.push_back(release);
}
