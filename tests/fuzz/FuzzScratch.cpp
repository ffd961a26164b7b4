#include "tests/fuzz/FuzzScratch.h"

#include "common/runtime/Log.h"

#include <boost/filesystem/operations.hpp>

#include <cstdlib>

namespace {

// Kept in a plain array, which outlives the exit handler that removes the directory.
char scratch_dir[4096];

void removeScratchDir() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(scratch_dir, ignored);
}

std::string makeScratchDir() {
    const char* base = getenv("TMPDIR");
    const std::string pattern = std::string(base && *base ? base : "/tmp") + "/moxel-fuzz.XXXXXX";
    if (pattern.size() >= sizeof scratch_dir)
        abort();
    pattern.copy(scratch_dir, pattern.size());
    if (!mkdtemp(scratch_dir))
        abort();
    std::atexit(removeScratchDir);
    Log::setStderrThreshold(-1);
    Log::setFileThreshold(-1);
    Log::open_file("/dev/null", false);
    return scratch_dir;
}

} // namespace

const std::string& fuzzScratchDir() {
    static const std::string dir = makeScratchDir();
    return dir;
}
