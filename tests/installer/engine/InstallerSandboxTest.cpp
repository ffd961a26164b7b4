// The installation stages and the group-wise installation with a recording back end. The stages
// publish progress to the shared status record, hence the sandbox.

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/error.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/Installer.h"
#include "installer/engine/SystemSpecificConfigurator.h"
#include "tests/installer/engine/InstallerTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using enginetest::PackageStore;
using enginetest::PlannedInstaller;
using enginetest::RecordingStages;
using Trace = std::vector<std::string>;

namespace {

class InstallerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(work.file("installer.log")); }

    // The trace lines of the groups only.
    Trace groups() const {
        Trace found;
        std::copy_if(trace.begin(), trace.end(), std::back_inserter(found),
                     [](const std::string& line) { return line.rfind("group ", 0) == 0; });
        return found;
    }

    // Names and types of the run's repository, in order.
    std::string repositoryState() const {
        std::string text;
        for (const Package* package : repository.getPackages())
            text += package->getName().str() + ":" + package->getType() + " ";
        return text;
    }

    testsupport::TempDir work;
    Repository repository;
    PackageStore store;
    Trace trace;
    RecordingStages stages{trace};
};

TEST_F(InstallerSandboxTest, GroupsHoldWhatMustBeInstalledTogether) {
    struct Case {
        const char* name;
        // Builds the repository and returns the plan.
        cpkgs_t (*plan)(Repository&, PackageStore&);
        Trace groups;
    } cases[] = {
        {"independent packages go one by one",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             return {s.add(r, "a", "1.0", 'b'), s.add(r, "b", "1.0", 'b')};
         },
         {"group a", "group b"}},
        {"a chain is installed from its end",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             return {s.add(r, "a", "1.0", 'b', {"b"}), s.add(r, "b", "1.0", 'b', {"c"}),
                     s.add(r, "c", "1.0", 'b')};
         },
         {"group c", "group b", "group a"}},
        {"requirements met by installed packages need no group",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             s.add(r, "lib", "1.0", 's');
             return {s.add(r, "a", "1.0", 'b', {"lib"})};
         },
         {"group a"}},
        {"packages that need each other share a group",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             return {s.add(r, "a", "1.0", 'b', {"b"}), s.add(r, "b", "1.0", 'b', {"a"}),
                     s.add(r, "c", "1.0", 'b')};
         },
         {"group b a", "group c"}},
        {"a cycle below a package is installed before it",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             return {s.add(r, "top", "1.0", 'b', {"x"}), s.add(r, "x", "1.0", 'b', {"y"}),
                     s.add(r, "y", "1.0", 'b', {"x"})};
         },
         {"group y x", "group top"}},
        {"two architectures of one version go together",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             return {s.add(r, "lib", "1.0", 'b', {}, "x86_64"), s.add(r, "a", "1.0", 'b'),
                     s.add(r, "lib", "1.0", 'b', {}, "i686")};
         },
         {"group lib.i686 lib.x86_64", "group a"}},
        {"a remover is a group of its own",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             s.add(r, "old", "1.0", 's');
             return {s.add(r, "a", "1.0", 'b'), r.addRemoverFor("old")};
         },
         {"group a", "group dummy_obsoleter_old"}},
        {"a remover that a conflicting package needs runs before it",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             s.add(r, "old", "1.0", 's');
             Package* fresh = s.add(r, "fresh", "1.0", 'b');
             fresh->addConflict("old");
             return {fresh, r.addRemoverFor("old")};
         },
         {"group dummy_obsoleter_old", "group fresh"}},
        {"installed packages and requirers are left out",
         [](Repository& r, PackageStore& s) -> cpkgs_t {
             Package* requirer = s.add(r, "wants-a", "0.0", 'd', {"a"});
             return {s.add(r, "kept", "1.0", 's'), requirer, s.add(r, "a", "1.0", 'b')};
         },
         {"group a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repository run;
        Trace lines;
        RecordingStages recording(lines);
        PlannedInstaller installer(&run, recording, lines);
        installer.plan = c.plan(run, store);
        installer.resolveDependencies();
        installer.installPackages(installer.getPackages());
        EXPECT_EQ(c.groups, lines);
    }
}

TEST_F(InstallerSandboxTest, InstalledGroupsReplaceWhatTheyUpgradeOrObsolete) {
    store.add(repository, "web", "1.0", 's');
    store.add(repository, "mailer", "1.0", 's');
    store.add(repository, "gone", "1.0", 's');
    Package* web = store.add(repository, "web", "2.0", 'b');
    Package* postman = store.add(repository, "postman", "1.0", 'b');
    postman->addObsolete("mailer");
    PlannedInstaller installer(&repository, stages, trace);
    installer.plan = {web, postman, repository.addRemoverFor("gone")};
    installer.resolveDependencies();
    installer.installPackages(installer.getPackages());

    EXPECT_EQ((Trace{"group web", "group postman", "group dummy_obsoleter_gone"}), trace);
    EXPECT_EQ("web:s postman:s dummy_obsoleter_gone:s ", repositoryState());
}

