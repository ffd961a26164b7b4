#pragma once

// Shared by the build-description tests: paths of the test installation source, a debug log to
// read back, variants of fixture files, and a flat text view of a parsed description.

#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildInfFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <tinyxml.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace buildinftest {

inline std::string sourcePath(const std::string& name) {
    return std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/" + name;
}

const char* const moxelDebian = "moxel/18.0.1/debian-12-x86_64.build.inf3";
const char* const moxelCentos = "moxel/18.0.1/centos-8-x86_64.build.inf3";
const char* const pagewrightDebian = "pagewright/2.5.0/debian-12-x86_64.build.inf3";
const char* const pagewrightCentos = "pagewright/2.5.0/centos-8-x86_64.build.inf3";
const char* const extensionsDebian = "extensions/1.0.0/debian-12-x86_64.build.inf3";
const char* const extensionsCentos = "extensions/1.0.0/centos-8-x86_64.build.inf3";
const char* const includeOnly = "special/include-only.build.inf3";

// One text edit of a fixture file: `from` must occur exactly once.
using Edit = std::pair<std::string, std::string>;

class BuildInfTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        // The run settings are read from the home directory; keep the tester's own out.
        setenv("HOME", home.path().c_str(), 1);
        // gpgcheck "deb" and "rpm" depend on the server; a test for the other family sets its own.
        if (Opsys::override_vendor.empty())
            Opsys::override_vendor = "Debian";
        Log::setFileThreshold(3);
        Log::open_file(logs.file("installer.log"), true);
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    // Writes a copy of a fixture file with the edits applied and returns its path.
    std::string variant(const std::string& fixture, const std::vector<Edit>& edits) const {
        std::string text = testsupport::readFile(sourcePath(fixture));
        for (const Edit& edit : edits) {
            const size_t at = text.find(edit.first);
            EXPECT_NE(at, std::string::npos) << "not in " << fixture << ": " << edit.first;
            EXPECT_EQ(text.find(edit.first, at + 1), std::string::npos)
                << "more than once in " << fixture << ": " << edit.first;
            if (at != std::string::npos)
                text.replace(at, edit.first.size(), edit.second);
        }
        const std::string path = work.file(fixture.substr(fixture.rfind('/') + 1));
        testsupport::writeFile(path, text);
        return path;
    }

    std::string write(const std::string& name, const std::string& content) const {
        testsupport::writeFile(work.file(name), content);
        return work.file(name);
    }

    // The error the description raises.
    static error failure(const std::string& path) {
        try {
            BuildInfFile description(path, "config.build.inf3");
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << path << " loaded";
        return error();
    }

    testsupport::TempDir home;
    testsupport::TempDir logs;
    testsupport::TempDir work;
};

// A description of a Debian build with one component; `body` replaces that component.
inline std::string description(const std::string& body, const std::string& rootAttributes = "",
                               const std::string& root = "build") {
    return "<" + root +
           " os_name=\"Linux\" os_vendor=\"Debian\" os_version=\"12\" os_arch=\"x86_64\" environment=\"\" "
           "build_dir=\"dist\" " +
           rootAttributes + ">\n<product id=\"p\"><release id=\"p-1\" version=\"1.0\"/></product>\n" + body +
           "\n</" + root + ">\n";
}

inline std::string oneComponent(const std::string& attributes = "", const std::string& children = "") {
    return "<component name=\"c\" description=\"C\" " + attributes +
           "><keypackages><keypackage name=\"moxeltest-c\"/></keypackages>" + children + "</component>";
}

inline std::string join(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : separator) + items[i];
    return text;
}

inline std::string packages(const std::vector<Package*>& list) {
    std::vector<std::string> items;
    for (const Package* package : list) {
        std::ostringstream text;
        package->print(text);
        items.push_back(text.str() + "(" + package->getType() + ")");
    }
    return join(items);
}

// "[keys; no nokeys; provides provides]" per set.
inline std::string keySets(const std::vector<BuildInfFile::keypackages_t>& sets) {
    std::string text;
    for (const BuildInfFile::keypackages_t& set : sets) {
        std::string item = join(set.keypackages, " ");
        if (!set.nokeypackages.empty())
            item += "; no " + join(set.nokeypackages, " ");
        if (!set.keyprovides.empty())
            item += "; provides " + join(set.keyprovides, " ");
        text += (text.empty() ? "[" : " [") + item + "]";
    }
    return text;
}

inline std::string ports(const BuildInfFile::port_options_t& options) {
    std::vector<std::string> items;
    for (const auto& port : options) {
        std::vector<std::string> values;
        for (const auto& option : port.second)
            values.push_back(option.first + "=" + option.second);
        items.push_back(port.first + "{" + join(values) + "}");
    }
    return join(items, " ");
}

inline std::string examinations(const std::vector<BuildInfFile::examine_t>& list) {
    std::vector<std::string> items;
    for (const BuildInfFile::examine_t& e : list)
        items.push_back(e.scope + "|" + e.name + "|" + e.script + "|" + e.launcher + "|" + e.options + "|" +
                        (e.always ? "always" : "-") + "|" + e.baseDir);
    return join(items, "; ");
}

inline std::string repository(const BuildInfFile::repository_t& r) {
    return r.dir + "|" + r.headers_file + "|" + (r.persistent ? "persistent" : "-") + "|" + r.yum_repo_id +
           "|" + r.yum_repo_name;
}

inline std::string group(const BuildInfFile::group_t& g) {
    std::string text = g.name + (g.radio ? "(radio" : "(sub");
    if (!g.defaultComponent.empty())
        text += ", default " + g.defaultComponent;
    if (g.hasSwitchRules) {
        text += ", switch";
        for (const auto& rule : g.switchRules)
            text += " " + rule.first + ">" + rule.second;
    }
    text += ")[" + g.description + "]{" + join(g.components);
    for (const BuildInfFile::group_t& nested : g.groups)
        text += ", " + group(nested);
    return text + "}";
}

