#include "common/packages/PkgManager.h"

#include "common/packages/Dependency.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/FunctionTracer.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/packages/Source.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

std::string text(const Package* package) {
    std::ostringstream out;
    package->print(out);
    return out.str();
}

std::string text(const Dependency& dependency) {
    std::ostringstream out;
    dependency.print(out);
    return out.str();
}

int versionCompare(const Package* a, const Package* b) {
    return a->getVersion().compare(b->getVersion());
}

int sign(int value) {
    return value > 0 ? 1 : (value < 0 ? -1 : 0);
}

bool sameNameVersionArch(const Package* a, const Package* b) {
    return a->getName() == b->getName() && versionCompare(a, b) == 0 && a->getArch() == b->getArch();
}

// Whether the package of some provide that meets the requirement passes `test`; stops at the first.
template <typename Test>
bool anyProviderPackage(const Repository& repository, const Dependency& requirement, Test test) {
    const size_t count = repository.getProviderCount(requirement);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Dependency> provide = repository.getProvider(requirement, i);
        if (provide && test(provide->getMaster()))
            return true;
    }
    return false;
}

// A quality only one of the two candidates has decides between them: +1 for currBest, -1 for
// currTest, each with its debug line; 0 when both or neither have it.
int soleHolderWins(bool best, bool test, const char* bestWins, const char* testWins) {
    if (best && !test) {
        Log::stream(3, true) << bestWins;
        return 1;
    }
    if (test && !best) {
        Log::stream(3, true) << testWins;
        return -1;
    }
    return 0;
}

// Report-once sets of the whole process, trial resolutions included. They only decide whether an
// explanatory line is logged.
PkgManager::dependency_set_t& reportedHardwired() {
    static auto* set = new PkgManager::dependency_set_t;
    return *set;
}
PkgManager::dependency_set_t& reportedObsoletes() {
    static auto* set = new PkgManager::dependency_set_t;
    return *set;
}
std::set<std::string>& reportedConflicts() {
    static auto* set = new std::set<std::string>;
    return *set;
}

// One more level of '#' on the log lines of a trial resolution, also when it fails.
class ResolverDepth {
public:
    ResolverDepth() { Log::setResolverDepth(Log::getResolverDepth() + 1); }
    ResolverDepth(const ResolverDepth&) = delete;
    ResolverDepth& operator=(const ResolverDepth&) = delete;
    ~ResolverDepth() { Log::setResolverDepth(Log::getResolverDepth() - 1); }
};

// The name a remover package takes out, or null for any other package.
const char* removedName(const Package* package) {
    if (!isRemoverPackage(package))
        return nullptr;
    std::shared_ptr<Dependency> obsolete = package->getObsolete(0);
    if (auto* logical = dynamic_cast<const DependencyLogical*>(obsolete.get()))
        return logical->getPooledName().c_str();
    return PooledString(obsolete->getName()).c_str();
}

bool isDirectory(const DependencyFile& file) {
    return DependencyFile::fileType(file.getMode()) == DependencyFile::DIRECTORY;
}

} // namespace

size_t PkgManager::DependencyHash::operator()(const std::shared_ptr<Dependency>& d) const {
    return static_cast<size_t>(d->hash());
}

bool PkgManager::DependencyEqual::operator()(const std::shared_ptr<Dependency>& a,
                                             const std::shared_ptr<Dependency>& b) const {
    return a->equals(b.get());
}

// ---------------------------------------------------------------------------------------------
// Indexes kept beside the necessary list

struct PkgManager::NecessaryIndex {
    explicit NecessaryIndex(const cpkgs_t* list) : list(list) {}

    // Follows appends; anything else done to the list (a reset, a caller clearing it) makes the
    // index start again.
    void sync() {
        if (list->size() < indexed || (indexed > 0 && (*list)[indexed - 1] != last))
            reset();
        for (; indexed < list->size(); ++indexed)
            add((*list)[indexed], indexed);
        last = indexed ? (*list)[indexed - 1] : nullptr;
    }

    void reset() {
        ++resets;
        indexed = 0;
        last = nullptr;
        byName.clear();
        position.clear();
        removers.clear();
    }

    void add(const Package* package, size_t index) {
        byName[package->getName().c_str()].push_back(index);
        position.emplace(package, index);
        if (const char* name = removedName(package))
            ++removers[name];
    }

    const cpkgs_t* list;
    uint64_t resets = 0;
    size_t indexed = 0;
    const Package* last = nullptr;
    std::unordered_map<const char*, std::vector<size_t>> byName;
    std::unordered_map<const Package*, size_t> position; // first position of each package
    std::unordered_map<const char*, int> removers;       // names taken out by removers in the list
};

struct PkgManager::PackageOrder {
    std::unordered_map<const Package*, size_t> position;
};

struct PkgManager::TrialBook {
    explicit TrialBook(size_t packages)
        : maxWork(std::max<uint64_t>(PkgManager::minWork, PkgManager::workPerPackage * packages)) {}

    const uint64_t maxWork;
    uint64_t work = 0;
    // Keyed by digests of the kind of trial and its start list, black list and extra package.
    std::map<std::pair<uint64_t, uint64_t>, TrialOutcome> outcomes;
};

struct PkgManager::Trial {
    Trial(const PkgManager& creator, cpkgs_t start)
        : repository(*creator.repository), list(std::move(start)),
          manager(&repository, &list, creator.removeTree) {
        manager.blackList = creator.blackList;
        manager.os_arch = creator.os_arch;
        manager.packageOrder = creator.packageOrder;
        manager.installedNames = creator.installedNames;
        manager.book = creator.book;
        manager.trialDepth = creator.trialDepth + 1;
    }

    // False when the resolution ended with a dependency error; other errors pass on.
    bool run(bool predict, Statistics& statistics, std::string* failure) {
        ResolverDepth depth;
        try {
            manager.findNecessaryPackages(predict);
            manager.getStatistics(statistics);
            return true;
        } catch (const error& e) {
            if (e.getClass() != error::dependencies)
                throw;
            if (failure)
                *failure = e.getText();
            return false;
        }
    }

    Repository repository;
    cpkgs_t list;
    PkgManager manager;
};

PkgManager::NecessaryIndex& PkgManager::necessary() const {
    if (!necessaryIndex)
        necessaryIndex = std::make_unique<NecessaryIndex>(necessaryList);
    necessaryIndex->sync();
    return *necessaryIndex;
}

bool PkgManager::inNecessary(const Package* package) const {
    return necessary().position.count(package) != 0;
}

bool PkgManager::nameInNecessary(PooledString name) const {
    return necessary().byName.count(name.c_str()) != 0;
}

bool PkgManager::removerInNecessary(PooledString name) const {
    return necessary().removers.count(name.c_str()) != 0;
}

bool PkgManager::hasInstalled(PooledString name) const {
    // Resolving adds only dummy packages to the repository, so what is installed stays put; trials
    // share the answers of the resolver that started them.
    if (!installedNames)
        installedNames = std::make_shared<std::unordered_map<const char*, bool>>();
    auto known = installedNames->find(name.c_str());
    if (known != installedNames->end())
        return known->second;
    bool installed = false;
    for (const Package* package : repository->getPackagesByName(name))
        if (package->getType() == 's') {
            installed = true;
            break;
        }
    installedNames->emplace(name.c_str(), installed);
    return installed;
}

bool PkgManager::orderedBefore(const Package* a, const Package* b) const {
    if (!packageOrder) {
        packageOrder = std::make_shared<PackageOrder>();
        size_t index = 0;
        for (const Package* package : repository->getPackages())
            packageOrder->position.emplace(package, index++);
    }
    auto positionOf = [this](const Package* p) {
        auto found = packageOrder->position.find(p);
        return found == packageOrder->position.end() ? SIZE_MAX : found->second;
    };
    size_t pa = positionOf(a);
    size_t pb = positionOf(b);
    if (pa != pb)
        return pa < pb;
    return std::less<const Package*>()(a, b);
}

std::vector<PkgManager::Match> PkgManager::matchesOf(const Dependency& dependency) const {
    std::vector<Match> matches;
    const size_t count = repository->getProviderCount(dependency);
    matches.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Dependency> provide = repository->getProvider(dependency, i);
        if (provide)
            matches.push_back({provide, provide->getMaster()});
    }
    return matches;
}

// ---------------------------------------------------------------------------------------------
// State and main loop

PkgManager::PkgManager(Repository* repository, cpkgs_t* necessaryList, bool removeTree)
    : repository(repository), necessaryList(necessaryList), removeTree(removeTree) {
    startPackages = *necessaryList;
    startSet.insert(startPackages.begin(), startPackages.end());
}

PkgManager::~PkgManager() = default;

std::set<std::string, std::less<>>& PkgManager::preferredPackages() {
    static auto* names = new std::set<std::string, std::less<>>;
    return *names;
}

