#include "installer/engine/ComponentsExamine.h"

#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/sources/FileFetcher.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

BuildInfFile::examine_t declared(const std::string& scope, const std::string& name, const std::string& script,
                                 const std::string& options = "", bool always = false,
                                 const std::string& launcher = "") {
    BuildInfFile::examine_t examination;
    examination.scope = scope;
    examination.name = name;
    examination.script = script;
    examination.launcher = launcher;
    examination.options = options;
    examination.baseDir = "moxel/";
    examination.always = always;
    return examination;
}

std::vector<std::string> namesOf(const ComponentsExamine::examinations_t& list) {
    std::vector<std::string> names;
    for (const auto& examination : list)
        names.push_back(examination.name);
    return names;
}

// A product "moxel" whose build and base component declare examinations; the scripts lie below
// "moxel/examine/" of an installation source served over HTTP on 127.0.0.1.
class ComponentsExamineTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        build = testsupport::makeBuild("moxel");
        release = build->_parent;
        release->_state = 2;
        release->_update_mode = 1;
        base = testsupport::makeComponent(build, "base", AiComponent::INSTALL, REQ_INSTALL);
        components.nodes = {base};
        script("ok.sh", "echo fine; exit 0");
        script("warn.sh", "echo 'some output'; printf 'disk is low  \\n\\tsecond line\\n' >&2; exit 1");
        script("fail.sh", "echo 'service down' >&2; exit 2");
        script("hang.sh", "sleep 60; exit 0");
        script("args.sh", "for a; do echo \"arg:$a\" >&2; done; exit 1");
        script("launch.sh", "script=$1; shift; echo launched >&2; /bin/sh \"$script\" \"$@\"");
    }

    void script(const std::string& name, const std::string& body) {
        const std::string path = source.file("moxel/examine/" + name);
        ASSERT_EQ(std::system(("mkdir -p '" + source.file("moxel/examine") + "'").c_str()), 0);
        testsupport::writeFile(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0644);
    }

    testsupport::TempDir work;
    testsupport::TempDir source;
    testsupport::TempDir target;
    testservers::HttpServer http{source.path()};
    FileFetcher fetcher{http.url(), target.path()};
    boost::shared_ptr<Build> build;
    boost::shared_ptr<Release> release;
    comp_ptr_t base;
    ComponentManager components;
};

TEST_F(ComponentsExamineTest, ScopesFollowTheKindOfChangeAndRepeatsAreDropped) {
    build->_examine = {declared("pre_install", "A", "a.sh"),  declared("pre_upgrade", "B", "b.sh"),
                       declared("pre_update", "C", "c.sh"),   declared("pre_any", "D", "d.sh"),
                       declared("post_any", "E", "e.sh"),     declared("post_install", "F", "f.sh"),
                       declared("pre_sometimes", "X", "x.sh")};
    base->examinations = {declared("pre_install", "G", "g.sh")};
    // A second component of the build declares the same examination: it is collected once.
    const comp_ptr_t web = testsupport::makeComponent(build, "web", AiComponent::INSTALL, REQ_INSTALL);
    web->examinations = base->examinations;
    components.nodes.push_back(web);

    struct Case {
        int updateMode;
        int componentMode;
        std::vector<std::string> pre;
        std::vector<std::string> post;
    } cases[] = {
        {1, AiComponent::INSTALL, {"A", "D", "G"}, {"E", "F"}},
        {2, AiComponent::UPGRADE, {"B", "D"}, {"E"}},
        {3, AiComponent::UPGRADE, {"B", "D"}, {"E"}},
        {4, AiComponent::UPGRADE, {"C", "D"}, {"E"}},
    };
    for (const Case& c : cases) {
        release->_update_mode = c.updateMode;
        base->installMode = web->installMode = c.componentMode;
        ComponentsExamine examine(&components, &fetcher);
        EXPECT_EQ(namesOf(examine.getPreExaminations()), c.pre) << c.updateMode;
        EXPECT_EQ(namesOf(examine.getPostExaminations()), c.post) << c.updateMode;
    }
}

