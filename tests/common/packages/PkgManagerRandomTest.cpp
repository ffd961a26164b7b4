// The resolver on random universes and on the small universes they turned up: every plan it
// returns must hold together, every failure must be a classified dependency error.
#include "common/packages/PkgManager.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/common/packages/RandomUniverse.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string randomFixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/resolver/random/";

struct Result {
    bool failed = false;
    error failure;
    std::vector<universe::Violation> found;
};

// The caller's sequence on a scenario, and what is wrong with its outcome.
Result resolve(const universe::Scenario& scenario, bool removeTree) {
    universe::Loaded loaded(scenario);
    Result result;
    cpkgs_t plan = loaded.start;
    if (plan.empty())
        return result;
    PkgManager manager(&loaded.repository, &plan, removeTree);
    manager.setOsArch("x86_64");
    manager.addRequested(loaded.start);
    try {
        manager.blackListUnresolved();
        manager.findNecessaryPackages(false);
        std::vector<std::string> requested;
        for (const Package* package : loaded.start)
            requested.push_back(package->getName().str());
        result.found = universe::violations(loaded.repository, plan, requested);
    } catch (const error& e) {
        result.failed = true;
        result.failure = e;
        if (e.getClass() != error::dependencies)
            result.found.push_back({"", "unclassified failure: " + e.getText()});
    }
    return result;
}

// Drops packages, relations and requested names one at a time while the fault stays.
universe::Scenario minimize(universe::Scenario scenario,
                            const std::function<bool(const universe::Scenario&)>& fails) {
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = 0; i < scenario.packages.size(); ++i) {
            universe::Scenario smaller = scenario;
            smaller.packages.erase(smaller.packages.begin() + i);
            if (fails(smaller)) {
                scenario = smaller;
                progress = true;
                --i;
            }
        }
        for (size_t i = 0; i < scenario.packages.size(); ++i)
            for (size_t r = 0; r < scenario.packages[i].relations.size(); ++r) {
                universe::Scenario smaller = scenario;
                auto& relations = smaller.packages[i].relations;
                relations.erase(relations.begin() + r);
                if (fails(smaller)) {
                    scenario = smaller;
                    progress = true;
                    --r;
                }
            }
        for (size_t i = 0; scenario.request.size() > 1 && i < scenario.request.size(); ++i) {
            universe::Scenario smaller = scenario;
            smaller.request.erase(smaller.request.begin() + i);
            if (fails(smaller)) {
                scenario = smaller;
                progress = true;
                --i;
            }
        }
    }
    return scenario;
}

class PkgManagerRandomTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        // The resolver's debug lines would cost more than the resolving.
        Log::setFileThreshold(0);
        Log::open_file(dir.file("log"), true);
    }

    testsupport::TempDir dir;
};

TEST_F(PkgManagerRandomTest, PlansOfRandomUniversesHoldTogether) {
    int plans = 0, failures = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        for (bool removeTree : {false, true}) {
            universe::Scenario scenario = universe::generate(seed);
            scenario.allowErasing = removeTree;
            const Result result = resolve(scenario, removeTree);
            ++(result.failed ? failures : plans);
            if (result.found.empty())
                continue;
            // The smallest universe that still shows the first fault's kind.
            const std::string kind = result.found.front().text.substr(0, result.found.front().text.find(':'));
            const universe::Scenario smallest =
                minimize(scenario, [removeTree, &kind](const universe::Scenario& s) {
                    if (!universe::installedCulprit(s).empty())
                        return false;
                    const Result smaller = resolve(s, removeTree);
                    return !smaller.found.empty() &&
                           smaller.found.front().text.compare(0, kind.size(), kind) == 0;
                });
            ADD_FAILURE() << "seed " << seed << (removeTree ? " allowing removals" : "") << ":\n"
                          << universe::describe(resolve(smallest, removeTree).found) << "smallest universe:\n"
                          << universe::render(smallest);
        }
    }
    // A resolver that fails every request would pass the checks above without being checked.
    EXPECT_GT(plans * 3, plans + failures);
}

TEST_F(PkgManagerRandomTest, TrialsBeyondTheWorkBoundEndInADependencyError) {
    // Three layers of 40 equal providers: every choice is tried in trials nested three deep.
    universe::Scenario scenario;
    universe::Entry app;
    app.name = "app";
    app.version = "1.0";
    app.relations = {{'R', "c0"}};
    scenario.packages.push_back(app);
    for (int layer = 0; layer < 3; ++layer)
        for (int i = 0; i < 40; ++i) {
            universe::Entry provider;
            provider.name = "l" + std::to_string(layer) + "p" + std::to_string(i);
            provider.version = "1.0";
            provider.relations = {{'P', "c" + std::to_string(layer)}};
            if (layer < 2)
                provider.relations.push_back({'R', "c" + std::to_string(layer + 1)});
            scenario.packages.push_back(provider);
        }
    scenario.request = {"app"};
    const Result result = resolve(scenario, false);
    ASSERT_TRUE(result.failed);
    EXPECT_EQ(result.failure.getClass(), error::dependencies);
    EXPECT_THAT(result.failure.getText(), ::testing::HasSubstr(Messages().getMessage("err_bad_deps")));
}

std::vector<std::string> fixtureFiles() {
    std::vector<std::string> files;
    if (DIR* dir = opendir(randomFixtures.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 9 && name.compare(name.size() - 9, 9, ".scenario") == 0)
                files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(PkgManagerRandomTest, UniversesOfFoundFaults) {
    const std::vector<std::string> files = fixtureFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const universe::Scenario scenario = universe::parseFile(randomFixtures + file);
        const Result result = resolve(scenario, scenario.allowErasing);
        EXPECT_EQ(universe::describe(result.found), "");
        if (scenario.expect == "plan") {
            EXPECT_FALSE(result.failed) << result.failure.getText();
        } else if (scenario.expect == "failure") {
            EXPECT_TRUE(result.failed);
        }
    }
}

} // namespace
