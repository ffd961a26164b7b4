#include "common/packages/Repository.h"

#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Source.h"
#include "common/packages/SourceSysDeb.h"
#include "common/packages/SourceSysRPM.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/PackagesProgress.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace {

// Masters are always packages of some repository; the const only says the entry does not change them.
Package* owner(const Dependency& entry) {
    return const_cast<Package*>(entry.getMaster());
}

bool sameArch(const Package* a, const Package* b) {
    return a->getArch() == b->getArch();
}

bool sameArch(const Package* a, const std::string& arch) {
    return strcmp(a->getArch().c_str(), arch.c_str()) == 0;
}

bool equalVersions(const Package* a, const Package* b) {
    return a->getVersion().compare(b->getVersion()) == 0;
}

std::string text(const Dependency& dependency) {
    std::ostringstream out;
    out << dependency;
    return out.str();
}

// Whether two file entries describe the same content: the same digest text and the same link.
bool sameContent(const DependencyFile& a, const DependencyFile& b) {
    if (a.getLink() != b.getLink())
        return false;
    if (a.getMd5() && b.getMd5())
        return memcmp(a.getMd5()->bytes, b.getMd5()->bytes, sizeof a.getMd5()->bytes) == 0;
    return a.getDigestText() == b.getDigestText();
}

// Name identity of a provide: a capability name, or a file path as interned directory and base.
struct ProvideKey {
    const char* first;
    const char* second; // null for capabilities

    bool operator==(const ProvideKey& other) const { return first == other.first && second == other.second; }
};

ProvideKey keyOf(const Dependency& dependency) {
    if (dependency.getKind() == Dependency::FILE_ENTRY) {
        const auto& file = static_cast<const DependencyFile&>(dependency);
        return {file.getDir().c_str(), file.getBase().c_str()};
    }
    return {static_cast<const DependencyLogical&>(dependency).getPooledName().c_str(), nullptr};
}

// The same spread as the entries' own hash.
struct ProvideKeyHash {
    size_t operator()(const ProvideKey& key) const {
        uint64_t first = reinterpret_cast<uintptr_t>(key.first);
        uint64_t hash = ((first >> 11) | (first << 21)) * 5;
        if (key.second) {
            uint64_t second = reinterpret_cast<uintptr_t>(key.second);
            hash += ((second >> 13) | (second << 19)) * 3;
        }
        return hash;
    }
};

struct PairHash {
    size_t operator()(const std::pair<const Package*, const Package*>& pair) const {
        uint64_t a = reinterpret_cast<uintptr_t>(pair.first);
        uint64_t b = reinterpret_cast<uintptr_t>(pair.second);
        return a * 0x9e3779b97f4a7c15ULL ^ (b + (b >> 17));
    }
};

const Repository::provides_t noProvides;

} // namespace

// The package list. Copies of a repository share it, each seeing its first `length` entries; a
// repository appends in place while no other one sees past its own end, so trial copies that only
// append copy nothing, and neither does the original once they are gone.
struct Repository::PackageStore {
    std::vector<Package*> items;
    // Position of every package in `items`; a package is listed in a view of length n exactly when
    // its position is below n.
    std::unordered_map<const Package*, size_t> positions;
    // The lengths of the repositories that share the store.
    std::multiset<size_t> views;

    PackageStore() = default;
    PackageStore(const PackageStore& other, size_t length)
        : items(other.items.begin(), other.items.begin() + length) {
        reindex();
    }
    void reindex() {
        positions.clear();
        positions.reserve(items.size());
        for (size_t i = 0; i < items.size(); ++i)
            positions[items[i]] = i;
    }
    bool lists(const Package* package, size_t length) const {
        auto found = positions.find(package);
        return found != positions.end() && found->second < length && items[found->second] == package;
    }
    // Whether another repository sees past `length`.
    bool seenBeyond(size_t length) const { return *views.rbegin() > length; }
    void forget(size_t length) { views.erase(views.find(length)); }
};

struct Repository::NameIndex {
    std::unordered_map<const char*, packages_t> byName;
};

