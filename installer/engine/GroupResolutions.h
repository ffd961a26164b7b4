#pragma once

#include "common/packages/PkgManager.h"
#include "common/packages/PooledString.h"

#include <unordered_map>
#include <vector>

class Package;
class Repository;

// What each package of one installation still needs, as the resolver answered for it (with its twin),
// kept until a group is installed that could change the answer. Forming each group starts again from
// the first package not installed, so without these answers every group would resolve the packages
// before it once more.
class GroupResolutions {
public:
    GroupResolutions(const Repository& tiny, const cpkgs_t& installList);

    // The first other package of the install list with the same name and an equal version (another
    // architecture); null when there is none or it is installed.
    const Package* findTwin(const Package* package) const;

    // The kept answer for the package resolved with that twin, or null.
    const cpkgs_t* find(const Package* package, const Package* twin) const;
    const cpkgs_t& keep(const Package* package, const Package* twin, const cpkgs_t& needed);
    // Forgets the answers that the installed group may change: those that list a member, and those of
    // packages that require, conflict with, obsolete or are obsoleted by a member.
    void forget(const cpkgs_t& group);

private:
    struct Answer {
        const Package* twin;
        cpkgs_t needed;
    };

    void forgetAnswerOf(const Package* package);

    const Repository& tiny;
    std::unordered_map<PooledString, std::vector<const Package*>> byName;
    std::unordered_map<const Package*, Answer> answers;
    // For each package, the packages whose kept answer lists it.
    std::unordered_map<const Package*, std::vector<const Package*>> listedIn;
};
