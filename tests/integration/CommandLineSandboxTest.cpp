// The installer binary end to end on apt: the example source served on 127.0.0.1, both command
// styles, text and XML output, the packages really installed and removed by apt and dpkg.

#include "common/runtime/Messages.h"
#include "common/runtime/util.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/sources/DownloadTestSupport.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/BuildOnce.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace fs = boost::filesystem;

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
    void SetUp() override {
        server = std::make_unique<testservers::HttpServer>(sourceRoot());
        apttest::useLocalSystemRelease(systemRelease.path());
    }

    virtual std::string sourceRoot() const { return exampleSource; }

    // The installer's command line, its output going to `out`.
    std::string commandLine(std::vector<std::string> arguments, const std::string& out) const {
        arguments.push_back("--source");
        arguments.push_back(server->url());
        std::string command = "cd / && exec " + util::shell_quote(installer);
        for (const std::string& argument : arguments)
            command += " " + util::shell_quote(argument);
        return command + " >" + util::shell_quote(out) + " 2>&1 </dev/null";
    }

    Ran run(const std::vector<std::string>& arguments) const {
        testsupport::TempDir dir;
        const int status = std::system(commandLine(arguments, dir.file("out")).c_str());
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
    std::unique_ptr<testservers::HttpServer> server;
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

const std::string hookedSource = std::string(MOXEL_BINARY_DIR) + "/tests/hooked-example-source";
const std::string hook = "/usr/local/zeq/postinst-hook";
const std::string webDeb = "/moxel-example/1.0.0/debian-12/dist/pool/main/moxel-example-web_1.0.0-1_all.deb";

// Faults of a run, on the example source whose web package hands its postinst over to `hook`.
class InstallFaultSandboxTest : public CommandLineSandboxTest {
protected:
    void SetUp() override {
        const std::string script =
            std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/apt/hooked-example-source.sh";
        testsupport::buildOnce(
            hookedSource,
            testsupport::readFile(script) +
                testsupport::readFile(std::string(MOXEL_SOURCE_DIR) + "/scripts/make-example-source"),
            [&] {
                ASSERT_EQ(
                    0, packagetest::run(util::shell_quote(script) + " " + util::shell_quote(hookedSource)));
            });
        CommandLineSandboxTest::SetUp();
    }

    std::string sourceRoot() const override { return hookedSource; }

    static void setHook(const std::string& body) {
        testsupport::writeFile(hook, "#!/bin/sh\n" + body);
        ASSERT_EQ(0, chmod(hook.c_str(), 0755));
    }

    // A hook that lets the test act while dpkg configures the web package.
    static void setWaitingHook() {
        setHook("touch /usr/local/zeq/reached\nwhile [ ! -e /usr/local/zeq/go ]; do sleep 0.1; done\n");
    }

    // The installer in a process group of its own, as a login session runs it.
    std::unique_ptr<testsupport::ForkedChild> start(const std::vector<std::string>& arguments,
                                                    const std::string& out) const {
        const std::string command = commandLine(arguments, out);
        return std::make_unique<testsupport::ForkedChild>([command](testsupport::ForkedChild&) {
            setsid();
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            return 127;
        });
    }

    static bool eventually(const std::function<bool()>& condition) {
        for (int i = 0; i < 1200; ++i) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // What the next run starts from, besides the packages: the apt configuration and /tmp (less the
    // test's own directories and the instance lock's file, which stays when its lock goes).
    static std::string configurationState() {
        testsupport::TempDir dir;
        packagetest::run("cd /etc/apt && find . -type f -exec md5sum {} + | sort >" + dir.file("state") +
                         "; ls -A /tmp | grep -v -e '^moxel-test\\.' -e '^zeq-installer\\.lock$' >>" +
                         dir.file("state"));
        return testsupport::readFile(dir.file("state"));
    }

    const std::vector<std::string> installFull{"install", "moxel-example", "--preset", "Full"};
    const std::string packagesFailed = "ERROR: " + Messages().getMessage("err_debinstall");
};

TEST_F(InstallFaultSandboxTest, RunKilledInThePackageTransactionIsFinishedByTheNextRun) {
    // The state an uninterrupted installation leaves, then that of a removal.
    ASSERT_EQ(run(installFull).code, 0);
    const std::string committed = configurationState();
    ASSERT_EQ(run({"remove", "moxel-example", "--components", "base"}).code, 0);
    ASSERT_EQ(installed(), "");

    setWaitingHook();
    testsupport::TempDir dir;
    const std::string before = configurationState();
    auto killed = start(installFull, dir.file("out"));
    ASSERT_TRUE(eventually([] { return fs::exists("/usr/local/zeq/reached"); }));
    kill(-killed->pid(), SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);
    EXPECT_EQ(installed(), std::string(core) + "moxel-example-web 1.0.0-1 iF \n");
    testsupport::writeFile("/usr/local/zeq/go", "");

    const Ran again = run({"update", "moxel-example"});
    EXPECT_EQ(again.code, 0) << again.out;
    EXPECT_EQ(installed(), std::string(core) + web);
    EXPECT_EQ(configurationState(), committed);
    EXPECT_EQ(configurationState(), before);
    EXPECT_EQ(testsupport::readFile("/opt/moxel-example/PATCHED"), "Moxel example 1.0.0, patch 1 applied.\n");
}

TEST_F(InstallFaultSandboxTest, ServerStoppingMidDownloadLeavesTheSystemUnchanged) {
    const std::string before = configurationState();
    server->setRules("{\"" + webDeb + "\": [{\"stall\": 300}]}");
    testsupport::TempDir dir;
    auto stopped = start(installFull, dir.file("out"));
    ASSERT_TRUE(eventually([&] { return downloadtest::requestsFor(*server, webDeb) > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server->stop();

    EXPECT_EQ(stopped->wait(), 1);
    EXPECT_THAT(testsupport::readFile(dir.file("out")), HasSubstr(packagesFailed));
    EXPECT_EQ(installed(), "");
    EXPECT_EQ(configurationState(), before);
}

TEST_F(InstallFaultSandboxTest, FailingMaintainerScriptEndsInThePackagesError) {
    setHook("echo 'web configuration refused' >&2\nexit 1\n");
    const Ran failed = run(installFull);

    EXPECT_EQ(failed.code, 1);
    EXPECT_THAT(failed.out, HasSubstr("web configuration refused"));
    EXPECT_THAT(failed.out, HasSubstr(packagesFailed));
    EXPECT_EQ(installed(), std::string(core) + "moxel-example-web 1.0.0-1 iF \n");
}

TEST_F(InstallFaultSandboxTest, HangupOfTheSessionDoesNotStopThePackageTransaction) {
    setWaitingHook();
    testsupport::TempDir dir;
    auto hungUp = start(installFull, dir.file("out"));
    ASSERT_TRUE(eventually([] { return fs::exists("/usr/local/zeq/reached"); }));
    kill(-hungUp->pid(), SIGHUP);
    testsupport::writeFile("/usr/local/zeq/go", "");

    // No termination check follows the installation phase: the run ends as it would have.
    EXPECT_EQ(hungUp->wait(), 0) << testsupport::readFile(dir.file("out"));
    EXPECT_EQ(installed(), std::string(core) + web);
}

} // namespace