struct Repository::ProvidesIndex {
    std::unordered_map<ProvideKey, provides_t, ProvideKeyHash> byName;

    ProvidesIndex() { byName.reserve(0x40000); }
};

// 32-bit numbers for packages: the packages of a list by position, any other package met later
// (one the list no longer holds) after them.
struct Repository::PackageNumbers {
    static constexpr uint32_t none = UINT32_MAX;

    std::vector<Package*> packages;
    // The listed packages by address, for lookups.
    std::vector<std::pair<const Package*, uint32_t>> byAddress;
    std::unordered_map<const Package*, uint32_t> others;

    explicit PackageNumbers(const PackageList& list) {
        packages.assign(list.begin(), list.end());
        byAddress.reserve(packages.size());
        for (uint32_t i = 0; i < packages.size(); ++i)
            byAddress.emplace_back(packages[i], i);
        std::sort(byAddress.begin(), byAddress.end());
    }
    uint32_t find(const Package* package) const {
        auto at = std::lower_bound(byAddress.begin(), byAddress.end(), std::make_pair(package, uint32_t(0)));
        if (at != byAddress.end() && at->first == package)
            return at->second;
        auto other = others.find(package);
        return other == others.end() ? none : other->second;
    }
    uint32_t number(Package* package) {
        uint32_t found = find(package);
        if (found != none)
            return found;
        others.emplace(package, uint32_t(packages.size()));
        packages.push_back(package);
        return uint32_t(packages.size() - 1);
    }
};

// Pairs of packages and the reverse pairs, each pair at most once, each side's partners in the
// order their pairs were first added. Collected with add, then sealed into two flat tables.
struct Repository::Relations {
    explicit Relations(std::shared_ptr<PackageNumbers> numbers) : numbers(std::move(numbers)) {}

    void add(Package* a, Package* b) { pending.emplace_back(numbers->number(a), numbers->number(b)); }
    void seal() {
        // The first of equal pairs stays.
        std::vector<uint32_t> order(pending.size());
        for (uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [this](uint32_t x, uint32_t y) { return pending[x] < pending[y]; });
        std::vector<bool> kept(pending.size(), false);
        for (size_t i = 0; i < order.size(); ++i)
            kept[order[i]] = i == 0 || pending[order[i]] != pending[order[i - 1]];
        order = {};
        const size_t count = numbers->packages.size();
        forward.fill(pending, kept, count, [](const Pair& pair) { return pair; });
        backward.fill(pending, kept, count, [](const Pair& pair) { return Pair(pair.second, pair.first); });
        pending = {};
    }
    bool has(const Package* a, const Package* b) const {
        const uint32_t from = numbers->find(a);
        const uint32_t to = numbers->find(b);
        if (from == PackageNumbers::none || to == PackageNumbers::none)
            return false;
        const auto span = forward.span(from);
        return std::find(span.first, span.second, to) != span.second;
    }
    packages_t partnersOf(const Package* package, bool reverse) const {
        packages_t result;
        const uint32_t number = numbers->find(package);
        if (number == PackageNumbers::none)
            return result;
        const auto span = (reverse ? backward : forward).span(number);
        result.reserve(size_t(span.second - span.first));
        for (auto at = span.first; at != span.second; ++at)
            result.push_back(numbers->packages[*at]);
        return result;
    }

private:
    using Pair = std::pair<uint32_t, uint32_t>;

    // The partners of package n are partners[offsets[n]] up to partners[offsets[n + 1]].
    struct Table {
        std::vector<uint32_t> offsets;
        std::vector<uint32_t> partners;

        template <class Orient>
        void fill(const std::vector<Pair>& pairs, const std::vector<bool>& kept, size_t count,
                  Orient orient) {
            offsets.assign(count + 1, 0);
            for (size_t i = 0; i < pairs.size(); ++i)
                if (kept[i])
                    ++offsets[orient(pairs[i]).first + 1];
            for (size_t n = 0; n < count; ++n)
                offsets[n + 1] += offsets[n];
            partners.resize(offsets[count]);
            std::vector<uint32_t> next(offsets.begin(), offsets.end() - 1);
            for (size_t i = 0; i < pairs.size(); ++i)
                if (kept[i]) {
                    const Pair pair = orient(pairs[i]);
                    partners[next[pair.first]++] = pair.second;
                }
        }
        std::pair<const uint32_t*, const uint32_t*> span(uint32_t number) const {
            if (number + 1 >= offsets.size())
                return {nullptr, nullptr};
            return {partners.data() + offsets[number], partners.data() + offsets[number + 1]};
        }
    };

