// The console wizard's page loop on the example source served on 127.0.0.1, with dialogs that answer
// from a script and record which dialogs the loop ran.

#include "common/runtime/Lock.h"
#include "common/runtime/Messages.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Release.h"
#include "installer/console/DlgAdvSettings.h"
#include "installer/console/DlgComponents.h"
#include "installer/console/DlgHello.h"
#include "installer/console/DlgInstTypes.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgMessage.h"
#include "installer/console/DlgOptions.h"
#include "installer/console/DlgPackages.h"
#include "installer/console/DlgPrompt.h"
#include "installer/console/DlgReleases.h"
#include "installer/console/DlgYesNo.h"
#include "installer/driver/ConsoleWizard.h"
#include "installer/driver/Options.h"
#include "installer/sources/SourceUrl.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/Terminal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

const std::string exampleSource = std::string(MOXEL_BINARY_DIR) + "/example-source";

// The results the dialogs give, in the order they run, and the kinds of the dialogs that ran.
class Script {
public:
    explicit Script(std::vector<int> results) : results(std::move(results)) {}

    int next(const std::string& kind) {
        ran.push_back(kind);
        // A run beyond the script quits, so that the loop ends and the record shows it.
        return position < results.size() ? results[position++] : Dialog::QUIT;
    }

    std::vector<std::string> ran;

private:
    std::vector<int> results;
    size_t position = 0;
};

template <typename Base> class Scripted : public Base {
public:
    template <typename... Args>
    Scripted(Script& script, const char* kind, Args&&... args)
        : Base(std::forward<Args>(args)...), script(script), kind(kind) {}

    int run() override { return script.next(kind); }

private:
    Script& script;
    const char* kind;
};

// Going forward takes every release of the catalogue.
class ScriptedReleases : public Scripted<DlgReleases> {
public:
    using Scripted<DlgReleases>::Scripted;

    int run() override {
        const int result = Scripted<DlgReleases>::run();
        if (result == Dialog::NEXT)
            for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true))
                release->_selected = true;
        return result;
    }
};

// Going forward from the installation types asks for the components page of every product.
class ScriptedInstTypes : public Scripted<DlgInstTypes> {
public:
    using Scripted<DlgInstTypes>::Scripted;

    int run() override {
        const int result = Scripted<DlgInstTypes>::run();
        customize = result == Dialog::NEXT;
        return result;
    }
};

class RecordingDlgMaker : public DlgMaker {
public:
    explicit RecordingDlgMaker(Script& script) : script(script) {}

    std::unique_ptr<DlgHello> hello() override { return make<DlgHello>("hello"); }
    std::unique_ptr<DlgAdvSettings> advSettings(const std::string& source, const std::string& target,
                                                const DlgAdvSettings::Proxy& proxy) override {
        return make<DlgAdvSettings>("settings", source, target, proxy);
    }
    std::unique_ptr<DlgReleases> releases(BuildManager* catalogue, Repository* repository, bool) override {
        return std::make_unique<ScriptedReleases>(script, "releases", catalogue, repository);
    }
    std::unique_ptr<DlgInstTypes> instTypes(BuildManager* catalogue, ComponentManager* manager) override {
        return std::make_unique<ScriptedInstTypes>(script, "instTypes", catalogue, manager);
    }
    std::unique_ptr<DlgComponents> components(ComponentManager* manager, BuildManager*) override {
        return make<DlgComponents>("components", manager);
    }
    std::unique_ptr<DlgOptions> options(ParamManager* params, Repository* repository) override {
        return make<DlgOptions>("options", params, repository);
    }
    std::unique_ptr<DlgPackages> packages(const cpkgs_t* packages, Repository* repository) override {
        return make<DlgPackages>("packages", packages, repository);
    }
    std::unique_ptr<DlgYesNo> yesNoDefaultYes(const std::string& text) override {
        return make<DlgYesNo>("yes?", text, true);
    }
    std::unique_ptr<DlgYesNo> yesNoDefaultNo(const std::string& text) override {
        return make<DlgYesNo>("no?", text, false);
    }
    std::unique_ptr<DlgMessage> message(const std::string& text) override {
        return make<DlgMessage>("message", text);
    }
    std::unique_ptr<DlgPrompt> prompt(const std::string& text, const std::string& defaultAnswer) override {
        return make<DlgPrompt>("prompt", text, defaultAnswer);
    }

private:
    template <typename Base, typename... Args> std::unique_ptr<Base> make(const char* kind, Args&&... args) {
        return std::make_unique<Scripted<Base>>(script, kind, std::forward<Args>(args)...);
    }

