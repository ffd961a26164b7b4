// The console wizard's page loop on the example source served on 127.0.0.1, with dialogs that answer
// from a script and record which dialogs the loop ran.

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

#include <gtest/gtest.h>

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

} // namespace