TEST_F(ComponentsExamineTest, ExitCodesGiveWarningsErrorsAndLaunchFailures) {
    build->_examine = {
        declared("pre_any", "ok", "examine/ok.sh"),
        declared("pre_any", "warn", "examine/warn.sh"),
        declared("pre_any", "fail", "examine/fail.sh"),
        declared("pre_any", "hang", "examine/hang.sh"),
        declared("pre_any", "missing", "examine/missing.sh"),
        // Names from the source stay below it: an absolute path is not fetched.
        declared("pre_any", "absolute", "/etc/hostname"),
        declared("pre_any", "launched", "examine/warn.sh", "", false, "examine/launch.sh"),
    };
    ComponentsExamine examine(&components, &fetcher);
    examine.setTimeoutSeconds(2);
    EXPECT_FALSE(examine.doPreExamine(false));

    struct Expected {
        const char* name;
        bool isError;
        const char* errorsHave;
    } expected[] = {
        {"warn", false, "disk is low  \n\tsecond line\n"},
        {"fail", true, "service down\n"},
        {"hang", false, "Stopped after 2 seconds without finishing."},
        {"missing", false, "Failed to launch the checking script 'missing.sh'.\n"},
        {"absolute", false, "Failed to launch the checking script 'hostname'.\n"},
        {"launched", false, "launched\ndisk is low"},
    };
    const ComponentsExamine::results_t& results = examine.getPreResults();
    ASSERT_EQ(results.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].name, expected[i].name);
        EXPECT_EQ(results[i].isError, expected[i].isError) << expected[i].name;
        EXPECT_THAT(results[i].errors, HasSubstr(expected[i].errorsHave)) << expected[i].name;
    }
    EXPECT_EQ(results[0].output, "some output\n");
    EXPECT_TRUE(ComponentsExamine::hasErrors(results));

    const ComponentsExamine::results_t first = {results[0], results[1]};
    EXPECT_EQ(ComponentsExamine::formatResults(ExamineResultFormatter(), first),
              "warn\n  disk is low\n  \tsecond line\nfail\n  service down\n");

    // The list ran once: asking again answers from the results.
    EXPECT_FALSE(examine.doPreExamine(false));
    EXPECT_THAT(testsupport::readFile(work.file("installer.log")),
                HasSubstr("ComponentsExamine::doPreExamine: already has results"));
}

TEST_F(ComponentsExamineTest, FailurePostExamineRunsAlwaysOnesWithTheValuesAsShellWords) {
    release->_installed_version = "17.0.0 $(touch " + work.file("injected") + ")";
    build->_examine = {
        declared("post_install", "values", "examine/args.sh",
                 "--rc={RC} --from={FROM_RELEASE_VERSION} --to={TO_RELEASE_VERSION}", true),
        declared("post_install", "not always", "examine/fail.sh"),
    };
    ComponentsExamine examine(&components, &fetcher);
    EXPECT_FALSE(examine.doFailurePostExamine());
    ASSERT_EQ(examine.getPostResults().size(), 1u);
    EXPECT_EQ(examine.getPostResults()[0].errors,
              "arg:--rc=1\narg:--from=" + release->_installed_version + "\narg:--to=1.0\n");
    EXPECT_NE(access(work.file("injected").c_str(), F_OK), 0);
    // The post list has run.
    EXPECT_TRUE(examine.doFailurePostExamine());
    EXPECT_FALSE(examine.doPostExamine(false));
}

TEST_F(ComponentsExamineTest, NothingToExaminePasses) {
    ComponentsExamine examine(&components, &fetcher);
    EXPECT_TRUE(examine.doPreExamine(false));
    EXPECT_TRUE(examine.doPostExamine(false));
    EXPECT_EQ(ComponentsExamine::formatResults(ExamineResultFormatter(), {}), "");
}

} // namespace