TEST_F(InstallerSandboxTest, AGroupThatCannotBeResolvedIsRefused) {
    PlannedInstaller installer(&repository, stages, trace);
    installer.plan = {store.add(repository, "a", "1.0", 'b', {"absent >= 2"})};
    installer.resolveDependencies();
    testsupport::ErrorFacts facts =
        testsupport::caught([&] { installer.installPackages(installer.getPackages()); });
    EXPECT_EQ("Unable to install the requested packages because there are package dependency problems.\n",
              facts.text);
    EXPECT_EQ((std::vector<int>{5, 1, 1, 3}),
              (std::vector<int>{facts.e_class, facts.repeat, facts.system_state, facts.support}));
    EXPECT_TRUE(groups().empty());
}

TEST_F(InstallerSandboxTest, DowngradesAreRefusedUnlessThePackageManagerSettlesVersions) {
    store.add(repository, "web", "2.0-1", 's');
    store.add(repository, "web", "1.5-1", 's');
    store.add(repository, "db", "1.0-1", 's');
    Package* olderWeb = store.add(repository, "web", "1.9-1", 'b');
    Package* newerDb = store.add(repository, "db", "1.1-1", 'b');
    Package* fresh = store.add(repository, "fresh", "1.0-1", 'b');
    Package* installedDb = repository.findInstalled(PooledString("db"));

    PlannedInstaller refusing(&repository, stages, trace);
    refusing.plan = {fresh, newerDb, installedDb, olderWeb};
    refusing.resolveDependencies();
    testsupport::ErrorFacts facts = testsupport::caught([&] { refusing.checkPackages(); });
    EXPECT_EQ("You have a newer version of the web package installed on your system.\n"
              "The installation will not continue.\n",
              facts.text);
    EXPECT_EQ((std::vector<int>{5, 1, 1, 2}),
              (std::vector<int>{facts.e_class, facts.repeat, facts.system_state, facts.support}));

    refusing.plan = {fresh, newerDb, installedDb};
    refusing.resolveDependencies();
    EXPECT_NO_THROW(refusing.checkPackages());
}

TEST_F(InstallerSandboxTest, DowngradeCheckIsLeftToAPackageManagerThatSettlesVersions) {
    store.add(repository, "web", "2.0-1", 's');
    enginetest::RecordingConfigurator yum;
    yum.settling = true;
    PlannedInstaller installer(&repository, stages, trace, &yum);
    installer.plan = {store.add(repository, "web", "1.9-1", 'b')};
    installer.resolveDependencies();
    EXPECT_NO_THROW(installer.checkPackages());
}

