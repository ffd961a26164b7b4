#include "common/packages/PkgManager.h"

#include "common/packages/Dependency.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using packagetest::print;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/resolver/";

// A repository read from the cache texts of one fixture directory, with its requirements resolved.
class Universe {
public:
    explicit Universe(const std::string& scenario) {
        const std::pair<const char*, Package::type_t> files[] = {
            {"installed.cache", 's'}, {"build.cache", 'b'}, {"update.cache", 'u'}};
        for (const auto& file : files) {
            FILE* in = fopen((fixtures + scenario + "/" + file.first).c_str(), "re");
            if (!in)
                continue;
            repository.addFromCache(in, file.second, Repository::DUPS_APPEND, nullptr);
            fclose(in);
        }
        repository.resolveRequires();
    }

    // A package by its printed text, e.g. "lib-2.0-1.x86_64".
    const Package* find(const std::string& printed) const {
        for (const Package* package : repository.getPackages())
            if (print(package) == printed && package->getType() != 's')
                return package;
        for (const Package* package : repository.getPackages())
            if (print(package) == printed)
                return package;
        ADD_FAILURE() << "no package " << printed;
        return nullptr;
    }

    cpkgs_t list(const std::vector<std::string>& printed) const {
        cpkgs_t packages;
        for (const std::string& text : printed)
            packages.push_back(find(text));
        return packages;
    }

    Repository repository;
};

// Runs the caller's sequence: black-list the unresolved packages, resolve.
struct Outcome {
    std::vector<std::string> necessary;
    bool failed = false;
    error failure;
    std::string report;
    std::vector<std::string> black;
};

Outcome resolve(Universe& universe, const std::vector<std::string>& start, bool removeTree,
                const std::vector<std::string>& requested = {}) {
    cpkgs_t list = universe.list(start);
    PkgManager manager(&universe.repository, &list, removeTree);
    manager.setOsArch("x86_64");
    manager.addRequested(universe.list(requested));
    Outcome outcome;
    try {
        manager.blackListUnresolved();
        manager.findNecessaryPackages(false);
    } catch (const error& e) {
        outcome.failed = true;
        outcome.failure = e;
        if (!manager.getProblems().empty())
            outcome.report = manager.getProblemsReport();
    }
    outcome.necessary = print(list);
    for (const auto& entry : manager.getBlackList())
        outcome.black.push_back(print(entry.first));
    return outcome;
}

class PkgManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        Log::setFileThreshold(3);
        Log::open_file(dir.file("log"), true);
    }
    std::string log() const { return testsupport::readFile(dir.file("log")); }

    testsupport::TempDir dir;
};

struct Scenario {
    const char* title;
    const char* fixture;
    std::vector<std::string> start;
    bool removeTree;
    const char* preferred;
    std::vector<std::string> expected;
};

