// The resolver's plans for small RPM scenarios, checked against what dnf decides for the same
// packages. tests/fixtures/resolver/dnf/oracle builds the packages with rpmbuild, installs the
// "system" ones with dnf into a private root, asks dnf to resolve the request there, and dumps the
// root's rpm database and the available packages as package cache text for the resolver.
#include "common/packages/Package.h"
#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string dnfFixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/resolver/dnf/";

struct OracleCase {
    const char* scenario;
    // Plan lines on which the two must differ, with the reason the resolver's rules give.
    std::set<std::string> onlyOurs;
    std::set<std::string> onlyDnf;
    const char* reason;
};

std::ostream& operator<<(std::ostream& out, const OracleCase& c) {
    return out << c.scenario;
}

std::set<std::string> readLines(const std::string& path) {
    std::set<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.insert(line);
    return lines;
}

// dnf's items in the resolver's terms: the old version an upgrade or an obsoleting package
// replaces leaves with the transaction itself, so it is no item of the resolver's plan.
std::set<std::string> dnfPlan(const std::string& path) {
    std::set<std::string> plan;
    for (const std::string& line : readLines(path)) {
        const std::string action = line.substr(0, line.find(' '));
        const std::string package = line.substr(line.find(' ') + 1);
        if (action == "install" || action == "obsoleting")
            plan.insert("install " + package);
        else if (action == "upgrade")
            plan.insert("upgrade " + package);
        else if (action == "removed" || action == "erase" || action == "remove")
            plan.insert("remove " + package.substr(0, package.rfind('-', package.rfind('-') - 1)));
        else if (action != "upgraded" && action != "obsoleted")
            plan.insert(line);
    }
    return plan;
}

bool haveTools() {
    return access("/usr/bin/rpmbuild", X_OK) == 0 && access("/usr/bin/createrepo_c", X_OK) == 0 &&
           system("/usr/bin/python3 -c 'import dnf' >/dev/null 2>&1") == 0;
}

class PkgManagerDnfTest : public ::testing::TestWithParam<OracleCase> {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        Log::setFileThreshold(3);
        Log::open_file(dir.file("log"), true);
    }

    testsupport::TempDir dir;
};

TEST_P(PkgManagerDnfTest, PlanAgreesWithDnf) {
    if (!haveTools())
        GTEST_SKIP() << "rpmbuild, createrepo_c or python3-dnf missing";
    const OracleCase& c = GetParam();
    const std::string scenario = dnfFixtures + c.scenario + ".scenario";
    const std::string work = dir.file("work");
    const std::string command = "/usr/bin/python3 '" + dnfFixtures + "oracle' '" + scenario + "' '" + work +
                                "' > '" + dir.file("oracle.log") + "' 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << testsupport::readFile(dir.file("oracle.log"));

    std::vector<std::string> request;
    bool allowErasing = false;
    for (const std::string& line : readLines(scenario)) {
        std::istringstream words(line);
        std::string head;
        words >> head;
        if (head == "request")
            for (std::string word; words >> word;)
                request.push_back(word);
        else if (head == "allowerasing")
            allowErasing = true;
    }

    Repository repository;
    const std::pair<const char*, Package::type_t> caches[] = {{"/installed.cache", 's'},
                                                              {"/avail.cache", 'u'}};
    for (const auto& cache : caches) {
        FILE* in = fopen((work + cache.first).c_str(), "re");
        ASSERT_NE(in, nullptr) << cache.first;
        repository.addFromCache(in, cache.second, Repository::DUPS_APPEND, nullptr);
        fclose(in);
    }
    repository.resolveRequires();

    // "name" or "name-version", as dnf takes them.
    cpkgs_t start;
    for (const std::string& wanted : request) {
        const Package* found = nullptr;
        for (const Package* package : repository.getPackages()) {
            if (package->getType() == 's')
                continue;
            const std::string name = package->getName().str();
            if (wanted != name && wanted != name + "-" + package->getVersion().version)
                continue;
            if (!found || package->getVersion().compare(found->getVersion()) > 0)
                found = package;
        }
        ASSERT_NE(found, nullptr) << wanted;
        start.push_back(found);
    }

    cpkgs_t necessary = start;
    PkgManager manager(&repository, &necessary, allowErasing);
    manager.setOsArch("x86_64");
    manager.addRequested(start);
    std::set<std::string> ours;
    try {
        manager.blackListUnresolved();
        manager.findNecessaryPackages(false);
    } catch (const error& e) {
        ASSERT_EQ(e.getClass(), error::dependencies) << e.getText();
        // dnf writes the same line when it finds no solution.
        ours.insert("unsolvable");
        necessary.clear();
    }
    for (const Package* package : necessary) {
        if (isRemoverPackage(package))
            ours.insert("remove " + package->getObsolete(0)->getName());
        else if (package->getType() != 's')
            ours.insert((repository.findInstalled(package->getName()) ? "upgrade " : "install ") +
                        packagetest::print(package));
    }
    const std::set<std::string> theirs = dnfPlan(work + "/dnf.plan");

    std::set<std::string> onlyOurs, onlyDnf;
    for (const std::string& line : ours)
        if (!theirs.count(line))
            onlyOurs.insert(line);
    for (const std::string& line : theirs)
        if (!ours.count(line))
            onlyDnf.insert(line);
    EXPECT_EQ(onlyOurs, c.onlyOurs) << c.reason;
    EXPECT_EQ(onlyDnf, c.onlyDnf) << c.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PkgManagerDnfTest,
    ::testing::Values(
        OracleCase{"chain", {}, {}, ""}, OracleCase{"newest", {}, {}, ""},
        // Between providers of different names the resolver prefers, on its second level, the one
        // that needs no further package; dnf takes the first provider it finds and its requirement.
        OracleCase{"fewest",
                   {"install small-1.0-1.noarch"},
                   {"install big-1.0-1.noarch", "install extra-1.0-1.noarch"},
                   "providers of different names are chosen by the resolver's levels"},
        OracleCase{"obsoletes", {}, {}, ""}, OracleCase{"upgrade", {}, {}, ""},
        OracleCase{"hardwired", {}, {}, ""}, OracleCase{"replace", {}, {}, ""},
        OracleCase{"removal", {}, {}, ""},
        // Universes that random tests turned up.
        OracleCase{"../random/obsoleted-dependency", {}, {}, ""},
        OracleCase{"../random/obsoleted-provider", {}, {}, ""},
        OracleCase{"../random/older-version", {}, {}, ""},
        OracleCase{"../random/older-version-refused", {}, {}, ""},
        OracleCase{"../random/requested-conflict", {}, {}, ""},
        // dnf lets a package that obsoletes the requested one stand in for it; the resolver
        // installs what was asked for or fails.
        OracleCase{"../random/required-obsoleter",
                   {"unsolvable"},
                   {"install p03-1.0-1.noarch"},
                   "a requested package is never replaced by its obsoleter"},
        OracleCase{
            "../random/installed-obsoleter", {"unsolvable"}, {}, "an installed obsoleter does not stand in"},
        OracleCase{"../random/installed-obsoleter-removed",
                   {"install p03-1.0-1.noarch", "remove p09"},
                   {},
                   "an installed obsoleter does not stand in"}),
    [](const ::testing::TestParamInfo<OracleCase>& info) {
        std::string name = info.param.scenario;
        name = name.substr(name.rfind('/') + 1);
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

} // namespace
