// The installer binary end to end on apt: the example source served on 127.0.0.1, both command
// styles, text and XML output, the packages really installed and removed by apt and dpkg.

#include "common/runtime/Messages.h"
#include "common/runtime/util.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <string>
#include <vector>

using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

const std::string installer = std::string(MOXEL_BINARY_DIR) + "/installer/installer";
const std::string exampleSource = std::string(MOXEL_BINARY_DIR) + "/example-source";
const std::string xmlOk = "<dizadizezeroz status=\"ok\" />\n";
// Component requests of the option style mark the result as an installation's.
const std::string xmlInstallOk = "<dizadizezeroz status=\"install_ok\" />\n";
const char* const core = "moxel-example-core 1.0.0-1 ii \n";
const char* const web = "moxel-example-web 1.0.0-1 ii \n";

struct Ran {
    int code;
    std::string out;
};

// One step of a session: the arguments in one command style, and what follows.
struct Step {
    std::vector<std::string> arguments;
    int code;
    std::string installed;
    std::string said;
};

class CommandLineSandboxTest : public ::testing::Test {
protected:
    // The host's sources give way to a local one of the system's release with one package that
    // nothing installs (apt needs a release of that name once the example repository is gone),
    // readable by apt's unprivileged fetcher.
    void SetUp() override {
        apttest::forgetSystemSources();
        const std::string packages = "dists/bookworm/main/binary-amd64/Packages";
        ASSERT_EQ(
            0, packagetest::run(
                   "set -e; d=" + util::shell_quote(systemRelease.path()) +
                   "; chmod 755 $d; mkdir -p $d/$(dirname " + packages +
                   "); cd $d; printf 'Package: moxeltest-placeholder\\nVersion: 1\\n"
                   "Architecture: all\\nFilename: none.deb\\nSize: 1\\nDescription: none\\n' > " +
                   packages +
                   "; apt-ftparchive -o APT::FTPArchive::Release::Suite=bookworm release dists/bookworm"
                   " > Release; mv Release dists/bookworm/; echo \"deb [trusted=yes] file:$d bookworm main\""
                   " > /etc/apt/sources.list.d/system.list"));
    }

    Ran run(std::vector<std::string> arguments) const {
        arguments.push_back("--source");
        arguments.push_back(server.url());
        std::string command = "cd / && " + util::shell_quote(installer);
        for (const std::string& argument : arguments)
            command += " " + util::shell_quote(argument);
        testsupport::TempDir dir;
        const int status = std::system((command + " >" + dir.file("out") + " 2>&1 </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testsupport::readFile(dir.file("out"))};
    }

    static std::string installed() {
        testsupport::TempDir dir;
        packagetest::run(
            "dpkg-query -W -f='${Package} ${Version} ${db:Status-Abbrev}\\n' 'moxel-example-*' >" +
            dir.file("state") + " 2>/dev/null");
        return testsupport::readFile(dir.file("state"));
    }

    void runSession(const std::vector<Step>& steps) const {
        for (const Step& step : steps) {
            const Ran ran = run(step.arguments);
            SCOPED_TRACE(::testing::PrintToString(step.arguments) + "\n" + ran.out);
            EXPECT_EQ(ran.code, step.code);
            EXPECT_EQ(installed(), step.installed);
            EXPECT_THAT(ran.out, HasSubstr(step.said));
        }
    }

    testsupport::TempDir systemRelease;
    testservers::HttpServer server{exampleSource};
};

TEST_F(CommandLineSandboxTest, CommandStyleListsInstallsAddsUpdatesAndRemovesInText) {
    const std::string applied = "\n" + Messages().getMessage("install_ok") + "\n";
    const std::string already = Messages().format("err_prod_ver_already_installed", "1.0.0", "moxel-example");
    runSession({
        {{"list"}, 0, "", "\nmoxel-example (Moxel Example)"},
        {{"list", "moxel-example"}, 0, "", "\nmoxel-example moxel-example-1.0.0  (Moxel Example 1.0.0)"},
        {{"install", "moxel-example", "--preset", "Full", "--dry-run"},
         0,
         "",
         "  1. [I] moxel-example-core-1.0.0-1.all\n  2. [I] moxel-example-web-1.0.0-1.all\n"},
        {{"install", "moxel-example", "--preset", "Minimal"}, 0, core, applied},
        {{"install", "moxel-example", "--preset", "Full"}, 1, core, "ERROR: " + already},
        {{"add", "moxel-example", "--components", "web"}, 0, std::string(core) + web, applied},
        {{"update", "moxel-example"},
         0,
         std::string(core) + web,
         Messages().getMessage("components_allready_installed")},
        {{"remove", "moxel-example", "--components", "web"}, 0, core, applied},
        {{"remove", "moxel-example", "--components", "base"}, 0, "", applied},
    });
    EXPECT_EQ(testsupport::readFile("/opt/moxel-example/PATCHED"), "Moxel example 1.0.0, patch 1 applied.\n");
}

TEST_F(CommandLineSandboxTest, OptionStyleInstallsAddsUpdatesAndRemovesInXml) {
    const std::vector<std::string> xml{"--enable-xml-output", "--no-daemon", "--select-product-id",
                                       "moxel-example"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), xml.begin(), xml.end());
        return more;
    };
    runSession({
        {with({"--select-release-latest", "--installation-type", "Minimal", "--show-packages"}), 0, "",
         "<build_packages install_num=\"1\" upgrade_num=\"0\" remove_num=\"0\" bytes=\""},
        {with({"--select-release-latest", "--installation-type", "Minimal"}), 0, core, xmlOk},
        {with({"--select-release-latest", "--installation-type", "Full"}), 0, core, "status=\"error\""},
        {with({"--select-release-current", "--install-component", "web"}), 0, std::string(core) + web,
         xmlInstallOk},
        {with({"--select-release-current", "--upgrade-installed-components"}), 0, std::string(core) + web,
         xmlOk},
        {with({"--remove-component", "web"}), 0, core, xmlInstallOk},
        {with({"--remove-everything"}), 0, "", xmlOk},
    });
}

} // namespace
