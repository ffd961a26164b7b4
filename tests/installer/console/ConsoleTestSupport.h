#pragma once

// The console dialogs read standard input and write standard output: the tests put string streams
// behind both, with the screen clearing off.

#include "installer/driver/Options.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace consoletest {

class Console {
public:
    explicit Console(const std::string& input = "")
        : in(input), savedFd(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)) {
        // No terminal behind the standard input either, whoever runs the tests.
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null, STDIN_FILENO);
        close(null);
        noClearScreen = true;
        std::cin.clear();
        savedIn = std::cin.rdbuf(in.rdbuf());
        savedOut = std::cout.rdbuf(out.rdbuf());
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() {
        std::cin.rdbuf(savedIn);
        std::cout.rdbuf(savedOut);
        std::cin.clear();
        dup2(savedFd, STDIN_FILENO);
        close(savedFd);
    }

    // What the dialogs wrote since the last call.
    std::string screen() {
        const std::string text = out.str();
        out.str("");
        return text;
    }

private:
    std::istringstream in;
    std::ostringstream out;
    std::streambuf* savedIn;
    std::streambuf* savedOut;
    int savedFd;
};

// A screen kept under tests/fixtures/console/. With MOXEL_WRITE_GOLDEN set in the environment the
// screen of the run is written there instead, for review.
inline std::string golden(const std::string& name, const std::string& screen) {
    const std::string path = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/console/" + name;
    if (std::getenv("MOXEL_WRITE_GOLDEN")) {
        std::ofstream(path) << screen;
        return screen;
    }
    return testsupport::readFile(path);
}

} // namespace consoletest
