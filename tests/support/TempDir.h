#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with its content at the end of the test.
class TempDir {
public:
    TempDir() {
        char* working = getcwd(nullptr, 0);
        if (working)
            previous_cwd = working;
        free(working);
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/moxel-test.XXXXXX";
        if (!mkdtemp(&pattern[0]))
            throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // A test that worked inside the directory leaves it first: later tests of the process need a
    // working directory that exists.
    ~TempDir() {
        char* working = getcwd(nullptr, 0);
        const bool inside = working && std::string(working).compare(0, dir.size(), dir) == 0;
        free(working);
        if (inside && !previous_cwd.empty())
            (void)!chdir(previous_cwd.c_str());
        (void)system(("rm -rf '" + dir + "'").c_str());
    }

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
    std::string previous_cwd;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace testsupport
