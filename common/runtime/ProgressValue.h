#pragma once

#include "common/runtime/error.h"

#include <memory>
#include <string>
#include <tuple>
#include <vector>

// Something that redraws when a counter it watches changes.
class ProgressValueObserver {
public:
    virtual ~ProgressValueObserver() = default;
    virtual void update() = 0;
};

// An observable counter: a count done, an expected total (0 = unbounded) and the current item's text.
// Counters hold their observers weakly, so a renderer may go away before the counters it watched.
template <typename T> class ProgressValue {
public:
    T value = 0;
    T total = 0;
    std::string text;

    void addObserver(const std::shared_ptr<ProgressValueObserver>& observer) {
        for (const auto& known : observers)
            if (known.lock() == observer)
                return;
        observers.push_back(observer);
    }

    void step(const std::string& new_text) {
        checkBounds(0, value + 1, total);
        ++value;
        text = new_text;
        notify(false);
    }

    void incTotal() {
        checkBounds(0, value, total + 1);
        ++total;
        notify(false);
    }

    // Owners that set the fields directly check them with this before notifying.
    static void checkBounds(T lower, T candidate, T upper) {
        if (candidate < lower || (upper != 0 && candidate > upper))
            // Support looks reports up by this unit and line, so they stay fixed.
            throw internal_error("installer/ProgressValueRender", 101);
    }

    // Unforced, nothing happens when the state equals the last one any counter of this type announced:
    // the console already shows it.
    void notify(bool force) {
        auto current = std::make_tuple(value, total, text);
        if (!force && current == lastNotified())
            return;
        // Observers are collected first, so one that registers elsewhere while drawing is harmless.
        std::vector<std::shared_ptr<ProgressValueObserver>> alive;
        for (const auto& observer : observers)
            if (auto locked = observer.lock())
                alive.push_back(std::move(locked));
        for (const auto& observer : alive)
            observer->update();
        lastNotified() = std::move(current);
    }

private:
    static std::tuple<T, T, std::string>& lastNotified() {
        static std::tuple<T, T, std::string> last(0, 0, "");
        return last;
    }

    std::vector<std::weak_ptr<ProgressValueObserver>> observers;
};
