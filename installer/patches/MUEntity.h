#pragma once

#include "common/runtime/ProgressValue.h"

#include <memory>

// One item of a micro-update patch, driven through the passes check, prepare and apply.
class MUEntity {
public:
    using counter_ptr = std::shared_ptr<ProgressValue<unsigned long>>;

    static constexpr int state_new = 0;
    static constexpr int state_checked = 1;
    static constexpr int state_prepared = 2;
    static constexpr int state_skipped = 3;
    static constexpr int state_failed = 4;
    static constexpr int state_applied = 5;

    explicit MUEntity(const counter_ptr& steps) : steps(steps) {}
    MUEntity(const MUEntity&) = delete;
    MUEntity& operator=(const MUEntity&) = delete;
    virtual ~MUEntity();

    virtual void check() = 0;
    virtual void prepare() = 0;
    virtual void apply() = 0;

    int getState() const { return state; }

protected:
    // The step counter's text for one item: `key`'s text, the "(n of m)" format and the subject, whose
    // percent signs are doubled so that the renderer shows it unchanged.
    static std::string stepText(const char* key, const std::string& subject);

    int state = state_new;
    counter_ptr steps;
};
