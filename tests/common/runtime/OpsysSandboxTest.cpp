#include "common/runtime/Opsys.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

using runtimetest::mountNamespace;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Covers a system path for the life of the object. Only ever used in the sandbox's own mount namespace.
class Overmount {
public:
    Overmount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
        : target(target) {
        if (mount(source.c_str(), target.c_str(), type, flags, nullptr) != 0)
            throw std::runtime_error("mount over " + target + ": " + strerror(errno));
    }
    Overmount(const Overmount&) = delete;
    Overmount& operator=(const Overmount&) = delete;
    ~Overmount() { umount2(target.c_str(), MNT_DETACH); }

private:
    std::string target;
};

using Files = std::map<std::string, std::string>;

// An /etc that holds only the given files.
class FakeEtc {
public:
    explicit FakeEtc(const Files& files) {
        for (const auto& file : files)
            writeFile(dir.file(file.first), file.second);
        etc = std::make_unique<Overmount>(dir.path(), "/etc", nullptr, MS_BIND);
    }

private:
    TempDir dir;
    std::unique_ptr<Overmount> etc;
};

// A /proc with only what container detection reads: the vz directory and our own status.
class FakeProc {
public:
    FakeProc(bool vz_directory, const char* status) : proc("fake-proc", "/proc", "tmpfs", 0) {
        if (vz_directory)
            mkdir("/proc/vz", 0555);
        if (status) {
            mkdir("/proc/self", 0555);
            writeFile("/proc/self/status", status);
        }
    }

private:
    Overmount proc;
};

class OpsysSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mountNamespace("self"), mountNamespace("1")) << "run this test inside tests/sandbox/run";
    }
};

TEST_F(OpsysSandboxTest, DistributionFromReleaseFiles) {
    struct Case {
        const char* what;
        Files files;
        const char* vendor;
        const char* version;
    } cases[] = {
        {"lsb-release decides alone",
         {{"lsb-release", "DISTRIB_ID=Ubuntu\nDISTRIB_RELEASE=18.04\nDISTRIB_CODENAME=bionic\n"},
          {"debian_version", "buster/sid\n"}},
         "Ubuntu",
         "18.04"},
        {"lsb-release without a release",
         {{"lsb-release", "DISTRIB_ID=Ubuntu\n"}, {"debian_version", "10.2\n"}},
         "Debian",
         "10.2"},
        {"Debian code name", {{"debian_version", "bookworm/sid\n"}}, "Debian", ""},
        {"CentOS", {{"redhat-release", "CentOS Linux release 7.9.2009 (Core)\n"}}, "CentOS", "7.9.2009"},
        {"Red Hat Enterprise Linux",
         {{"redhat-release", "Red Hat Enterprise Linux release 8.4 (Ootpa)\n"}},
         "RedHat",
         "el8.4"},
        {"Red Hat Enterprise Server",
         {{"redhat-release", "Red Hat Enterprise Server release 4.8 (Nahant Update 8)\n"}},
         "RedHat",
         "es4.8"},
        {"CloudLinux in redhat-release",
         {{"redhat-release", "CloudLinux release 7.9 (Boris Yegorov)\n"}},
         "CloudLinux",
         "7.9"},
        {"Virtuozzo in redhat-release",
         {{"redhat-release", "Virtuozzo Linux release 7.9\n"}},
         "VZLinux",
         "7.9"},
        {"CloudLinux-release before redhat-release",
         {{"CloudLinux-release", "CloudLinux release 8.4 (Valery Rozhdestvensky)\n"},
          {"redhat-release", "CentOS Linux release 7.9.2009 (Core)\n"}},
         "CloudLinux",
         "8.4"},
        {"only the first line counts",
         {{"redhat-release", "Some Linux\nCentOS release 6.10\n"}},
         "RedHat",
         ""},
        {"no release files", {}, "", ""},
    };
    for (const Case& c : cases) {
        FakeEtc etc(c.files);
        const Opsys::opsys_detect detected;
        EXPECT_EQ(detected.vendor, c.vendor) << c.what;
        EXPECT_EQ(detected.version, c.version) << c.what;
        EXPECT_EQ(detected.environment, "") << c.what;
    }
}

TEST_F(OpsysSandboxTest, VirtuozzoContainer) {
    const Files debian = {{"debian_version", "12.11\n"}};
    const Files cloudlinux = {{"CloudLinux-release", "CloudLinux release 8.4\n"}};
    struct Case {
        const char* what;
        const Files& release;
        bool vz_directory;
        const char* status;
        const char* environment;
    } cases[] = {
        {"container", debian, true, "Name:\tinstaller\nenvID:\t101\nVPid:\t1\n", "vz"},
        {"container without blanks", debian, true, "envID:7\n", "vz"},
        {"CloudLinux in a container", cloudlinux, true, "envID:\t101\n", ""},
        {"hardware node", debian, true, "envID:\t0\n", ""},
        {"the first envID line decides", debian, true, "envID:\t0\nenvID:\t101\n", ""},
        {"no /proc/vz", debian, false, "envID:\t101\n", ""},
        {"no envID line", debian, true, "Name:\tinstaller\n", ""},
        {"malformed envID line", debian, true, "envID:\t101 x\n", ""},
        {"unreadable status", debian, true, nullptr, ""},
    };
    for (const Case& c : cases) {
        FakeEtc etc(c.release);
        FakeProc proc(c.vz_directory, c.status);
        const Opsys::opsys_detect detected;
        EXPECT_EQ(detected.environment, c.environment) << c.what;
    }
}

TEST_F(OpsysSandboxTest, OverridesApplyOnTopOfDetection) {
    FakeEtc etc(Files{{"redhat-release", "CentOS Linux release 7.9.2009 (Core)\n"}});
    FakeProc proc(true, "envID:\t101\n");
    Opsys::override_vendor = "CloudLinux";
    Opsys::override_environment = "dedicated";
    const Opsys::opsys_detect detected;
    EXPECT_EQ(detected.vendor, "CloudLinux");
    EXPECT_EQ(detected.version, "7.9.2009");
    EXPECT_EQ(detected.environment, "dedicated");
}

} // namespace