void PkgManager::addRequested(const cpkgs_t& packages) {
    requestedPackages.insert(requestedPackages.end(), packages.begin(), packages.end());
    requestedSet.insert(packages.begin(), packages.end());
}

void PkgManager::setRequested(const cpkgs_t& packages) {
    requestedPackages = packages;
    requestedSet.clear();
    requestedSet.insert(packages.begin(), packages.end());
}

void PkgManager::clearNecessary() {
    necessaryList->clear();
    if (necessaryIndex)
        necessaryIndex->reset();
    resolvedDeps.clear();
}

bool PkgManager::isRequested(const Package* package) const {
    return requestedSet.count(package) != 0 || startSet.count(package) != 0;
}

void PkgManager::restartFromStart(const Package* trialPackage) {
    // A requested package is only black-listed without failing when a newer package of its name
    // replaces it; starting again with it would put two versions of one name into the result.
    necessaryList->clear();
    if (necessaryIndex)
        necessaryIndex->reset();
    for (const Package* package : startPackages)
        if (!blackList.count(package))
            necessaryList->push_back(package);
        else
            Log::stream(2, true) << "Start package " << *package << " is replaced by a newer version";
    if (trialPackage)
        pushNecessary(trialPackage);
    deferred.clear();
    deferredNames.clear();
    resolvedDeps.clear();
}

void PkgManager::findNecessaryPackages(bool predict) {
    FunctionTracer trace("findNecessaryPackages");
    if (necessaryList->empty())
        throw error(3, 0, 0, 2) << "start packages list for resolver is empty";
    Log::stream(2, true) << "PkgManager: start resolving packages";

    const size_t passLimit = std::max<size_t>(repository->getPackages().size(), 3);
    const Package* trialPackage = nullptr;
    size_t passCount = 0;
    while (passCount < passLimit) {
        Progress::checkTermination();
        Log::stream(2, true) << "findNecessaryPackages(): start pass " << passCount;
        size_t i = 0;
        if (predict && passCount == 0) {
            // The packages before the trial package were resolved by the resolver that started it.
            i = necessaryList->size() - 1;
            trialPackage = necessaryList->back();
        }
        try {
            for (;;) {
                while (i < necessaryList->size()) {
                    findRequiredFor((*necessaryList)[i]);
                    ++i;
                }
                resolveDefferedDependencies();
                if (i < necessaryList->size() || !deferred.empty())
                    continue;
                // A plan that breaks its own rules is mended like any other fault: packages are
                // black-listed or removed, and the sweep goes on. A prediction covers only part
                // of the list: the resolver that started it checks the whole.
                if (!predict)
                    checkPlan();
                if (i >= necessaryList->size() && deferred.empty())
                    break;
            }
            Log::stream(2, true) << "=== Package resolving sucessfuly ends ===";
            printPackages(2, *necessaryList);
            return;
        } catch (const unhappy&) {
            Log::stream(1, true) << "Unhappy caught; try to resolve again.";
            restartFromStart(trialPackage);
            if (trialPackage && isBlack(trialPackage)) {
                Log::stream(2, true) << "Can't find solution with predictionally for package "
                                     << *trialPackage << ": it was added to blacklist";
                throw error(5, 1, 1, 3) << Messages().getMessage("err_deps_nochance");
            }
            ++passCount;
        }
    }
    Log::stream(1, true) << "passCount is reached passLimit";
    throw error(5, 1, 1, 3) << Messages().getMessage("err_bad_deps");
}

void PkgManager::findRequiredFor(const Package* package) {
    FunctionTracer trace("findRequiredFor " + text(package));
    if (package->getType() == 's')
        return;
    countWork();
    Log::stream(2, true) << "Find directly required packages for " + text(package);

    for (size_t index = 0;; ++index) {
        std::shared_ptr<Dependency> requirement = package->getRequire(index);
        if (!requirement)
            break;
        try {
            if (!selectBestResolvers(requirement, solutionLevel, false)) {
                if (solutionLevel >= 5)
                    blackListMasterAndThrowUnhappy(requirement);
                Log::stream(3, true) << "Will try to resolve it later, put to deffered list";
                addDeferred(requirement);
            }
        } catch (const error&) {
            Log::stream(1, true) << "Problem occured during searching directly resolved dependencies for '"
                                 << *requirement << "' of package " << *package << " ";
            throw;
        }
    }

    struct Check {
        void (PkgManager::*run)(const Package*);
        const char* before;
        const char* after;
    };
    static const Check checks[] = {
        {&PkgManager::findIndirectHardwiredDeps,
         "Problem occured during searching indirect dependencies for package ", ""},
        {&PkgManager::findIndirectObsoletes,
         "Problem occured during search indirect dependencies produced by obsolete tags for package ", ""},
        {&PkgManager::findIndirectConflicts, "Problem occured during searching conflicts for package ", " "},
        {&PkgManager::findBackConflicts, "Problem occured during searching reverse-conflicts for package ",
         ""},
        {&PkgManager::findIndirectArchDeps, "Problem occured during searching other arch for package ", ""},
    };
    for (const Check& check : checks) {
        try {
            (this->*check.run)(package);
        } catch (const error&) {
            Log::stream(1, true) << check.before << *package << check.after;
            throw;
        }
    }
}

void PkgManager::eraseDeferred(std::list<std::shared_ptr<Dependency>>::iterator position) {
    auto names = deferredNames.find((*position)->hash());
    if (names != deferredNames.end()) {
        auto& list = names->second;
        auto same = std::find(list.begin(), list.end(), position->get());
        if (same != list.end())
            list.erase(same);
        if (list.empty())
            deferredNames.erase(names);
    }
    deferred.erase(position);
}

void PkgManager::resolveDefferedDependencies() {
    FunctionTracer trace("resolveDefferedDependencies");
    Log::stream(3, true) << "Resolve deffered dependencies.";
    if (deferred.empty())
        return;
    for (int level = 1; level <= 5; ++level) {
        for (auto position = deferred.begin(); position != deferred.end(); ++position) {
            std::shared_ptr<Dependency> dependency = *position;
            if (selectBestResolvers(dependency, level, false)) {
                // The list may have grown meanwhile; the iterator stays valid for a std::list.
                eraseDeferred(position);
                return;
            }
            if (level == 5)
                blackListMasterAndThrowUnhappy(dependency);
        }
    }
}

void PkgManager::addDeferred(const std::shared_ptr<Dependency>& dependency) {
    std::vector<const Dependency*>& sameHash = deferredNames[dependency->hash()];
    for (const Dependency* other : sameHash)
        if (other->sameName(dependency.get())) {
            Log::stream(3, true) << " is already in deffered list, skip";
            return;
        }
    deferred.push_back(dependency);
    sameHash.push_back(dependency.get());
}

void PkgManager::pushNecessary(const Package* package) {
    NecessaryIndex& index = necessary();
    auto same = index.byName.find(package->getName().c_str());
    if (same != index.byName.end())
        for (size_t position : same->second)
            if (sameNameVersionArch((*necessaryList)[position], package))
                return;
    necessaryList->push_back(package);
}

void PkgManager::appendNecessaryPackage(const Package* package) {
    FunctionTracer trace("appendNecessaryPackage: " + text(package) + " ~" + package->getType());

    // Only entries of the same name, the package itself and its conflict and obsoletes partners
    // can stop the walk; visit them in list order.
    std::vector<size_t> positions;
    {
        NecessaryIndex& index = necessary();
        auto self = index.position.find(package);
        if (self != index.position.end())
            positions.push_back(self->second);
        auto same = index.byName.find(package->getName().c_str());
        if (same != index.byName.end())
            positions.insert(positions.end(), same->second.begin(), same->second.end());
        auto addPartners = [&](const Repository::packages_t& partners) {
            for (const Package* partner : partners) {
                auto found = index.position.find(partner);
                if (found != index.position.end())
                    positions.push_back(found->second);
            }
        };
        addPartners(repository->getConflicts(package));
        addPartners(repository->getConflictedBy(package));
        addPartners(repository->getObsoletes(package));
        addPartners(repository->getObsoleters(package));
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    }

    for (size_t position : positions) {
        const Package* entry = (*necessaryList)[position];
        if (entry == package) {
            Log::stream(3, true) << " is already in list, skip.";
            return;
        }
        if (entry->getName() == package->getName()) {
            if (versionCompare(package, entry) == 0) {
                if (entry->getArch() == package->getArch()) {
                    Log::stream(3, true) << " skipped, same name-ver-arch is already in list.";
                    return;
                }
                continue;
            }
            Log::stream(2, true) << " - there is another package '" << *entry << "'"
                                 << " with same name in necessaryList";
            resolveSameName(entry, package);
            continue;
        }
        // Two installed packages already live side by side, whatever their metadata says.
        if (entry->getType() == 's' && package->getType() == 's')
            continue;
        if (repository->isConflicting(entry, package) || repository->isConflicting(package, entry) ||
            obsoletesOther(entry, package)) {
            Log::stream(2, true) << " - conflicts with " << *entry << " which is already in necessaryList";
            resolveClash(entry, package);
        }
    }
    Log::stream(3, true) << " added.";
    pushNecessary(package);
}

