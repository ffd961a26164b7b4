#include "tests/support/FreshSandbox.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace testsupport {

namespace {

const char* const host_name = "moxel-sandbox";

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Mount points of the mounts whose ids are not in `kept`, oldest first.
std::vector<std::string> mountPointsBut(const std::set<std::string>& kept) {
    std::vector<std::string> points;
    for (const std::string& line : linesOf("/proc/self/mountinfo")) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (!kept.count(id))
            points.push_back(point);
    }
    return points;
}

// The value of `name` in a comma-separated list of mount options.
std::string optionValue(const std::string& options, const std::string& name) {
    std::istringstream list(options);
    for (std::string option; std::getline(list, option, ',');)
        if (option.compare(0, name.size() + 1, name + "=") == 0)
            return option.substr(name.size() + 1);
    return "";
}

std::string emptyDirectory(const std::string& path) {
    std::error_code failed;
    std::filesystem::remove_all(path, failed);
    if (!failed)
        std::filesystem::create_directories(path, failed);
    return failed ? path + ": " + failed.message() : "";
}

// One "TYPE TARGET OPTIONS" line of the sandbox's private mounts; an overlay gets empty layers.
std::string mountAfresh(const std::string& line) {
    std::istringstream fields(line);
    std::string type, target, options;
    fields >> type >> target >> options;
    if (type == "overlay")
        for (const char* layer : {"upperdir", "workdir"}) {
            const std::string failed = emptyDirectory(optionValue(options, layer));
            if (!failed.empty())
                return failed;
        }
    if (mount(type.c_str(), target.c_str(), type.c_str(), 0, options.c_str()) != 0)
        return "mount " + target + ": " + std::strerror(errno);
    return "";
}

} // namespace

std::string freshSandbox() {
    const char* const staging = std::getenv("MOXEL_SANDBOX");
    if (!staging)
        return "";
    const std::vector<std::string> kept = linesOf(std::string(staging) + "/kept-mounts");
    if (kept.empty())
        return std::string("no mounts kept in ") + staging;
    // Newest first; the mounts on top of one go with it.
    const std::vector<std::string> added = mountPointsBut(std::set<std::string>(kept.begin(), kept.end()));
    for (auto point = added.rbegin(); point != added.rend(); ++point)
        umount2(point->c_str(), MNT_DETACH);
    for (const std::string& line : linesOf(std::string(staging) + "/private-mounts")) {
        const std::string failed = mountAfresh(line);
        if (!failed.empty())
            return failed;
    }
    if (sethostname(host_name, std::strlen(host_name)) != 0)
        return std::string("sethostname: ") + std::strerror(errno);
    return "";
}

} // namespace testsupport