TEST_F(InstallerSandboxTest, StagesRunInOrderAndAFailureStopsWhereItHappens) {
    const Trace all = {"download",
                       "step install_start: Installing packages",
                       "remove extensions of 2",
                       "group boot",
                       "actions prep",
                       "group a",
                       "group b",
                       "actions post",
                       "install extensions of 2"};
    struct Case {
        const char* name;
        // A sequence of actions, or "download".
        const char* failingSequence;
        const char* failingGroup;
        Trace trace;
        std::string error;
        // Packages recorded as installed afterwards.
        std::string state;
    } cases[] = {
        {"success", "", "", all, "", "boot:s a:s b:s "},
        {"the download fails: nothing else runs",
         "download",
         "",
         {},
         "the update server is gone\n",
         "boot:b a:b b:b "},
        {"prep actions fail: no package is touched and nothing is rolled back",
         "prep",
         "",
         {all.begin(), all.begin() + 5},
         "An error occurred during performing of installation PREP actions (see log for details). "
         "Installation "
         "was rolled back.\n",
         "boot:s a:b b:b "},
        {"the transaction fails: the pkgs rollback actions run, post does not",
         "",
         "b",
         {"download", "step install_start: Installing packages", "remove extensions of 2", "group boot",
          "actions prep", "group a", "group b", "actions pkgs rollback"},
         "transaction of b failed\n",
         "boot:s a:s b:b "},
        {"post actions fail: the packages stay installed",
         "post",
         "",
         {all.begin(), all.begin() + 8},
         "An error occurred during performing of installation POST actions (see log for details).\n",
         "boot:s a:s b:s "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repository run;
        Trace lines;
        RecordingStages recording(lines);
        if (*c.failingSequence)
            recording.failing.insert(c.failingSequence);
        PlannedInstaller installer(&run, recording, lines);
        installer.bootstrapper = {store.add(run, "boot", "1.0", 'b')};
        installer.plan = {store.add(run, "a", "1.0", 'b'), store.add(run, "b", "1.0", 'b')};
        installer.failingGroup = c.failingGroup;
        installer.failingDownload = std::string(c.failingSequence) == "download";
        installer.resolveDependencies();
        if (c.error.empty()) {
            EXPECT_NO_THROW(installer.install());
        } else {
            testsupport::ErrorFacts facts = testsupport::caught([&] { installer.install(); });
            EXPECT_EQ(c.error, facts.text);
        }
        EXPECT_EQ(c.trace, lines);
        std::string state;
        for (const Package* package : run.getPackages())
            state += package->getName().str() + ":" + package->getType() + " ";
        EXPECT_EQ(c.state, state);
    }
}

TEST_F(InstallerSandboxTest, AGroupOfAnUnknownPackageKindIsRefusedAndReported) {
    PlannedInstaller installer(&repository, stages, trace);
    installer.recordGroups = false;
    installer.plan = {store.add(repository, "plain", "1.0", 'b')};
    installer.resolveDependencies();
    testsupport::ErrorFacts facts =
        testsupport::caught([&] { installer.installPackages(installer.getPackages()); });
    EXPECT_EQ("Internal error in Installer, line 251: unknown package type.\n", facts.text);
    EXPECT_EQ(3, facts.e_class);
    EXPECT_NE(std::string::npos,
              ReportError::text().find("Rpm failed to install packages:\n"
                                       "Error: Internal error in Installer, line 251: unknown "
                                       "package type.\n\n"
                                       "Command line: \n"
                                       "Return code: -1\n"
                                       "Output:\n"));
    EXPECT_EQ((Trace{"step install_install_package: Installing the package plain-1.0.noarch"}), trace);
}

// A product of `size` packages drawn from a seed: requirements on other packages of the product
// (cycles included), on capabilities that two packages provide, and on installed libraries; the plan
// lists the packages in a shuffled order.
cpkgs_t randomProduct(Repository& repository, PackageStore& store, unsigned seed, int size) {
    auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (int i = 0; i < 5; ++i)
        store.add(repository, "lib" + std::to_string(i), "1.0", 's');
    cpkgs_t plan;
    for (int i = 0; i < size; ++i) {
        std::vector<std::string>
        requires;
        for (unsigned n = next(4); n > 0; --n) {
            switch (next(3)) {
            case 0:
                requires
                .push_back("p" + std::to_string(next(size)));
                break;
            case 1:
                requires
                .push_back("cap" + std::to_string(next(size / 4 + 1)));
                break;
            default:
                requires
                .push_back("lib" + std::to_string(next(5)));
            }
        }
        Package* package = store.add(repository, "p" + std::to_string(i), "1.0", 'b', requires);
        package->addProvide("cap" + std::to_string(i / 2 % (size / 4 + 1)));
        plan.insert(plan.begin() + next(plan.size() + 1), package);
    }
    return plan;
}

// The groups as formed with a fresh resolver for every package of every walk, the installation's
// resolver answers kept for none.
Trace groupsResolvedAfresh(Repository& run, const cpkgs_t& plan) {
    Repository tiny;
    for (const Package* package : plan)
        tiny.addPackage(const_cast<Package*>(package), nullptr);
    for (Package* package : run.getPackages())
        if (package->getType() == 's')
            tiny.addPackage(package, nullptr);
    tiny.resolveRequires();
    auto needs = [&](const Package* package) {
        cpkgs_t needed;
        PkgManager resolver(&tiny, &needed, false);
        resolver.setOsArch("x86_64");
        resolver.setSolutionLevel(5);
        resolver.addRequested(plan);
        resolver.findRequiredFor(package);
        return needed;
    };
    auto installed = [](const Package* p) { return p->getType() == 's'; };
    Trace groups;
    for (;;) {
        auto first = std::find_if(plan.begin(), plan.end(), [&](const Package* p) { return !installed(p); });
        if (first == plan.end())
            return groups;
        cpkgs_t group{*first};
        for (bool stepReady = false;; stepReady = true) {
            bool ready = false;
            for (size_t index = 0; index < group.size(); ++index) {
                const Package* current = group[index];
                const cpkgs_t needed = needs(current);
                bool more = false;
                for (const Package* p : needed)
                    if (p != current && !installed(p)) {
                        more = true;
                        if (std::find(group.begin(), group.end(), p) == group.end())
                            group.push_back(p);
                    }
                if (!more) {
                    group = {current};
                    ready = true;
                }
            }
            if (ready || stepReady)
                break;
            group.erase(group.begin(), group.end() - 1);
        }
        groups.push_back("group " + enginetest::names(group));
        for (const Package* member : group)
            const_cast<Package*>(member)->setType('s');
    }
}

TEST_F(InstallerSandboxTest, KeptResolverAnswersFormTheSameGroupsAsFreshOnes) {
    for (unsigned seed : {4u, 16u, 32u, 42u}) {
        SCOPED_TRACE(seed);
        Repository fresh;
        const cpkgs_t freshPlan = randomProduct(fresh, store, seed, 40);
        const Trace expected = groupsResolvedAfresh(fresh, freshPlan);

        Repository run;
        Trace lines;
        RecordingStages recording(lines);
        PlannedInstaller installer(&run, recording, lines);
        installer.plan = randomProduct(run, store, seed, 40);
        installer.resolveDependencies();
        installer.installPackages(installer.getPackages());
        EXPECT_EQ(expected, lines);
    }
}

} // namespace
