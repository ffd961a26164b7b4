#pragma once

// What an error raised in a test says: its text and its four classification numbers.

#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

struct ErrorFacts {
    std::string text;
    int e_class = 0, repeat = 0, system_state = 0, support = 0;
};

// What the error raised by `action` says; fails the test when nothing is raised.
template <typename F> ErrorFacts caught(F action) {
    try {
        action();
    } catch (const error& e) {
        return {e.getText(), e.getClass(), e.getRepeat(), e.getSystemState(), e.getSupport()};
    }
    ADD_FAILURE() << "no error was raised";
    return {};
}

} // namespace testsupport
