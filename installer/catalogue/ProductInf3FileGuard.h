#pragma once

#include "installer/sources/FileFetcher.h"

#include <string>

// Remembers the checksum of a build description read for this run and, when the guard goes at the
// end of the run, fetches the file again: a file that changed at the source meanwhile means a new
// build was published, which the user is told. The check never makes the run fail.
class ProductInf3FileGuard {
public:
    // Fetches `name` (relative to the source root) through `fetcher` and keeps a copy of the fetcher
    // for the second look. Raises when the file cannot be fetched or read.
    ProductInf3FileGuard(FileFetcher& fetcher, const std::string& name);
    ProductInf3FileGuard(const ProductInf3FileGuard&) = delete;
    ProductInf3FileGuard& operator=(const ProductInf3FileGuard&) = delete;
    // The second look, skipped after a user's stop and while an exception propagates.
    ~ProductInf3FileGuard();

    // The local copy as first fetched.
    const std::string& getLocalPath() const { return _local_path; }

    // Set by any guard that saw its file change; cleared only by forgetNewBuild().
    static bool isNewBuildAvailable();
    // Back to the state at the start of the process: no new build seen.
    static void forgetNewBuild();

private:
    void recheck();

    FileFetcher _fetcher;
    std::string _name;
    std::string _local_path;
    std::string _md5;
};
