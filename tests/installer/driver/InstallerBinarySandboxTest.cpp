#include "common/runtime/Lock.h"
#include "common/runtime/Messages.h"
#include "common/runtime/ProgramInfo.h"
#include "common/runtime/Progress.h"
#include "common/runtime/ProgressShm.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using testsupport::ForkedChild;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

const std::string installer = std::string(MOXEL_BINARY_DIR) + "/installer/installer";
const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
const char* const as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
const char* const log_file = "/var/log/moxel/install/dizadizezeroz3.log";

struct Ran {
    int code;
    std::string out, err;
};

std::string commandLine(const std::vector<std::string>& arguments) {
    std::string command = util::shell_quote(installer);
    for (const std::string& argument : arguments)
        command += " " + util::shell_quote(argument);
    return command;
}

// The built installer, run from "/" with an empty standard input.
Ran runInstaller(const std::vector<std::string>& arguments, const std::string& prefix = "") {
    TempDir dir;
    const std::string command = "cd / && " + prefix + " " + commandLine(arguments) + " >" + dir.file("out") +
                                " 2>" + dir.file("err") + " </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.file("out")),
            readFile(dir.file("err"))};
}

// Another installer at work: it holds lock byte 0, publishes where it stands, and ends with the
// number of the first stop signal it gets.
class RunningInstaller {
public:
    RunningInstaller()
        : child([](ForkedChild& self) {
              sigset_t stops;
              sigemptyset(&stops);
              sigaddset(&stops, SIGHUP);
              sigaddset(&stops, SIGTERM);
              sigprocmask(SIG_BLOCK, &stops, nullptr);
              Lock lock(0, false);
              Progress::stage(2, 5);
              Progress::step("resolve", "Resolving dependencies");
              self.tellParent();
              int got = 0;
              sigwait(&stops, &got);
              return got;
          }) {
        if (!child.waitForChild())
            throw std::runtime_error("the running installer did not start");
    }
    int signalReceived() { return child.wait(); }

private:
    ForkedChild child;
};

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 400; ++i) {
        if (done())
            return true;
        usleep(50000);
    }
    return false;
}

TEST(InstallerBinarySandboxTest, OnlyRootMayRunItAndVersionsPrint) {
    const std::string notRoot = Messages().getMessage("err_not_root");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--version"},
          std::vector<std::string>{"--enable-xml-output", "--version"}}) {
        const Ran ran = runInstaller(arguments, as_nobody);
        EXPECT_EQ(ran.code, 1);
        EXPECT_EQ(ran.out, "");
        EXPECT_THAT(ran.err, HasSubstr(notRoot));
    }
    const Ran version = runInstaller({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("Moxel Installer ") + program_info::version + " (revision " +
                               program_info::revision + ")\n");
    EXPECT_TRUE(std::ifstream(log_file).good());
}

