#pragma once

#include "common/packages/Dependency.h"
#include "common/packages/PooledString.h"
#include "common/packages/Version.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

class ActionsSequence;
class Source;
class TiXmlElement;
namespace tinybind {
class Element;
}

// One package the installer knows of: identity, file facts, dependency lists and annotations.
// Packages are made once and referenced by plain pointers for the rest of the run.
class Package {
public:
    // 'n' none, 's' installed, 'b' of a build, 'u' of an update source, 't' thirdparty of a build,
    // 'r' resolver priority only, 'e' extension catalogue, 'd' dummy, 'z' to be taken out.
    using type_t = char;
    using dependencies_t = std::vector<std::shared_ptr<Dependency>>;

    Package(const std::string& name, std::unique_ptr<Version> version);
    Package(const std::string& name, const std::string& versionText);
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    virtual ~Package();

    // ".rpm" makes an RPMPackage, ".deb" a DebPackage with Debian version rules; the file is not read.
    static std::unique_ptr<Package> createFromFile(const std::string& name, const std::string& versionText,
                                                   const std::string& fileName);
    // A "package" element of a build description or of the extension catalogue ('e').
    static std::unique_ptr<Package> createFromXml(const tinybind::Element& element, type_t type);
    // One record of the package cache text, from the current position of the file to just after
    // its 'X' line; every line read, comments included, adds one to *lineCounter.
    static std::unique_ptr<Package> createFromCache(FILE* file, int* lineCounter);

    // Raises the checked-pointer error when the package has no version.
    virtual const Version& getVersion() const;
    // Whether the dependency matches one of the provides list; the own provide is not tried.
    virtual bool visitProvides(const Dependency* dependency) const;
    // Fills the package from its file; only the package-file classes can.
    virtual void readInfo();
    // A path (leading '/') makes a file entry without mode or digest, anything else a capability.
    virtual std::shared_ptr<Dependency> createDependency(const std::string& text) const;

    PooledString getName() const { return name; }
    void setName(const std::string& text) { name = PooledString(text); }
    bool hasVersion() const { return version != nullptr; }
    void setVersion(std::unique_ptr<Version> newVersion);
    type_t getType() const { return type; }
    void setType(type_t newType) { type = newType; }
    PooledString getArch() const { return arch; }
    // An empty text gives "noarch".
    void setArch(const std::string& text);

    int64_t getBuildTime() const { return buildTime; }
    void setBuildTime(int64_t seconds) { buildTime = seconds; }
    // Decimal text; other characters raise err_non_digit.
    void setBuildTime(const std::string& text);
    int64_t getInstallTime() const { return installTime; }
    void setInstallTime(int64_t seconds) { installTime = seconds; }
    int64_t getSize() const { return size; }
    void setSize(int64_t bytes) { size = bytes; }
    void setSize(const std::string& text);
    const std::array<unsigned char, 16>& getMd5() const { return md5; }
    // Hexadecimal digest text; empty gives zeros.
    void setMd5(const std::string& text);
    // Without a file name, one is made from the name and version and kept.
    const std::string& getFileName() const;
    void setFileName(const std::string& text) { fileName = text; }

    // The package's own copy of its XML element; raises the checked-pointer error when it has none.
    const TiXmlElement* getXml() const;
    void setXml(const TiXmlElement& element);

    const std::map<std::string, std::string>& getProperties() const;
    // "" when unset.
    std::string getProperty(const std::string& propertyName) const;
    void setProperty(const std::string& propertyName, const std::string& value);

    // Not owned.
    const std::vector<ActionsSequence*>& getActions() const;
    void addActions(ActionsSequence* sequence) { ownExtras().actions.push_back(sequence); }

    // Entries by index; empty past the end.
    std::shared_ptr<Dependency> getRequire(size_t index) const { return at(requireList, index); }
    std::shared_ptr<Dependency> getProvide(size_t index) const { return at(provideList, index); }
    std::shared_ptr<Dependency> getConflict(size_t index) const { return at(conflictList, index); }
    std::shared_ptr<Dependency> getObsolete(size_t index) const { return at(obsoleteList, index); }
    const dependencies_t& getRequires() const { return requireList; }
    const dependencies_t& getProvides() const { return provideList; }
    const dependencies_t& getConflicts() const { return conflictList; }
    const dependencies_t& getObsoletes() const { return obsoleteList; }

    // Empty texts are ignored, and so are requirements on rpm's own features.
    void addRequire(const std::string& text);
    void addProvide(const std::string& text);
    void addProvide(const std::shared_ptr<Dependency>& provide) { provideList.push_back(provide); }
    void addConflict(const std::string& text);
    void addObsolete(const std::string& text);
    // Shares the other package's entries in place of this package's four lists.
    void copyDependencies(const Package& other);
    void removeRequire(size_t index);
    // Whether a resolved provider of one of the requirements belongs to the other package.
    bool requiresPackage(const Package* other) const;
    // Reads the dependency children of the package's own XML element.
    void parseRequires();

    const std::set<std::string>& getClasses() const;
    void addClass(const std::string& className) { ownExtras().classes.insert(className); }

    Source* getSource() const { return source; }
    void setSource(Source* origin) { source = origin; }

    // "name = version", made once so that it can be compared by identity.
    std::shared_ptr<Dependency> getSelfProvide() const;

    // name[-version][.arch]
    std::ostream& print(std::ostream& out) const;
    // Replaces every [PROPERTY] placeholder with the property's value; unknown ones stay.
    std::string evaluateString(const std::string& text) const;

protected:
    // Modification time, digest and size of the package file.
    void readFileStat();

private:
    // Fields that packages of builds and catalogues have and the many packages of package lists do not.
    struct Extras {
        std::unique_ptr<TiXmlElement> xml;
        std::map<std::string, std::string> properties;
        std::vector<ActionsSequence*> actions;
        std::set<std::string> classes;
    };

    static std::shared_ptr<Dependency> at(const dependencies_t& list, size_t index) {
        return index < list.size() ? list[index] : nullptr;
    }
    Extras& ownExtras();
    // A shared empty set of extras when the package has none.
    const Extras& readExtras() const;

    PooledString name;
    std::unique_ptr<Version> version;
    type_t type = 'n';
    PooledString arch;
    int64_t buildTime = 0;
    std::array<unsigned char, 16> md5{};
    mutable std::string fileName;
    int64_t installTime = 0;
    int64_t size = 0;
    std::unique_ptr<Extras> extras;
    dependencies_t requireList;
    dependencies_t provideList;
    dependencies_t conflictList;
    dependencies_t obsoleteList;
    Source* source = nullptr;
    mutable std::shared_ptr<Dependency> selfProvide;
};

std::ostream& operator<<(std::ostream& out, const Package& package);

// A dummy package whose first obsoletes entry names the package to take out.
bool isRemoverPackage(const Package* package);

// Keeps the package until the process ends, as every package lives; returns it.
Package* keepForever(std::unique_ptr<Package> package);