bool PkgManager::obsoletesOther(const Package* a, const Package* b) const {
    auto obsoletes = [this](const Package* obsoleter, const Package* obsoleted) {
        if (obsoleted->getType() == 's')
            return false; // an installed package obsoleted by a new one simply leaves
        const Repository::packages_t list = repository->getObsoletes(obsoleter);
        return std::find(list.begin(), list.end(), obsoleted) != list.end();
    };
    return obsoletes(a, b) || obsoletes(b, a);
}

void PkgManager::resolveSameName(const Package* entry, const Package* package) {
    const Package* older = versionCompare(package, entry) < 0 ? package : entry;
    const Package* newer = older == package ? entry : package;
    // The older one gives way, unless only it leads to a solution: a versioned requirement that
    // only an older version from a repository meets.
    if (older->getType() != 's' && newer->getType() != 's' && !isRequested(older) && !isRequested(newer) &&
        mayTry()) {
        reason_ptr reason(new ReasonClash(newer, older));
        Statistics ignored;
        if (!resolvesWithout(older, reason, ignored,
                             "Resolving without the older version ends with error: ") &&
            resolvesWithout(newer, reason, ignored,
                            "Resolving without the newer version ends with error: ")) {
            Log::stream(2, true) << "Only the older version " << *older << " leads to a solution";
            appendBlackPackage(newer, reason);
        }
    }
    appendBlackPackage(older, reason_ptr(new ReasonClash(older, newer)));
}

void PkgManager::resolveClash(const Package* entry, const Package* package) {
    try {
        reason_ptr reason(new ReasonClash(entry, package));
        switch (selectBlackPackage(entry, package, reason)) {
        case 0:
            Log::stream(2, true) << "appendNecessaryPackage(): add to black list " << *entry
                                 << " by selectBlackPackage().";
            appendBlackPackage(entry, reason);
            break;
        case 1:
            Log::stream(2, true) << "appendNecessaryPackage(): add to black list " << *package
                                 << " by selectBlackPackage().";
            appendBlackPackage(package, reason);
            break;
        default:
            Log::stream(1, true) << "Can't select which of conflicting packages add to blacklist: " << *entry
                                 << " or " << *package << ": adding them both.";
            appendBlackPackage(entry, reason);
            appendBlackPackage(package, reason);
            break;
        }
    } catch (const error&) {
        Log::stream(1, true) << "Unable to install both " << *entry << " and " << *package
                             << " because they conflict with each other.";
        throw;
    }
}

void PkgManager::dropInstalled(const Package* installed, const Package* planned) {
    if (isRequested(installed)) {
        appendBlackPackage(planned, reason_ptr(new ReasonClash(planned, installed)));
        throw unhappy();
    }
    const size_t before = necessaryList->size();
    if (upgradeOrObsoleteInstalled(planned, installed) &&
        (necessaryList->size() > before || !deferred.empty()))
        return;
    removeModeSolution(installed);
}

void PkgManager::requireProgress(size_t listSize) const {
    if (necessaryList->size() > listSize || !deferred.empty())
        return;
    // Nothing the rules can do mends the plan; never return it broken.
    Log::stream(1, true) << "checkPlan: the plan still breaks its rules";
    throw error(5, 1, 1, 3) << Messages().getMessage("err_bad_deps");
}

void PkgManager::checkPlan() {
    FunctionTracer trace("checkPlan");
    // What leaves the system: installed packages replaced by a planned one of their name, taken
    // out by a remover, or obsoleted by a planned package.
    std::unordered_set<const Package*> planned;
    std::unordered_set<const char*> plannedNames, removedNames;
    std::unordered_set<const Package*> leaving;
    for (const Package* package : *necessaryList) {
        if (const char* name = removedName(package))
            removedNames.insert(name);
        else if (package->getType() != 's' && package->getType() != 'd') {
            planned.insert(package);
            plannedNames.insert(package->getName().c_str());
        }
    }
    for (const Package* package : planned)
        for (const Package* old : repository->getObsoletes(package))
            if (old->getType() == 's')
                leaving.insert(old);
    auto installedStays = [&](const Package* package) {
        return package->getType() == 's' && !leaving.count(package) &&
               !plannedNames.count(package->getName().c_str()) &&
               !removedNames.count(package->getName().c_str());
    };
    for (const Package* package : repository->getPackages())
        if (package->getType() == 's' && !installedStays(package))
            leaving.insert(package);
    auto member = [&](const Package* package) { return planned.count(package) || installedStays(package); };
    auto met = [&](const Dependency& requirement) {
        return isIgnoredRequirement(text(requirement)) ||
               anyProviderPackage(*repository, requirement, member);
    };

    // In list order, so that the first fault found does not depend on addresses.
    for (const Package* package : *necessaryList) {
        if (!planned.count(package))
            continue;
        for (const std::shared_ptr<Dependency>& requirement : package->getRequires())
            if (!met(*requirement)) {
                Log::stream(2, true) << "checkPlan: '" << *requirement << "' of " << *package
                                     << " is not met by the plan";
                blackListMasterAndThrowUnhappy(requirement);
            }
        for (size_t position : necessary().byName[package->getName().c_str()]) {
            const Package* other = (*necessaryList)[position];
            if (other != package && planned.count(other) && other->getArch() == package->getArch() &&
                versionCompare(other, package) != 0)
                resolveSameName(other, package);
        }
        auto clashing = [&](const Repository::packages_t& partners, bool obsoleted) {
            for (const Package* other : partners) {
                if (!member(other) || other == package)
                    continue;
                Log::stream(2, true) << "checkPlan: " << *package << " and " << *other
                                     << (obsoleted ? " obsolete one another" : " conflict");
                if (other->getType() == 's')
                    dropInstalled(other, package);
                else
                    resolveClash(other, package);
                return true;
            }
            return false;
        };
        const size_t before = necessaryList->size();
        if (clashing(repository->getConflicts(package), false) ||
            clashing(repository->getConflictedBy(package), false) ||
            clashing(repository->getObsoleters(package), true))
            return requireProgress(before); // a remover or an upgrade joined: the sweep goes on
    }
    // Installed packages that stay must keep their requirements met.
    for (const Package* gone : leaving)
        for (const Package* requirer : repository->getRequirers(gone)) {
            if (!installedStays(requirer))
                continue;
            for (const std::shared_ptr<Dependency>& requirement : requirer->getRequires())
                if (requirement->matchesPackage(gone) && !met(*requirement)) {
                    Log::stream(2, true) << "checkPlan: '" << *requirement << "' of installed " << *requirer
                                         << " is not met by the plan";
                    if (isRequested(requirer))
                        throw error(5, 1, 1, 2) << Messages().format("err_deps_badpkg", text(requirer));
                    const size_t before = necessaryList->size();
                    removeModeSolution(requirer);
                    return requireProgress(before);
                }
        }
}

void PkgManager::getStatistics(Statistics& s) const {
    s = Statistics();
    for (const Package* package : *necessaryList) {
        const Package::type_t type = package->getType();
        if (type == 's')
            continue;
        if (isRemoverPackage(package)) {
            ++s.updateRemove;
            continue;
        }
        const bool installed = type != 'd' && hasInstalled(package->getName());
        if (type == 'b') {
            ++(installed ? s.buildUpgrade : s.buildInstall);
            s.buildSize += package->getSize();
        } else if (type == 'u') {
            ++(installed ? s.updateUpgrade : s.updateInstall);
            s.updateSize += package->getSize();
        }
    }
    s.totalInstall = s.buildInstall + s.updateInstall;
    s.totalUpgrade = s.buildUpgrade + s.updateUpgrade;
    s.totalRemove = s.buildRemove + s.updateRemove;
    s.totalSize = s.buildSize + s.updateSize;
}

void PkgManager::printPackages(int level, const cpkgs_t& packages) {
    // One piece per statement: every piece costs the log a write of its own.
    std::string line;
    for (const Package* package : packages) {
        line.assign(" (").append(1, package->getType()).append(") ").append(package->getFileName());
        Log::stream(level, true) << line;
    }
}

// ---------------------------------------------------------------------------------------------
// Choosing among candidates