// Tags of the children, with the "sequence/stage" of actions and the id of settings.
inline std::string children(const TiXmlElement* element) {
    if (!element)
        return "(none)";
    std::vector<std::string> items;
    for (const TiXmlElement* child = element->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string tag = child->Value();
        if (tag == "action")
            items.push_back(std::string(child->Attribute("sequence")) + "/" +
                            (child->Attribute("stage") ? child->Attribute("stage") : "-"));
        else if (tag == "setting")
            items.push_back(child->Attribute("id"));
        else
            items.push_back(tag);
    }
    return std::string(element->Value()) + ": " + join(items);
}

inline const char* yesNo(bool flag) {
    return flag ? "yes" : "no";
}

// Every field of the description as "path" -> text.
inline std::map<std::string, std::string> describe(const BuildInfFile& d) {
    std::map<std::string, std::string> f;
    f["configName"] = d.configName;
    f["build.os_name"] = d.build.os_name;
    f["build.os_vendor"] = d.build.os_vendor;
    f["build.os_version"] = d.build.os_version;
    f["build.os_release_name"] = d.build.os_release_name;
    f["build.os_arch"] = d.build.os_arch;
    f["build.environment"] = d.build.environment;
    f["build.ezTemplatePrefix"] = d.build.ezTemplatePrefix;
    f["build.ezTemplateSuffix"] = d.build.ezTemplateSuffix;
    f["build.apt_repository"] = d.build.apt_repository;
    f["build.apt_source"] = d.build.apt_source;
    f["build.persistent_apt_source"] = d.build.persistent_apt_source;
    f["build.deprecated"] = d.build.deprecated;
    f["build.sendFeedback"] = yesNo(d.build.sendFeedback);
    f["build.uninstallSupport"] = yesNo(d.build.uninstallSupport);
    f["build.examinations"] = examinations(d.build.examinations);
    f["build.bootstrapper.packages"] = packages(d.build.bootstrapper.packages);
    f["build.bootstrapper.element"] = children(d.build.bootstrapper.element.get());
    f["build.gpgCheck"] = yesNo(d.build.gpgCheck);
    f["build.gpgPublicKey"] = d.build.gpgPublicKey;
    f["product.id"] = d.product.id;
    std::vector<std::string> keyGroups;
    for (const std::vector<std::string>& names : d.product.keyPackages)
        keyGroups.push_back("[" + join(names, " ") + "]");
    f["product.keyPackages"] = join(keyGroups, " ");
    f["product.upgradeCodes"] = join(d.product.upgradeCodes);
    f["product.productCodes"] = join(d.product.productCodes);
    f["product.release"] = d.product.releaseId + "|" + d.product.releaseName + "|" +
                           d.product.releaseCodename + "|" + d.product.releaseVersion + "|" +
                           d.product.upgradeAllowedFrom;
    f["product.parametersFile"] = d.product.parametersFile;
    f["buildRepository"] = repository(d.buildRepository);
    f["updatesRepository"] = repository(d.updatesRepository);
    f["thirdpartyRepository"] = repository(d.thirdpartyRepository);
    f["extrasRepository"] = repository(d.extrasRepository);
    f["updatePackages"] = packages(d.updatePackages);
    f["thirdpartyPackages"] = packages(d.thirdpartyPackages);
    f["extCatalogPackages"] = packages(d.extCatalogPackages);
    f["portOptions"] = ports(d.portOptions);
    f["preferredPackages"] = join(d.preferredPackages);
    f["forceRemovePackages"] = join(d.forceRemovePackages);
    f["removablePackages"] = join(d.removablePackages);
    std::vector<std::string> types;
    for (const BuildInfFile::installation_type_t& type : d.installationTypes)
        types.push_back(type.name + "(" + type.description + "): " + join(type.components));
    f["installationTypes"] = join(types, "; ");
    std::vector<std::string> groups;
    for (const BuildInfFile::group_t& g : d.groups)
        groups.push_back(group(g));
    f["groups"] = join(groups, "; ");
    std::vector<std::string> names;
    for (const auto& c : d.components) {
        names.push_back(c->name);
        const std::string p = "component." + c->name + ".";
        f[p + "description"] = c->description;
        f[p + "environment"] = c->environment;
        f[p + "requires"] = join(c->requires);
        f[p + "hardwired_with"] = join(c->hardwired_with);
        f[p + "conflicts"] = join(c->conflicts);
        f[p + "keyPackageSets"] = keySets(c->keyPackageSets);
        f[p + "expackages"] = join(c->expackages);
        f[p + "rmpackages"] = join(c->rmpackages);
        f[p + "ezTemplates"] = join(c->ezTemplates);
        f[p + "portOptions"] = ports(c->portOptions);
        f[p + "bootstrapper.packages"] = packages(c->bootstrapper.packages);
        f[p + "bootstrapper.element"] = children(c->bootstrapper.element.get());
        f[p + "packages"] = packages(c->packages);
        f[p + "classes"] = join(c->classes);
        f[p + "examinations"] = examinations(c->examinations);
        f[p + "settingsElement"] = children(c->settingsElement.get());
        f[p + "uninstallSupport"] = yesNo(c->uninstallSupport);
        f[p + "hidden"] = yesNo(c->hidden);
        f[p + "showInstalledHidden"] = yesNo(c->showInstalledHidden);
        f[p + "denyImplicitRemoval"] = yesNo(c->denyImplicitRemoval);
    }
    f["components"] = join(names);
    return f;
}

} // namespace buildinftest
