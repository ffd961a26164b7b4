#include "common/packages/SourceSysRPM.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"

#include <boost/regex.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

const char* const briefQuery =
    "rpm -qa --queryformat 'F:system_installed_brief_%{NAME}-%{VERSION}-%{RELEASE}.rpm\\nN:%{NAME}\\n"
    "E:%{EPOCH}\\nV:%{VERSION}\\nL:%{RELEASE}\\nA:%{ARCH}\\nf:%{INSTALLTIME}\\nB:%{BUILDTIME}\\n"
    "[P:%{PROVIDENAME} %{PROVIDEFLAGS:depflags} %{PROVIDEVERSION}\\n]X:\\n' ";

const char* const fullQuery =
    "rpm -qa --queryformat 'F:system_installed_%{NAME}-%{VERSION}-%{RELEASE}.%{ARCH}.rpm\\nN:%{NAME}\\n"
    "E:%{EPOCH}\\nV:%{VERSION}\\nL:%{RELEASE}\\nA:%{ARCH}\\nf:%{INSTALLTIME}\\nB:%{BUILDTIME}\\n"
    "[R:%{REQUIRENAME} %{REQUIREFLAGS:depflags} %{REQUIREVERSION}\\n]"
    "[P:%{PROVIDENAME} %{PROVIDEFLAGS:depflags} %{PROVIDEVERSION}\\n]"
    "[P:%{FILENAMES}\\nm:%{FILEMODES}\\n5:%{FILEMD5S}%{FILELINKTOS}\\n]"
    "[C:%{CONFLICTNAME} %{CONFLICTFLAGS:depflags} %{CONFLICTVERSION}\\n]"
    "[O:%{OBSOLETENAME} %{OBSOLETEFLAGS:depflags} %{OBSOLETEVERSION}\\n]X:\\n' ";

// What rpm accepts in a package name: letters, digits and "._+-", not beginning with '-' or '.'.
bool isRpmPackageName(const std::string& name) {
    static const boost::regex rule("[A-Za-z0-9_+][A-Za-z0-9_.+-]*");
    return boost::regex_match(name, rule);
}

void reportStep(const char* key) {
    const std::string& text = Messages().getMessage(key);
    Progress::step(key, text);
    Log::stream(0, true) << text;
}

// A directory only we can enter, removed with everything in it when done: the full package list
// must not go through a file others could prepare or read.
class PrivateDir {
public:
    PrivateDir() {
        char name[] = "/tmp/moxel-installed.XXXXXX";
        if (!mkdtemp(name))
            throw error(error::system, 1, 1, 2) << Messages().getMessage("err_rpm_info_full_read");
        path = name;
    }
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;
    ~PrivateDir() {
        if (SourceSysRPM::keepFullListFile) {
            Log::stream(1, true) << "The system packages list is kept in " << file();
            return;
        }
        unlink(file().c_str());
        rmdir(path.c_str());
    }
    std::string file() const { return path + "/system_packages.cache"; }

private:
    std::string path;
};

} // namespace

bool SourceSysRPM::keepFullListFile = false;

SourceSysRPM::SourceSysRPM(Repository* repository) : Source(repository) {}

SourceSysRPM::~SourceSysRPM() = default;

void SourceSysRPM::doGetBrief() {
    reportStep("check_system_packages");
    SystemCmd command(briefQuery, SystemCmd::mode_read);
    getRepository()->addFromCache(command.stream, 's', Repository::DUPS_APPEND, this);
    command.check();
}

void SourceSysRPM::doGetFull() {
    reportStep("read_system_packages");
    PrivateDir dir;
    const std::string cache = dir.file();
    exec::run_command(std::string(fullQuery) + " > " + util::shell_quote(cache), false, true, nullptr,
                      nullptr);

    Log::stream(1, true) << "read cache file";
    FILE* file = fopen(cache.c_str(), "re");
    if (!file)
        throw error(error::system, 1, 1, 2) << Messages().getMessage("err_rpm_info_full_read");
    try {
        getRepository()->addFromCache(file, 's', Repository::DUPS_REPLACE_SAME_SOURCE, this);
    } catch (...) {
        fclose(file);
        throw;
    }
    if (fclose(file) != 0)
        throw error(error::system, 1, 1, 2) << Messages().getMessage("err_rpm_info_full_read_done");
}

std::string SourceSysRPM::getPkgVersionFromSystemDirectly(const std::string& name) {
    if (!isRpmPackageName(name))
        throw error(error::repository, 1, 1, 3) << "Invalid package name " << util::escape_c_string(name);
    // rpm -q exits with 1 for a package that is not installed.
    std::ostringstream output;
    int code = exec::run_command("rpm -q --queryformat '%{VERSION}\\n' -- " + util::shell_quote(name), false,
                                 false, &output, nullptr);
    std::vector<std::string> lines;
    std::istringstream in(output.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(util::trim(line));
    if (code == 0 && lines.size() == 1) {
        Log::stream(3, true) << "DEBUG: SourceSysRPM::getPkgVersionFromSystemDirectly " << name << " version "
                             << lines[0] << " installed in system";
        return lines[0];
    }
    Log::stream(3, true) << "DEBUG: SourceSysRPM::getPkgVersionFromSystemDirectly " << name
                         << " not installed in system";
    return "";
}
