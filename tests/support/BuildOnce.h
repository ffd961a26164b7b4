#pragma once

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace testsupport {

// Makes `dir` with `build` once for all the processes of a test binary, whichever comes first, and
// again when `input` (the text it is made from) changed. <dir>.lock orders the processes; <dir>.stamp
// keeps the input of the last build that succeeded.
inline void buildOnce(const std::string& dir, const std::string& input, const std::function<void()>& build) {
    const int lock = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    flock(lock, LOCK_EX);
    const std::string stamp = dir + ".stamp";
    if (readFile(stamp) != input) {
        build();
        if (!::testing::Test::HasFailure())
            writeFile(stamp, input);
    }
    close(lock);
}

} // namespace testsupport
