#pragma once

#include "common/packages/Dependency.h"
#include "common/packages/PooledString.h"
#include "common/packages/Version.h"

#include <memory>
#include <string>

// A capability: a name with an optional relation and version ("name", "name >= 1.2-3").
class DependencyLogical : public Dependency {
public:
    enum relation_t {
        REL_NONE = 0,
        REL_EQUAL = 1,
        REL_LESS = 2,
        REL_LESS_EQUAL = 3,
        REL_GREATER_EQUAL = 4,
        REL_GREATER = 5
    };

    // An empty text is logged and raises an internal error. Text that does not end in an operator
    // and a version is a plain name, spaces and all.
    DependencyLogical(const std::string& text, const Package* master);
    ~DependencyLogical() override = default;

    using Dependency::matches;
    using Dependency::sameName;

    std::string getName() const override { return name.str(); }
    // RPM range overlap: whether some version satisfies both entries.
    bool matches(const Dependency* other) const override;
    uint64_t hash() const override;
    bool sameName(const Dependency* other) const override;
    bool equals(const Dependency* other) const override;
    std::shared_ptr<Dependency> clone() const override;
    std::ostream& print(std::ostream& out) const override;
    virtual std::unique_ptr<Version> makeVersion(const std::string& text) const;

    PooledString getPooledName() const { return name; }
    int getRelation() const { return relation; }
    // Null when the entry has no version.
    const Version* getVersion() const { return version.get(); }

private:
    struct clone_tag {};

public:
    // For clone(): the same master, name and relation, and a copy of the version.
    DependencyLogical(const DependencyLogical& other, clone_tag);

private:
    std::unique_ptr<Version> version;
    PooledString name;
    int relation = REL_NONE;
};
