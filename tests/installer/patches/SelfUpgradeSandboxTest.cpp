// The built installer switching to a second build that differs only by a higher version constant:
// fetched from the test source over HTTP or from a local directory, or found waiting in the cache.

#include "common/runtime/ProgramInfo.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/util.h"
#include "installer/patches/SelfUpgrade.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string installer = std::string(MOXEL_BINARY_DIR) + "/installer/installer";
const std::string next_installer = std::string(MOXEL_BINARY_DIR) + "/installer/installer_next";
const std::string next_version = MOXEL_NEXT_VERSION;
const std::string fixture_source = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source";
const std::string cache = "/var/cache/cordavine_installer/";
const char* const log_file = "/var/log/moxel/install/dizadizezeroz3.log";

struct Ran {
    int code;
    std::string out;
};

void shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

Ran runInstaller(const std::vector<std::string>& arguments) {
    TempDir dir;
    std::string command = "cd / && " + util::shell_quote(installer);
    for (const std::string& argument : arguments)
        command += " " + util::shell_quote(argument);
    command += " >" + dir.file("out") + " 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.file("out"))};
}

std::string banner(const std::string& version) {
    return "Moxel Installer " + version + " (revision " + program_info::revision + ")";
}

std::string servedBinary(const TempDir& source) {
    return source.file("Moxel_Installer/" + SelfUpgrade::default_binary_name());
}

// The test source demanding `required`, with the next build and its MD5 file beside the catalogue.
void makeSource(const TempDir& source, const std::string& required) {
    std::string entry = readFile(fixture_source + "/products.inf3");
    entry.replace(entry.find("<vendors>"), 9,
                  "<vendors>\n  <exact_required_dizadizezeroz version=\"" + required + "\"/>");
    writeFile(source.file("products.inf3"), entry);
    for (const char* dir : {"moxel", "pagewright", "extensions"})
        shell("cp -r " + fixture_source + "/" + dir + " " + source.file(dir));
    shell("mkdir " + source.file("Moxel_Installer") + " && cp " + next_installer + " " +
          servedBinary(source));
    writeFile(servedBinary(source) + ".md5sum", util::md5_file_string(next_installer) + "  installer\n");
}

class SelfUpgradeSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The cache is a mount point of the sandbox: empty it and make it root's alone.
        shell("find " + cache + " -mindepth 1 -delete && chown 0:0 " + cache + " && chmod 0700 " + cache +
              " && rm -rf /var/log/moxel");
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
    }

    // An installer file and its MD5 file in the cache, under the name that carries `version`.
    static std::string putIntoCache(const std::string& binary, const std::string& version,
                                    const std::string& md5) {
        const std::string path = cache + SelfUpgrade::default_binary_name() + "_" + version;
        shell("cp " + binary + " " + path + " && chmod 0500 " + path);
        writeFile(path + ".md5sum", md5 + "\n");
        return path;
    }

    TempDir target;
};