    std::shared_ptr<PackageNumbers> numbers;
    std::vector<Pair> pending;
    Table forward;
    Table backward;
};

// The providers of every linked requirement: an open-addressed table from the requirement's address
// to its span in one flat list, where a provider is its package's number and its position in that
// package's provides.
struct Repository::RequireLinks {
    struct Slot {
        const Dependency* requirement = nullptr;
        uint32_t offset = 0;
        uint32_t count = 0;
    };
    struct Provider {
        uint32_t package;
        uint32_t position;
    };

    std::shared_ptr<PackageNumbers> numbers;
    std::vector<Slot> slots;
    size_t used = 0;
    std::vector<Provider> providers;
    // Provides their own package does not list.
    std::vector<std::shared_ptr<Dependency>> strays;

    explicit RequireLinks(std::shared_ptr<PackageNumbers> numbers) : numbers(std::move(numbers)) {
        slots.resize(1024);
    }

    size_t home(const Dependency* requirement) const {
        uint64_t key = reinterpret_cast<uintptr_t>(requirement);
        return size_t((key * 0x9e3779b97f4a7c15ULL) >> 20) & (slots.size() - 1);
    }
    Slot& slotFor(const Dependency* requirement) {
        size_t at = home(requirement);
        while (slots[at].requirement && slots[at].requirement != requirement)
            at = (at + 1) & (slots.size() - 1);
        return slots[at];
    }
    const Slot* find(const Dependency* requirement) const {
        for (size_t at = home(requirement);; at = (at + 1) & (slots.size() - 1)) {
            if (slots[at].requirement == requirement)
                return &slots[at];
            if (!slots[at].requirement)
                return nullptr;
        }
    }
    void grow() {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        for (const Slot& slot : old)
            if (slot.requirement)
                slotFor(slot.requirement) = slot;
    }
    // Links the requirement to the provides; a requirement linked before gets the new list.
    void link(const Dependency* requirement, const std::vector<std::shared_ptr<Dependency>>& provides) {
        if ((used + 1) * 4 > slots.size() * 3)
            grow();
        Slot& slot = slotFor(requirement);
        if (!slot.requirement)
            ++used;
        slot = {requirement, uint32_t(providers.size()), uint32_t(provides.size())};
        for (const auto& provide : provides) {
            const uint32_t position = positionOf(*provide);
            if (position != PackageNumbers::none) {
                providers.push_back({numbers->number(owner(*provide)), position});
            } else {
                providers.push_back({PackageNumbers::none, uint32_t(strays.size())});
                strays.push_back(provide);
            }
        }
    }
    // Where the provide stands in its package's provides; none when that list does not hold it.
    static uint32_t positionOf(const Dependency& provide) {
        const Package::dependencies_t& list = provide.getMaster()->getProvides();
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].get() == &provide)
                return uint32_t(i);
        return PackageNumbers::none;
    }
    std::shared_ptr<Dependency> provider(const Slot& slot, size_t index) const {
        if (index >= slot.count)
            return nullptr;
        const Provider& at = providers[slot.offset + index];
        if (at.package == PackageNumbers::none)
            return strays[at.position];
        return numbers->packages[at.package]->getProvide(at.position);
    }
};

Repository::Repository()
    : store(std::make_shared<PackageStore>()), unresolved(std::make_shared<unresolved_t>()),
      removed(std::make_shared<std::set<Package*>>()) {
    store->views.insert(0);
}

