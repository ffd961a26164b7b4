#include "common/runtime/Opsys.h"

#include "common/runtime/Log.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"

#include <boost/regex.hpp>

#include <sys/utsname.h>

#include <ostream>

std::string Opsys::override_name;
std::string Opsys::override_vendor;
std::string Opsys::override_version;
std::string Opsys::override_arch;
std::string Opsys::override_environment;

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

bool isRedHatVendor(const std::string& vendor) {
    return vendor == "CentOS" || vendor == "RedHat" || vendor == "CloudLinux" || vendor == "VZLinux";
}

// Two values differ unless they are equal, or `lenient` is set and one of them is empty.
bool differ(const std::string& a, const std::string& b, bool lenient) {
    return a != b && (!lenient || (!a.empty() && !b.empty()));
}

void readLsbRelease(std::string& vendor, std::string& version) {
    std::vector<std::string> lines;
    if (!fileops::read_lines("/etc/lsb-release", lines))
        return;
    static const boost::regex assignment("^(.+)=(.+)$", boost::regex::extended);
    boost::smatch match;
    for (const std::string& line : lines) {
        if (!boost::regex_match(line, match, assignment))
            continue;
        if (match[1] == "DISTRIB_ID")
            vendor = match[2];
        else if (match[1] == "DISTRIB_RELEASE")
            version = match[2];
    }
}

void readReleaseFile(std::string& vendor, std::string& version) {
    static const struct {
        const char* path;
        const char* vendor;
    } release_files[] = {
        {"/etc/debian_version", "Debian"},
        {"/etc/CloudLinux-release", "CloudLinux"},
        {"/etc/redhat-release", "RedHat"},
    };
    for (const auto& release : release_files) {
        if (!fileops::exists(release.path))
            continue;
        vendor = release.vendor;
        std::vector<std::string> lines;
        fileops::read_lines(release.path, lines);
        const std::string line = lines.empty() ? std::string() : lines.front();

        static const boost::regex numbered("[^0-9.]* ?([0-9.]+) ?.*", boost::regex::extended);
        boost::smatch match;
        if (boost::regex_match(line, match, numbered)) {
            version = match[1];
            if (contains(line, "Enterprise Server"))
                version = "es" + version;
            else if (contains(line, "Enterprise Linux"))
                version = "el" + version;
        }
        // Rebuilds of Red Hat keep its release file name but name themselves in the first line.
        if (vendor == "RedHat" && contains(line, "CentOS"))
            vendor = "CentOS";
        if (vendor == "RedHat" && contains(line, "CloudLinux"))
            vendor = "CloudLinux";
        if (vendor == "RedHat" && contains(line, "Virtuozzo"))
            vendor = "VZLinux";
        return;
    }
}

// The first envID line of our own status decides; the host itself has envID 0.
bool inContainer() {
    if (!fileops::is_directory("/proc/vz"))
        return false;
    try {
        std::vector<std::string> lines;
        fileops::read_lines("/proc/self/status", lines);
        static const boost::regex env_id("^envID:[[:space:]]*([[:digit:]]+)$", boost::regex::extended);
        boost::smatch match;
        for (const std::string& line : lines) {
            if (boost::regex_match(line, match, env_id))
                return match[1].str().find_first_not_of('0') != std::string::npos;
        }
    } catch (const std::exception&) {
    }
    return false;
}

void applyOverride(std::string& field, const std::string& value) {
    if (!value.empty())
        field = value;
}

} // namespace

Opsys::opsys_rep::opsys_rep(const std::string& name, const std::string& vendor, const std::string& version,
                            const std::string& arch, const std::string& environment)
    : name(name), vendor(vendor), version(version), arch(arch), environment(environment) {}

void Opsys::opsys_rep::print(std::ostream& out) const {
    out << "'" << vendor << "' '" << name << "' '" << version << "' '" << arch << "'";
    if (!environment.empty())
        out << " under " << environment;
}

Opsys::opsys_detect::opsys_detect() {
    readLsbRelease(vendor, version);
    if (vendor.empty() || version.empty())
        readReleaseFile(vendor, version);

    if (vendor != "CloudLinux" && inContainer())
        environment = "vz";

    utsname system;
    if (uname(&system) == 0) {
        arch = system.machine;
        name = system.sysname;
    }

    applyOverride(name, override_name);
    applyOverride(vendor, override_vendor);
    applyOverride(version, override_version);
    applyOverride(arch, override_arch);
    applyOverride(environment, override_environment);

    Log::stream(2, true) << "Got OS name " << name << ", vendor " << vendor << ", version " << version
                         << ", arch " << arch << ", environment " << environment;
}

namespace {

// Never destroyed: threads may still ask for it while static objects are torn down at exit.
std::shared_ptr<const Opsys::opsys_rep>& server() {
    static auto* described = new std::shared_ptr<const Opsys::opsys_rep>;
    return *described;
}

} // namespace

Opsys::Opsys() {
    std::shared_ptr<const opsys_rep>& described = server();
    if (!described)
        described = std::make_shared<const opsys_detect>();
    rep = described;
}

void Opsys::forgetServer() {
    server().reset();
}

Opsys::Opsys(const std::string& name, const std::string& vendor, const std::string& version,
             const std::string& arch, const std::string& environment)
    : rep(std::make_shared<const opsys_rep>(name, vendor, version, arch, environment)) {}

bool Opsys::isDebianLike() const {
    return rep->vendor == "Debian" || rep->vendor == "Ubuntu";
}

bool Opsys::isRedHatLike() const {
    return isRedHatVendor(rep->vendor);
}

bool Opsys::matches(const Opsys& system, bool lenient) const {
    if (differ(rep->vendor, system.rep->vendor, lenient))
        return false;
    if (differ(rep->name, system.rep->name, lenient))
        return false;
    if (!versionMatches(system.rep->version, lenient))
        return false;
    return archMatches(system.rep->arch, lenient);
}

bool Opsys::versionMatches(const std::string& version, bool lenient) const {
    const std::string& own = rep->version;
    if (own == version || (lenient && (own.empty() || version.empty())))
        return true;
    const std::string& vendor = rep->vendor;
    // Ubuntu releases are compared whole: 18.04 and 18.10 are different systems.
    if (vendor == "Debian" || isRedHatVendor(vendor))
        return util::major_version(own) == util::major_version(version);
    if (vendor == "Microsoft")
        return own.substr(0, own.find('-')) == version.substr(0, version.find('-'));
    return false;
}

bool Opsys::archMatches(const std::string& arch, bool lenient) const {
    const std::string& build = rep->arch;
    if (build == arch || (lenient && (build.empty() || arch.empty())))
        return true;
    if (arch == "i686")
        return build == "i586" || build == "i486" || build == "i386";
    if (arch == "i586")
        return build == "i486" || build == "i386";
    return false;
}

std::ostream& operator<<(std::ostream& out, const Opsys& os) {
    os.print(out);
    return out;
}
