#pragma once

#include "common/packages/PooledString.h"
#include "common/packages/Reason.h"

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class Dependency;
class Package;
class Repository;

using cpkgs_t = std::vector<const Package*>;

// The dependency resolver. From the start packages in the caller's list it computes the list of
// packages to install: the start packages, the providers chosen for their requirements, newer
// versions of installed packages that would break, and dummy removers for installed packages that
// must go. A package that cannot be part of a solution is black-listed with a reason and the
// resolution starts again without it.
//
// The repository must have resolved its requirements before. A resolver lives for one resolution;
// trial resolutions run further resolvers on cheap copies of the repository.
class PkgManager {
public:
    struct Statistics {
        int updateInstall = 0;
        int updateUpgrade = 0;
        int updateRemove = 0;
        int64_t updateSize = 0;
        int buildInstall = 0;
        int buildUpgrade = 0;
        int buildRemove = 0;
        int64_t buildSize = 0;
        int totalInstall = 0;
        int totalUpgrade = 0;
        int totalRemove = 0;
        int64_t totalSize = 0;
    };

    // Thrown after a package was black-listed: the resolution restarts from the start packages.
    struct unhappy {};

    // Bounds of trial resolution, for one resolution with all its nested trials: trials nest at
    // most maxTrialDepth deep (deeper comparisons count as undecided), and the resolver and its
    // trials together examine at most workPerPackage times the repository's package count, but at
    // least minWork, packages before the resolution fails with err_bad_deps.
    static constexpr int maxTrialDepth = 3;
    static constexpr uint64_t workPerPackage = 50;
    static constexpr uint64_t minWork = 20000;

    struct DependencyHash {
        size_t operator()(const std::shared_ptr<Dependency>& d) const;
    };
    struct DependencyEqual {
        bool operator()(const std::shared_ptr<Dependency>& a, const std::shared_ptr<Dependency>& b) const;
    };
    using dependency_set_t = std::unordered_set<std::shared_ptr<Dependency>, DependencyHash, DependencyEqual>;
    using black_list_t = std::map<const Package*, reason_ptr>;

    // Takes a copy of the caller's list as the start packages; the list itself receives the result.
    PkgManager(Repository* repository, cpkgs_t* necessaryList, bool removeTree);
    PkgManager(const PkgManager&) = delete;
    PkgManager& operator=(const PkgManager&) = delete;
    ~PkgManager();

    // Packages the user asked for explicitly; duplicates are kept.
    void addRequested(const cpkgs_t& packages);
    void setRequested(const cpkgs_t& packages);
    void setOsArch(const std::string& arch) { os_arch = arch; }
    void setSolutionLevel(int level) { solutionLevel = level; }
    int getSolutionLevel() const { return solutionLevel; }
    // Empties the necessary list and the resolved requirements, for resolving single packages.
    void clearNecessary();

    // The main loop: returns when the necessary list is complete, raises an error otherwise.
    void findNecessaryPackages(bool predict);
    // Resolves the package's requirements and runs the checks of installed packages it affects.
    void findRequiredFor(const Package* package);
    // Decides one deferred requirement.
    void resolveDefferedDependencies();
    void addDeferred(const std::shared_ptr<Dependency>& dependency);
    void appendNecessaryPackage(const Package* package);
    void pushNecessary(const Package* package);
    bool isRequested(const Package* package) const;
    void getStatistics(Statistics& statistics) const;
    static void printPackages(int level, const cpkgs_t& packages);

    // Choosing among the candidates of one requirement: true when it counts as resolved.
    bool selectBestResolvers(const std::shared_ptr<Dependency>& dependency, int level, bool force);
    // Positive keeps currBest, negative prefers currTest, 0 means equal.
    int cmpPriority(const Package* currBest, const Package* currTest) const;
    int cmpDirPriority(const Package* a, const Package* b) const;
    int cmpArchPriority(const Package* a, const Package* b) const;
    std::string getOsArch() const;
    int smartGravity(const std::shared_ptr<Dependency>& dependency, const Package* currBest,
                     const Package* currTest, int level);
    bool conflictsWithSystemOrNecessary(const Package* package);
    int countNewRequirements(const Package* package);
    int preResolve(const Package* currBest, const Package* currTest);
    // 0 black-lists a, 1 black-lists b, 2 both.
    int selectBlackPackage(const Package* a, const Package* b, const reason_ptr& reason);

    // The black list and the explanations of failures.
    bool isBlack(const Package* package, bool quiet = false) const;
    void addBlackPackage(const Package* package, const reason_ptr& reason);
    void appendBlackPackage(const Package* package, const reason_ptr& reason);
    using new_blacks_t =
        std::map<const Package*, reason_ptr, std::function<bool(const Package*, const Package*)>>;
    void blackSamePackages(new_blacks_t& newBlacks, const Package* package, const reason_ptr& reason);
    void blackListUnresolved();
    [[noreturn]] void blackListMasterAndThrowUnhappy(const std::shared_ptr<Dependency>& dependency);
    void explainProblem(const Package* package, std::set<const Package*>& visited);
    void explainClash(const Package* first, const Package* second);
    std::string getProblemsReport() const;

