#include "installer/engine/GroupResolutions.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"

GroupResolutions::GroupResolutions(const Repository& tiny, const cpkgs_t& installList) : tiny(tiny) {
    for (const Package* package : installList)
        byName[package->getName()].push_back(package);
}

const Package* GroupResolutions::findTwin(const Package* package) const {
    auto named = byName.find(package->getName());
    if (named == byName.end() || !package->hasVersion())
        return nullptr;
    for (const Package* other : named->second)
        if (other != package && other->hasVersion() && other->getVersion() == package->getVersion())
            return other->getType() == 's' ? nullptr : other;
    return nullptr;
}

const cpkgs_t* GroupResolutions::find(const Package* package, const Package* twin) const {
    auto found = answers.find(package);
    return found != answers.end() && found->second.twin == twin ? &found->second.needed : nullptr;
}

const cpkgs_t& GroupResolutions::keep(const Package* package, const Package* twin, const cpkgs_t& needed) {
    forgetAnswerOf(package);
    for (const Package* listed : needed)
        listedIn[listed].push_back(package);
    Answer& answer = answers[package];
    answer = Answer{twin, needed};
    return answer.needed;
}

void GroupResolutions::forget(const cpkgs_t& group) {
    for (const Package* member : group) {
        auto listing = listedIn.find(member);
        if (listing != listedIn.end()) {
            std::vector<const Package*> owners;
            owners.swap(listing->second);
            for (const Package* owner : owners)
                forgetAnswerOf(owner);
        }
        for (const auto& related :
             {tiny.getRequirers(member), tiny.getConflicts(member), tiny.getConflictedBy(member),
              tiny.getObsoletes(member), tiny.getObsoleters(member)})
            for (const Package* package : related)
                forgetAnswerOf(package);
        forgetAnswerOf(member);
    }
}

void GroupResolutions::forgetAnswerOf(const Package* package) {
    answers.erase(package);
}
