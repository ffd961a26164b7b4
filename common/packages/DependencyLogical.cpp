#include "common/packages/DependencyLogical.h"

#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/error.h"

namespace {

const char* const relation_texts[] = {"", " = ", " < ", " <= ", " >= ", " > "};

bool isOperator(char c) {
    return c == '<' || c == '=' || c == '>';
}

int relationOf(const std::string& op) {
    if (op.size() == 1) {
        switch (op[0]) {
        case '<':
            return DependencyLogical::REL_LESS;
        case '>':
            return DependencyLogical::REL_GREATER;
        default:
            return DependencyLogical::REL_EQUAL;
        }
    }
    switch (op[0]) {
    case '<':
        return DependencyLogical::REL_LESS_EQUAL;
    case '>':
        return DependencyLogical::REL_GREATER_EQUAL;
    default:
        return DependencyLogical::REL_EQUAL;
    }
}

bool isLess(int relation) {
    return relation == DependencyLogical::REL_LESS || relation == DependencyLogical::REL_LESS_EQUAL;
}
bool isGreater(int relation) {
    return relation == DependencyLogical::REL_GREATER || relation == DependencyLogical::REL_GREATER_EQUAL;
}
bool includesEqual(int relation) {
    return relation == DependencyLogical::REL_EQUAL || relation == DependencyLogical::REL_LESS_EQUAL ||
           relation == DependencyLogical::REL_GREATER_EQUAL;
}

uint64_t rotateRight(uint64_t p, int bits) {
    return (p >> bits) | (p << (64 - bits));
}

} // namespace

DependencyLogical::DependencyLogical(const std::string& text, const Package* master)
    : Dependency(LOGICAL_ENTRY, master) {
    const size_t n = text.size();
    if (n == 0) {
        {
            Log::stream log(0, true);
            log << "Error: empty data for dependency of package ";
            if (master)
                log << static_cast<const void*>(master) << " " << *master;
            else
                log << "0";
        }
        throw internal_error("common/DependencyLogical", 30);
    }

    // "name op version": the version follows the last space and the operator the word before it.
    size_t i = text.find_last_of(' ');
    if (i == std::string::npos || i == 0) {
        name = PooledString(text);
        return;
    }
    const size_t version_start = i + 1;
    while (i > 0 && text[i] == ' ')
        --i;
    if (!isOperator(text[i])) {
        name = PooledString(text);
        return;
    }
    size_t j = i;
    while (j > 0 && text[j] != ' ')
        --j;
    if (j == i) {
        name = PooledString(text);
        return;
    }
    size_t k = j;
    while (k > 0 && text[k] == ' ')
        --k;
    name = PooledString(text.substr(0, k + 1));
    relation = relationOf(text.substr(j + 1, i - j));
    version = makeVersion(text.substr(version_start));
}

DependencyLogical::DependencyLogical(const DependencyLogical& other, clone_tag)
    : Dependency(LOGICAL_ENTRY, other.getMaster()),
      version(other.version ? std::make_unique<Version>(*other.version) : nullptr), name(other.name),
      relation(other.relation) {}

std::unique_ptr<Version> DependencyLogical::makeVersion(const std::string& text) const {
    return std::make_unique<Version>(text);
}

bool DependencyLogical::matches(const Dependency* other) const {
    if (other->getKind() != LOGICAL_ENTRY)
        return false;
    const auto* b = static_cast<const DependencyLogical*>(other);
    if (b->name != name)
        return false;
    if ((relation == REL_NONE && b->relation == REL_NONE) || !version || !b->version)
        return true;

    // Unlike Version::compare, an epoch on one side only is compared against 0, and a release
    // on one side only does not count.
    int cmp;
    if (version->hasEpoch && b->version->hasEpoch) {
        cmp = version->cmpEpoch(*b->version);
    } else {
        uint64_t mine = version->hasEpoch ? static_cast<uint64_t>(version->epoch) : 0;
        uint64_t theirs = b->version->hasEpoch ? static_cast<uint64_t>(b->version->epoch) : 0;
        cmp = (mine > theirs) - (mine < theirs);
    }
    if (cmp == 0)
        cmp = version->cmpVersion(*b->version);
    if (cmp == 0 && !version->release.empty() && !b->version->release.empty())
        cmp = version->cmpRelease(*b->version);

    if (cmp > 0)
        return isLess(relation) || isGreater(b->relation);
    if (cmp < 0)
        return isGreater(relation) || isLess(b->relation);
    return (includesEqual(relation) && includesEqual(b->relation)) ||
           (isLess(relation) && isLess(b->relation)) || (isGreater(relation) && isGreater(b->relation));
}

uint64_t DependencyLogical::hash() const {
    return rotateRight(name.address(), 11) * 5;
}

bool DependencyLogical::sameName(const Dependency* other) const {
    return other->getKind() == LOGICAL_ENTRY && static_cast<const DependencyLogical*>(other)->name == name;
}

bool DependencyLogical::equals(const Dependency* other) const {
    if (!sameName(other))
        return false;
    const auto* b = static_cast<const DependencyLogical*>(other);
    if (b->relation != relation)
        return false;
    if (!version || !b->version)
        return !version && !b->version;
    return *version == *b->version;
}

std::shared_ptr<Dependency> DependencyLogical::clone() const {
    return std::make_shared<DependencyLogical>(*this, clone_tag());
}

std::ostream& DependencyLogical::print(std::ostream& out) const {
    out << name;
    if (version) {
        if (relation <= REL_NONE || relation > REL_GREATER)
            throw internal_error("common/DependencyLogical", 288);
        out << relation_texts[relation];
        version->print(out);
    }
    return out;
}
