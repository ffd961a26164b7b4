#include "common/packages/SourceSysDeb.h"

#include "common/packages/DebPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

namespace {

// One record per package: its status line, then the cache lines. The status and the provides list
// are turned into cache text here, so that dpkg-query's own exit status is the one checked.
const char* const installedQuery =
    "dpkg-query --show "
    "'--showformat=s:${Status}\\nF:${Package}_installed.deb\\nN:${Package}\\nV:${Version}\\n"
    "A:${Architecture}\\nP:${Provides}\\nX:\\n'";

// Debian writes a versioned provide as "name (= version)"; without the parentheses it reads as
// "name = version".
void appendProvides(const std::string& list, std::string& cache) {
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(", ", start);
        if (end == std::string::npos)
            end = list.size();
        std::string provide = list.substr(start, end - start);
        if (provide.empty())
            break;
        provide.erase(
            std::remove_if(provide.begin(), provide.end(), [](char c) { return c == '(' || c == ')'; }),
            provide.end());
        cache += "P:" + provide + "\n";
        start = end + 2;
    }
}

// Only packages whose status begins with "install ok", without their status line.
std::string installedCache(FILE* output) {
    std::string cache;
    bool installed = false;
    char* buffer = nullptr;
    size_t size = 0;
    for (ssize_t length; (length = getline(&buffer, &size, output)) != -1;) {
        std::string line(buffer, static_cast<size_t>(length));
        if (line.compare(0, 2, "s:") == 0) {
            installed = line.compare(2, 10, "install ok") == 0;
            continue;
        }
        if (!installed)
            continue;
        if (line.compare(0, 2, "P:") == 0) {
            appendProvides(util::rtrim(line.substr(2)), cache);
            continue;
        }
        cache += line;
        if (line.compare(0, 2, "X:") == 0)
            installed = false;
    }
    free(buffer);
    return cache;
}

} // namespace

SourceSysDeb::SourceSysDeb(Repository* repository) : Source(repository) {}

SourceSysDeb::~SourceSysDeb() = default;

void SourceSysDeb::doGetBrief() {
    const std::string& text = Messages().getMessage("check_system_packages");
    Progress::step("check_system_packages", text);
    Log::stream(0, true) << text;
    Log::stream(1, true) << "DebRepository: readSystemPackagesBrief: execute " << installedQuery;
    SystemCmd command(installedQuery, SystemCmd::mode_read);
    std::string cache = installedCache(command.stream);
    if (command.close() != 0)
        throw error(error::system, 2, 2, 2) << "dpkg-query command failed";
    std::unique_ptr<FILE, int (*)(FILE*)> cacheText(fmemopen(&cache[0], cache.size(), "r"), fclose);
    if (!cacheText)
        throw error(error::system, 2, 2, 2) << "dpkg-query command failed";
    getRepository()->addFromCache(cacheText.get(), 's', Repository::DUPS_APPEND, this);
}

void SourceSysDeb::doGetFull() {}

std::string SourceSysDeb::getPkgVersionFromSystemDirectly(const std::string& name) {
    if (!DebPackage::isValidName(name))
        throw error(error::repository, 1, 1, 2) << "Invalid package name " << util::escape_c_string(name);
    // dpkg-query exits with 1 for a package it has never heard of.
    std::ostringstream output;
    int code = exec::run_command("dpkg-query --show '--showformat=${Status}\\n${Version}\\n' -- " +
                                     util::shell_quote(name) + " 2>/dev/null",
                                 false, false, &output, nullptr);
    std::vector<std::string> lines;
    std::istringstream in(output.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(util::trim(line));
    if (code == 0 && lines.size() == 2 && lines[0] == "install ok installed") {
        std::string version = lines[1].substr(0, lines[1].find('-'));
        Log::stream(3, true) << "DEBUG: SourceSysDeb::getPkgVersionFromSystemDirectly " << name << " version "
                             << version << " installed in system";
        return version;
    }
    Log::stream(3, true) << "DEBUG: SourceSysDeb::getPkgVersionFromSystemDirectly " << name
                         << " not installed in system";
    return "";
}
