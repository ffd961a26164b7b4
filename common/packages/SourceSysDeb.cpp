#include "common/packages/SourceSysDeb.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"

#include <sstream>
#include <vector>

namespace {

// Only packages whose status begins with "install ok", without their status line, and one "P:" line
// per entry of the provides list. Debian writes a versioned provide as "name (= version)"; without
// the parentheses it reads as "name = version".
const char* const installedQuery =
    "dpkg-query --show "
    "'--showformat=s:${Status}\\nF:${Package}_installed.deb\\nN:${Package}\\nV:${Version}\\n"
    "A:${Architecture}\\nP:, ${Provides}\\nX:\\n'| awk '/^s:install ok/,/^X:/ { if (!/^s:/) print $0 }'"
    "| awk -F ', ' '/^P:, / { for (i=2; i<=NF && $i; i++) { p = $i; gsub(/[()]/, \"\", p); print \"P:\" p }; "
    "next } 1'";

} // namespace

SourceSysDeb::SourceSysDeb(Repository* repository) : Source(repository) {}

SourceSysDeb::~SourceSysDeb() = default;

void SourceSysDeb::doGetBrief() {
    const std::string& text = Messages().getMessage("check_system_packages");
    Progress::step("check_system_packages", text);
    Log::stream(0, true) << text;
    Log::stream(1, true) << "DebRepository: readSystemPackagesBrief: execute " << installedQuery;
    SystemCmd command(installedQuery, SystemCmd::mode_read);
    getRepository()->addFromCache(command.stream, 's', Repository::DUPS_APPEND, this);
    if (command.close() != 0)
        throw error(error::system, 2, 2, 2) << "dpkg-query command failed";
}

void SourceSysDeb::doGetFull() {}

std::string SourceSysDeb::getPkgVersionFromSystemDirectly(const std::string& name) {
    // dpkg-query exits with 1 for a package it has never heard of.
    std::ostringstream output;
    int code = exec::run_command("dpkg-query --show '--showformat=${Status}\\n${Version}\\n' " +
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