bool PkgManager::selectBestResolvers(const std::shared_ptr<Dependency>& dependency, int level, bool force) {
    FunctionTracer trace("selectBestResolvers: resolve '" + text(*dependency) + "'");
    if (!force && resolvedDeps.count(dependency)) {
        Log::stream(3, true) << "selectBestResolvers: resolve '" << *dependency
                             << "': is already resolved, skipped.";
        return true;
    }
    const Package* owner = dependency->getMaster();
    Log::stream(3, true) << "selectBestResolvers: resolve '" << *dependency << "' from "
                         << owner->getFileName() << " ~" << owner->getType() << " on level " << level << ":";

    const std::vector<Match> matches = matchesOf(*dependency);
    int tried = 0;
    cpkgs_t scheduled;
    for (size_t c = 0; c < matches.size(); ++c) {
        const Package* currBest = matches[c].package;
        if (isBlack(currBest)) {
            Log::stream(3, true) << " skip.";
            continue;
        }
        ++tried;
        Log::stream(3, true) << "  currBest: " << *currBest << " ~" << currBest->getType() << " (provides '"
                             << *matches[c].provide << "')";
        bool equal = false;
        bool rejected = false;
        // Of two equal candidates the one with the lower index wins.
        auto rejectedByIndex = [&c](size_t t) {
            if (c >= t) {
                Log::stream(3, true) << "      reject currBest by index.";
                return true;
            }
            Log::stream(3, true) << "      select currBest by index.";
            return false;
        };
        for (size_t t = 0; t < matches.size() && !rejected; ++t) {
            const Package* currTest = matches[t].package;
            if (currTest == currBest)
                continue;
            if (isBlack(currTest)) {
                Log::stream(3, true) << " skip.";
                continue;
            }
            Log::stream(3, true) << "    currTest: " << *currTest << " ~" << currTest->getType()
                                 << " (provides '" << *matches[t].provide << "')";
            if (currBest->getName() == currTest->getName()) {
                const int r = cmpPriority(currBest, currTest);
                if (r < 0)
                    rejected = true;
                else if (r == 0)
                    rejected = rejectedByIndex(t);
            } else {
                const int r = smartGravity(dependency, currBest, currTest, level);
                if (r > 0) {
                    Log::stream(3, true) << "      select currBest by smartGravity().";
                } else if (r < 0) {
                    Log::stream(3, true) << "      reject currBest by smartGravity().";
                    rejected = true;
                } else if (level >= 5) {
                    // Nothing is left to tell them apart: take the first, as for equal packages of one
                    // name, instead of giving up a requirement that either would meet.
                    Log::stream(3, true) << "      packages are equal on this level";
                    rejected = rejectedByIndex(t);
                } else {
                    Log::stream(3, true) << "      packages are equal on this level";
                    equal = true;
                }
            }
        }
        if (rejected)
            continue;
        if (equal) {
            Log::stream(3, true) << "selectBestResolvers: can't resolve '" << *dependency
                                 << "' on this level (" << level << ")";
            return false;
        }
        Log::stream(3, true) << "  package " << *currBest << " is scheduled for addition to necessaryList";
        scheduled.push_back(currBest);
    }

    if (scheduled.empty()) {
        if (isIgnoredRequirement(text(*dependency)))
            return true;
        if (tried == 0)
            blackListMasterAndThrowUnhappy(dependency);
        return false;
    }
    resolvedDeps.insert(dependency);
    for (const Package* package : scheduled) {
        try {
            appendNecessaryPackage(package);
        } catch (const error&) {
            Log::stream(1, true) << "Could not add package " << *package
                                 << "to the list of required packages.";
            throw;
        }
    }
    return true;
}

int PkgManager::cmpPriority(const Package* currBest, const Package* currTest) const {
    const bool bestRequested = isRequested(currBest);
    if (int v = soleHolderWins(bestRequested, isRequested(currTest),
                               "      select currBest by cmpPriority (requested)",
                               "      reject currBest by cmpPriority (requested)"))
        return v;
    auto decided = [](int result, const char* label) {
        Log::stream(3, true) << "      " << (result > 0 ? "select" : "reject") << " currBest by cmpPriority ("
                             << label << ")";
        return result;
    };
    if (bestRequested || currBest->getType() == 'b' || currTest->getType() == 'b') {
        if (int v = sign(versionCompare(currBest, currTest)))
            return decided(v, "requested version");
    }
    if (int v = cmpDirPriority(currBest, currTest))
        return decided(v, "dir priority (1)");
    if (int v = sign(versionCompare(currBest, currTest)))
        return decided(v, "version (2)");
    if (int v = cmpArchPriority(currBest, currTest))
        return decided(v, "arch priority (3)");

    auto remote = [](const Package* p) { return p->getSource() && p->getSource()->isRemote(); };
    return soleHolderWins(remote(currBest), remote(currTest),
                          "      select currBest by cmpPriority (source downloadable)",
                          "      select currTest by cmpPriority (source downloadable)");
}

int PkgManager::cmpDirPriority(const Package* a, const Package* b) const {
    if (a->getType() == 'd')
        throw internal_error("common/PkgManager", 2357);
    if (b->getType() == 'd')
        throw internal_error("common/PkgManager", 2358);
    if (a->getType() == 'z')
        throw internal_error("common/PkgManager", 2360);
    if (b->getType() == 'z')
        throw internal_error("common/PkgManager", 2361);
    if (a->getType() == b->getType())
        return 0;
    static const char priority[] = {'s', 'b', 'r', 'u', 't'};
    for (char type : priority) {
        if (type == a->getType())
            return 1;
        if (type == b->getType())
            return -1;
    }
    return 0;
}

std::string PkgManager::getOsArch() const {
    if (os_arch.empty())
        throw error(3, 1, 1, 3) << "os_arch is not defined in packages resolver";
    if (os_arch == "i386")
        return "i686";
    return os_arch;
}

int PkgManager::cmpArchPriority(const Package* a, const Package* b) const {
    if (a->getArch() == b->getArch())
        return 0;
    const std::string system = getOsArch();
    if (system == a->getArch().c_str())
        return 1;
    if (system == b->getArch().c_str())
        return -1;
    if (system != "powerpc" && a->getArch().c_str()[0] == 'i' && b->getArch().c_str()[0] == 'i')
        return sign(strcmp(a->getArch().c_str(), b->getArch().c_str()));
    return 0;
}

int PkgManager::smartGravity(const std::shared_ptr<Dependency>& dependency, const Package* currBest,
                             const Package* currTest, int level) {
    if (int v = soleHolderWins(nameInNecessary(currBest->getName()), nameInNecessary(currTest->getName()),
                               "      select currBest: it is already in necessaryList.",
                               "      reject currBest: currTest is already in necessaryList."))
        return v;
    auto decided = [](int result, const char* line) {
        Log::stream(3, true) << line;
        return result;
    };
    if (level <= 1)
        return 0;
    if (level == 2) {
        const bool installedBest = hasInstalled(currBest->getName());
        const bool installedTest = hasInstalled(currTest->getName());
        const bool removerBest = removerInNecessary(currBest->getName());
        const bool removerTest = removerInNecessary(currTest->getName());
        if (installedBest && !installedTest && !removerBest)
            return decided(1, "      select currBest: it has some version already installed.");
        if (installedTest && !installedBest && !removerTest)
            return decided(-1, "      reject currBest: currTest has some version already installed.");
        if (installedTest && removerTest)
            return decided(1, "      select currBest: currTest is obsoleted and installed.");
        if (removerBest && installedBest)
            return decided(-1, "      reject currBest: currBest is obsoleted and installed.");
        const bool conflictBest = conflictsWithSystemOrNecessary(currBest);
        const bool conflictTest = conflictsWithSystemOrNecessary(currTest);
        if (int v =
                soleHolderWins(!conflictBest, !conflictTest,
                               "      select currBest: currTest conflicts with system or necessary package.",
                               "      reject currBest: currBest conflicts with system or necessary package."))
            return v;
        const int newBest = countNewRequirements(currBest);
        const int newTest = countNewRequirements(currTest);
        return soleHolderWins(newBest == 0, newTest == 0,
                              "      select currBest: we can install it without any packages.",
                              "      reject currBest: we can install currTest without any packages.");
    }
    if (level == 3) {
        const auto& preferred = preferredPackages();
        return soleHolderWins(preferred.count(currBest->getName().c_str()) != 0,
                              preferred.count(currTest->getName().c_str()) != 0,
                              "      select currBest: it is a preferred package.",
                              "      reject currBest: currTest is a preferred package.");
    }
    if (level == 4)
        return preResolve(currBest, currTest);

    if (dependency->getKind() == Dependency::LOGICAL_ENTRY) {
        auto versionedProvide = [&dependency](const Package* package) -> const DependencyLogical* {
            for (const std::shared_ptr<Dependency>& provide : package->getProvides()) {
                auto* logical = dynamic_cast<const DependencyLogical*>(provide.get());
                if (logical && logical->getVersion() && dependency->matches(provide.get()))
                    return logical;
            }
            return nullptr;
        };
        const DependencyLogical* bestProvide = versionedProvide(currBest);
        const DependencyLogical* testProvide = versionedProvide(currTest);
        static const char* const higherBest =
            "      select currBest: satisfying logical provide has higher version.";
        static const char* const higherTest =
            "      reject currBest: satisfying logical provide of currTest has higher version.";
        if (int v = soleHolderWins(bestProvide != nullptr, testProvide != nullptr, higherBest, higherTest))
            return v;
        if (bestProvide && testProvide) {
            const int v = bestProvide->getVersion()->compare(*testProvide->getVersion());
            if (v > 0)
                return decided(1, higherBest);
            if (v < 0)
                return decided(-1, higherTest);
        }
    }
    const size_t bestCount = currBest->getRequires().size();
    const size_t testCount = currTest->getRequires().size();
    if (bestCount < testCount)
        return decided(1, "      select currBest: currTest has more dependencies.");
    if (testCount < bestCount)
        return decided(-1, "      reject currBest: currTest has less dependencies.");
    return 0;
}

