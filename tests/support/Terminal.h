#pragma once

// A terminal for tests: a tmux server of the test's own runs one command in a new session; the test
// types into it with send-keys and reads the screen with capture-pane.

#include "common/runtime/util.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace testsupport {

class Terminal {
public:
    Terminal() : socket(dir.file("tmux.sock")) {}
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() { tmux("kill-server"); }

    // Runs the shell command in a new terminal of 120 columns and 40 lines; 0 when it started.
    int run(const std::string& command) {
        return tmux("new-session -d -x 120 -y 40 " +
                    util::shell_quote("exec sh -c " + util::shell_quote(command)));
    }

    int sendKeys(const std::string& keys) { return tmux("send-keys " + keys); }

    // The screen with its history, or only what is visible now.
    std::string screen(bool withHistory = true) {
        const std::string out = dir.file("screen.txt");
        tmux(std::string("capture-pane -p -J ") + (withHistory ? "-S - " : "") + "> " +
             util::shell_quote(out));
        return readFile(out);
    }

    // The screen once it shows the text; what it shows after `looks` looks 50 ms apart otherwise.
    std::string waitFor(const std::string& text, int looks = 200, bool withHistory = true) {
        std::string shown;
        for (int look = 0; look < looks; ++look) {
            shown = screen(withHistory);
            if (shown.find(text) != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return shown;
    }

private:
    int tmux(const std::string& arguments) {
        return std::system(
            ("tmux -S " + util::shell_quote(socket) + " " + arguments + " 2>/dev/null").c_str());
    }

    TempDir dir;
    std::string socket;
};

} // namespace testsupport
