#pragma once

#include <cstdint>

namespace driver {

// Ends the process with its exit code. Thrown through boost::enable_current_exception (see raise), so
// a background thread can capture it and the main thread rethrow it; only main catches it for good.
struct SystemExit {
    explicit SystemExit(int32_t code) : code(code) {}

    [[noreturn]] static void raise(int32_t code);

    int32_t code;
};

} // namespace driver
