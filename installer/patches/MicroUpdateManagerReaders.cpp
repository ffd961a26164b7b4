// Reading patch lists.

#include "installer/patches/MicroUpdateManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/patches/MUEntityCmd.h"
#include "installer/patches/MUEntityFile.h"

#include <tinyxml.h>

#include <sstream>

namespace {

std::string attribute(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return value ? value : "";
}

// " (line R column C)"
std::string position(const TiXmlNode* node) {
    return " (line " + std::to_string(node->Row()) + " column " + std::to_string(node->Column()) + ")";
}

error parseError(const std::string& text) {
    return error(1, 1, 1, 3) << text;
}

// The directory part of the list's path with a trailing '/': file names in the list are relative to it.
std::string itemPrefix(const std::string& listPath) {
    const std::string::size_type slash = listPath.rfind('/');
    return slash == std::string::npos ? "/" : listPath.substr(0, slash + 1);
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

// Whether a path has a component "." or ".." (with `allowDot`, "." is harmless in a name).
bool hasDotComponent(const std::string& path, bool allowDot) {
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
        if (part == ".." || (part == "." && !allowDot))
            return true;
    return false;
}

// Targets are plain absolute paths; names stay below the list's directory on the source.
void checkPlaces(const std::string& name, const std::string& target, const TiXmlElement* item) {
    if (name.empty() || name[0] == '/' || hasDotComponent(name, true) || hasControlCharacter(name))
        throw parseError("parse error: attribute 'name' must be a relative path without '..' at" +
                         position(item));
    if (target.size() < 2 || target[0] != '/' || hasDotComponent(target, false) ||
        hasControlCharacter(target))
        throw parseError("parse error: attribute 'target' must be an absolute path without '.' or '..' at" +
                         position(item));
}

// "true" sets the bit, "false" clears it, anything else leaves it alone.
void readBit(const TiXmlElement* element, const char* name, int bit, int& setBits, int& clearBits) {
    if (!element)
        return;
    const std::string value = attribute(element, name);
    if (value == "true")
        setBits |= bit;
    else if (value == "false")
        clearBits |= bit;
}

} // namespace

void MicroUpdateManager::parseUrl(const boost::shared_ptr<Build>& build, const std::string& path) {
    Log::stream(3, true) << "MicroUpdateManager::parseUrl: " << path;
    try {
        const std::string local = fetcher->getFile(path, "", "");
        tinybind::Document document(local);
        const TiXmlElement* root = document.root("patches");
        const Release& release = *build->_parent;
        const std::string prefix = itemPrefix(path);
        for (const TiXmlElement* product = root->FirstChildElement("product"); product;
             product = product->NextSiblingElement("product")) {
            const std::string id = attribute(product, "id");
            const std::string version = attribute(product, "version");
            if (id != release.prod()->_id || !(Version(version) == release._version)) {
                Log::stream(2, true) << "Skipping the patch from " << path << " for " << id << " version "
                                     << version << " because it is incompatible with " << *build;
                continue;
            }
            for (const TiXmlElement* element = product->FirstChildElement("patch"); element;
                 element = element->NextSiblingElement("patch")) {
                auto patch = std::make_shared<MUPatch>(
                    id, version, attribute(element, "version"), attribute(element, "timestamp"),
                    util::to_bool(attribute(element, "security")),
                    util::to_bool(attribute(element, "forced")), attribute(element, "type"),
                    attribute(element, "revision"));
                if (element->FirstChild())
                    parsePackage(*patch, element, prefix);
                addPatch(patch);
            }
        }
    } catch (const error& e) {
        Log::stream(0, true) << "Unable to process patch config: " << path << ": " << e.getText();
    }
}

void MicroUpdateManager::parsePackage(MUPatch& patch, const TiXmlElement* patchElement,
                                      const std::string& prefix) {
    const TiXmlElement* package = patchElement->FirstChildElement("package");
    if (!package)
        throw internal_error("installer/MicroUpdateManager", 199);
    for (const TiXmlElement* item = package->FirstChildElement(); item; item = item->NextSiblingElement()) {
        try {
            parseItem(patch, item, prefix);
        } catch (error& e) {
            e.addLine(1, 1, 1, 3) << "Failed to parse the patch file at " << position(item);
            throw;
        } catch (const std::exception&) {
            throw parseError("Failed to parse the patch file at " + position(item));
        }
    }
}

void MicroUpdateManager::parseItem(MUPatch& patch, const TiXmlElement* item, const std::string& prefix) {
    const std::string kind = item->Value();
    if (kind == "file")
        parse_file_entity(patch, item, prefix);
    else if (kind == "shell")
        patch.addItem(std::make_shared<MUEntityCmd>(steps, attribute(item, "cmd")));
    else
        throw parseError("Unsupported item type: " + kind + " " + position(item));
}

void MicroUpdateManager::parse_file_entity(MUPatch& patch, const TiXmlElement* item,
                                           const std::string& prefix) {
    const std::string md5 = attribute(item, "md5");
    if (md5.empty())
        throw parseError("parse error: attribute 'md5' is empty at " + position(item));
    const std::string name = attribute(item, "name");
    Log::stream(3, true) << "DEBUG: parse_file_entity: " << name;
    const std::string target = attribute(item, "target");
    checkPlaces(name, target, item);

    auto file = std::make_shared<MUEntityFile>(&patchFetcher, prefix + name, target, md5,
                                               util::to_bool(attribute(item, "create_new")), steps, files);
    if (const TiXmlElement* permissions = item->FirstChildElement("permissions"))
        parsePermissions(*file, permissions);
    patch.addItem(file);
}

void MicroUpdateManager::parsePermissions(MUEntityFile& file, const TiXmlElement* permissions) {
    int setBits = 0;
    int clearBits = 0;
    readBit(permissions, "sticky", 01000, setBits, clearBits);

    const TiXmlElement* user = permissions->FirstChildElement("user");
    readBit(user, "read", 0400, setBits, clearBits);
    readBit(user, "write", 0200, setBits, clearBits);
    readBit(user, "exec", 0100, setBits, clearBits);
    readBit(user, "suid", 04000, setBits, clearBits);

    const TiXmlElement* group = permissions->FirstChildElement("group");
    readBit(group, "read", 040, setBits, clearBits);
    readBit(group, "write", 020, setBits, clearBits);
    readBit(group, "exec", 010, setBits, clearBits);
    readBit(group, "suid", 02000, setBits, clearBits);

    const TiXmlElement* others = permissions->FirstChildElement("others");
    readBit(others, "read", 04, setBits, clearBits);
    readBit(others, "write", 02, setBits, clearBits);
    readBit(others, "exec", 01, setBits, clearBits);

    file.setPermissions(user ? attribute(user, "name") : "", group ? attribute(group, "name") : "", setBits,
                        clearBits);
}