Repository::Repository(const Repository& other)
    : store(other.store), length(other.length), sources(other.sources), unresolved(other.unresolved),
      removed(other.removed), removers(other.removers), names(other.names), provides(other.provides),
      requirerCache(other.requirerCache), conflictCache(other.conflictCache),
      obsoleteCache(other.obsoleteCache), removerObsoletes(other.removerObsoletes), links(other.links) {
    store->views.insert(length);
}

Repository::~Repository() {
    store->forget(length);
    for (Source* source : sources)
        if (source->repository == this)
            source->repository = nullptr;
}

void Repository::setStore(std::shared_ptr<PackageStore> fresh) {
    store->forget(length);
    store = std::move(fresh);
    length = store->items.size();
    store->views.insert(length);
}

void Repository::markStale() {
    markAppended();
    markFull();
}

void Repository::markAppended() {
    names.stale = provides.stale = true;
    requirerCache.stale = conflictCache.stale = obsoleteCache.stale = true;
}

void Repository::markFull() {
    names.full = provides.full = true;
}

void Repository::registerSource(Source* source) {
    if (std::find(sources.begin(), sources.end(), source) == sources.end())
        sources.push_back(source);
}

void Repository::unregisterSource(Source* source) {
    sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
}

void Repository::getBrief() {
    Log::stream(1, true) << "repository: Get brief packages info for all sources";
    std::vector<Source*> current = sources;
    for (Source* source : current)
        source->getBrief();
}

void Repository::getFull() {
    Log::stream(1, true) << "repository: Get full packages info for all sources";
    std::vector<Source*> current = sources;
    for (Source* source : current)
        source->getFull();
}

std::string Repository::getPkgVersionFromSystemDirectly(const std::string& name) {
    for (Source* source : sources) {
        if (auto* rpm = dynamic_cast<SourceSysRPM*>(source))
            return rpm->getPkgVersionFromSystemDirectly(name);
        if (auto* deb = dynamic_cast<SourceSysDeb*>(source))
            return deb->getPkgVersionFromSystemDirectly(name);
    }
    return "";
}

Repository::PackageList Repository::getPackages() const {
    return PackageList(&store->items, length);
}

void Repository::append(Package* package) {
    if (store->seenBeyond(length)) {
        setStore(std::make_shared<PackageStore>(*store, length));
    } else {
        // Whatever lies beyond our end was appended by copies that are gone.
        while (store->items.size() > length) {
            store->positions.erase(store->items.back());
            store->items.pop_back();
        }
    }
    store->positions[package] = store->items.size();
    store->items.push_back(package);
    store->forget(length);
    store->views.insert(++length);
}

void Repository::replaceAt(size_t position, Package* package) {
    if (store->views.size() != 1)
        setStore(std::make_shared<PackageStore>(*store, length));
    Package* old = store->items[position];
    store->positions.erase(old);
    store->items[position] = package;
    store->positions[package] = position;
    markFull();
}

void Repository::retainOnly(const std::function<bool(Package*)>& wanted, std::set<Package*>* dropped) {
    std::vector<Package*> kept;
    kept.reserve(length);
    std::set<Package*> gone;
    for (Package* package : getPackages()) {
        if (wanted(package))
            kept.push_back(package);
        else
            gone.insert(package);
    }
    if (gone.empty())
        return;
    auto fresh = std::make_shared<PackageStore>();
    fresh->items = std::move(kept);
    fresh->reindex();
    setStore(fresh);
    // A remover that is no longer listed must be made again when asked for.
    for (auto it = removers.begin(); it != removers.end();)
        it = gone.count(it->second) ? removers.erase(it) : std::next(it);
    if (dropped)
        dropped->insert(gone.begin(), gone.end());
    markFull();
}

bool Repository::addPackage(Package* package, Source* source) {
    if (store->lists(package, length))
        return false;
    append(package);
    package->setSource(source);
    markAppended();
    return true;
}