bool PkgManager::conflictsWithSystemOrNecessary(const Package* package) {
    bool installedPartner = false;
    auto check = [&](const Repository::packages_t& partners) {
        for (const Package* partner : partners) {
            if (inNecessary(partner))
                return true;
            if (partner->getType() == 's')
                installedPartner = true;
        }
        return false;
    };
    if (check(repository->getConflicts(package)) || check(repository->getConflictedBy(package)))
        return true;
    return installedPartner;
}

int PkgManager::countNewRequirements(const Package* package) {
    int unmet = 0;
    auto installedOrNecessary = [this](const Package* owner) {
        return owner->getType() == 's' || inNecessary(owner);
    };
    for (const std::shared_ptr<Dependency>& requirement : package->getRequires())
        if (!anyProviderPackage(*repository, *requirement, installedOrNecessary))
            ++unmet;
    return unmet;
}

bool PkgManager::mayTry() const {
    if (trialDepth < maxTrialDepth)
        return true;
    Log::stream(3, true) << "      trials nest " << maxTrialDepth << " deep already: no trial here";
    return false;
}

PkgManager::TrialBook& PkgManager::trialBook() {
    if (!book)
        book = std::make_shared<TrialBook>(repository->getPackages().size());
    return *book;
}

void PkgManager::countWork() {
    TrialBook& counted = trialBook();
    if (++counted.work > counted.maxWork) {
        if (trialDepth > 0)
            throw exhausted();
        giveUp();
    }
}

void PkgManager::giveUp() const {
    Log::stream(1, true) << "The resolver examined " << book->maxWork
                         << " packages without finding a solution; giving up.";
    throw error(5, 1, 1, 3) << Messages().getMessage("err_bad_deps");
}

bool PkgManager::runTrial(Trial& trial, bool predict, TrialOutcome& outcome) {
    try {
        return trial.run(predict, outcome.statistics, &outcome.failure);
    } catch (const exhausted&) {
        // Only the resolver that started the trials turns the bound into its error.
        if (trialDepth > 0)
            throw;
        giveUp();
    }
}

namespace {

// A trial's key: two independent 64-bit digests of its kind, its start list, its black list and
// the package it adds; lists of a thousand packages need not be kept for each trial.
std::pair<uint64_t, uint64_t> trialKey(int kind, const cpkgs_t& start, const PkgManager::black_list_t& black,
                                       const Package* extra) {
    uint64_t first = 0xcbf29ce484222325ULL ^ static_cast<uint64_t>(kind);
    uint64_t second = 0x9e3779b97f4a7c15ULL + static_cast<uint64_t>(kind);
    auto mix = [&first, &second](const void* pointer) {
        const uint64_t value = reinterpret_cast<uintptr_t>(pointer);
        first = (first ^ value) * 0x100000001b3ULL;
        second = (second + value) * 0xff51afd7ed558ccdULL;
        second ^= second >> 33;
    };
    for (const Package* package : start)
        mix(package);
    mix(nullptr);
    for (const auto& entry : black)
        mix(entry.first);
    mix(nullptr);
    mix(extra);
    return {first, second};
}

} // namespace

PkgManager::TrialOutcome PkgManager::predict(const Package* candidate) {
    auto& outcomes = trialBook().outcomes;
    const auto key = trialKey(1, *necessaryList, blackList, candidate);
    auto known = outcomes.find(key);
    if (known != outcomes.end())
        return known->second;
    cpkgs_t list = *necessaryList;
    list.push_back(candidate);
    Trial trial(*this, std::move(list));
    TrialOutcome outcome;
    outcome.resolved = runTrial(trial, true, outcome);
    outcomes.emplace(key, outcome);
    return outcome;
}

bool PkgManager::resolvesWithout(const Package* excluded, const reason_ptr& reason, Statistics& statistics,
                                 const char* failedLine) {
    auto& outcomes = trialBook().outcomes;
    const auto key = trialKey(2, startPackages, blackList, excluded);
    auto known = outcomes.find(key);
    if (known == outcomes.end()) {
        Trial trial(*this, startPackages);
        trial.manager.addBlackPackage(excluded, reason);
        TrialOutcome outcome;
        outcome.resolved = runTrial(trial, false, outcome);
        known = outcomes.emplace(key, outcome).first;
    }
    statistics = known->second.statistics;
    if (!known->second.resolved)
        Log::stream(3, true) << failedLine << known->second.failure;
    return known->second.resolved;
}

int PkgManager::preResolve(const Package* currBest, const Package* currTest) {
    if (!mayTry())
        return 0;
    const TrialOutcome best = predict(currBest);
    if (!best.resolved) {
        Log::stream(3, true) << "      reject currBest by resolving of branch error.";
        return -1;
    }
    const TrialOutcome test = predict(currTest);
    if (!test.resolved) {
        Log::stream(3, true) << "      select currBest by resolving of currTest branch error.";
        return 1;
    }
    const Statistics& bestStatistics = best.statistics;
    const Statistics& testStatistics = test.statistics;
    if (bestStatistics.updateRemove < testStatistics.updateRemove) {
        Log::stream(3, true) << "      select currBest: less packages to remove.";
        return 1;
    }
    if (bestStatistics.updateRemove > testStatistics.updateRemove) {
        Log::stream(3, true) << "      reject currBest: more packages to remove.";
        return -1;
    }
    if (bestStatistics.updateInstall < testStatistics.updateInstall) {
        Log::stream(3, true) << "      select currBest: less packages to install.";
        return 1;
    }
    if (bestStatistics.updateInstall > testStatistics.updateInstall) {
        Log::stream(3, true) << "      reject currBest: more packages to install.";
        return -1;
    }
    return 0;
}

