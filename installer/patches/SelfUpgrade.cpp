#include "installer/patches/SelfUpgrade.h"

#include "common/packages/Version.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/ProgramInfo.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceUrl.h"

#include <tinyxml.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SelfUpgrade {

namespace {

const char* const cache_path = "/var/cache/cordavine_installer";

// What the last catalogue file with a version demand asked for.
struct Demand {
    std::string version;
    std::string binaryDirectory;
    std::string binaryName;
    std::string md5;
};

Demand& demand() {
    static Demand value;
    return value;
}

std::string attributeOr(const TiXmlElement& element, const char* name, const std::string& fallback) {
    const char* value = element.Attribute(name);
    return value && *value ? std::string(value) : fallback;
}

// Drops parts at the end or appends "0" parts until there are `count`.
void resize(std::vector<std::string>& parts, size_t count) {
    parts.resize(count, "0");
}

std::string normalizedVersion(const Opsys& system) {
    if (system.getName() != "Linux")
        return system.getVersion();
    size_t keep = 0, total = 0;
    if (system.getVendor() == "Debian")
        keep = 1, total = 2;
    else if (system.getVendor() == "Ubuntu")
        keep = 2, total = 2;
    else if (system.isRedHatLike())
        keep = 1, total = 1;
    else
        return system.getVersion();
    std::vector<std::string> parts;
    std::istringstream in(system.getVersion());
    for (std::string part; std::getline(in, part, '.');)
        if (!part.empty())
            parts.push_back(part);
    resize(parts, keep);
    resize(parts, total);
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ".") + part;
    return text;
}

std::string lowered(std::string text) {
    util::to_lower(text);
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Only root may have put the file there or be able to change it.
bool isTrusted(const struct stat& status) {
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The MD5 of the candidate, read through a descriptor that refuses a symbolic link and a file that
// someone else than root owns or may write; empty when the file is not trusted.
std::string trustedMd5(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1)
        return "";
    struct stat status;
    std::string md5;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && isTrusted(status))
        md5 = util::md5_file_string("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    return md5;
}

void switchIfNewer(const std::string& candidate, const std::string& cachedVersion) {
    try {
        if (Version(cachedVersion) > Version(program_info::version)) {
            Log::stream(3, true) << "DEBUG: SelfUpgrade: in cache is more recent, switch to it";
            do_restart(Options::savedArgv());
        }
        Log::stream(3, true) << "DEBUG: SelfUpgrade: not execute from cache, clean it.";
        fileops::remove(candidate);
    } catch (...) {
        Log::stream(3, true) << "Warning: unable to execute version from AI self-upgrade cache.";
    }
}

} // namespace

void check_required_AI_version(const TiXmlElement& description) {
    Log::stream(3, true) << "DEBUG: SelfUpgrade::check_required_AI_version entry";
    const TiXmlElement* required = description.FirstChildElement("exact_required_dizadizezeroz");
    if (!required)
        return;
    Demand& wanted = demand();
    wanted.version = attributeOr(*required, "version", "");
    if (wanted.version.empty())
        return;
    wanted.binaryDirectory = attributeOr(*required, "binary_directory", "Moxel_Installer");
    wanted.binaryName = attributeOr(*required, "binary_name", default_binary_name());
    wanted.md5 = attributeOr(*required, "md5", "");

    const Version own(program_info::version);
    const Version needed(wanted.version);
    const std::string line = std::string("Current dizadizezeroz version '") + program_info::version +
                             "', required = '" + wanted.version;
    Log::stream(3, true) << line << "'";
    if (!(own == needed)) {
        if (!Options::instance().disableSelfUpgrade)
            throw NeedSelfUpgrade();
        Log::stream(1, true) << line << "', but won't upgrade self due --disable-self-upgrade";
    }
    Log::stream(3, true) << "DEBUG: SelfUpgrade::check_required_AI_version out";
}

std::string default_binary_name() {
    const Opsys system;
    std::string arch = system.getArch();
    if (arch == "i486" || arch == "i586" || arch == "i686")
        arch = "i386";
    return "cordavine_installer_" + system.getVendor() + "_" + normalizedVersion(system) + "_" + arch;
}

std::string cache_dir() {
    if (!fileops::exists(cache_path)) {
        const mode_t previous = umask(077);
        std::error_code failed;
        std::filesystem::create_directories(cache_path, failed);
        umask(previous);
    }
    return std::string(cache_path) + "/";
}

std::string cached_binary_name() {
    const std::string base = default_binary_name();
    if (!demand().version.empty())
        return base + "_" + demand().version;
    const std::regex pattern("^" + util::regex_escape(base) + "_([0-9]+)\\.([0-9]+)\\.([0-9]+)$");
    Version best(program_info::version);
    std::string bestText = program_info::version;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(cache_dir(), failed)) {
        std::smatch parts;
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(failed) || !std::regex_match(name, parts, pattern))
            continue;
        const std::string text = parts[1].str() + "." + parts[2].str() + "." + parts[3].str();
        if (Version(text) > best) {
            best = Version(text);
            bestText = text;
        }
    }
    return base + "_" + bestText;
}