    Script& script;
};

class ConsoleWizardSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        apttest::useLocalSystemRelease(systemRelease.path());
        Options::instance().source = SourceUrl(server.url());
    }

    static void setHostName(const std::string& name) { ASSERT_EQ(sethostname(name.c_str(), name.size()), 0); }

    testsupport::TempDir logs;
    testsupport::TempDir systemRelease;
    testservers::HttpServer server{exampleSource};
};

// Every page forward, back, quit and shown again; the page loop passes the pages with nothing to show
// (the component tree when the releases did not change, the settings of a build without settings) in
// the direction of travel. One walk per page, each ending with a quit on that page.
TEST_F(ConsoleWizardSandboxTest, PagesMoveByTheResultsOfTheirDialogs) {
    constexpr int F = Dialog::NEXT, B = Dialog::BACK, Q = Dialog::QUIT, Y = Dialog::YES, N = Dialog::NO;
    struct Case {
        const char* what;
        const char* hostName;
        std::vector<int> results;
        std::vector<std::string> ran;
    };
    const Case cases[] = {
        {"welcome", "localhost", {N, Q}, {"hello", "hello"}},
        {"releases", "localhost", {F, N, B, F, Q}, {"hello", "releases", "releases", "hello", "releases"}},
        {"installation types, back over the unchanged tree",
         "localhost",
         {F, F, Y, B, F, Q},
         {"hello", "releases", "instTypes", "instTypes", "releases", "instTypes"}},
        {"components, back to the releases and forward without a rebuild",
         "localhost",
         {F, F, F, N, B, B, F, F, Q},
         {"hello", "releases", "instTypes", "components", "components", "instTypes", "releases", "instTypes",
          "components"}},
        {"packages, back over the settings",
         "localhost",
         {F, F, F, F, N, B, F, Q},
         {"hello", "releases", "instTypes", "components", "packages", "packages", "components", "packages"}},
        {"host name refused, stop", "moxeltest-unknown.invalid", {F, N}, {"hello", "no?"}},
        {"host name refused, go on", "moxeltest-unknown.invalid", {F, Y, Q}, {"hello", "no?", "releases"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setHostName(c.hostName);
        Script script(c.results);
        RecordingDlgMaker maker(script);
        driver::ConsoleWizard(maker, Options::instance()).run();
        EXPECT_EQ(script.ran, c.ran);
    }
}

// The installer without arguments on a terminal, its source named by root's rc file, answered key by
// key as an administrator would.
class ConsoleWizardTerminalSandboxTest : public ConsoleWizardSandboxTest {
protected:
    void SetUp() override {
        ConsoleWizardSandboxTest::SetUp();
        setHostName("localhost");
        testsupport::writeFile("/root/.dizadizezerozrc", "SOURCE=" + server.url() + "\n");
    }

    // The visible screen once it shows the text, for at most a minute.
    static std::string waitFor(testsupport::Terminal& terminal, const std::string& text) {
        return terminal.waitFor(text, 1200, false);
    }

    // Waits until the screen shows `shown`, then types the answer and Enter.
    static void answer(testsupport::Terminal& terminal, const std::string& shown, const std::string& keys) {
        const std::string screen = waitFor(terminal, shown);
        ASSERT_NE(screen.find(shown), std::string::npos) << screen;
        terminal.sendKeys("-l " + util::shell_quote(keys));
        terminal.sendKeys("Enter");
    }

    void start(testsupport::Terminal& terminal) const {
        // Ctrl-C reaches the shell too, which stays to tell the installer's exit status.
        ASSERT_EQ(terminal.run("trap : INT; cd / && " + util::shell_quote(installer) +
                               "; echo EXIT:$?; exec sleep 600"),
                  0);
    }

    static std::string installed() {
        testsupport::TempDir dir;
        packagetest::run("dpkg-query -W -f='${Package} ${db:Status-Abbrev}\\n' 'moxel-example-*' >" +
                         dir.file("state") + " 2>/dev/null");
        return testsupport::readFile(dir.file("state"));
    }

    static std::string exitOf(testsupport::Terminal& terminal) {
        const std::string screen = terminal.waitFor("EXIT:", 2400);
        const size_t at = screen.find("EXIT:");
        return at == std::string::npos ? screen : screen.substr(at, screen.find('\n', at) - at);
    }

    const std::string installer = std::string(MOXEL_BINARY_DIR) + "/installer/installer";
    const std::string applied = Messages().getMessage("install_ok");
};

using Answers = std::vector<std::pair<std::string, std::string>>;

// The answers of a first installation up to the components page.
const Answers toComponents = {
    {"[F/q]: ", "F"},
    {"[F/b/q/s/1]: ", "1"},
    {"(*) Moxel Example Sample", "F"},
    {"[Y/n]: ", "n"},
    {"Select the installation type for Moxel Example", "3"},
    {"(*) Custom", "F"},
};

// First an installation with both components, the package list looked at in the pager; then a second
// walk that removes the web component.
TEST_F(ConsoleWizardTerminalSandboxTest, InstallsThenRemovesAComponent) {
    {
        testsupport::Terminal terminal;
        start(terminal);
        for (const auto& step : toComponents)
            answer(terminal, step.first, step.second);
        answer(terminal, "1 of 2 components selected", "2");
        answer(terminal, "2 of 2 components selected", "F");
        answer(terminal, "There are 2 packages required", "S");
        const std::string pager =
            waitFor(terminal, "Use arrow keys for navigation and 'q' to return to installer");
        EXPECT_NE(
            pager.find("  1. [I] moxel-example-core-1.0.0-1.all\n  2. [I] moxel-example-web-1.0.0-1.all\n"),
            std::string::npos)
            << pager;
        terminal.sendKeys("q");
        answer(terminal, "Select an action [F/b/q/s]: \n", "F");
        EXPECT_EQ(exitOf(terminal), "EXIT:0");
        EXPECT_NE(terminal.screen().find(applied), std::string::npos) << terminal.screen();
    }
    EXPECT_EQ(installed(), "moxel-example-core ii \nmoxel-example-web ii \n");

    testsupport::Terminal terminal;
    start(terminal);
    answer(terminal, "[F/q]: ", "F");
    answer(terminal, "[=] Moxel example web pages", "2");
    answer(terminal, "[X] Moxel example web pages", "F");
    answer(terminal, "installed, but will be removed", "F");
    EXPECT_EQ(exitOf(terminal), "EXIT:0");
    EXPECT_EQ(installed(), "moxel-example-core ii \n");
}

// Ctrl-C on a page ends the run as cancelled: nothing installed, the package manager's configuration
// of the run taken back, the instance lock free.
TEST_F(ConsoleWizardTerminalSandboxTest, CtrlCOnEveryPageEndsTheRunCleanly) {
    struct Case {
        const char* page;
        size_t answered;
        std::string shown;
    };
    const Case cases[] = {
        {"welcome", 0, "[F/q]: "},
        {"releases", 1, "[F/b/q/s/1]: "},
        {"installation types", 4, "Select the installation type for Moxel Example"},
        {"components", toComponents.size(), "Main components list for Moxel Example"},
        {"packages", toComponents.size() + 1, "Preparing Your System for Product Installation"},
    };
    Answers walk = toComponents;
    walk.push_back({"1 of 2 components selected", "F"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        std::remove("/var/cordavine/feedback-enabled");
        std::remove("/var/cordavine/feedback-disabled");
        testsupport::Terminal terminal;
        start(terminal);
        for (size_t i = 0; i < c.answered; ++i)
            answer(terminal, walk[i].first, walk[i].second);
        const std::string screen = waitFor(terminal, c.shown);
        ASSERT_NE(screen.find(c.shown), std::string::npos) << screen;
        terminal.sendKeys("C-c");
        EXPECT_EQ(exitOf(terminal), "EXIT:2");
        EXPECT_EQ(installed(), "");
        EXPECT_EQ(Lock::test(0), 0);
        EXPECT_EQ(testsupport::readFile("/etc/apt/sources.list.d/system.list").empty(), false);
        testsupport::TempDir dir;
        packagetest::run("ls /etc/apt/sources.list.d >" + dir.file("lists"));
        EXPECT_EQ(testsupport::readFile(dir.file("lists")), "system.list\n");
    }
}

} // namespace