TEST_F(PkgManagerTest, ResolvesScenarios) {
    const Scenario scenarios[] = {
        {"a plain chain",
         "chain",
         {"a-1.0-1.noarch"},
         false,
         nullptr,
         {"a-1.0-1.noarch", "b-1.0-1.noarch", "c-1.0-1.noarch"}},
        // Same name: the higher version, the system architecture, the installed package.
        {"priority",
         "priority",
         {"app-1.0-1.noarch"},
         false,
         nullptr,
         {"app-1.0-1.noarch", "lib-2.0-1.x86_64", "libarch-1.0-1.x86_64", "libinst-1.0-1.x86_64"}},
        {"gravity 1: already chosen",
         "gravity",
         {"app1-1.0-1.noarch"},
         false,
         nullptr,
         {"app1-1.0-1.noarch", "postfix-1.0-1.x86_64"}},
        {"gravity 2: installed",
         "gravity",
         {"app2-1.0-1.noarch"},
         false,
         nullptr,
         {"app2-1.0-1.noarch", "sendmail-1.0-1.x86_64"}},
        {"gravity 2: nothing new needed",
         "gravity",
         {"app3-1.0-1.noarch"},
         false,
         nullptr,
         {"app3-1.0-1.noarch", "msmtp-1.0-1.x86_64"}},
        {"gravity 3: preferred",
         "gravity",
         {"app4-1.0-1.noarch"},
         false,
         "prefb",
         {"app4-1.0-1.noarch", "prefb-1.0-1.x86_64"}},
        {"gravity 4: fewer installs in a trial",
         "gravity",
         {"app5-1.0-1.noarch"},
         false,
         nullptr,
         {"app5-1.0-1.noarch", "small-1.0-1.x86_64", "dep1-1.0-1.x86_64", "dep2-1.0-1.x86_64"}},
        {"gravity 5: higher versioned provide",
         "gravity",
         {"app6-1.0-1.noarch"},
         false,
         nullptr,
         {"app6-1.0-1.noarch", "highprov-1.0-1.x86_64"}},
        {"black-listing restart",
         "restart",
         {"a-1.0-1.noarch"},
         false,
         nullptr,
         {"a-1.0-1.noarch", "lib-1.0-1.x86_64"}},
        {"obsoleted requirement fixed by upgrade",
         "obsoletes",
         {"newx-2.0-1.x86_64"},
         false,
         nullptr,
         {"newx-2.0-1.x86_64", "app-2.0-1.x86_64"}},
        {"conflict solved by upgrade",
         "upgrade",
         {"newpkg-1.0-1.x86_64"},
         false,
         nullptr,
         {"newpkg-1.0-1.x86_64", "tool-2.0-1.x86_64"}},
        {"conflict solved by replace",
         "replace",
         {"lib-2.0-1.x86_64"},
         false,
         nullptr,
         {"lib-2.0-1.x86_64", "compat-lib-1.0-1.x86_64"}},
        {"removal allowed: broken requirer",
         "removal",
         {"lib-2.0-1.x86_64"},
         true,
         nullptr,
         {"lib-2.0-1.x86_64", "dummy_obsoleter_app-0.0"}},
        {"removal allowed: conflicting package",
         "removal",
         {"newpkg-1.0-1.x86_64"},
         true,
         nullptr,
         {"newpkg-1.0-1.x86_64", "dummy_obsoleter_tool-0.0"}},
        {"multiarch upgrade",
         "multiarch",
         {"libm-2.0-1.x86_64"},
         false,
         nullptr,
         {"libm-2.0-1.x86_64", "libm-2.0-1.i686"}},
        // A requested package that a dependency needs in a newer version gives way to it.
        // Providers that nothing tells apart: the first one, rather than giving up the requirement.
        {"equal providers",
         "unsolvable",
         {"tie-1.0-1.noarch"},
         false,
         nullptr,
         {"tie-1.0-1.noarch", "t1-1.0-1.noarch"}},
        // The system already holds them together, whatever their metadata says.
        {"two installed packages that conflict",
         "installedpair",
         {"app-1.0-1.noarch"},
         false,
         nullptr,
         {"app-1.0-1.noarch", "x-1.0-1.noarch", "y-1.0-1.noarch"}},
        {"requested package replaced by a newer one",
         "replaced",
         {"lib-1.0-1.x86_64", "app-1.0-1.noarch"},
         false,
         nullptr,
         {"app-1.0-1.noarch", "lib-2.0-1.x86_64"}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.title);
        PkgManager::preferredPackages().clear();
        if (scenario.preferred)
            PkgManager::preferredPackages().insert(scenario.preferred);
        Universe universe(scenario.fixture);
        Outcome outcome = resolve(universe, scenario.start, scenario.removeTree);
        EXPECT_FALSE(outcome.failed) << outcome.failure.getText();
        EXPECT_THAT(outcome.necessary, ElementsAreArray(scenario.expected));
    }
    PkgManager::preferredPackages().clear();
}

TEST_F(PkgManagerTest, RestartKeepsTheBlackList) {
    Universe universe("restart");
    Outcome outcome = resolve(universe, {"a-1.0-1.noarch"}, false);
    EXPECT_THAT(outcome.black, ::testing::UnorderedElementsAre("lib-2.0-1.x86_64", "z-1.0-1.x86_64"));
    EXPECT_THAT(log(), HasSubstr("Unhappy caught; try to resolve again."));
}

