#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class Package;

// One entry of a package's requires, provides, conflicts or obsoletes list: a capability
// (DependencyLogical) or a file (DependencyFile). Entries are shared between lists and packages.
class Dependency {
public:
    enum kind_t : unsigned char { LOGICAL_ENTRY, FILE_ENTRY };

    Dependency(const Dependency&) = delete;
    Dependency& operator=(const Dependency&) = delete;
    virtual ~Dependency() = default;

    virtual std::string getName() const = 0;
    bool matches(const std::shared_ptr<const Dependency>& other) const { return matches(other.get()); }
    // Whether this entry and the other one can be satisfied together.
    virtual bool matches(const Dependency* other) const = 0;
    virtual uint64_t hash() const = 0;
    bool sameName(const std::shared_ptr<const Dependency>& other) const { return sameName(other.get()); }
    virtual bool sameName(const Dependency* other) const = 0;
    virtual bool equals(const Dependency* other) const = 0;
    virtual std::shared_ptr<Dependency> clone() const = 0;
    virtual std::ostream& print(std::ostream& out) const = 0;

    // Provides found to satisfy this requirement; filled by the repository.
    void addProvider(const std::shared_ptr<Dependency>& provide);
    void clearProviders() { providers.clear(); }
    // Empty past the end or when the provide is gone.
    std::shared_ptr<Dependency> getProvider(size_t index) const;
    size_t getProviderCount() const { return providers.size(); }

    // Against the package's provides in order, then its own provide.
    bool matchesPackage(const Package* package) const;

    // Never null: entries made without a package belong to a shared dummy package.
    const Package* getMaster() const { return master; }
    kind_t getKind() const { return kind; }

protected:
    Dependency(kind_t kind, const Package* master);

private:
    std::vector<std::weak_ptr<Dependency>> providers;
    const Package* master;
    kind_t kind;
};

std::ostream& operator<<(std::ostream& out, const Dependency& dependency);

// Requirements on rpm's own features are never stored nor reported as unresolved.
bool isIgnoredRequirement(const char* text);
inline bool isIgnoredRequirement(const std::string& text) {
    return isIgnoredRequirement(text.c_str());
}
