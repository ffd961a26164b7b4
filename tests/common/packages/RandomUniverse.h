#pragma once

// Package universes for resolver tests: the scenario text that tests/fixtures/resolver/dnf/oracle
// reads ("system|repo NAME VERSION ARCH | R:text | P:text | C:text | O:text", "request NAME...",
// "allowerasing", "expect plan|failure", '#' comments), a seeded generator of random ones, and a
// checker of the consistency of a resolver's plan.

#include "common/packages/Dependency.h"
#include "common/packages/Package.h"
#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace universe {

struct Entry {
    bool system = false;
    std::string name;
    std::string version;
    std::string arch = "noarch";
    std::vector<std::pair<char, std::string>> relations; // 'R', 'P', 'C', 'O' and the text
};

struct Scenario {
    std::vector<Entry> packages;
    std::vector<std::string> request;
    bool allowErasing = false;
    std::string expect; // "plan", "failure" or "" for either
};

inline std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

inline Scenario parse(std::istream& in) {
    Scenario scenario;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> parts;
        for (size_t from = 0;;) {
            const size_t bar = line.find('|', from);
            parts.push_back(trim(line.substr(from, bar - from)));
            if (bar == std::string::npos)
                break;
            from = bar + 1;
        }
        std::istringstream words(parts[0]);
        std::string head;
        if (!(words >> head) || head[0] == '#')
            continue;
        if (head == "request") {
            for (std::string word; words >> word;)
                scenario.request.push_back(word);
        } else if (head == "allowerasing") {
            scenario.allowErasing = true;
        } else if (head == "expect") {
            words >> scenario.expect;
        } else {
            Entry entry;
            entry.system = head == "system";
            words >> entry.name >> entry.version >> entry.arch;
            for (size_t i = 1; i < parts.size(); ++i)
                if (parts[i].size() > 2)
                    entry.relations.emplace_back(parts[i][0], parts[i].substr(2));
            scenario.packages.push_back(entry);
        }
    }
    return scenario;
}

inline Scenario parseFile(const std::string& path) {
    std::ifstream in(path);
    return parse(in);
}

inline std::string render(const Scenario& scenario) {
    std::ostringstream out;
    for (const Entry& entry : scenario.packages) {
        out << (entry.system ? "system " : "repo ") << entry.name << " " << entry.version << " "
            << entry.arch;
        for (const auto& relation : entry.relations)
            out << " | " << relation.first << ":" << relation.second;
        out << "\n";
    }
    out << "request";
    for (const std::string& name : scenario.request)
        out << " " << name;
    out << "\n";
    if (scenario.allowErasing)
        out << "allowerasing\n";
    if (!scenario.expect.empty())
        out << "expect " << scenario.expect << "\n";
    return out.str();
}

// The package cache text of the installed or the available packages, as rpm would describe
// them: release 1, and a provide of the package's own name and version.
inline std::string cacheText(const Scenario& scenario, bool system) {
    std::ostringstream out;
    for (const Entry& entry : scenario.packages) {
        if (entry.system != system)
            continue;
        out << "N:" << entry.name << "\nV:" << entry.version << "\nL:1\nA:" << entry.arch << "\n";
        for (const auto& relation : entry.relations)
            out << relation.first << ":" << relation.second << "\n";
        out << "P:" << entry.name << " = " << entry.version << "-1\nX:\n\n";
    }
    return out.str();
}

// A scenario read into a repository with its requirements resolved; the start list holds the
// newest available package of each requested name.
class Loaded {
public:
    explicit Loaded(const Scenario& scenario) : scenario(scenario) {
        add(cacheText(scenario, true), 's');
        add(cacheText(scenario, false), 'u');
        repository.resolveRequires();
        for (const std::string& name : scenario.request) {
            const Package* newest =
                repository.findLatestIf(name, [](const Package* p) { return p->getType() != 's'; });
            if (newest)
                start.push_back(newest);
        }
    }

    Scenario scenario;
    Repository repository;
    cpkgs_t start;

private:
    void add(const std::string& text, Package::type_t type) {
        if (text.empty())
            return;
        FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        repository.addFromCache(in, type, Repository::DUPS_APPEND, nullptr);
        fclose(in);
    }
};

inline std::string print(const Package* package) {
    std::ostringstream out;
    package->print(out);
    return out.str();
}

inline std::string print(const Dependency& dependency) {
    std::ostringstream out;
    dependency.print(out);
    return out.str();
}

// The installed packages that stay after the plan: not replaced by a planned package of their
// name, not taken out by a remover, not obsoleted by a planned package.
inline std::vector<const Package*> finalSet(const Repository& repository, const cpkgs_t& plan) {
    std::set<std::string> planned, removed;
    std::set<const Package*> obsoleted;
    std::vector<const Package*> result;
    for (const Package* package : plan) {
        if (isRemoverPackage(package)) {
            removed.insert(package->getObsolete(0)->getName());
            continue;
        }
        if (package->getType() == 's' || package->getType() == 'd')
            continue;
        planned.insert(package->getName().str());
        for (const Package* old : repository.getObsoletes(package))
            if (old->getType() == 's')
                obsoleted.insert(old);
        result.push_back(package);
    }
    for (const Package* package : repository.getPackages())
        if (package->getType() == 's' && !planned.count(package->getName().str()) &&
            !removed.count(package->getName().str()) && !obsoleted.count(package))
            result.push_back(package);
    return result;
}

struct Violation {
    std::string culprit; // the name of the package at fault
    std::string text;
};