TEST_F(PkgManagerTest, RemovalWithoutRemoveTreeFails) {
    struct Case {
        const char* start;
        const char* victim;
    };
    const Case cases[] = {{"lib-2.0-1.x86_64", "app-1.0-1.x86_64"},
                          {"newpkg-1.0-1.x86_64", "tool-1.0-1.x86_64"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        Universe universe("removal");
        Outcome outcome = resolve(universe, {c.start}, false);
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.failure.getClass(), 5);
        EXPECT_EQ(outcome.failure.getSupport(), 2);
        EXPECT_THAT(outcome.failure.getText(),
                    HasSubstr(Messages().format("err_deps_badpkg", std::string(c.victim))));
    }
}

TEST_F(PkgManagerTest, RequestedPackageIsNeverRemoved) {
    // The requested installed package stays, so the package that conflicts with it cannot come.
    Universe universe("removal");
    Outcome outcome = resolve(universe, {"newpkg-1.0-1.x86_64"}, true, {"tool-1.0-1.x86_64"});
    ASSERT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.failure.getClass(), 5);
    EXPECT_THAT(outcome.failure.getText(),
                HasSubstr(Messages().format("err_deps_resolve_build", std::string("newpkg-1.0-1.x86_64"))));
    EXPECT_THAT(outcome.report,
                HasSubstr(Messages().format("err_pkg_clash", std::string("newpkg-1.0-1.x86_64"),
                                            std::string("tool-1.0-1.x86_64"))));
    for (const std::string& package : outcome.necessary)
        EXPECT_THAT(package, ::testing::Not(HasSubstr("dummy_obsoleter")));
}

std::string unresolvedText(const std::string& package, const std::string& dependency) {
    return Messages().format("err_dep_from_pkg_unresolved", package, dependency);
}

std::string missingText(const std::string& dependency, const std::string& package) {
    return Messages().format("err_deps_install_build", dependency, package) + "\n";
}

