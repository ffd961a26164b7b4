#pragma once

#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace testsupport {

// A document kept under tests/fixtures/<folder>/. With MOXEL_WRITE_GOLDEN set in the environment
// the text of the run is written there instead, for review.
inline std::string golden(const std::string& folder, const std::string& name, const std::string& text) {
    const std::string path = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/" + folder + "/" + name;
    if (std::getenv("MOXEL_WRITE_GOLDEN")) {
        std::ofstream(path) << text;
        return text;
    }
    return readFile(path);
}

} // namespace testsupport