// What is wrong with a plan: unmet requirements, conflicts and obsoletes inside the final set,
// two versions of one name, requested names missing. Empty for a consistent plan.
inline std::vector<Violation> violations(const Repository& repository, const cpkgs_t& plan,
                                         const std::vector<std::string>& request) {
    std::vector<Violation> found;
    const std::vector<const Package*> members = finalSet(repository, plan);
    const std::set<const Package*> memberSet(members.begin(), members.end());
    std::map<std::string, const Package*> byName;
    for (const Package* package : members) {
        auto same = byName.emplace(package->getName().str(), package);
        if (!same.second && same.first->second->getArch() == package->getArch())
            found.push_back({package->getName().str(),
                             "two versions: " + print(same.first->second) + " and " + print(package)});
    }
    for (const std::string& name : request)
        if (!byName.count(name))
            found.push_back({name, "requested " + name + " missing"});
    for (const Package* package : members) {
        const std::string name = package->getName().str();
        for (const std::shared_ptr<Dependency>& requirement : package->getRequires()) {
            bool met = isIgnoredRequirement(print(*requirement));
            for (const std::shared_ptr<Dependency>& provide : repository.findProvides(*requirement))
                if (!met && memberSet.count(provide->getMaster()) && requirement->matches(provide.get()))
                    met = true;
            if (!met)
                found.push_back({name, "unmet: " + print(package) + " requires " + print(*requirement)});
        }
        for (const Package* other : repository.getConflicts(package))
            if (memberSet.count(other))
                found.push_back({name, "conflict: " + print(package) + " conflicts with " + print(other)});
        for (const Package* other : repository.getObsoletes(package))
            if (memberSet.count(other))
                found.push_back({name, "obsoleted: " + print(other) + " by " + print(package)});
    }
    return found;
}

inline std::string describe(const std::vector<Violation>& found) {
    std::string text;
    for (const Violation& violation : found)
        text += violation.text + "\n";
    return text;
}

// The name of an installed package that breaks the installed set, or "" when it holds together.
inline std::string installedCulprit(const Scenario& scenario) {
    Scenario system;
    for (const Entry& entry : scenario.packages)
        if (entry.system)
            system.packages.push_back(entry);
    Loaded loaded(system);
    const std::vector<Violation> found = violations(loaded.repository, cpkgs_t(), {});
    return found.empty() ? "" : found.front().culprit;
}

// A random universe: 8 to 30 names of one to three versions each, versioned and unversioned
// requirements, virtual provides with several providers, conflicts, obsoletes, some names
// installed (a consistent installed set), and one to four requested names.
inline Scenario generate(unsigned seed) {
    std::mt19937 random(seed);
    auto chance = [&random](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    auto pick = [&random](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    static const char* const versions[] = {"0.9", "1.0", "1.2", "2.0"};
    static const char* const virtuals[] = {"v0", "v1", "v2", "v3"};

    const size_t names = 8 + pick(23);
    auto nameOf = [](size_t i) { return std::string(i < 10 ? "p0" : "p") + std::to_string(i); };
    // The versions of each name first, so that versioned relations name versions that exist.
    std::vector<std::vector<size_t>> versionsOf(names);
    for (auto& chosen : versionsOf) {
        const size_t count = 1 + pick(3);
        for (size_t v = 0; v < 4 && chosen.size() < count; ++v)
            if (chance(0.6) || 4 - v == count - chosen.size())
                chosen.push_back(v);
    }
    auto relationTo = [&](const std::vector<const char*>& comparisons) {
        const size_t target = pick(names);
        std::string text = nameOf(target);
        if (chance(0.4))
            text += std::string(" ") + comparisons[pick(comparisons.size())] + " " +
                    versions[versionsOf[target][pick(versionsOf[target].size())]];
        return text;
    };
    const std::vector<const char*> requireOps = {">=", "<", "="};
    const std::vector<const char*> limitOps = {"<", "<="};

    Scenario scenario;
    std::vector<std::vector<size_t>> byName(names);
    for (size_t n = 0; n < names; ++n) {
        for (size_t v : versionsOf[n]) {
            Entry entry;
            entry.name = nameOf(n);
            entry.version = versions[v];
            const size_t requires = pick(4);
            for (size_t r = 0; r < requires; ++r)
                entry.relations.emplace_back('R', chance(0.2) ? std::string(virtuals[pick(4)])
                                                              : relationTo(requireOps));
            if (chance(0.2))
                entry.relations.emplace_back('P', virtuals[pick(4)]);
            if (chance(0.1))
                entry.relations.emplace_back('C', relationTo(limitOps));
            if (chance(0.06))
                entry.relations.emplace_back('O', relationTo(limitOps));
            byName[n].push_back(scenario.packages.size());
            scenario.packages.push_back(entry);
        }
    }
    // Some names have one of their versions installed; that version is then not available.
    for (size_t n = 0; n < names; ++n)
        if (chance(0.3)) {
            const size_t index = byName[n][pick(byName[n].size())];
            scenario.packages[index].system = true;
        }
    // Keep only an installed set that holds together, as a real system's would.
    for (std::string culprit; !(culprit = installedCulprit(scenario)).empty();)
        for (Entry& entry : scenario.packages)
            if (entry.system && entry.name == culprit)
                entry.system = false;
    std::set<std::string> requestable;
    for (const Entry& entry : scenario.packages)
        if (!entry.system)
            requestable.insert(entry.name);
    const std::vector<std::string> candidates(requestable.begin(), requestable.end());
    const size_t requests = std::min<size_t>(1 + pick(4), candidates.size());
    std::set<std::string> requested;
    while (requested.size() < requests)
        requested.insert(candidates[pick(candidates.size())]);
    scenario.request.assign(requested.begin(), requested.end());
    return scenario;
}

} // namespace universe