void Repository::addFromCache(FILE* file, Package::type_t type, dups_mode_t dupsMode, Source* source) {
    // The index as it was before the read: records of one file are not checked against each other.
    const NameIndex* index = dupsMode != DUPS_APPEND ? &nameIndex() : nullptr;
    std::shared_ptr<NameIndex> indexHold = index ? names.data : nullptr;
    bool replaced = false;
    struct MarkAtEnd {
        Repository& repository;
        bool& replaced;
        ~MarkAtEnd() {
            if (replaced)
                repository.markStale();
            else
                repository.markAppended();
        }
    } markAtEnd{*this, replaced};

    int lineCounter = 0;
    for (;;) {
        int c;
        while ((c = fgetc(file)) != EOF && isspace(c)) {
        }
        if (c == EOF)
            break;
        ungetc(c, file);
        Progress::checkTermination();
        std::unique_ptr<Package> package = Package::createFromCache(file, &lineCounter);
        package->setType(type);
        package->setSource(source);

        Package* match = nullptr;
        if (index) {
            auto found = index->byName.find(package->getName().c_str());
            if (found != index->byName.end()) {
                for (Package* listed : found->second) {
                    if (package->getVersion().compare(listed->getVersion()) != 0 ||
                        !sameArch(package.get(), listed))
                        continue;
                    if (dupsMode == DUPS_REPLACE_SAME_SOURCE && listed->getSource() != source)
                        continue;
                    match = listed;
                    break;
                }
            }
        }
        if (!match) {
            append(keepForever(std::move(package)));
        } else if (dupsMode == DUPS_KEEP_OLD) {
            // The new record is dropped.
        } else {
            match->copyDependencies(*package);
            auto position = store->positions.find(match);
            if (position == store->positions.end() || position->second >= length)
                throw internal_error("common/Repository", __LINE__);
            replaceAt(position->second, keepForever(std::move(package)));
            replaced = true;
        }
    }
}

Package* Repository::addRemoverFor(const std::string& name) {
    auto found = removers.find(name);
    if (found != removers.end())
        return found->second;
    auto dummy = std::make_unique<Package>("dummy_obsoleter_" + name, "0.0");
    dummy->setType('d');
    dummy->setFileName("dummy_remover_for_" + name);
    dummy->addObsolete(name);
    Package* remover = keepForever(std::move(dummy));
    append(remover);
    // A stale obsoletes cache will take the remover in when it is rebuilt.
    if (!obsoleteCache.stale) {
        obsoletesPass(remover, [this](Package* package, Package* obsoleted) {
            const std::pair<Package*, Package*> pair(package, obsoleted);
            if (std::find(removerObsoletes.begin(), removerObsoletes.end(), pair) == removerObsoletes.end())
                removerObsoletes.push_back(pair);
        });
    }
    Log::stream(3, true) << "addRemoverFor: add package for obsolete " << name;
    removers[name] = remover;
    return remover;
}

void Repository::purgeRemoved() {
    retainOnly([](Package* package) { return package->getType() != 'z'; }, &ownRemoved());
    // Cache reads look duplicates up by name: the index must not list purged packages.
    names.stale = true;
}

void Repository::leaveOnlySystemPackages() {
    retainOnly([](Package* package) { return package->getType() == 's'; }, nullptr);
    markStale();
}

std::set<Package*>& Repository::ownRemoved() {
    if (removed.use_count() != 1)
        removed = std::make_shared<std::set<Package*>>(*removed);
    return *removed;
}

const std::set<Package*>& Repository::getRemoved() const {
    return *removed;
}

const Repository::unresolved_t& Repository::getUnresolved() const {
    return *unresolved;
}

bool Repository::isUnresolved(const Package* package) const {
    return unresolved->count(package) != 0;
}

template <class Index> size_t Repository::startIndexUpdate(Cache<Index>& cache) const {
    // Only appends since the last update and no copy sharing the index: index just the new packages.
    if (!cache.full && cache.data && cache.data.use_count() == 1 && cache.indexed <= length)
        return cache.indexed;
    if (cache.data && cache.data.use_count() == 1)
        cache.data->byName.clear();
    else
        cache.data = std::make_shared<Index>();
    ++counters.fullRebuilds;
    return 0;
}

template <class Index> void Repository::finishIndexUpdate(Cache<Index>& cache, size_t from) const {
    counters.packagesIndexed += length - from;
    cache.indexed = length;
    cache.stale = cache.full = false;
}

