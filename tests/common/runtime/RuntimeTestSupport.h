#pragma once

// Shared set-up of the runtime tests: English texts, a log file of the test's own, errors caught for
// a closer look, directory listings and the check that a test runs inside the sandbox.

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

namespace runtimetest {

// English texts; the message table's start-up line goes to no log, later lines up to level 2 do.
inline void useEnglishMessages() {
    setenv("LC_ALL", "C", 1);
    Log::setFileThreshold(-1);
    Messages::getLocale();
    Log::setFileThreshold(2);
}

// The log goes to installer.log in a directory of the test's own.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Messages::getLocale();
        Log::open_file(dir.file("installer.log"), true);
    }
    std::string logText() const { return testsupport::readFile(dir.file("installer.log")); }

    testsupport::TempDir dir;
};

// The error `action` raises; fails the test when it raises none.
template <typename F> error raised(F&& action) {
    try {
        action();
    } catch (const error& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return error();
}

// The names in a directory, without "." and "..".
inline std::set<std::string> entriesOf(const std::string& directory) {
    std::set<std::string> names;
    DIR* d = opendir(directory.c_str());
    if (!d) {
        ADD_FAILURE() << "cannot list " << directory;
        return names;
    }
    while (struct dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    closedir(d);
    return names;
}

// The mount namespace of a process ("self", "1", ...); the sandbox gives the tests one of their own.
inline std::string mountNamespace(const char* process) {
    char link[128];
    const ssize_t length = readlink((std::string("/proc/") + process + "/ns/mnt").c_str(), link, sizeof link);
    return length > 0 ? std::string(link, static_cast<size_t>(length)) : std::string();
}

} // namespace runtimetest
