#pragma once

#include <iosfwd>
#include <memory>
#include <string>

// An operating system a build is made for, or the one this server runs: vendor (distribution),
// name (kernel's system name), version, architecture and environment ("vz" inside a Virtuozzo
// container). Copies share one description.
class Opsys {
public:
    class opsys_rep {
    public:
        opsys_rep() = default;
        opsys_rep(const std::string& name, const std::string& vendor, const std::string& version,
                  const std::string& arch, const std::string& environment);

        // 'vendor' 'name' 'version' 'arch', then " under " and the environment when there is one.
        void print(std::ostream& out) const;

        std::string name;
        std::string vendor;
        std::string version;
        std::string arch;
        std::string environment;
    };

    // This server, read from the release files, the kernel's container markers and uname(2), then
    // corrected by the override strings.
    class opsys_detect : public opsys_rep {
    public:
        opsys_detect();
    };

    // The server's description: detected on the first call, shared afterwards. The first call must
    // finish before another thread makes one.
    Opsys();
    Opsys(const std::string& name, const std::string& vendor, const std::string& version,
          const std::string& arch, const std::string& environment);
    // The next Opsys() describes the server again. For tests, which run many cases in one process.
    static void forgetServer();

    const std::string& getName() const { return rep->name; }
    const std::string& getVendor() const { return rep->vendor; }
    const std::string& getVersion() const { return rep->version; }
    const std::string& getArch() const { return rep->arch; }
    const std::string& getEnvironment() const { return rep->environment; }

    bool isDebianLike() const;
    bool isRedHatLike() const;

    // Whether this description (a build's) fits `system`. With `lenient`, an empty field on either
    // side fits anything.
    bool matches(const Opsys& system, bool lenient) const;
    // Families with compatible minor releases compare only the major version.
    bool versionMatches(const std::string& version, bool lenient) const;
    // An i686 system also runs i586, i486 and i386 builds; an i586 system i486 and i386 builds.
    bool archMatches(const std::string& arch, bool lenient) const;

    void print(std::ostream& out) const { rep->print(out); }

    // Set by the option reader before the server is first described; later changes have no effect.
    static std::string override_name;
    static std::string override_vendor;
    static std::string override_version;
    static std::string override_arch;
    static std::string override_environment;

private:
    std::shared_ptr<const opsys_rep> rep;
};

std::ostream& operator<<(std::ostream& out, const Opsys& os);