TEST_F(PkgManagerTest, ProblemReportsOfUnsolvableRequests) {
    const std::string head = "\n\n" + Messages().getMessage("deps_report_head") + "\n";
    const std::string a = "a-1.0-1.noarch", b = "b-1.0-1.noarch", c = "c-1.0-1.noarch", d = "d-1.0-1.noarch",
                      e = "e-1.0-1.noarch", first = "first-1.0-1.noarch", front = "front-1.0-1.noarch",
                      second = "second-1.0-1.noarch";
    // Two requested packages that conflict: one problem of several lines, telling why each was chosen.
    const std::string clash = Messages().format("err_pkg_clash", first, second) + "\n" +
                              Messages().format("err_pkg_depconfl", second, std::string("first")) + "\n" +
                              Messages().format("pkg_select_reason", second) + "\n" +
                              Messages().format("pkg_select_depend", std::string("second"), front) + "\n";
    struct Case {
        const char* fixture;
        std::vector<std::string> start;
        std::vector<std::string> requested;
        std::string failing;
        std::vector<std::string> problems;
        std::string report;
    };
    const Case cases[] = {
        {"clash", {first, front}, {second}, first, {clash}, head + clash + "\n"},
        {"unsolvable",
         {a},
         {},
         a,
         {unresolvedText(a, "b"), unresolvedText(b, "missing"), missingText("missing", b)},
         head + "1) " + unresolvedText(a, "b") + "\n" + "2) " + unresolvedText(b, "missing") + "\n" + "3) " +
             missingText("missing", b) + "\n"},
        {"unsolvable",
         {c},
         {},
         c,
         {unresolvedText(c, "d"), unresolvedText(d, "e"), unresolvedText(e, "missing"),
          missingText("missing", e)},
         head + "1) " + unresolvedText(c, "d") + "\n" + "2) " + unresolvedText(d, "e") + "\n" + "3) " +
             unresolvedText(e, "missing") + "\n" + Messages().format("deps_long_report", dir.file("log")) +
             "\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.failing);
        Universe universe(test.fixture);
        cpkgs_t list = universe.list(test.start);
        PkgManager manager(&universe.repository, &list, false);
        manager.setOsArch("x86_64");
        manager.addRequested(universe.list(test.requested));
        try {
            manager.blackListUnresolved();
            manager.findNecessaryPackages(false);
            ADD_FAILURE() << "resolved";
        } catch (const error& failure) {
            EXPECT_EQ(failure.getClass(), 5);
            EXPECT_THAT(failure.getText(),
                        HasSubstr(Messages().format("err_deps_resolve_build", test.failing)));
        }
        EXPECT_THAT(manager.getProblems(), ElementsAreArray(test.problems));
        EXPECT_EQ(manager.getProblemsReport(), test.report);
    }
}

TEST_F(PkgManagerTest, FailureExitsOfTheMainLoop) {
    struct Case {
        const char* title;
        std::function<void()> run;
        int support;
        std::string text;
    };
    std::vector<std::unique_ptr<Package>> owned;
    const Case cases[] = {
        // Each pass black-lists the newest provider of "x"; the third pass reaches the limit of three.
        {"pass limit",
         [&owned] {
             Repository repository;
             std::vector<Package*> providers;
             for (const char* version : {"1.0", "1.1", "1.2"}) {
                 providers.push_back(packagetest::makePackage(owned, "x", version, 'u', "noarch"));
                 providers.back()->addRequire("y");
                 repository.addPackage(providers.back(), nullptr);
             }
             repository.resolveRequires();
             Package* top = packagetest::makePackage(owned, "top", "1.0", 'u', "noarch");
             top->addRequire("x");
             for (Package* provider : providers)
                 top->getRequire(0)->addProvider(provider->getSelfProvide());
             cpkgs_t list = {top};
             PkgManager manager(&repository, &list, false);
             manager.setOsArch("x86_64");
             manager.findNecessaryPackages(false);
         },
         3, Messages().getMessage("err_bad_deps")},
        // The trial package needs a newer version of itself and gives way to it.
        {"trial package black-listed",
         [] {
             Universe universe("nochance");
             cpkgs_t list = {universe.find("lib-1.0-1.noarch")};
             PkgManager manager(&universe.repository, &list, false);
             manager.setOsArch("x86_64");
             manager.findNecessaryPackages(true);
         },
         3, Messages().getMessage("err_deps_nochance")},
        {"dummy owner without candidates",
         [] {
             Universe universe("chain");
             cpkgs_t list = {universe.find("a-1.0-1.noarch")};
             PkgManager manager(&universe.repository, &list, false);
             manager.selectBestResolvers(std::make_shared<DependencyLogical>("nothing", nullptr), 1, false);
         },
         2, "Can't find solution for 'nothing' of dummy_masterpackage_for_dependency-1.2.3."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        try {
            c.run();
            ADD_FAILURE() << "resolved";
        } catch (const error& e) {
            EXPECT_EQ(e.getClass(), 5);
            EXPECT_EQ(e.getSupport(), c.support);
            EXPECT_THAT(e.getText(), HasSubstr(c.text));
        }
    }
}

TEST_F(PkgManagerTest, ClashExplanations) {
    std::vector<std::unique_ptr<Package>> owned;
    auto make = [&owned](const char* name, const char* version, Package::type_t type) {
        return packagetest::makePackage(owned, name, version, type, "noarch");
    };
    auto file = [](Package* package, const char* digest) {
        package->addProvide(DependencyFile::create("/etc/shared.conf", 0100644, digest, package));
    };
    Package* installedLib = make("lib", "2.0", 's');
    Package* newLib = make("lib", "2.0", 'u');
    Package* oldLib = make("lib", "1.0", 'u');
    Package* one = make("one", "1.0", 'u');
    Package* two = make("two", "1.0", 'u');
    Package* plain = make("plain", "1.0", 'u');
    file(one, "0123456789abcdef0123456789abcdef");
    file(two, "fedcba9876543210fedcba9876543210");
    Repository repository;
    for (Package* package : {installedLib, newLib, oldLib, one, two, plain})
        repository.addPackage(package, nullptr);
    repository.resolveRequires();
    const std::string clashOfOneAndTwo = Messages().format("err_pkg_clash", print(one), print(two)) + "\n";
    struct Case {
        const Package* first;
        const Package* second;
        std::string text;
    };
    const Case cases[] = {
        {oldLib, installedLib,
         Messages().format("err_pkg_downgrade", std::string("lib"), std::string("1.0"), std::string("2.0")) +
             "\n"},
        // Only an installed version makes it a downgrade.
        {oldLib, newLib, Messages().format("err_pkg_clash", print(oldLib), print(newLib)) + "\n.\n"},
        {one, two,
         clashOfOneAndTwo + Messages().format("err_pkg_fileconfl", std::string("/etc/shared.conf")) + "\n"},
        {one, plain, Messages().format("err_pkg_clash", print(one), print(plain)) + "\n.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(print(c.first) + " " + print(c.second));
        cpkgs_t list = {c.first};
        PkgManager manager(&repository, &list, false);
        manager.explainClash(c.first, c.second);
        ASSERT_EQ(manager.getProblems().size(), 1u);
        EXPECT_EQ(manager.getProblems().back(), c.text);
    }
}

TEST_F(PkgManagerTest, BlackListingSpreadsThroughSoleProviders) {
    Universe universe("spread");
    cpkgs_t list = {universe.find("d-1.0-1.noarch")};
    PkgManager manager(&universe.repository, &list, false);
    const Package* c = universe.find("c-1.0-1.noarch");
    EXPECT_THROW(manager.appendBlackPackage(c, reason_ptr(new ReasonClash(c, list[0]))), PkgManager::unhappy);
    // b had only c, a only b; d keeps e for its capability.
    std::vector<std::string> black;
    for (const auto& entry : manager.getBlackList())
        black.push_back(print(entry.first));
    EXPECT_THAT(black, ::testing::UnorderedElementsAre("a-1.0-1.noarch", "b-1.0-1.noarch", "c-1.0-1.noarch"));
}

TEST_F(PkgManagerTest, TwinsFromTwoSourcesAreBlackListedTogether) {
    Universe universe("twins");
    std::vector<const Package*> twins;
    for (const Package* package : universe.repository.getPackages())
        twins.push_back(package);
    ASSERT_EQ(twins.size(), 2u);
    Package top("top", "1.0");
    top.setType('u');
    cpkgs_t list = {&top};
    PkgManager manager(&universe.repository, &list, false);
    EXPECT_THROW(
        manager.appendBlackPackage(twins[1], reason_ptr(new ReasonUnresolved(twins[1]->getRequire(0)))),
        PkgManager::unhappy);
    ASSERT_EQ(manager.getBlackList().size(), 2u);
    for (const Package* twin : twins) {
        auto* reason = dynamic_cast<const ReasonUnresolved*>(manager.getBlackList().at(twin).get());
        ASSERT_NE(reason, nullptr);
        // Each twin's reason names its own requirement.
        EXPECT_EQ(reason->getDependency(), twin->getRequire(0));
    }
}

TEST_F(PkgManagerTest, ConflictOfChosenPackagesBlackListsTheLoserOfTheTrials) {
    Universe universe("clash");
    // Neither is requested: the trials decide; blacking "first" breaks nothing that was asked for.
    Outcome outcome = resolve(universe, {"front-1.0-1.noarch"}, false);
    EXPECT_FALSE(outcome.failed) << outcome.failure.getText();
    EXPECT_THAT(outcome.necessary, ElementsAreArray({"front-1.0-1.noarch", "second-1.0-1.noarch"}));
}

TEST_F(PkgManagerTest, AppendingSameNameAndVersion) {
    Universe universe("multiarch");
    const Package* x86 = universe.find("libm-2.0-1.x86_64");
    const Package* i686 = universe.find("libm-2.0-1.i686");
    cpkgs_t list = {x86};
    PkgManager manager(&universe.repository, &list, false);
    manager.appendNecessaryPackage(x86);
    manager.appendNecessaryPackage(i686);
    manager.appendNecessaryPackage(i686);
    EXPECT_THAT(print(list), ElementsAreArray({"libm-2.0-1.x86_64", "libm-2.0-1.i686"}));
}

TEST_F(PkgManagerTest, AppendingAnotherVersionBlackListsTheOlder) {
    Universe universe("priority");
    cpkgs_t list = {universe.find("app-1.0-1.noarch")};
    PkgManager manager(&universe.repository, &list, false);
    manager.setOsArch("x86_64");
    manager.appendNecessaryPackage(universe.find("lib-1.0-1.x86_64"));
    EXPECT_THROW(manager.appendNecessaryPackage(universe.find("lib-2.0-1.x86_64")), PkgManager::unhappy);
    ASSERT_EQ(manager.getBlackList().size(), 1u);
    EXPECT_EQ(print(manager.getBlackList().begin()->first), "lib-1.0-1.x86_64");
}

TEST_F(PkgManagerTest, ArchitectureOrder) {
    Universe universe("multiarch");
    auto make = [](const char* arch) {
        auto package = std::make_unique<Package>("x", "1.0");
        package->setArch(arch);
        package->setType('u');
        return package;
    };
    auto i386 = make("i386"), i586 = make("i586"), i686 = make("i686"), x86 = make("x86_64");
    cpkgs_t list = {i686.get()};
    struct Case {
        const char* os;
        const Package* a;
        const Package* b;
        int expected;
    };
    const Case cases[] = {
        {"i386", i686.get(), i586.get(), 1}, // "i386" stands for "i686"
        {"i386", i586.get(), i686.get(), -1},   {"x86_64", i686.get(), i586.get(), 1}, // by the text
        {"x86_64", i386.get(), i586.get(), -1}, {"x86_64", x86.get(), i686.get(), 1},
        {"powerpc", i686.get(), i586.get(), 0}, {"x86_64", x86.get(), x86.get(), 0},
    };
    for (const Case& c : cases) {
        PkgManager manager(&universe.repository, &list, false);
        manager.setOsArch(c.os);
        EXPECT_EQ(manager.cmpArchPriority(c.a, c.b), c.expected)
            << c.os << " " << print(c.a) << " " << print(c.b);
    }
    PkgManager manager(&universe.repository, &list, false);
    try {
        manager.cmpArchPriority(x86.get(), i686.get());
        ADD_FAILURE() << "no error without os_arch";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("os_arch is not defined in packages resolver"));
    }
    EXPECT_TRUE(PkgManager::isArchCompatible("i386", "i686"));
    EXPECT_FALSE(PkgManager::isArchCompatible("i686", "x86_64"));
}

TEST_F(PkgManagerTest, DummiesAreNeverComparedByType) {
    Universe universe("chain");
    cpkgs_t list = {universe.find("a-1.0-1.noarch")};
    PkgManager manager(&universe.repository, &list, false);
    Package dummy("d", "1.0"), purged("z", "1.0"), plain("p", "1.0");
    dummy.setType('d');
    purged.setType('z');
    plain.setType('u');
    const std::pair<const Package*, const Package*> pairs[] = {
        {&dummy, &plain}, {&plain, &dummy}, {&purged, &plain}, {&plain, &purged}};
    const int lines[] = {2357, 2358, 2360, 2361};
    for (int i = 0; i < 4; ++i) {
        try {
            manager.cmpDirPriority(pairs[i].first, pairs[i].second);
            ADD_FAILURE() << "compared";
        } catch (const error& e) {
            EXPECT_THAT(e.getText(), HasSubstr("line " + std::to_string(lines[i])));
        }
    }
}

TEST_F(PkgManagerTest, StatisticsCountRemoversAndSkipInstalled) {
    Universe universe("removal");
    Package build("fresh", "1.0");
    build.setType('b');
    build.setSize(100);
    Package update("lib", "3.0");
    update.setType('u');
    update.setSize(20);
    const Package* installed = universe.find("tool-1.0-1.x86_64");
    const Package* remover = universe.repository.addRemoverFor("tool");
    cpkgs_t list = {&build, &update, installed, remover};
    PkgManager manager(&universe.repository, &list, true);
    PkgManager::Statistics s;
    manager.getStatistics(s);
    EXPECT_EQ(s.buildInstall, 1);
    EXPECT_EQ(s.buildSize, 100);
    EXPECT_EQ(s.updateUpgrade, 1); // lib is installed
    EXPECT_EQ(s.updateInstall, 0);
    EXPECT_EQ(s.updateRemove, 1);
    EXPECT_EQ(s.updateSize, 20);
    EXPECT_EQ(s.buildRemove, 0);
    EXPECT_EQ(s.totalInstall, 1);
    EXPECT_EQ(s.totalUpgrade, 1);
    EXPECT_EQ(s.totalRemove, 1);
    EXPECT_EQ(s.totalSize, 120);
}

TEST_F(PkgManagerTest, EmptyStartListFails) {
    Universe universe("chain");
    cpkgs_t list;
    PkgManager manager(&universe.repository, &list, false);
    try {
        manager.findNecessaryPackages(false);
        ADD_FAILURE() << "resolved";
    } catch (const error& e) {
        EXPECT_EQ(e.getClass(), 3);
        EXPECT_THAT(e.getText(), HasSubstr("start packages list for resolver is empty"));
    }
}

TEST_F(PkgManagerTest, CandidatesOfOneNameTieByIndexAndIgnoredRequirementsResolve) {
    Universe universe("chain");
    const Package* owner = universe.find("a-1.0-1.noarch");
    cpkgs_t list = {owner};
    PkgManager manager(&universe.repository, &list, false);
    manager.setOsArch("x86_64");

    // Two equal packages of one name: the lower index wins.
    Package one("twin", "1.0"), two("twin", "1.0");
    one.setType('u');
    two.setType('u');
    auto requirement = std::make_shared<DependencyLogical>("twin", owner);
    requirement->addProvider(two.getSelfProvide());
    requirement->addProvider(one.getSelfProvide());
    EXPECT_TRUE(manager.selectBestResolvers(requirement, 1, false));
    EXPECT_EQ(list.back(), &two);
    // Already resolved: nothing happens the second time.
    EXPECT_TRUE(manager.selectBestResolvers(requirement, 1, false));
    EXPECT_EQ(list.size(), 2u);

    auto ignored = std::make_shared<DependencyLogical>("rpmlib(PayloadIsXz) <= 5.2-1", owner);
    EXPECT_TRUE(manager.selectBestResolvers(ignored, 1, false));
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(PkgManagerTest, TrialsDoNotChangeTheRepository) {
    Universe universe("removal");
    const size_t before = universe.repository.getPackages().size();
    Outcome outcome = resolve(universe, {"lib-2.0-1.x86_64"}, true);
    ASSERT_FALSE(outcome.failed);
    // The remover joined this repository; a trial's removers would not have.
    EXPECT_EQ(universe.repository.getPackages().size(), before + 1);
}

TEST_F(PkgManagerTest, DeferredListKeepsOneDependencyPerName) {
    Universe universe("chain");
    cpkgs_t list = {universe.find("a-1.0-1.noarch")};
    PkgManager manager(&universe.repository, &list, false);
    manager.addDeferred(std::make_shared<DependencyLogical>("x >= 1", nullptr));
    manager.addDeferred(std::make_shared<DependencyLogical>("x < 3", nullptr));
    manager.addDeferred(std::make_shared<DependencyLogical>("y", nullptr));
    EXPECT_EQ(manager.getDeferred().size(), 2u);
    EXPECT_THAT(log(), HasSubstr(" is already in deffered list, skip"));
}

} // namespace
