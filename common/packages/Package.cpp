#include "common/packages/Package.h"

#include "common/packages/DebPackage.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/PackageCacheReader.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"

#include <tinyxml.h>

#include <cstring>

namespace {

bool endsWith(const std::string& text, const char* suffix) {
    size_t length = strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The value of a required attribute of a package element.
std::string packageAttribute(const TiXmlElement* element, const char* attribute) {
    std::string value;
    if (!tinybind::readAttribute(value, element, attribute)) {
        Log::stream(1, true) << "No '" << attribute << "' attribute for tag 'package'";
        throw error(error::repository, 1, 1, 3) << Messages().getMessage("err_bad_pkgtag");
    }
    return value;
}

} // namespace

Package::Package(const std::string& name, std::unique_ptr<Version> version)
    : name(name), version(std::move(version)) {}

Package::Package(const std::string& name, const std::string& versionText)
    : Package(name, std::make_unique<Version>(versionText)) {}

Package::~Package() = default;

std::unique_ptr<Package> Package::createFromFile(const std::string& name, const std::string& versionText,
                                                 const std::string& fileName) {
    std::unique_ptr<Package> package;
    if (endsWith(fileName, ".rpm"))
        package = std::make_unique<RPMPackage>(name, versionText);
    else if (endsWith(fileName, ".deb"))
        package = std::make_unique<DebPackage>(name, versionText);
    else
        throw error(0, 0, 0, 0) << "Unable to create package object from file " << fileName;
    package->setFileName(fileName);
    return package;
}

std::unique_ptr<Package> Package::createFromXml(const tinybind::Element& element, type_t type) {
    const TiXmlElement* e = element.get();
    if (!e)
        throw tinybind::err{0, "no element pointer"};
    std::string name = packageAttribute(e, "name");
    std::string file = packageAttribute(e, "file");
    std::string versionText = packageAttribute(e, "version");
    std::string release = packageAttribute(e, "release");
    if (!release.empty())
        versionText += "-" + release;

    std::unique_ptr<Package> package;
    if (type == 'e') {
        package = std::make_unique<ExtCatalogPackage>(name, versionText);
        package->setXml(*e);
        package->parseRequires();
    } else {
        package = createFromFile(name, versionText, file);
    }
    package->setArch(packageAttribute(e, "arch"));
    if (!file.empty()) {
        package->setMd5(packageAttribute(e, "md5"));
        package->setBuildTime(packageAttribute(e, "buildtime"));
        package->setSize(packageAttribute(e, "size"));
    }
    package->setType(type);

    std::string classList;
    if (tinybind::readAttribute(classList, e, "classes")) {
        size_t start = 0;
        for (;;) {
            size_t comma = classList.find(',', start);
            package->addClass(classList.substr(start, comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    return package;
}

std::unique_ptr<Package> Package::createFromCache(FILE* file, int* lineCounter) {
    return PackageCacheReader(file, lineCounter).readRecord();
}

const Version& Package::getVersion() const {
    return *checked_pointer<const Version>(version.get());
}

bool Package::visitProvides(const Dependency* dependency) const {
    for (const std::shared_ptr<Dependency>& provide : provideList)
        if (dependency->matches(provide.get()))
            return true;
    return false;
}

void Package::readInfo() {
    throw error(0, 1, 1, 3) << Messages().getMessage("err_basepkg_noread");
}

std::shared_ptr<Dependency> Package::createDependency(const std::string& text) const {
    if (!text.empty() && text[0] == '/')
        return DependencyFile::create(text, 0, "", this);
    return std::make_shared<DependencyLogical>(text, this);
}

void Package::readFileStat() {
    const std::string& path = getFileName();
    installTime = fileops::last_write_time(path);
    std::string digest = util::md5_file_string(path);
    if (digest.empty())
        throw error(error::internal, 1, 1, 3) << "Unable to get MD5 checksum of " << path << " file.";
    setMd5(digest);
    size = static_cast<int64_t>(fileops::file_size(path));
    if (size == 0)
        Log::stream(0, true) << "ERROR: Can't get size for " << path;
}

void Package::setVersion(std::unique_ptr<Version> newVersion) {
    version = std::move(newVersion);
}

void Package::setArch(const std::string& text) {
    arch = PooledString(text.empty() ? "noarch" : text);
}

void Package::setBuildTime(const std::string& text) {
    buildTime = util::to_long(text);
}

void Package::setSize(const std::string& text) {
    size = util::to_long(text);
}

void Package::setMd5(const std::string& text) {
    unsigned char digest[16];
    DependencyFile::parseMd5(text, digest);
    std::copy(std::begin(digest), std::end(digest), md5.begin());
}

const std::string& Package::getFileName() const {
    if (fileName.empty())
        fileName =
            std::string(name.c_str()) + "-" + (version ? version->getVersionWithEpoch() : "(no version)");
    return fileName;
}

Package::Extras& Package::ownExtras() {
    if (!extras)
        extras = std::make_unique<Extras>();
    return *extras;
}

const Package::Extras& Package::readExtras() const {
    static const Extras none;
    return extras ? *extras : none;
}

const TiXmlElement* Package::getXml() const {
    return checked_pointer<const TiXmlElement>(readExtras().xml.get()).get();
}

void Package::setXml(const TiXmlElement& element) {
    ownExtras().xml = std::make_unique<TiXmlElement>(element);
}

const std::map<std::string, std::string>& Package::getProperties() const {
    return readExtras().properties;
}

std::string Package::getProperty(const std::string& propertyName) const {
    const auto& properties = getProperties();
    auto found = properties.find(propertyName);
    return found == properties.end() ? "" : found->second;
}

void Package::setProperty(const std::string& propertyName, const std::string& value) {
    ownExtras().properties[propertyName] = value;
}

const std::vector<ActionsSequence*>& Package::getActions() const {
    return readExtras().actions;
}

const std::set<std::string>& Package::getClasses() const {
    return readExtras().classes;
}

void Package::addRequire(const std::string& text) {
    if (text.empty() || isIgnoredRequirement(text))
        return;
    requireList.push_back(createDependency(text));
}

void Package::addProvide(const std::string& text) {
    if (!text.empty())
        provideList.push_back(createDependency(text));
}

void Package::addConflict(const std::string& text) {
    if (!text.empty())
        conflictList.push_back(createDependency(text));
}

void Package::addObsolete(const std::string& text) {
    if (!text.empty())
        obsoleteList.push_back(createDependency(text));
}

void Package::copyDependencies(const Package& other) {
    requireList = other.requireList;
    provideList = other.provideList;
    conflictList = other.conflictList;
    obsoleteList = other.obsoleteList;
}

void Package::removeRequire(size_t index) {
    if (index < requireList.size())
        requireList.erase(requireList.begin() + index);
}

bool Package::requiresPackage(const Package* other) const {
    for (const std::shared_ptr<Dependency>& require : requireList)
        for (size_t i = 0; i < require->getProviderCount(); ++i) {
            std::shared_ptr<Dependency> provider = require->getProvider(i);
            if (provider && provider->getMaster() == other)
                return true;
        }
    return false;
}

void Package::parseRequires() {
    const TiXmlElement* xml = readExtras().xml.get();
    if (!xml)
        throw internal_error("common/Package", 573);
    Log::stream(3, true) << "debug: Package::parseRequires " << name << " filename " << fileName;
    bool hasActions = false;
    for (const TiXmlElement* child = xml->FirstChildElement(); child; child = child->NextSiblingElement()) {
        const TiXmlText* textNode = tinybind::firstTextChild(child);
        std::string text = textNode ? textNode->Value() : "";
        const std::string& tag = child->ValueStr();
        if (tag == "requires")
            addRequire(text);
        else if (tag == "provides")
            addProvide(text);
        else if (tag == "conflicts")
            addConflict(text);
        else if (tag == "obsoletes")
            addObsolete(text);
        else if (tag == "actions")
            hasActions = true;
    }
    if (!fileName.empty() || hasActions) {
        std::shared_ptr<Dependency> self = getSelfProvide();
        provideList.push_back(self);
        Log::stream(3, true) << "debug: Package " << name << "::parseRequires: add self provides " << *self;
    }
}

std::shared_ptr<Dependency> Package::getSelfProvide() const {
    if (!selfProvide)
        selfProvide = createDependency(std::string(name.c_str()) + " = " + getVersion().toString());
    return selfProvide;
}

std::ostream& Package::print(std::ostream& out) const {
    out << name;
    if (version)
        out << "-" << *version;
    if (!arch.empty())
        out << "." << arch;
    return out;
}

std::string Package::evaluateString(const std::string& text) const {
    std::string result = text;
    size_t position = 0;
    for (;;) {
        size_t open = result.find('[', position);
        if (open == std::string::npos)
            break;
        size_t close = result.find(']', open + 1);
        if (close == std::string::npos)
            break;
        std::string propertyName = result.substr(open + 1, close - open - 1);
        auto found = getProperties().find(propertyName);
        if (found == getProperties().end()) {
            Log::stream(3, true) << "debug: Package::evaluateString: undefined property " << propertyName
                                 << " in expression " << text;
            position = close;
            continue;
        }
        const std::string& value = found->second;
        result.replace(open, close - open + 1, value);
        // A value is not expanded again, but may complete a placeholder with the text after it.
        if (!value.empty())
            position = open + value.size() - 1;
        else
            position = open == 0 ? 0 : open - 1;
    }
    return result;
}

std::ostream& operator<<(std::ostream& out, const Package& package) {
    return package.print(out);
}

bool isRemoverPackage(const Package* package) {
    return package->getType() == 'd' && package->getObsolete(0) != nullptr;
}

Package* keepForever(std::unique_ptr<Package> package) {
    // Reachable to the end, so that leak checkers see them kept on purpose.
    static std::vector<std::unique_ptr<Package>>* kept = new std::vector<std::unique_ptr<Package>>;
    kept->push_back(std::move(package));
    return kept->back().get();
}
