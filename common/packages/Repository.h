#pragma once

#include "common/packages/Package.h"
#include "common/packages/PooledString.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class Dependency;
class PackagesProgress;
class Source;
class Version;

// All packages known to one run, the sources that bring them in, an index by name and lazily
// rebuilt caches of provides, requirers, conflicts and obsoletes.
//
// Packages are referenced by plain pointers and never deleted by the repository. Lists of packages
// and provides are returned by value: they stay valid whatever the repository does afterwards.
//
// Copies are cheap and independent: a copy shares the package objects, the registered sources and,
// until one side changes them, the package list, the indexes and the caches. Nothing done through a
// copy reaches the repository it was copied from; in particular the links from requirements to their
// providers are kept per repository. Only an explicit resolveRequires also fills the shared
// Dependency objects' own provider lists.
class Repository {
public:
    // How addFromCache treats a record equal in name, version and architecture to a listed package.
    enum dups_mode_t {
        DUPS_APPEND = 0,              // no check: every record is appended
        DUPS_KEEP_OLD = 1,            // the listed package stays, the new one is dropped
        DUPS_REPLACE_SAME_SOURCE = 2, // replace only a package of the same source; else append
        DUPS_REPLACE = 3              // replace the first equal package whatever its source
    };

    // A view of the package list, in insertion order. Stays valid while this repository is not
    // changed (changes made through copies do not affect it).
    class PackageList {
    public:
        class const_iterator {
        public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = Package*;
            using difference_type = std::ptrdiff_t;
            using pointer = Package* const*;
            using reference = Package* const&;
            const_iterator(const std::vector<Package*>* items, size_t index) : items(items), index(index) {}
            Package* operator*() const { return (*items)[index]; }
            const_iterator& operator++() {
                ++index;
                return *this;
            }
            bool operator==(const const_iterator& other) const { return index == other.index; }
            bool operator!=(const const_iterator& other) const { return index != other.index; }

        private:
            const std::vector<Package*>* items;
            size_t index;
        };

        PackageList(const std::vector<Package*>* items, size_t count) : items(items), count(count) {}
        const_iterator begin() const { return const_iterator(items, 0); }
        const_iterator end() const { return const_iterator(items, count); }
        size_t size() const { return count; }
        bool empty() const { return count == 0; }
        Package* operator[](size_t index) const { return (*items)[index]; }

    private:
        const std::vector<Package*>* items;
        size_t count;
    };

    using packages_t = std::vector<Package*>;
    using provides_t = std::vector<std::shared_ptr<Dependency>>;
    using unresolved_t = std::map<const Package*, std::shared_ptr<Dependency>>;
    using predicate_t = std::function<bool(const Package*)>;

    // Empty; all caches stale.
    Repository();
    // Cheap: see the class comment.
    Repository(const Repository& other);
    Repository& operator=(const Repository&) = delete;
    // Frees the repository's own containers, not the packages; sources still registered are detached.
    ~Repository();

    // Every cache is rebuilt from scratch when next read.
    void markStale();

    // Sources (registered and unregistered by Source itself), in registration order.
    const std::vector<Source*>& getSources() const { return sources; }
    void getBrief();
    void getFull();
    // The installed version as the first installed-package source reads it from the system; "" when
    // there is no such source or the package is not installed.
    std::string getPkgVersionFromSystemDirectly(const std::string& name);

    // False when that very object is listed already; otherwise appends it and sets its source.
    bool addPackage(Package* package, Source* source);
    // Reads package cache records up to the end of the file; the packages get the type and source.
    // A failing record stops the read with its error; the records before it stay added.
    void addFromCache(FILE* file, Package::type_t type, dups_mode_t dupsMode, Source* source);
    // The dummy package (type 'd') that obsoletes the name, made once per name and listed.
    Package* addRemoverFor(const std::string& name);
    // Moves every package of type 'z' out of the list into the removed set, keeping the order of
    // the rest. The name index is rebuilt when next read; the other caches keep the purged
    // packages until something else makes them stale.
    void purgeRemoved();
    // Drops every package that is not installed (type 's').
    void leaveOnlySystemPackages();

    PackageList getPackages() const;
    const std::set<Package*>& getRemoved() const;
    // For packages not installed: the first requirement that resolveRequires found without provider.
    const unresolved_t& getUnresolved() const;
    bool isUnresolved(const Package* package) const;