std::string get_binary_version(const std::string& path) {
    std::string output;
    try {
        output = exec::get_output(util::shell_quote(path), "--print-version-of-this-binary");
    } catch (...) {
        Log::stream(3, true) << "Warning: unable to get version from AI executable " << path;
        return "";
    }
    Log::stream(3, true) << "DEBUG: SelfUpgrade: version is " << output;
    return util::trim(output);
}

std::string read_md5sum(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    if (word.empty())
        throw error(1, 1, 1, 3) << Messages().getMessage("err_self_upgrade_no_md5sum");
    return word;
}

void switch_to_cached_binary() {
    Log::stream(3, true) << "DEBUG: SelfUpgrade: current version AI is " << program_info::version;
    const std::string dir = cache_dir();
    struct stat status;
    if (stat(dir.c_str(), &status) != 0) {
        Log::stream(3, true) << "DEBUG: SelfUpgrade: unable to get status of cache directory.";
        return;
    }
    if (!isTrusted(status)) {
        Log::stream(2, true) << "DEBUG: SelfUpgrade: cache directory is unsecure, avoid to using it.";
        return;
    }
    const std::string candidate = dir + cached_binary_name();
    char** argv = Options::savedArgv();
    if (argv && argv[0] && startsWith(argv[0], dir)) {
        Log::stream(3, true) << "DEBUG: SelfUpgrade: already runing from cache.";
        return;
    }
    Log::stream(3, true) << "DEBUG: SelfUpgrade: search cached AI binary in " << candidate;
    if (!fileops::exists(candidate)) {
        Log::stream(3, true) << "DEBUG: SelfUpgrade: not exists, return ";
        return;
    }
    Log::stream(3, true) << "DEBUG: SelfUpgrade: exists, checking md5sum for it";
    if (!fileops::exists(candidate + ".md5sum")) {
        Log::stream(3, true) << "DEBUG: SelfUpgrade: md5sum file is not exists, return ";
        return;
    }
    const std::string expected = lowered(read_md5sum(candidate + ".md5sum"));
    const std::string actual = trustedMd5(candidate);
    if (actual.empty() || actual != expected) {
        Log::stream(2, true) << "SelfUpgrade: md5 missmatch, do not execute this file.";
        return;
    }
    const std::string cachedVersion = get_binary_version(candidate);
    Log::stream(3, true) << "DEBUG: SelfUpgrade: version AI in cache is " << cachedVersion;
    if (cachedVersion.empty())
        return;
    switchIfNewer(candidate, cachedVersion);
}

void download_new_version(const SourceUrl& source) {
    Log::stream(0, true) << "Getting new version of Moxel Installer...";
    const Demand& wanted = demand();
    const std::string dir = cache_dir();
    FileFetcher fetcher(parentLocation(source.str()) + wanted.binaryDirectory + "/", dir);
    const std::string localName = cached_binary_name();
    const std::string localPath = dir + localName;

    std::string md5 = lowered(wanted.md5);
    if (md5.empty())
        md5 = lowered(read_md5sum(fetcher.getFile(wanted.binaryName + ".md5sum", "", localName + ".md5sum")));
    if (!fileops::exists(localPath) || util::md5_file_string(localPath) != md5) {
        const std::string fetched = fetcher.getFile(wanted.binaryName, md5, localName);
        // A local source is read in place: copy, so the source keeps its file.
        if (strcasecmp(fetched.c_str(), localPath.c_str()) != 0)
            fileops::copy_file(fetched, localPath);
        fileops::write_file(localPath + ".md5sum", md5);
    }
    if (chmod(localPath.c_str(), 0500) != 0)
        throw error(4, 2, 1, 3) << "Unable to change permissions on fresh Moxel Installer file.";

    if (!wanted.version.empty()) {
        const std::string fetchedVersion = get_binary_version(localPath);
        if (fetchedVersion != wanted.version)
            throw error(1, 1, 1, 3) << Messages().format("err_selfupg_avail_ver_too_low", fetchedVersion);
        Log::stream(3, true)
            << "DEBUG: SelfUpgrade: just downloaded version is satisfy requires from product's config";
    }
    Log::stream(0, true) << "Getting done, Moxel Installer is ready to restart.";
}

void do_restart(char** argv) {
    Log::stream(0, true) << "Doing restart of Moxel Installer...";
    static std::string path;
    path = cache_dir() + cached_binary_name();
    argv[0] = &path[0];
    std::string line = "DEBUG: try to do execv with following args:";
    int argc = 0;
    for (char** argument = argv; *argument; ++argument)
        ++argc;
    // The proxy password stays out of the log.
    std::istringstream masked(driver::maskedArguments(argc, argv));
    for (std::string argument; masked >> argument;)
        line += " '" + argument + "'";
    Log::stream(3, true) << line;
    execv(path.c_str(), argv);
    std::cerr << "Can't re-run Dizadizezeroz: " << std::strerror(errno) << std::endl;
    std::exit(1);
}

} // namespace SelfUpgrade