TEST_F(SelfUpgradeSandboxTest, FetchesTheDemandedInstallerAndRunsItWithTheSameArguments) {
    TempDir source;
    makeSource(source, next_version);
    testservers::HttpServer http(source.path());
    const std::string md5 = util::md5_file_string(next_installer);
    for (const std::string& location : {http.url("products.inf3"), source.file("products.inf3")}) {
        SCOPED_TRACE(location);
        SetUp();
        const Ran ran = runInstaller({"--show-components", "--source", location, "--target", target.path()});

        const std::string cached = cache + SelfUpgrade::default_binary_name() + "_" + next_version;
        struct stat status;
        ASSERT_EQ(stat(cached.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0500u);
        EXPECT_EQ(status.st_uid, 0u);
        EXPECT_EQ(util::md5_file_string(cached), md5);
        EXPECT_EQ(readFile(cached + ".md5sum"), md5);
        // The source keeps its file when it is read in place.
        EXPECT_EQ(util::md5_file_string(servedBinary(source)), md5);

        // The new build read the same catalogue, found its own version demanded and went on, up to
        // the missing release selector.
        const std::string log = readFile(log_file);
        EXPECT_THAT(log, HasSubstr("Doing restart of Moxel Installer..."));
        EXPECT_THAT(log, HasSubstr(banner(program_info::version)));
        EXPECT_THAT(log.substr(log.find("Doing restart")), HasSubstr(banner(next_version)));
        EXPECT_EQ(ran.code, 1);
        EXPECT_THAT(ran.out, HasSubstr("Getting done, Moxel Installer is ready to restart."));
        EXPECT_THAT(ran.out, HasSubstr("No product version was selected."));
    }
}

TEST_F(SelfUpgradeSandboxTest, ADemandForTheRunningVersionOrADisabledUpgradeFetchesNothing) {
    for (const bool disabled : {false, true}) {
        SCOPED_TRACE(disabled);
        SetUp();
        TempDir source;
        makeSource(source, disabled ? next_version : std::string(program_info::version));
        std::vector<std::string> arguments = {"--show-components", "--source", source.file("products.inf3"),
                                              "--target", target.path()};
        if (disabled)
            arguments.push_back("--disable-self-upgrade");
        const Ran ran = runInstaller(arguments);
        EXPECT_EQ(ran.code, 1);
        EXPECT_THAT(ran.out, HasSubstr("No product version was selected."));
        EXPECT_THAT(ran.out, Not(HasSubstr("Getting new version")));
        EXPECT_NE(std::system(("ls " + cache + "cordavine_installer_* >/dev/null 2>&1").c_str()), 0);
        if (disabled) {
            EXPECT_THAT(readFile(log_file),
                        HasSubstr("', but won't upgrade self due --disable-self-upgrade"));
        }
    }
}

TEST_F(SelfUpgradeSandboxTest, ANewerVerifiedInstallerInTheCacheIsSwitchedToAtStart) {
    const std::string next_md5 = util::md5_file_string(next_installer);
    const std::string own_md5 = util::md5_file_string(installer);
    const std::string own = program_info::version;
    struct Case {
        const char* what;
        std::string binary, version, md5;
        std::vector<std::string> extra;
        std::string prepare;
        std::string runs;
        bool stays;
    };
    const std::vector<Case> cases = {
        {"newer", next_installer, next_version, next_md5, {}, "", next_version, true},
        {"equal", installer, own, own_md5, {}, "", own, false},
        {"older", next_installer, "0.0.1", next_md5, {}, "", own, true},
        {"wrong MD5", next_installer, next_version, own_md5, {}, "", own, true},
        {"disabled", next_installer, next_version, next_md5, {"--disable-self-upgrade"}, "", own, true},
        {"cache writable by all",
         next_installer,
         next_version,
         next_md5,
         {},
         "chmod 0777 " + cache,
         own,
         true},
        {"cache not owned by root",
         next_installer,
         next_version,
         next_md5,
         {},
         "chown 65534 " + cache,
         own,
         true},
        {"file not owned by root",
         next_installer,
         next_version,
         next_md5,
         {},
         "chown 65534 " + cache + "*",
         own,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const std::string path = putIntoCache(c.binary, c.version, c.md5);
        if (!c.prepare.empty())
            shell(c.prepare);
        std::vector<std::string> arguments = c.extra;
        arguments.push_back("--version");
        const Ran ran = runInstaller(arguments);
        EXPECT_EQ(ran.code, 0);
        const std::string restart = c.runs == own ? "" : "Doing restart of Moxel Installer...\n";
        EXPECT_EQ(ran.out, restart + banner(c.runs) + "\n");
        EXPECT_EQ(access(path.c_str(), F_OK) == 0, c.stays);
    }
}

TEST_F(SelfUpgradeSandboxTest, ASymbolicLinkInTheCacheIsNotRun) {
    const std::string path = cache + SelfUpgrade::default_binary_name() + "_" + next_version;
    shell("ln -s " + next_installer + " " + path);
    writeFile(path + ".md5sum", util::md5_file_string(next_installer));
    const Ran ran = runInstaller({"--version"});
    EXPECT_EQ(ran.out, banner(program_info::version) + "\n");
}

} // namespace
