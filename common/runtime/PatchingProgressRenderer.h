#pragma once

#include "common/runtime/ProgressValue.h"

#include <memory>

// Draws the patch counter: its text is a format with two placeholders, the count done and the total.
class PatchingProgressRenderer : public ProgressValueObserver,
                                 public std::enable_shared_from_this<PatchingProgressRenderer> {
public:
    using counter_ptr = std::shared_ptr<ProgressValue<unsigned long>>;

    static std::shared_ptr<PatchingProgressRenderer> create();

    void setProgress(const counter_ptr& counter);
    void update() override;

private:
    PatchingProgressRenderer() = default;

    counter_ptr counter;
};