const Repository::NameIndex& Repository::nameIndex() const {
    if (!names.stale)
        return *names.data;
    Log::stream(2, true) << " (update package names cache) ";
    const size_t from = startIndexUpdate(names);
    const std::vector<Package*>& items = store->items;
    for (size_t i = from; i < length; ++i)
        names.data->byName[items[i]->getName().c_str()].push_back(items[i]);
    finishIndexUpdate(names, from);
    return *names.data;
}

const Repository::ProvidesIndex& Repository::providesIndex() const {
    if (!provides.stale)
        return *provides.data;
    Log::stream(2, true) << "Regenerate packages provides cache.";
    const size_t from = startIndexUpdate(provides);
    // Marked stale until complete, so that a cancel in the middle leaves no half index behind.
    provides.full = true;
    const std::vector<Package*>& items = store->items;
    for (size_t i = from; i < length; ++i) {
        Progress::checkTermination();
        for (const auto& provide : items[i]->getProvides())
            provides.data->byName[keyOf(*provide)].push_back(provide);
    }
    finishIndexUpdate(provides, from);
    return *provides.data;
}

const Repository::provides_t& Repository::providesOf(const Dependency& dependency) const {
    const ProvidesIndex& index = providesIndex();
    auto found = index.byName.find(keyOf(dependency));
    return found == index.byName.end() ? noProvides : found->second;
}

Repository::packages_t Repository::getPackagesByName(PooledString name) const {
    const NameIndex& index = nameIndex();
    auto found = index.byName.find(name.c_str());
    return found == index.byName.end() ? packages_t() : found->second;
}

Package* Repository::findPackage(PooledString name, const Version& version, const std::string& arch) const {
    const NameIndex& index = nameIndex();
    auto found = index.byName.find(name.c_str());
    if (found == index.byName.end())
        return nullptr;
    for (Package* package : found->second)
        if (package->getVersion().compare(version) == 0 && sameArch(package, arch))
            return package;
    return nullptr;
}

Package* Repository::findLatest(const std::string& name) const {
    return findLatestIf(name, nullptr);
}

Package* Repository::findLatestIf(const std::string& name, const predicate_t& accept) const {
    const NameIndex& index = nameIndex();
    auto found = index.byName.find(PooledString(name).c_str());
    if (found == index.byName.end())
        return nullptr;
    Package* latest = nullptr;
    for (Package* package : found->second) {
        if (accept && !accept(package))
            continue;
        if (!latest || package->getVersion().compare(latest->getVersion()) > 0)
            latest = package;
    }
    return latest;
}

Package* Repository::findInstalled(PooledString name) const {
    return findLatestIf(name.str(), [](const Package* package) { return package->getType() == 's'; });
}

Package* Repository::findBestProvider(const std::string& capability) const {
    return findBestProviderIf(capability, [](const Package*) { return true; });
}

Package* Repository::findBestInstalledProvider(const std::string& capability) const {
    return findBestProviderIf(capability, [](const Package* package) { return package->getType() == 's'; });
}

Package* Repository::findBestProviderIf(const std::string& capability, const predicate_t& accept) const {
    if (capability.empty())
        return nullptr;
    ProvideKey key{};
    if (capability[0] == '/') {
        size_t slash = capability.rfind('/');
        key = {PooledString(capability.substr(0, slash + 1)).c_str(),
               PooledString(capability.substr(slash + 1)).c_str()};
    } else {
        key = {PooledString(capability).c_str(), nullptr};
    }
    const ProvidesIndex& index = providesIndex();
    auto found = index.byName.find(key);
    if (found == index.byName.end())
        return nullptr;
    Package* best = nullptr;
    for (const auto& provide : found->second) {
        Package* package = owner(*provide);
        if (accept(package) && (!best || package->getVersion().compare(best->getVersion()) > 0))
            best = package;
    }
    return best;
}

Repository::provides_t Repository::findProvides(const Dependency& dependency) const {
    return providesOf(dependency);
}