    // Installed packages that a necessary package affects.
    void findIndirectHardwiredDeps(const Package* package);
    void checkHardwired(const Package* newPackage, const Package* oldPackage, const Package* requirer);
    void findIndirectObsoletes(const Package* package);
    void findIndirectConflicts(const Package* package);
    void findBackConflicts(const Package* package);
    void findIndirectArchDeps(const Package* package);
    // Ends a conflict between a necessary package and an installed one by a newer version of the
    // installed one that does not conflict, or else by a package that obsoletes it.
    bool upgradeOrObsoleteInstalled(const Package* package, const Package* installed);
    bool archModeSolution(const std::shared_ptr<Dependency>& dependency, const Package* package);
    bool upgradeModeSolution(const Package* package);
    bool replaceModeSolution(const std::shared_ptr<Dependency>& dependency, const Package* oldPackage,
                             const Package* newPackage);
    bool obsoleteModeSolution(const Package* package);
    void removeModeSolution(const Package* package);
    void addRemover(const std::string& name);
    const Package* findNewerNonBlackPackage(const Package* package) const;
    bool dependsOnlyOn(const Package* a, const Package* b) const;
    static bool isArchCompatible(const std::string& a, const std::string& b);

    // Names that win ties between providers of different names; shared by the whole process.
    static std::set<std::string, std::less<>>& preferredPackages();

    const cpkgs_t& getNecessaryList() const { return *necessaryList; }
    const black_list_t& getBlackList() const { return blackList; }
    const std::list<std::string>& getProblems() const { return problems; }
    const std::list<std::shared_ptr<Dependency>>& getDeferred() const { return deferred; }
    Repository* getRepository() const { return repository; }

private:
    // Where each name and package stands in the necessary list; follows the list as it grows.
    struct NecessaryIndex;
    // A position for every package of the repository, for orders that must not depend on addresses.
    struct PackageOrder;

    // A trial resolver over a copy of this one's repository and black list.
    struct Trial;

    NecessaryIndex& necessary() const;
    bool inNecessary(const Package* package) const;
    bool nameInNecessary(PooledString name) const;
    bool removerInNecessary(PooledString name) const;
    // The provides that satisfy the requirement, with the package of each, in match order.
    struct Match {
        std::shared_ptr<Dependency> provide;
        const Package* package;
    };
    std::vector<Match> matchesOf(const Dependency& dependency) const;
    struct TrialOutcome {
        bool resolved = false;
        Statistics statistics;
        std::string failure;
    };
    // Shared by a resolver and all its trials: the work done, and the outcomes of trials by
    // their start list and black list, so that no trial runs twice at any level.
    struct TrialBook;
    TrialBook& trialBook();
    // Raised in a trial when the work bound is reached; it ends the whole resolution.
    struct exhausted {};
    [[noreturn]] void giveUp() const;
    bool runTrial(Trial& trial, bool predict, TrialOutcome& outcome);
    // The trial resolution of the necessary list with the candidate appended.
    TrialOutcome predict(const Package* candidate);
    // A trial from the start packages with `excluded` black-listed; false when it fails.
    bool resolvesWithout(const Package* excluded, const reason_ptr& reason, Statistics& statistics,
                         const char* failedLine);
    // Whether trials may nest one level deeper here.
    bool mayTry() const;
    void countWork();
    // After the main loop: the plan must hold together; a fault black-lists, removes or upgrades
    // a package, or ends the resolution when none of that changes anything.
    void checkPlan();
    void requireProgress(size_t listSize) const;
    // Two packages that must not be in the plan together, `entry` already there: black-lists one.
    void resolveClash(const Package* entry, const Package* package);
    void resolveSameName(const Package* entry, const Package* package);
    // A package that must not stay installed beside the plan: removed when allowed, else the plan
    // package fails.
    void dropInstalled(const Package* installed, const Package* planned);
    // Whether either package obsoletes the other, the obsoleted one not being installed.
    bool obsoletesOther(const Package* a, const Package* b) const;
    // The common ending of the solutions.
    bool chooseSolution(const std::shared_ptr<Dependency>& candidate);
    bool orderedBefore(const Package* a, const Package* b) const;
    // Whether some version of the name is installed.
    bool hasInstalled(PooledString name) const;
    void restartFromStart(const Package* trialPackage);
    void eraseDeferred(std::list<std::shared_ptr<Dependency>>::iterator position);

    Repository* repository;
    cpkgs_t* necessaryList;
    bool removeTree;
    int solutionLevel = 1;
    cpkgs_t startPackages;
    cpkgs_t requestedPackages;
    std::string os_arch;
    std::list<std::shared_ptr<Dependency>> deferred;
    dependency_set_t resolvedDeps;
    black_list_t blackList;
    std::list<std::string> problems;

    std::unordered_set<const Package*> requestedSet;
    std::unordered_set<const Package*> startSet;
    // Deferred requirements by name, to refuse a second one of the same name.
    std::unordered_map<uint64_t, std::vector<const Dependency*>> deferredNames;
    mutable std::unique_ptr<NecessaryIndex> necessaryIndex;
    mutable std::shared_ptr<PackageOrder> packageOrder;
    mutable std::shared_ptr<std::unordered_map<const char*, bool>> installedNames;
    std::shared_ptr<TrialBook> book;
    int trialDepth = 0;
};