    packages_t getPackagesByName(PooledString name) const;
    // The first package of that name with an equal version and the same architecture text.
    Package* findPackage(PooledString name, const Version& version, const std::string& arch) const;
    // The package of that name with the highest version; on ties the first listed.
    Package* findLatest(const std::string& name) const;
    Package* findLatestIf(const std::string& name, const predicate_t& accept) const;
    // The installed package (type 's') of that name with the highest version.
    Package* findInstalled(PooledString name) const;
    // The highest-versioned package with a provide whose name is exactly the text; a text with a
    // relation and a version finds nothing.
    Package* findBestProvider(const std::string& capability) const;
    // The installed package (type 's') that findBestProvider would pick among installed ones.
    Package* findBestInstalledProvider(const std::string& capability) const;
    // The provide entries of the same name (capability name or file path), in index order.
    provides_t findProvides(const Dependency& dependency) const;

    // Packages having a requirement that this package satisfies.
    packages_t getRequirers(const Package* package) const;
    packages_t getConflicts(const Package* package) const;
    packages_t getConflictedBy(const Package* package) const;
    // Whether the package conflicts with the other one (declared or by files); one direction.
    bool isConflicting(const Package* package, const Package* other) const;
    packages_t getObsoletes(const Package* package) const;
    packages_t getObsoleters(const Package* package) const;

    // Links every requirement of every package to the provides that satisfy it, now.
    void resolveRequires();
    // The provides satisfying a requirement as this repository resolved it. A dependency this
    // repository never resolved (a candidate the resolver builds itself) answers with its own list.
    // Empty past the end or when the provide no longer exists.
    std::shared_ptr<Dependency> getProvider(const Dependency& requirement, size_t index) const;
    size_t getProviderCount(const Dependency& requirement) const;
    // Whether a provider of one of the requirer's requirements belongs to the other package.
    bool requiresPackage(const Package* requirer, const Package* other) const;

    // Asks the source of every remote package to fetch it, with progress stage 3.
    void downloadPackages(const std::vector<const Package*>& packages, PackagesProgress* progress = nullptr);

    // Rebuild statistics, for proving that rebuilds after appends are incremental.
    struct RebuildCounters {
        size_t packagesIndexed = 0; // packages walked by name and provides index rebuilds
        size_t fullRebuilds = 0;    // name and provides index rebuilds that started from scratch
    };
    const RebuildCounters& getRebuildCounters() const { return counters; }

private:
    friend class Source;

    struct PackageStore;
    struct PackageNumbers;
    struct NameIndex;
    struct ProvidesIndex;
    struct Relations;
    struct RequireLinks;

    // A cache and what its next rebuild must do.
    template <class T> struct Cache {
        std::shared_ptr<T> data;
        bool stale = true;
        // Packages before this position are in the cache and unchanged; only appends follow.
        size_t indexed = 0;
        // Something else than appends happened since the last rebuild.
        bool full = true;
    };

    void registerSource(Source* source);
    void unregisterSource(Source* source);
    void setStore(std::shared_ptr<PackageStore> fresh);
    // Appends without marking anything stale.
    void append(Package* package);
    void replaceAt(size_t position, Package* package);
    void retainOnly(const std::function<bool(Package*)>& wanted, std::set<Package*>* dropped);
    // After appends only: the name and provides indexes can be brought up to date incrementally.
    void markAppended();
    void markFull();

    const NameIndex& nameIndex() const;
    const ProvidesIndex& providesIndex() const;
    Package* findBestProviderIf(const std::string& capability, const predicate_t& accept) const;
    // An update of the name or provides index: where its walk starts (past the packages the index
    // already holds, or 0 with the index emptied) and the bookkeeping once the walk is done.
    template <class Index> size_t startIndexUpdate(Cache<Index>& cache) const;
    template <class Index> void finishIndexUpdate(Cache<Index>& cache, size_t from) const;
    const provides_t& providesOf(const Dependency& dependency) const;
    const Relations& requirers() const;
    const Relations& conflicts() const;
    const Relations& obsoletes() const;
    // Calls `pair` with (package, obsoleted package) for each package the package obsoletes.
    void obsoletesPass(const Package* package, const std::function<void(Package*, Package*)>& pair) const;
    // Requirement links, requirers and unresolved requirements; a lazy rebuild of the requirers runs it.
    void linkRequirements() const;
    std::set<Package*>& ownRemoved();

    std::shared_ptr<PackageStore> store;
    size_t length = 0;
    std::vector<Source*> sources;
    mutable std::shared_ptr<unresolved_t> unresolved;
    std::shared_ptr<std::set<Package*>> removed;
    std::map<std::string, Package*> removers;
    mutable Cache<NameIndex> names;
    mutable Cache<ProvidesIndex> provides;
    mutable Cache<Relations> requirerCache;
    mutable Cache<Relations> conflictCache;
    mutable Cache<Relations> obsoleteCache;
    // Obsoletes pairs of removers made since the obsoletes cache was last rebuilt.
    mutable std::vector<std::pair<Package*, Package*>> removerObsoletes;
    mutable std::shared_ptr<RequireLinks> links;
    mutable RebuildCounters counters;
};