void Repository::resolveRequires() {
    linkRequirements();
    // The requirements' own lists answer callers that hold a package but no repository.
    for (const RequireLinks::Slot& slot : links->slots) {
        if (!slot.requirement)
            continue;
        // Linked requirements are entries of listed packages, which never give them up.
        Dependency& requirement = const_cast<Dependency&>(*slot.requirement);
        requirement.clearProviders();
        for (size_t i = 0; i < slot.count; ++i)
            if (std::shared_ptr<Dependency> provide = links->provider(slot, i))
                requirement.addProvider(provide);
    }
}

void Repository::linkRequirements() const {
    Log::stream(3, true) << "Resolve requires dependencies in repository.";
    providesIndex();
    auto numbers = std::make_shared<PackageNumbers>(getPackages());
    auto relations = std::make_shared<Relations>(numbers);
    auto fresh = std::make_shared<RequireLinks>(numbers);
    if (unresolved.use_count() != 1)
        unresolved = std::make_shared<unresolved_t>(*unresolved);

    std::vector<std::shared_ptr<Dependency>> kept;
    for (Package* package : getPackages()) {
        Progress::checkTermination();
        size_t i = 0;
        while (std::shared_ptr<Dependency> requirement = package->getRequire(i)) {
            kept.clear();
            bool ownProvide = false;
            for (const auto& provide : providesOf(*requirement)) {
                if (!requirement->matches(provide.get()))
                    continue;
                if (provide->getMaster() == package) {
                    ownProvide = true;
                    break;
                }
                if (provide->getMaster()->getName() == package->getName())
                    continue;
                kept.push_back(provide);
            }
            if (ownProvide) {
                // A package satisfies this requirement itself: it needs nothing for it.
                package->removeRequire(i);
                continue;
            }
            fresh->link(requirement.get(), kept);
            if (!kept.empty()) {
                for (const auto& provide : kept)
                    relations->add(owner(*provide), package);
            } else {
                std::string printed = text(*requirement);
                if (!isIgnoredRequirement(printed)) {
                    Log::stream(1, true)
                        << "Warning: unresolved requires '" << printed << "' from " << *package;
                    if (package->getType() != 's')
                        unresolved->emplace(package, requirement);
                }
            }
            ++i;
        }
    }
    relations->seal();
    requirerCache.data = relations;
    requirerCache.stale = false;
    links = fresh;
}

std::shared_ptr<Dependency> Repository::getProvider(const Dependency& requirement, size_t index) const {
    if (links)
        if (const RequireLinks::Slot* slot = links->find(&requirement))
            return links->provider(*slot, index);
    return requirement.getProvider(index);
}

size_t Repository::getProviderCount(const Dependency& requirement) const {
    if (links)
        if (const RequireLinks::Slot* slot = links->find(&requirement))
            return slot->count;
    return requirement.getProviderCount();
}

bool Repository::requiresPackage(const Package* requirer, const Package* other) const {
    for (const auto& requirement : requirer->getRequires()) {
        size_t count = getProviderCount(*requirement);
        for (size_t i = 0; i < count; ++i) {
            std::shared_ptr<Dependency> provider = getProvider(*requirement, i);
            if (provider && provider->getMaster() == other)
                return true;
        }
    }
    return false;
}

const Repository::Relations& Repository::requirers() const {
    if (requirerCache.stale)
        linkRequirements();
    return *requirerCache.data;
}

Repository::packages_t Repository::getRequirers(const Package* package) const {
    return requirers().partnersOf(package, false);
}