int PkgManager::selectBlackPackage(const Package* a, const Package* b, const reason_ptr& reason) {
    const bool aRequested = isRequested(a);
    const bool bRequested = isRequested(b);
    if (aRequested && bRequested) {
        Log::stream(1, true) << "selectBlackPackage: both packages is requested to be installed";
        return 2;
    }
    if (aRequested) {
        Log::stream(3, true) << "  selectBlackPackage: package " << *a << " is requested to install";
        return 1;
    }
    if (bRequested) {
        Log::stream(3, true) << "  selectBlackPackage: package " << *b << " is requested to install";
        return 0;
    }
    Log::stream(3, true) << "selectBlackPackage: " << *a << " or " << *b << ": select with pre-resolving";

    if (!mayTry()) {
        Log::stream(3, true) << "  selectBlackPackage: compare by index.";
        return orderedBefore(b, a) ? 1 : 0;
    }
    Statistics firstStatistics;
    const bool firstFailed =
        !resolvesWithout(b, reason, firstStatistics, "Resolving fake1 ends with error: ");
    Statistics secondStatistics;
    const bool secondFailed =
        !resolvesWithout(a, reason, secondStatistics, "Resolving fake2 ends with error: ");

    if (firstFailed && secondFailed) {
        Log::stream(2, true) << "selectBlackPackage: both branch of resolving ends with error";
        return 2;
    }
    if (firstFailed) {
        Log::stream(3, true) << "  selectBlackPackage: resolving with " << *a << " ends with error.";
        return 0;
    }
    if (secondFailed) {
        Log::stream(3, true) << "  selectBlackPackage: resolving with " << *b << " ends with error.";
        return 1;
    }
    if (firstStatistics.totalRemove < secondStatistics.totalRemove) {
        Log::stream(3, true) << "  selectBlackPackage: with " << *a << " less packages to remove.";
        return 1;
    }
    if (secondStatistics.totalRemove < firstStatistics.totalRemove) {
        Log::stream(3, true) << "  selectBlackPackage: with " << *b << " less packages to remove.";
        return 0;
    }
    if (firstStatistics.totalInstall > secondStatistics.totalInstall) {
        Log::stream(3, true) << "  selectBlackPackage: with " << *a << " great packages to install.";
        return 0;
    }
    if (secondStatistics.totalInstall > firstStatistics.totalInstall) {
        Log::stream(3, true) << "  selectBlackPackage: with " << *b << " great packages to install.";
        return 1;
    }
    Log::stream(3, true) << "  selectBlackPackage: compare by index.";
    return orderedBefore(b, a) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Black list, reasons and explanations

bool PkgManager::isBlack(const Package* package, bool quiet) const {
    if (blackList.count(package)) {
        if (!quiet)
            Log::stream(3, true) << " [black blacklisted] " << *package;
        return true;
    }
    if (package->getType() == 'z') {
        if (!quiet)
            Log::stream(3, true) << " [black REMOVED] " << *package;
        return true;
    }
    if (repository->isUnresolved(package))
        Log::stream(3, true) << " [error: non black but unresolved] " << *package;
    return false;
}

void PkgManager::addBlackPackage(const Package* package, const reason_ptr& reason) {
    FunctionTracer trace("addBlackPackage " + text(package));
    if (isBlack(package, false)) {
        Log::stream(3, true) << "already in blacklisted, skip";
        return;
    }
    blackList[package] = reason;
    Log::stream(3, true) << "addBlackPackage: " << package->getFileName() << " ("
                         << static_cast<const void*>(package) << ")";
    if (!isRequested(package))
        return;

    Log::stream(1, true) << "The requested package \"" << package->getName()
                         << "\" could not be installed: " << *reason;
    if (auto* clash = dynamic_cast<const ReasonClash*>(reason.get())) {
        const Package* second = clash->getSecond();
        if (second == package)
            throw internal_error("common/PkgManager", 2835);
        if (second->getName() == package->getName() && versionCompare(second, package) > 0) {
            Log::stream(1, true) << "Allow to replace build package" << *package << "\n  with newer package "
                                 << *second;
            return;
        }
    }
    Log::stream(2, true) << "    ---- start dependency problems explanation -----";
    std::set<const Package*> visited;
    explainProblem(package, visited);
    Log::stream(2, true) << "    ---- end dependency problems explanation -----";
    throw error(5, 1, 1, 3) << Messages().format("err_deps_resolve_build", text(package));
}

void PkgManager::appendBlackPackage(const Package* package, const reason_ptr& reason) {
    FunctionTracer trace("appendBlackPackage " + text(package));
    if (isBlack(package, true)) {
        Log::stream(3, true) << " DEBUG: something wrong happened. " << *package
                             << " is already in black list!";
        return;
    }
    new_blacks_t newBlacks([this](const Package* a, const Package* b) { return orderedBefore(a, b); });
    blackSamePackages(newBlacks, package, reason);
    for (const auto& entry : newBlacks)
        if (entry.first != package)
            Log::stream(2, true) << "Black list package " << *entry.first << " too (same name,ver,arch)";

    while (!newBlacks.empty()) {
        const Package* blacked = newBlacks.begin()->first;
        reason_ptr blackedReason = newBlacks.begin()->second;
        Log::stream(2, true) << "Migrating " << *blacked << " to blacklist ";
        addBlackPackage(blacked, blackedReason);
        newBlacks.erase(newBlacks.begin());

        for (const Package* requirer : repository->getRequirers(blacked)) {
            for (const std::shared_ptr<Dependency>& requirement : requirer->getRequires()) {
                if (!requirement->matchesPackage(blacked))
                    continue;
                const bool keeps = anyProviderPackage(*repository, *requirement, [&](const Package* owner) {
                    return !isBlack(owner, true) && !sameNameVersionArch(owner, blacked);
                });
                if (keeps || isBlack(requirer, true))
                    continue;
                Log::stream(2, true) << "Add package " << *requirer << " to black list"
                                     << " because its dependency '" << *requirement
                                     << "' resolved only by black-listed package " << *blacked << ".";
                newBlacks[requirer] = reason_ptr(new ReasonUnresolved(requirement));
            }
        }
    }
    Log::stream(2, true) << "appendBlackPackage: throw unhappy exception";
    printPackages(3, *necessaryList);
    throw unhappy();
}

void PkgManager::blackSamePackages(new_blacks_t& newBlacks, const Package* package,
                                   const reason_ptr& reason) {
    FunctionTracer trace("blackSamePackages for " + text(package));
    Log::stream(3, true) << "DEBUG: blackSamePackages " << *package << " because \"" << *reason << "\"";
    for (const Package* twin : repository->getPackagesByName(package->getName())) {
        if (versionCompare(twin, package) != 0 || twin->getArch() != package->getArch())
            continue;
        if (newBlacks.count(twin)) {
            Log::stream(3, true) << "it is already in newBlacks list, skipping.";
            continue;
        }
        if (isBlack(twin, false)) {
            Log::stream(3, true) << "it is already in blackList, skipping.";
            continue;
        }
        if (auto* unresolved = dynamic_cast<const ReasonUnresolved*>(reason.get())) {
            const std::shared_ptr<Dependency>& dependency = unresolved->getDependency();
            Log::stream(3, true) << "Debug: PkgManager::blackSamePackages: find " << *dependency << " in "
                                 << *twin;
            std::shared_ptr<Dependency> own;
            for (const std::shared_ptr<Dependency>& requirement : twin->getRequires())
                if (requirement->equals(dependency.get())) {
                    own = requirement;
                    break;
                }
            if (own)
                newBlacks[twin] = reason_ptr(new ReasonUnresolved(own));
            else
                Log::stream(3, true) << "Debug: package " << *twin << " not black listed!";
        } else if (auto* clash = dynamic_cast<const ReasonClash*>(reason.get())) {
            const Package* partner = clash->getFirst() == package ? clash->getSecond() : clash->getFirst();
            newBlacks[twin] = reason_ptr(new ReasonClash(twin, partner));
        } else {
            Log::stream(2, true) << "DEBUG: reason is undefined type";
        }
    }
}

void PkgManager::blackListUnresolved() {
    Log::stream(2, true) << "Add packages with unresolved deps to blacklist";
    // A copy: black-listing must not depend on the table staying put.
    const Repository::unresolved_t unresolved = repository->getUnresolved();
    for (const auto& entry : unresolved)
        addBlackPackage(entry.first, reason_ptr(new ReasonUnresolved(entry.second)));
}

void PkgManager::blackListMasterAndThrowUnhappy(const std::shared_ptr<Dependency>& dependency) {
    FunctionTracer trace("blackListMasterAndThrowUnhappy");
    const Package* master = dependency->getMaster();
    Log::stream(2, true) << "selectBestResolvers(): Can't find solution for '" << *dependency << "' of "
                         << *master << ".";
    if (master->getType() != 'd') {
        Log::stream(2, true) << "Add " << *master << " to black list";
        try {
            appendBlackPackage(master, reason_ptr(new ReasonUnresolved(dependency)));
        } catch (const error&) {
            Log::stream(1, true) << "Solution for dependency '" << *dependency << "' is not available.";
            throw;
        }
    }
    throw error(5, 1, 1, 2) << "Can't find solution for '" << text(*dependency) << "' of " << text(master)
                            << ".";
}

void PkgManager::explainProblem(const Package* package, std::set<const Package*>& visited) {
    FunctionTracer trace("explainProblem for " + text(package));
    auto found = blackList.find(package);
    if (found == blackList.end()) {
        Log::stream(1, true) << "There is no explanation for the \"" << package->getName() << "\" package.";
        return;
    }
    visited.insert(package);
    Log::stream(1, true) << "Searching problems for the \"" << package->getName() << "\" package.";
    const reason_ptr reason = found->second;

    if (auto* unresolved = dynamic_cast<const ReasonUnresolved*>(reason.get())) {
        const Dependency& dependency = *unresolved->getDependency();
        std::string problem =
            Messages().format("err_dep_from_pkg_unresolved", text(package), text(dependency));
        Log::stream(1, true) << "    " << problem;
        problems.push_back(problem);
        const std::vector<Match> providers = matchesOf(dependency);
        if (!providers.empty()) {
            for (const Match& provider : providers) {
                Log::stream(1, true) << "    The \"" << *provider.package << "\" package resolves \""
                                     << dependency << "\".";
                if (!visited.count(provider.package))
                    explainProblem(provider.package, visited);
            }
        } else {
            std::string missing =
                Messages().format("err_deps_install_build", text(dependency), text(package));
            Log::stream(1, true) << missing;
            problems.push_back(missing + "\n");
        }
    } else if (auto* clash = dynamic_cast<const ReasonClash*>(reason.get())) {
        explainClash(clash->getFirst(), clash->getSecond());
    } else {
        Log::stream(1, true) << "Unknown reason type encountered.";
    }
}

void PkgManager::explainClash(const Package* a, const Package* b) {
    std::string result;
    auto line = [&result](const std::string& text) { result += text + "\n"; };
    auto finish = [&]() {
        Log::stream(1, true) << result;
        problems.push_back(result);
    };

    // Only an installed version stands in the way of a downgrade.
    if (a->getName() == b->getName() && versionCompare(a, b) < 0 && b->getType() == 's') {
        line(Messages().format("err_pkg_downgrade", a->getName().str(), a->getVersion().toString(),
                               b->getVersion().toString()));
        return finish();
    }
    line(Messages().format("err_pkg_clash", text(a), text(b)));

    std::unordered_set<std::string> pathsOfB;
    for (const std::shared_ptr<Dependency>& provide : b->getProvides()) {
        auto* file = dynamic_cast<const DependencyFile*>(provide.get());
        if (file && !isDirectory(*file))
            pathsOfB.insert(file->getName());
    }
    if (!pathsOfB.empty())
        for (const std::shared_ptr<Dependency>& provide : a->getProvides()) {
            auto* file = dynamic_cast<const DependencyFile*>(provide.get());
            if (file && !isDirectory(*file) && pathsOfB.count(file->getName())) {
                line(Messages().format("err_pkg_fileconfl", text(*file)));
                return finish();
            }
        }

    bool found = false;
    for (const std::shared_ptr<Dependency>& conflict : a->getConflicts())
        if (conflict->matchesPackage(b)) {
            line(Messages().format("err_pkg_depconfl", text(a), text(*conflict)));
            found = true;
            break;
        }
    if (!found)
        for (const std::shared_ptr<Dependency>& conflict : b->getConflicts())
            if (conflict->matchesPackage(a)) {
                line(Messages().format("err_pkg_depconfl", text(b), text(*conflict)));
                found = true;
                break;
            }
    if (!found) {
        line(".");
        return finish();
    }

    // Why each of the two was chosen: the requirements of necessary packages that only it meets.
    auto reasons = [&](const Package* chosen, const Package* other) {
        bool headed = false;
        for (const Package* requirer : repository->getRequirers(chosen)) {
            if (!inNecessary(requirer))
                continue;
            for (const std::shared_ptr<Dependency>& requirement : requirer->getRequires()) {
                if (!requirement->matchesPackage(chosen) || requirement->matchesPackage(other))
                    continue;
                if (!headed) {
                    line(Messages().format("pkg_select_reason", text(chosen)));
                    headed = true;
                }
                line(Messages().format("pkg_select_depend", text(*requirement), text(requirer)));
            }
        }
    };
    reasons(a, b);
    reasons(b, a);
    finish();
}

std::string PkgManager::getProblemsReport() const {
    const std::string& head = Messages().getMessage("deps_report_head");
    std::string result = "\n\n" + head + "\n";
    Log::stream(1, true) << "\n\n" << head;
    int number = 0;
    const bool numbered = problems.size() > 1;
    for (const std::string& problem : problems) {
        ++number;
        if (numbered)
            Log::stream(1, true) << number << ")" << problem;
        else
            Log::stream(1, true) << problem;
        if (number <= 3)
            result += (numbered ? std::to_string(number) + ") " : std::string()) + problem + "\n";
    }
    if (problems.size() > 3)
        result += Messages().format("deps_long_report", Log::get_file_name()) + "\n";
    return result;
}

// ---------------------------------------------------------------------------------------------
// Indirect dependencies and solutions

bool PkgManager::isArchCompatible(const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    return a.size() == 4 && b.size() == 4 && a[0] == 'i' && b[0] == 'i' && a[2] == '8' && a[3] == '6' &&
           b[2] == '8' && b[3] == '6';
}

const Package* PkgManager::findNewerNonBlackPackage(const Package* package) const {
    Log::stream(3, true) << "findNewerNonBlackPackage: for " << *package;
    const Package* best = package;
    for (const Package* candidate : repository->getPackagesByName(package->getName())) {
        if (isBlack(candidate, false))
            continue;
        if (versionCompare(candidate, best) > 0)
            best = candidate;
    }
    return best == package ? nullptr : best;
}

bool PkgManager::dependsOnlyOn(const Package* a, const Package* b) const {
    if (!repository->requiresPackage(a, b))
        return false;
    for (const std::shared_ptr<Dependency>& requirement : a->getRequires()) {
        for (const Match& match : matchesOf(*requirement))
            if (match.package->getName() != b->getName() || versionCompare(match.package, b) != 0 ||
                match.package->getArch() != b->getArch())
                return false;
    }
    return true;
}

bool PkgManager::chooseSolution(const std::shared_ptr<Dependency>& candidate) {
    if (!selectBestResolvers(candidate, solutionLevel, true))
        addDeferred(candidate);
    return true;
}

void PkgManager::findIndirectHardwiredDeps(const Package* package) {
    Log::stream(3, true) << "  find indirect hardwired dependencies for " << *package;
    for (const Package* old : repository->getPackagesByName(package->getName())) {
        if (old->getType() != 's' || versionCompare(old, package) >= 0 ||
            !isArchCompatible(old->getArch().str(), package->getArch().str()))
            continue;
        bool handled = false;
        for (const Package* requirer : repository->getRequirers(old)) {
            if (requirer->getType() == 'z' || requirer->getType() != 's')
                continue;
            handled = true;
            try {
                checkHardwired(package, old, requirer);
            } catch (const error&) {
                Log::stream(1, true) << "Failed to check whether it is necessary to upgrade " << *requirer
                                     << " along with upgrade of " << *old << " by " << *package;
                throw;
            }
        }
        if (!handled)
            Log::stream(2, true) << "  No packages that requires older version, skipped";
    }
}

void PkgManager::checkHardwired(const Package* newPackage, const Package* oldPackage,
                                const Package* requirer) {
    for (const std::shared_ptr<Dependency>& requirement : requirer->getRequires()) {
        if (!oldPackage->visitProvides(requirement.get()) || newPackage->visitProvides(requirement.get()))
            continue;
        Log::stream(3, true) << "Hardwired package detected: dependency '" << *requirement << "' of package "
                             << *requirer << " is resolved by old " << *oldPackage
                             << " but not resolved by necessary " << *newPackage;
        try {
            if (archModeSolution(requirement, newPackage))
                return;
        } catch (const error&) {
            Log::stream(1, true) << "Upgrade of " << *requirer << " is necessary, but " << *requirement
                                 << " is resolved "
                                 << " only by " << *oldPackage << " package";
            throw;
        }

        if (const Package* newer = findNewerNonBlackPackage(requirer)) {
            Log::stream(3, true) << "  newer non-blacklisted found: " << *newer;
            bool usable = true;
            for (const std::shared_ptr<Dependency>& need : newer->getRequires()) {
                bool met = false;
                for (const Match& match : matchesOf(*need)) {
                    if (isBlack(match.package))
                        continue;
                    if (match.package == newPackage ||
                        match.provide->getName() != newPackage->getName().c_str()) {
                        met = true;
                        break;
                    }
                }
                if (!met) {
                    usable = false;
                    break;
                }
            }
            if (usable && upgradeModeSolution(newer))
                return;
        }
        if (replaceModeSolution(requirement, oldPackage, newPackage) || obsoleteModeSolution(requirer))
            return;

        if (reportedHardwired().insert(requirement).second)
            Log::stream(2, true) << "Unresolved dependency: necessary package " << *newPackage
                                 << " has older version " << *oldPackage
                                 << ". After upgrade we will have unresolved"
                                 << " dependency '" << *requirement << "' of package " << *requirer
                                 << ", add to removable list " << requirer->getName();
        try {
            removeModeSolution(requirer);
        } catch (const error&) {
            Log::stream(1, true) << "A dependency problem is found: an older version of required package "
                                 << *newPackage << " is installed (" << *oldPackage << ") "
                                 << ". After upgrade procedure the dependency '" << *requirement
                                 << "' of package " << *requirer
                                 << " will be unresolved. Try to add to removable list "
                                 << requirer->getName();
            throw;
        }
    }
}

void PkgManager::findIndirectObsoletes(const Package* package) {
    if (package->getType() == 's')
        return;
    Log::stream(3, true) << "  find indirect obsoletes dependency for " << *package;
    const Repository::packages_t obsoleted = repository->getObsoletes(package);
    if (obsoleted.empty())
        Log::stream(3, true) << "    this package have no obsoletes";

    for (const Package* old : obsoleted) {
        if (old->getType() != 's') {
            Log::stream(3, true) << "    skip not system " << *old;
            continue;
        }
        Log::stream(3, true) << "    fix all requires for " << *old;
        for (const Package* requirer : repository->getRequirers(old)) {
            if (requirer->getType() != 's')
                continue;
            for (const std::shared_ptr<Dependency>& requirement : requirer->getRequires()) {
                if (!requirement->matchesPackage(old))
                    continue;

                bool settled = false;
                for (const std::shared_ptr<Dependency>& provide : repository->findProvides(*requirement)) {
                    const Package* owner = provide->getMaster();
                    if (owner == old)
                        continue;
                    if (requirement->matches(provide.get()) && inNecessary(owner)) {
                        settled = true;
                        break;
                    }
                }
                if (settled)
                    continue;

                bool obsoleted = false;
                for (const Package* obsoleter : repository->getObsoleters(requirer)) {
                    if (!inNecessary(obsoleter))
                        continue;
                    if (obsoleter->getType() == 's') {
                        Log::stream(3, true) << " [skip-system]" << *obsoleter;
                        continue;
                    }
                    Log::stream(3, true) << "      There is obsoleter " << *obsoleter << " for " << *requirer
                                         << " in necessaryList";
                    obsoleted = true;
                }
                if (obsoleted) {
                    Log::stream(3, true) << "      so no need to fix " << *requirer;
                    continue;
                }

                Log::stream(3, true) << "      fix obsoleted requires '" << *requirement << "' from "
                                     << *requirer;
                const Package* newer = findNewerNonBlackPackage(requirer);
                if (newer && !dependsOnlyOn(newer, old)) {
                    Log::stream(2, true) << "We also need to install " << *newer << " because " << *package
                                         << " obsoletes " << *old << " which is needed for " << *requirer;
                    if (upgradeModeSolution(newer))
                        continue;
                }
                if (obsoleteModeSolution(requirer) || replaceModeSolution(requirement, old, package))
                    continue;

                if (reportedObsoletes().insert(requirement).second)
                    Log::stream(2, true)
                        << "Unresolved obsoletes: necessary package " << *package << " obsoletes package "
                        << *old << ". After installation of necessary package we will have the dependency '"
                        << *requirement << "' of package " << *requirer << " unresolved, add to removable "
                        << requirer->getName();
                try {
                    removeModeSolution(requirer);
                } catch (const error&) {
                    Log::stream(1, true)
                        << "A dependency problem is found: the required package " << *package << " obsoletes "
                        << *old << " package."
                        << ". After installation the dependency '" << *requirement << "' of package "
                        << *requirer << " will be unresolved. Try to add to removable "
                        << requirer->getName();
                    throw;
                }
            }
        }
    }
}

void PkgManager::findIndirectConflicts(const Package* package) {
    if (package->getType() == 's')
        return;
    Log::stream(3, true) << "  find indirect conflicts dependency for " << *package;
    for (const Package* other : repository->getConflicts(package)) {
        if (other->getType() != 's')
            continue;
        Log::stream(3, true) << "Found conflict with " << *other;
        if (upgradeOrObsoleteInstalled(package, other))
            continue;
        if (reportedConflicts().insert(other->getName().str()).second)
            Log::stream(2, true) << "Unresolved conflict: necessary package " << *package
                                 << " conflicts with " << *other
                                 << ". There is no upgrade solution or obsoleter for " << other->getName()
                                 << ", adding to removable list " << other->getName();
        try {
            removeModeSolution(other);
        } catch (const error&) {
            Log::stream(1, true) << "A dependency problem is found: required package " << *package
                                 << " conflicts with " << *other
                                 << ". No upgrade or obsolete solution was found for " << other->getName()
                                 << ". Try to add " << other->getName() << " to removable list.";
            throw;
        }
    }
}

void PkgManager::findBackConflicts(const Package* package) {
    Log::stream(3, true) << "  find indirect back conflicts for " << *package;
    for (const Package* other : repository->getConflictedBy(package)) {
        if (other->getType() != 's')
            continue;
        if (upgradeOrObsoleteInstalled(package, other))
            continue;
        if (reportedConflicts().insert(other->getName().str()).second)
            Log::stream(2, true) << "Unresolved conflict: the other package " << *other
                                 << " conflicts with necessary package " << *package
                                 << ". There is no upgrade or obsoleter solution,"
                                 << " add to removable list " << other->getName();
        try {
            removeModeSolution(other);
        } catch (const error&) {
            Log::stream(1, true) << "A dependency problem was found: the package " << *other
                                 << " conflicts with required package " << *package
                                 << ". No upgrade or obsolete solution was found."
                                 << " Try to add " << other->getName() << " to removable list";
            throw;
        }
    }
}

bool PkgManager::upgradeOrObsoleteInstalled(const Package* package, const Package* installed) {
    const Package* newer = findNewerNonBlackPackage(installed);
    if (newer && !repository->isConflicting(package, newer) && upgradeModeSolution(newer))
        return true;
    return obsoleteModeSolution(installed);
}

void PkgManager::findIndirectArchDeps(const Package* package) {
    Log::stream(3, true) << "  find indirect arch deps for " << *package;
    const Repository::packages_t sameName = repository->getPackagesByName(package->getName());
    std::set<PooledString> architectures;
    for (const Package* other : sameName)
        if (other->getType() == 's' && versionCompare(other, package) < 0 &&
            other->getArch() != package->getArch())
            architectures.insert(other->getArch());
    if (architectures.empty())
        return;
    for (const Package* other : sameName)
        if (!isBlack(other, false) && versionCompare(other, package) == 0 &&
            architectures.count(other->getArch()))
            appendNecessaryPackage(other);
}

bool PkgManager::archModeSolution(const std::shared_ptr<Dependency>& dependency, const Package* package) {
    auto candidate = std::make_shared<DependencyLogical>(
        text(*dependency) + " of " + text(package) + " for arch_mode_solution", nullptr);
    bool any = false;
    for (const Match& match : matchesOf(*dependency)) {
        const Package* owner = match.package;
        if (isBlack(owner) || owner->getName() != package->getName() || versionCompare(owner, package) != 0 ||
            owner->getArch() == package->getArch())
            continue;
        candidate->addProvider(match.provide);
        any = true;
    }
    return any && chooseSolution(candidate);
}

bool PkgManager::upgradeModeSolution(const Package* package) {
    auto candidate = std::make_shared<DependencyLogical>(
        package->getName().str() + " >= " + package->getVersion().toString() + " for upgrade_mode_solution",
        nullptr);
    Log::stream(3, true) << "Upgrade mode solution: select from packages:";
    bool any = false;
    for (const Package* other : repository->getPackagesByName(package->getName())) {
        if (isBlack(other))
            continue;
        Log::stream(3, true) << " " << *other;
        if (versionCompare(other, package) == 0) {
            candidate->addProvider(other->getSelfProvide());
            any = true;
        }
    }
    return any && chooseSolution(candidate);
}

bool PkgManager::replaceModeSolution(const std::shared_ptr<Dependency>& dependency, const Package* oldPackage,
                                     const Package* newPackage) {
    std::shared_ptr<Dependency> candidate = dependency->clone();
    Log::stream(3, true) << "   try search replace mode solution. select from:";
    bool any = false;
    for (const Match& match : matchesOf(*dependency)) {
        const Package* owner = match.package;
        if (isBlack(owner))
            continue;
        bool accepted;
        if (owner->getName() == oldPackage->getName()) {
            if (versionCompare(owner, newPackage) == 0 && owner->getArch() != newPackage->getArch())
                accepted = true;
            else
                accepted = versionCompare(owner, oldPackage) > 0 &&
                           isArchCompatible(owner->getArch().str(), oldPackage->getArch().str());
        } else {
            accepted = true;
        }
        if (!accepted)
            continue;
        Log::stream(3, true) << "     " << *match.provide;
        candidate->addProvider(match.provide);
        any = true;
    }
    if (!any) {
        Log::stream(3, true) << "<nothing>, return false";
        return false;
    }
    return chooseSolution(candidate);
}

bool PkgManager::obsoleteModeSolution(const Package* package) {
    Log::stream(3, true) << "   try obsoleteModeSolution, select from:";
    auto candidate = std::make_shared<DependencyLogical>(
        "obsolete_mode_solution for " + package->getName().str(), nullptr);
    const Repository::packages_t obsoleters = repository->getObsoleters(package);
    if (obsoleters.empty()) {
        Log::stream(3, true) << "<nothing>, return false";
        return false;
    }
    bool any = false;
    for (const Package* obsoleter : obsoleters) {
        if (isBlack(obsoleter))
            continue;
        if (obsoleter->getType() == 's') {
            Log::stream(3, true) << " [skip_system]" << *obsoleter;
            continue;
        }
        Log::stream(3, true) << "  " << *obsoleter;
        for (const std::shared_ptr<Dependency>& obsolete : obsoleter->getObsoletes())
            if (obsolete->matchesPackage(package)) {
                candidate->addProvider(obsolete);
                any = true;
                break;
            }
    }
    if (!any) {
        Log::stream(3, true) << "   obsoleteModeSolution- none obsoleters found, false.";
        return false;
    }
    Log::stream(3, true) << " with selectBestResolvers.";
    return chooseSolution(candidate);
}

void PkgManager::removeModeSolution(const Package* package) {
    if (!removeTree)
        throw error(5, 1, 1, 2) << Messages().format("err_deps_badpkg", text(package));
    if (isRequested(package))
        return;
    addRemover(package->getName().str());
}

void PkgManager::addRemover(const std::string& name) {
    try {
        appendNecessaryPackage(repository->addRemoverFor(name));
    } catch (const error&) {
        Log::stream(1, true) << "Could not create remover for " << name;
        throw;
    }
}
