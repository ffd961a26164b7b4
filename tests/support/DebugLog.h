#pragma once

// A test's own log file at debug level, with English texts and nothing on standard error.

#include "common/runtime/Log.h"

#include <cstdlib>
#include <string>

namespace testsupport {

inline void openDebugLog(const std::string& path) {
    setenv("LC_ALL", "C", 1);
    Log::setFileThreshold(3);
    Log::setStderrThreshold(-1);
    Log::open_file(path, true);
}

} // namespace testsupport