const Repository::Relations& Repository::conflicts() const {
    if (!conflictCache.stale)
        return *conflictCache.data;
    Log::stream(2, true) << "(regen conflicts cache) ";
    providesIndex();
    auto relations = std::make_shared<Relations>(std::make_shared<PackageNumbers>(getPackages()));
    // The package's partners so far, each once.
    packages_t partners;
    auto add = [&partners](Package* other) {
        if (std::find(partners.begin(), partners.end(), other) == partners.end())
            partners.push_back(other);
    };
    for (Package* package : getPackages()) {
        Progress::checkTermination();
        partners.clear();
        for (const auto& conflict : package->getConflicts()) {
            for (const auto& provide : providesOf(*conflict)) {
                // rpm ignores a package's conflict with what it provides itself, and so do we.
                if (provide->getMaster() != package && conflict->matches(provide.get()))
                    add(owner(*provide));
            }
        }
        for (const auto& provide : package->getProvides()) {
            if (provide->getKind() != Dependency::FILE_ENTRY)
                continue;
            const auto& file = static_cast<const DependencyFile&>(*provide);
            if (DependencyFile::fileType(file.getMode()) == DependencyFile::DIRECTORY)
                continue;
            for (const auto& candidate : providesOf(file)) {
                if (candidate->getKind() != Dependency::FILE_ENTRY)
                    throw internal_error("common/Repository", 536);
                Package* other = owner(*candidate);
                if (other->getName() == package->getName() &&
                    (sameArch(other, package) || equalVersions(other, package)))
                    continue;
                if (std::find(partners.begin(), partners.end(), other) != partners.end())
                    continue;
                if (sameContent(file, static_cast<const DependencyFile&>(*candidate)))
                    continue;
                Log::stream(3, true) << "Warning: packages conflict by files detected: package " << *package
                                     << "\n  conflict with package " << *other << "\n  both have file "
                                     << file.getName() << " with different md5 sum.";
                partners.push_back(other);
            }
        }
        for (Package* other : partners)
            relations->add(package, other);
    }
    relations->seal();
    conflictCache.data = relations;
    conflictCache.stale = false;
    return *relations;
}

Repository::packages_t Repository::getConflicts(const Package* package) const {
    return conflicts().partnersOf(package, false);
}

Repository::packages_t Repository::getConflictedBy(const Package* package) const {
    return conflicts().partnersOf(package, true);
}

bool Repository::isConflicting(const Package* package, const Package* other) const {
    return conflicts().has(package, other);
}

void Repository::obsoletesPass(const Package* package,
                               const std::function<void(Package*, Package*)>& pair) const {
    for (const auto& obsolete : package->getObsoletes()) {
        for (const auto& provide : providesOf(*obsolete)) {
            if (!obsolete->matches(provide.get()))
                continue;
            Package* other = owner(*provide);
            if (other->getName() == package->getName())
                continue;
            pair(const_cast<Package*>(package), other);
        }
    }
}

const Repository::Relations& Repository::obsoletes() const {
    if (!obsoleteCache.stale)
        return *obsoleteCache.data;
    Log::stream(2, true) << "(regen obsoletes cache) ";
    providesIndex();
    auto relations = std::make_shared<Relations>(std::make_shared<PackageNumbers>(getPackages()));
    for (Package* package : getPackages()) {
        Progress::checkTermination();
        obsoletesPass(package, [&relations](Package* a, Package* b) { relations->add(a, b); });
    }
    relations->seal();
    obsoleteCache.data = relations;
    obsoleteCache.stale = false;
    // The rebuild took every listed remover in.
    removerObsoletes.clear();
    return *relations;
}

Repository::packages_t Repository::getObsoletes(const Package* package) const {
    packages_t result = obsoletes().partnersOf(package, false);
    for (const auto& pair : removerObsoletes)
        if (pair.first == package)
            result.push_back(pair.second);
    return result;
}

Repository::packages_t Repository::getObsoleters(const Package* package) const {
    packages_t result = obsoletes().partnersOf(package, true);
    for (const auto& pair : removerObsoletes)
        if (pair.second == package)
            result.push_back(pair.first);
    return result;
}

void Repository::downloadPackages(const std::vector<const Package*>& packages, PackagesProgress* progress) {
    auto remote = [](const Package* package) {
        return package->getSource() && package->getSource()->isRemote();
    };
    Progress::stage(3, static_cast<uint32_t>(std::count_if(packages.begin(), packages.end(), remote)));
    for (const Package* package : packages) {
        Progress::checkTermination();
        if (!remote(package))
            continue;
        Progress::step("download", Messages().getMessage("download_file") + package->getName().str());
        package->getSource()->downloadPackage(const_cast<Package*>(package));
        if (progress)
            progress->set_progress(1, package->getName().str());
    }
}