TEST(InstallerBinarySandboxTest, BareVersionAndCompletionNeedNoLogDirectory) {
    // A file where the log directory's parent should be.
    ASSERT_EQ(std::system("rm -rf /var/log/moxel && touch /var/log/moxel"), 0);
    const Ran bare = runInstaller({"--print-version-of-this-binary"});
    EXPECT_EQ(bare.code, 0);
    EXPECT_EQ(bare.out, std::string(program_info::version) + "\n");
    const Ran completion = runInstaller({"help", "install", "--completion"});
    EXPECT_EQ(completion.code, 0);
    EXPECT_EQ(completion.out,
              readFile(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/help/install-completion.txt"));
    const Ran version = runInstaller({"--version"});
    EXPECT_EQ(version.code, 1);
    EXPECT_THAT(version.out, HasSubstr("\nERROR: "));
}

TEST(InstallerBinarySandboxTest, CommandHelpThroughTheRunBody) {
    const Ran ran = runInstaller({"help", "stop"});
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out, readFile(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/help/stop.txt"));
}

struct RecordCase {
    std::vector<std::string> arguments;
    bool busy;
    std::string out;
    int code;
};

TEST(InstallerBinarySandboxTest, ResultRecordsAndExitCodes) {
    Messages m;
    const std::string uninstall = m.getMessage("err_opt_int_uninst_wo_rm_everything");
    const std::string locked = m.getMessage("status_locked_by_another");
    const std::vector<RecordCase> cases = {
        {{"--interactive-uninstall"}, false, "\nERROR: " + uninstall + "\n\n", 1},
        {{"--enable-xml-output", "--interactive-uninstall"},
         false,
         declaration + "<dizadizezeroz status=\"error\" error_message=\"" + uninstall +
             "&#x0A;\" error_class=\"user\" />\n",
         0},
        {{"--enable-xml-output", "--install-component", "a", "--interactive-uninstall"},
         false,
         declaration + "<dizadizezeroz status=\"install_error\" error_message=\"" + uninstall +
             "&#x0A;\" error_class=\"user\" />\n",
         0},
        {{"--query-status"}, false, "\n" + m.getMessage("status_not_locked") + "\n\n", 0},
        {{"--show-components"}, true, "\nBUSY: " + locked + "\n", 1},
        {{"--enable-xml-output", "--show-components"},
         true,
         declaration + "<dizadizezeroz status=\"busy\" error_message=\"" + locked + "\" />\n",
         0},
        {{"--show-releases"}, true, "\nERROR: Installer is busy.\n", 1},
        {{"--enable-xml-output", "--show-releases"},
         true,
         declaration + "<dizadizezeroz status=\"error\" error_message=\"Installer is busy.\" />\n",
         0},
    };
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        std::unique_ptr<RunningInstaller> other;
        if (c.busy)
            other = std::make_unique<RunningInstaller>();
        const Ran ran = runInstaller(c.arguments);
        EXPECT_EQ(ran.out, c.out);
        EXPECT_EQ(ran.code, c.code);
    }
}

TEST(InstallerBinarySandboxTest, StatusQueryShowsTheRunningInstallersProgress) {
    RunningInstaller other;
    const std::string locked = Messages().getMessage("status_locked_by_another");
    const std::string stage = Messages().getMessage("progress_stage_resolv");
    const Ran text = runInstaller({"--query-status"});
    EXPECT_EQ(text.code, 0);
    EXPECT_EQ(text.out, "\nBUSY: " + locked + "\n\nOverall progress: 2/4: - " + stage +
                            "\nCurrent step: 1/5: - Resolving dependencies\n");
    const Ran xml = runInstaller({"--query-status", "--enable-xml-output"});
    EXPECT_EQ(xml.code, 0);
    EXPECT_EQ(xml.out,
              declaration + "<dizadizezeroz status=\"query_busy\" error_message=\"" + locked +
                  "\"><progress><stage stage=\"2\" stage_n=\"4\" id=\"resolv\" title=\"" + stage +
                  "\" /><step step=\"1\" step_n=\"5\" id=\"resolve\" title=\"Resolving dependencies\" "
                  "/></progress></dizadizezeroz>\n");
}

TEST(InstallerBinarySandboxTest, StatusQueryAfterAFailedRun) {
    Progress::stage(4, 2);
    Progress::step("pkgs", "Installing packages");
    Progress::fail("Disk full");
    const std::string idle = Messages().getMessage("status_not_locked");
    const std::string stage = Messages().getMessage("install_start");
    const Ran text = runInstaller({"--query-status"});
    EXPECT_EQ(text.out, "\n" + idle + "\n\nDizadizezeroz failed: Disk full\n\nOverall progress: 4/4: - " +
                            stage + "\nCurrent step: 1/2: - Installing packages\n");
    const Ran xml = runInstaller({"--enable-xml-output", "--query-status"});
    EXPECT_THAT(xml.out,
                HasSubstr("status=\"query_ok\" error_message=\"" + idle +
                          "\"><progress finished=\"true\" failed=\"true\"><error>Disk full</error><stage "));
}

TEST(InstallerBinarySandboxTest, StopSignalsTheHolder) {
    for (bool terminate : {false, true}) {
        RunningInstaller other;
        const Ran ran = runInstaller(terminate ? std::vector<std::string>{"stop", "--terminate"}
                                               : std::vector<std::string>{"stop"});
        EXPECT_EQ(ran.code, 0);
        EXPECT_EQ(ran.out, Messages().getMessage("stop_sent") + "\n");
        EXPECT_EQ(other.signalReceived(), terminate ? SIGTERM : SIGHUP);
    }
    const Ran idle = runInstaller({"stop"});
    EXPECT_EQ(idle.code, 0);
    EXPECT_EQ(idle.out, Messages().getMessage("stop_already_stopped") + "\n");
}

TEST(InstallerBinarySandboxTest, BackgroundInstallationAnswersOnceItHoldsTheLock) {
    const Ran ran = runInstaller({"--enable-xml-output", "--install-component", "a", "--source",
                                  std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/"});
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out,
              declaration +
                  "<dizadizezeroz status=\"install_ok\" error_message=\"Installation started\" />\n");
    // The background installer ran its mode: it failed there (no release named) and said so in the
    // status record.
    ASSERT_TRUE(waitUntil([] {
        ProgressShm shm;
        return shm.data()->failed != 0;
    }));
    ProgressShm shm;
    EXPECT_THAT(ProgressShm::getText(shm.data()->error_text),
                HasSubstr(Messages().getMessage("releases_no_selected")));
}

TEST(InstallerBinarySandboxTest, BackgroundInstallationThatCannotTakeTheLockIsReportedBusy) {
    // The installer process itself holds the byte (kept across exec), so it finds the lock free while
    // its background child cannot take it: the race of two starts at the same moment.
    TempDir dir;
    ForkedChild starter([&](ForkedChild&) {
        const int fd = open(Lock::file_name, O_WRONLY | O_CREAT, 0600);
        struct flock byte = {};
        byte.l_type = F_WRLCK;
        byte.l_whence = SEEK_SET;
        byte.l_start = 0;
        byte.l_len = 1;
        if (fd == -1 || fcntl(fd, F_SETLK, &byte) != 0)
            return 98;
        const std::string command = commandLine({"--enable-xml-output", "--install-component", "a"}) + " >" +
                                    dir.file("out") + " 2>/dev/null";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        return 97;
    });
    EXPECT_EQ(starter.wait(), 0);
    EXPECT_EQ(readFile(dir.file("out")), declaration +
                                             "<dizadizezeroz status=\"install_busy\" error_message=\"" +
                                             Messages().getMessage("status_locked_by_another") + "\" />\n");
}

TEST(InstallerBinarySandboxTest, WebLaunchQuotesItsArgumentsAndKeepsThePasswordOutOfThem) {
    const std::string target = "/tmp/t \"q\" 'q' $(touch /tmp/pwned) `touch /tmp/pwned` \xc3\xbc";
    const std::string password = "pw$(touch /tmp/pwned)secret";
    const Ran ran = runInstaller({"--service-mode", "--enable-xml-output", "--proxy-host", "proxy.invalid",
                                  "--proxy-password", password, "--target", target});
    EXPECT_EQ(ran.code, 0);
    EXPECT_THAT(ran.out, MatchesRegex(".*<dizadizezeroz status=\"ok\" error_message=\"" +
                                      Messages().getMessage("status_daemon_launched") +
                                      "\"><data secret=\"[a-z]{28}\" /></dizadizezeroz>\n"));
    // The launched back end starts and logs its arguments; it then serves until stopped.
    const std::string arguments = "--target " + target + " --web-interface --with-ssl --disable-browser ";
    const bool started = waitUntil([&] { return readFile(log_file).find(arguments) != std::string::npos; });
    system("pkill -f -- '--web-interface --with-ssl --disable-browser'");
    ASSERT_TRUE(started);
    const std::string log = readFile(log_file);
    EXPECT_THAT(log, HasSubstr("--proxy-password ******** "));
    EXPECT_THAT(log, Not(HasSubstr("secret")));
    struct stat info;
    EXPECT_NE(stat("/tmp/pwned", &info), 0);
}

TEST(InstallerBinarySandboxTest, HelpOptionsIsTheEnglishUsage) {
    const Ran ran = runInstaller({"--help-options"});
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out, readFile(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/driver/help-options.txt"));
}

TEST(InstallerBinarySandboxTest, SigintDuringALongStepEndsWithUserCanceled) {
    TempDir dir;
    const std::string out = dir.file("out");
    ForkedChild run([&](ForkedChild& self) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        return driver::exitCodeOf([&] {
            struct sigaction action = {};
            action.sa_handler = driver::onSignal;
            sigaction(SIGINT, &action, nullptr);
            self.tellParent();
            for (;;) {
                Progress::checkTermination();
                usleep(10000);
            }
        });
    });
    ASSERT_TRUE(run.waitForChild());
    kill(run.pid(), SIGINT);
    EXPECT_EQ(run.wait(), 2);
    EXPECT_EQ(readFile(out), "\nERROR: " + Messages().getMessage("user_canceled") + "\n");
}

} // namespace
