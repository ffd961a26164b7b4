#include "common/runtime/Opsys.h"
#include "common/runtime/Log.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <sstream>

using ::testing::HasSubstr;

namespace {

std::string printed(const Opsys& os) {
    std::ostringstream text;
    text << os;
    return text.str();
}

TEST(OpsysTest, PrintedForm) {
    EXPECT_EQ(printed(Opsys("Linux", "CentOS", "7.9.2009", "x86_64", "vz")),
              "'CentOS' 'Linux' '7.9.2009' 'x86_64' under vz");
    EXPECT_EQ(printed(Opsys("Linux", "Debian", "12", "x86_64", "")), "'Debian' 'Linux' '12' 'x86_64'");
}

TEST(OpsysTest, PackageFamilies) {
    struct Case {
        const char* vendor;
        bool debian, redhat;
    } cases[] = {
        {"Debian", true, false},  {"Ubuntu", true, false},      {"CentOS", false, true},
        {"RedHat", false, true},  {"CloudLinux", false, true},  {"VZLinux", false, true},
        {"debian", false, false}, {"\"Ubuntu\"", false, false}, {"Apple", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        Opsys os("Linux", c.vendor, "1", "x86_64", "");
        EXPECT_EQ(os.isDebianLike(), c.debian) << c.vendor;
        EXPECT_EQ(os.isRedHatLike(), c.redhat) << c.vendor;
    }
}

TEST(OpsysTest, VersionMatching) {
    struct Case {
        const char* vendor;
        const char* build;
        const char* system;
        bool lenient, fits;
    } cases[] = {
        {"CentOS", "7.2", "7.9", false, true},
        {"CentOS", "7", "7.9.2009", false, true},
        {"CentOS", "6.10", "7.9", false, false},
        {"RedHat", "el8.4", "el8.6", false, true},
        {"CloudLinux", "7.9", "8.4", false, false},
        {"VZLinux", "7.1", "7.9", false, true},
        {"Debian", "10.2", "10.13", false, true},
        {"Debian", "10", "11", false, false},
        {"Ubuntu", "18.04", "18.10", false, false},
        {"Ubuntu", "18.04", "18.04", false, true},
        {"Microsoft", "2008-R2", "2008-SP1", false, true},
        {"Microsoft", "2008-R2", "2012-R2", false, false},
        {"Gentoo", "2.1", "2.2", false, false},
        {"CentOS", "", "7.9", false, false},
        {"CentOS", "", "7.9", true, true},
        {"Ubuntu", "18.04", "", true, true},
        {"Ubuntu", "", "", false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Opsys("Linux", c.vendor, c.build, "x86_64", "").versionMatches(c.system, c.lenient), c.fits)
            << c.vendor << " build " << c.build << " on " << c.system << (c.lenient ? " (lenient)" : "");
}

TEST(OpsysTest, ArchitectureMatching) {
    struct Case {
        const char* build;
        const char* system;
        bool lenient, fits;
    } cases[] = {
        {"x86_64", "x86_64", false, true}, {"i386", "i686", false, true},
        {"i486", "i686", false, true},     {"i586", "i686", false, true},
        {"i686", "i586", false, false},    {"i386", "i586", false, true},
        {"i486", "i586", false, true},     {"i386", "i486", false, false},
        {"i686", "x86_64", false, false},  {"x86_64", "i686", false, false},
        {"", "x86_64", false, false},      {"", "x86_64", true, true},
        {"x86_64", "", true, true},        {"x86_64", "aarch64", true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Opsys("Linux", "CentOS", "7", c.build, "").archMatches(c.system, c.lenient), c.fits)
            << c.build << " build on " << c.system << (c.lenient ? " (lenient)" : "");
}

TEST(OpsysTest, BuildMatchesSystem) {
    const Opsys server("Linux", "CentOS", "7.9.2009", "x86_64", "");
    struct Case {
        Opsys build;
        bool lenient, fits;
    } cases[] = {
        {Opsys("Linux", "CentOS", "7.2", "x86_64", ""), false, true},
        {Opsys("Linux", "RedHat", "7.2", "x86_64", ""), false, false},
        {Opsys("FreeBSD", "CentOS", "7.2", "x86_64", ""), false, false},
        {Opsys("Linux", "CentOS", "8.4", "x86_64", ""), false, false},
        {Opsys("Linux", "CentOS", "7.2", "i686", ""), false, false},
        {Opsys("", "", "", "", ""), false, false},
        {Opsys("", "", "", "", ""), true, true},
        {Opsys("", "CentOS", "7", "", ""), true, true},
        {Opsys("", "CentOS", "8", "", ""), true, false},
        // Without a vendor there is no family rule: only the whole version fits.
        {Opsys("", "", "7", "", ""), true, false},
        {Opsys("", "", "7.9.2009", "", ""), true, true},
        {Opsys("Linux", "", "", "x86_64", ""), true, true},
        {Opsys("Linux", "Debian", "", "", ""), true, false},
        // The environment takes no part: components check it themselves.
        {Opsys("Linux", "CentOS", "7", "x86_64", "vz"), false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.build.matches(server, c.lenient), c.fits)
            << printed(c.build) << (c.lenient ? " (lenient)" : "");
}

TEST(OpsysTest, ServerIsDescribedOnceAndShared) {
    const Opsys first;
    Opsys::override_version = "99.9";
    const Opsys second;
    EXPECT_EQ(&first.getVersion(), &second.getVersion());
    EXPECT_NE(second.getVersion(), "99.9");

    utsname system;
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(first.getName(), system.sysname);
    EXPECT_EQ(first.getArch(), system.machine);
}

TEST(OpsysTest, DetectsThisDebianServer) {
    std::string release = testsupport::readFile("/etc/debian_version");
    release = release.substr(0, release.find('\n'));
    utsname system;
    ASSERT_EQ(uname(&system), 0);

    const Opsys server;
    EXPECT_EQ(server.getVendor(), "Debian");
    EXPECT_EQ(server.getName(), "Linux");
    EXPECT_EQ(server.getVersion(), release);
    EXPECT_EQ(server.getArch(), system.machine);
    EXPECT_EQ(server.getEnvironment(), "");
    EXPECT_TRUE(server.isDebianLike());
}

TEST(OpsysTest, OverridesReplaceDetectedValues) {
    testsupport::TempDir dir;
    Log::open_file(dir.file("installer.log"), true);
    Opsys::override_name = "FreeBSD";
    Opsys::override_vendor = "CentOS";
    Opsys::override_version = "7.9.2009";
    Opsys::override_arch = "i686";
    Opsys::override_environment = "dedicated";

    const Opsys server;
    EXPECT_EQ(printed(server), "'CentOS' 'FreeBSD' '7.9.2009' 'i686' under dedicated");
    EXPECT_THAT(
        testsupport::readFile(dir.file("installer.log")),
        HasSubstr(
            "Got OS name FreeBSD, vendor CentOS, version 7.9.2009, arch i686, environment dedicated\n"));
}

} // namespace
