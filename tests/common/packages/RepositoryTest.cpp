#include "common/packages/Repository.h"

#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Package.h"
#include "common/packages/Source.h"
#include "common/runtime/error.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using packagetest::print;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

std::vector<std::string> listed(const Repository& repository) {
    std::vector<std::string> texts;
    for (const Package* package : repository.getPackages())
        texts.push_back(print(package));
    return texts;
}

// A source whose brief read adds what the test gives it and counts its reads.
class ListSource : public Source {
public:
    using Source::Source;
    std::vector<Package*> brief;
    std::vector<Package*> full;
    int briefReads = 0;
    int fullReads = 0;
    bool failBrief = false;

protected:
    void doGetBrief() override {
        ++briefReads;
        if (failBrief)
            throw error(4, 1, 1, 2) << "no brief today";
        for (Package* package : brief)
            getRepository()->addPackage(package, this);
    }
    void doGetFull() override {
        ++fullReads;
        for (Package* package : full)
            getRepository()->addPackage(package, this);
    }
};

class RepositoryTest : public ::testing::Test {
protected:
    // A package that lives as long as the test; packages outlive every repository that lists them.
    Package* make(const std::string& name, const std::string& version, Package::type_t type = 'b',
                  const std::string& arch = "x86_64") {
        return packagetest::makePackage(owned, name, version, type, arch);
    }
    Package* add(Repository& repository, const std::string& name, const std::string& version,
                 Package::type_t type = 'b', const std::string& arch = "x86_64") {
        Package* package = make(name, version, type, arch);
        repository.addPackage(package, nullptr);
        return package;
    }
    void file(Package* package, const std::string& path, int mode, const std::string& digest) {
        package->addProvide(DependencyFile::create(path, mode, digest, package));
    }
    void readCache(Repository& repository, const std::string& text, Repository::dups_mode_t mode,
                   Source* source, Package::type_t type = 's') {
        std::string path = dir.file("cache" + std::to_string(++caches));
        testsupport::writeFile(path, text);
        FILE* in = fopen(path.c_str(), "re");
        ASSERT_NE(in, nullptr);
        try {
            repository.addFromCache(in, type, mode, source);
        } catch (...) {
            fclose(in);
            throw;
        }
        fclose(in);
    }

    testsupport::TempDir dir;
    int caches = 0;
    std::vector<std::unique_ptr<Package>> owned;
    Repository repository;
};

const char* const digestA = "0123456789abcdef0123456789abcdef";
const char* const digestB = "fedcba9876543210fedcba9876543210";

TEST_F(RepositoryTest, AddPackageListsAnObjectOnceAndSetsItsSource) {
    ListSource source(&repository);
    Package* package = make("a", "1.0-1");
    EXPECT_TRUE(repository.addPackage(package, &source));
    EXPECT_FALSE(repository.addPackage(package, &source));
    EXPECT_EQ(package->getSource(), &source);
    EXPECT_EQ(repository.getPackages().size(), 1u);
}

TEST_F(RepositoryTest, DuplicateCacheRecordsFollowTheDupsMode) {
    const std::string record = "F:x-1.0-1.noarch.rpm\nN:x\nV:1.0\nL:1\nA:noarch\nR:first\nX:\n";
    const std::string again = "F:x-1.0-1.noarch.rpm\nN:x\nV:1.0\nL:1\nA:noarch\nR:second\nX:\n";
    struct Case {
        Repository::dups_mode_t mode;
        bool otherSource;
        size_t count;
        const char* requirementOfFirstObject;
    } cases[] = {
        {Repository::DUPS_APPEND, false, 2, "first"},
        {Repository::DUPS_KEEP_OLD, false, 1, "first"},
        {Repository::DUPS_REPLACE_SAME_SOURCE, false, 1, "second"},
        {Repository::DUPS_REPLACE_SAME_SOURCE, true, 2, "first"},
        {Repository::DUPS_REPLACE, true, 1, "second"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << (c.otherSource ? " other source" : ""));
        Repository target;
        ListSource one(&target);
        ListSource two(&target);
        readCache(target, record, Repository::DUPS_APPEND, &one);
        Package* first = target.getPackages()[0];
        readCache(target, "\n\n" + again, c.mode, c.otherSource ? &two : &one);
        ASSERT_EQ(target.getPackages().size(), c.count);
        // A replaced object stays usable: it receives the new record's lists.
        ASSERT_NE(first->getRequire(0), nullptr);
        EXPECT_EQ(first->getRequire(0)->getName(), c.requirementOfFirstObject);
        EXPECT_EQ(target.getPackagesByName(PooledString("x")).size(), c.count);
    }
}

TEST_F(RepositoryTest, AFailingCacheRecordKeepsTheRecordsBeforeIt) {
    EXPECT_THROW(readCache(repository, "N:a\nV:1\nX:\n\nN:b\nX:\n", Repository::DUPS_APPEND, nullptr), error);
    EXPECT_THAT(listed(repository), ElementsAre("a-1.all"));
    EXPECT_NE(repository.findLatest("a"), nullptr);
}

TEST_F(RepositoryTest, LookupsByNameVersionAndCapability) {
    Package* old = add(repository, "lib", "1.0-1", 's');
    Package* newer = add(repository, "lib", "2.0-1", 'u');
    Package* installedNewest = add(repository, "lib", "1.5-1", 's');
    Package* i686 = add(repository, "lib", "2.0-1", 'u', "i686");
    old->addProvide("libfoo.so = 1");
    newer->addProvide("libfoo.so = 2");
    Package* other = add(repository, "tool", "3-1");
    other->addProvide("/usr/bin/tool");
    repository.markStale();

    EXPECT_EQ(repository.findLatest("lib"), newer);
    EXPECT_EQ(repository.findLatest("none"), nullptr);
    EXPECT_EQ(repository.findInstalled(PooledString("lib")), installedNewest);
    EXPECT_EQ(repository.findLatestIf("lib", [&](const Package* p) { return p != newer; }), i686);
    EXPECT_EQ(repository.findPackage(PooledString("lib"), Version("2.0-1"), "i686"), i686);
    EXPECT_EQ(repository.findPackage(PooledString("lib"), Version("2.0-2"), "i686"), nullptr);
    EXPECT_EQ(repository.findBestProvider("libfoo.so"), newer);
    EXPECT_EQ(repository.findBestProvider("libfoo.so = 2"), nullptr);
    EXPECT_EQ(repository.findBestProvider("/usr/bin/tool"), other);
    DependencyLogical wanted("libfoo.so >= 2", nullptr);
    EXPECT_EQ(repository.findProvides(wanted).size(), 2u);
}

TEST_F(RepositoryTest, ResolvingLinksRequirementsToProvidersOfOtherPackages) {
    Package* app = add(repository, "app", "1-1");
    app->addRequire("libfoo >= 2");
    app->addRequire("self-feature");
    app->addRequire("missing-thing");
    app->addProvide("self-feature");
    app->addRequire("app-data");
    Package* lib1 = add(repository, "libfoo", "1-1");
    Package* lib2 = add(repository, "libfoo", "2-1");
    Package* otherApp = add(repository, "app", "0.9-1");
    otherApp->addProvide("app-data");
    Package* installed = add(repository, "old", "1-1", 's');
    installed->addRequire("gone");
    repository.markStale();
    repository.resolveRequires();

    // Satisfied by the package itself: dropped, even though the requirement sat between others.
    std::vector<std::string> requirements;
    for (const auto& requirement : app->getRequires())
        requirements.push_back(requirement->getName());
    EXPECT_THAT(requirements, ElementsAre("libfoo", "missing-thing", "app-data"));

    const Dependency& onLib = *app->getRequire(0);
    ASSERT_EQ(repository.getProviderCount(onLib), 1u);
    EXPECT_EQ(repository.getProvider(onLib, 0)->getMaster(), lib2);
    EXPECT_EQ(repository.getProvider(onLib, 1), nullptr);
    // A provide of another version of the same name does not count.
    EXPECT_EQ(repository.getProviderCount(*app->getRequire(2)), 0u);
    EXPECT_TRUE(repository.requiresPackage(app, lib2));
    EXPECT_FALSE(repository.requiresPackage(app, lib1));
    EXPECT_THAT(print(repository.getRequirers(lib2)), ElementsAre("app-1-1.x86_64"));
    // The shared dependency objects carry the same links.
    ASSERT_EQ(onLib.getProviderCount(), 1u);
    EXPECT_EQ(onLib.getProvider(0)->getMaster(), lib2);

    ASSERT_EQ(repository.getUnresolved().size(), 1u);
    EXPECT_EQ(repository.getUnresolved().begin()->first, app);
    EXPECT_EQ(repository.getUnresolved().begin()->second->getName(), "missing-thing");
    EXPECT_FALSE(repository.isUnresolved(installed));
}

// Enough requirers to outgrow the first size of the link tables.
TEST_F(RepositoryTest, ManyRequirersKeepTheirOrderAndEachPairOnce) {
    Package* lib = add(repository, "lib", "1-1");
    lib->addProvide("a");
    lib->addProvide("b");
    Package* compat = add(repository, "compat", "1-1");
    compat->addProvide("a");
    std::vector<Package*> apps;
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) {
        Package* app = add(repository, "app" + std::to_string(i), "1-1");
        app->addRequire("b");
        app->addRequire("a");
        apps.push_back(app);
        names.push_back(print(app));
    }
    repository.markStale();
    repository.resolveRequires();

    EXPECT_EQ(print(repository.getRequirers(lib)), names);
    EXPECT_EQ(print(repository.getRequirers(compat)), names);
    EXPECT_THAT(repository.getRequirers(apps[0]), IsEmpty());
    for (Package* app : apps) {
        const Dependency& onA = *app->getRequire(1);
        ASSERT_EQ(repository.getProviderCount(onA), 2u) << print(app);
        EXPECT_EQ(repository.getProvider(onA, 0)->getMaster(), lib);
        EXPECT_EQ(repository.getProvider(onA, 1)->getMaster(), compat);
        EXPECT_EQ(repository.getProvider(onA, 1)->getName(), "a");
        ASSERT_EQ(repository.getProviderCount(*app->getRequire(0)), 1u);
    }
}

TEST_F(RepositoryTest, ACopyResolvesWithoutChangingTheOriginal) {
    Package* app = add(repository, "app", "1-1");
    app->addRequire("feature");
    Package* first = add(repository, "first", "1-1");
    first->addProvide("feature");
    repository.markStale();
    repository.resolveRequires();

    Repository copy(repository);
    Package* second = add(copy, "second", "1-1");
    second->addProvide("feature");
    copy.markStale();
    copy.resolveRequires();
    Package* remover = copy.addRemoverFor("first");

    const Dependency& feature = *app->getRequire(0);
    EXPECT_EQ(copy.getProviderCount(feature), 2u);
    EXPECT_EQ(repository.getProviderCount(feature), 1u);
    EXPECT_EQ(repository.getProvider(feature, 0)->getMaster(), first);
    EXPECT_TRUE(copy.requiresPackage(app, second));
    EXPECT_FALSE(repository.requiresPackage(app, second));
    EXPECT_THAT(print(repository.getRequirers(second)), IsEmpty());
    EXPECT_THAT(listed(repository), ElementsAre("app-1-1.x86_64", "first-1-1.x86_64"));
    EXPECT_EQ(copy.getPackages().size(), 4u);
    EXPECT_THAT(copy.getObsoleters(first), ElementsAre(remover));
    EXPECT_THAT(repository.getObsoleters(first), IsEmpty());
    // The original's own remover is a new package, not the copy's.
    EXPECT_NE(repository.addRemoverFor("first"), remover);
}

TEST_F(RepositoryTest, CopiesAppendIndependently) {
    Package* base = add(repository, "base", "1-1");
    repository.getPackagesByName(base->getName());
    Repository left(repository);
    Repository right(repository);
    Package* l = add(left, "only-left", "1-1");
    Package* r = add(right, "only-right", "1-1");
    Package* again = add(repository, "only-original", "1-1");
    EXPECT_THAT(listed(left), ElementsAre("base-1-1.x86_64", "only-left-1-1.x86_64"));
    EXPECT_THAT(listed(right), ElementsAre("base-1-1.x86_64", "only-right-1-1.x86_64"));
    EXPECT_THAT(listed(repository), ElementsAre("base-1-1.x86_64", "only-original-1-1.x86_64"));
    EXPECT_EQ(repository.findLatest("only-left"), nullptr);
    EXPECT_EQ(left.findLatest("only-left"), l);
    EXPECT_EQ(right.findLatest("only-right"), r);
    EXPECT_EQ(repository.findLatest("only-original"), again);
    // A package listed only by a copy can still be added to the original.
    EXPECT_TRUE(repository.addPackage(l, nullptr));

    // A copy of a copy, gone before its parent appends again.
    {
        Repository nested(left);
        add(nested, "only-nested", "1-1");
        EXPECT_EQ(nested.getPackages().size(), 3u);
    }
    add(left, "left-again", "1-1");
    EXPECT_THAT(listed(left),
                ElementsAre("base-1-1.x86_64", "only-left-1-1.x86_64", "left-again-1-1.x86_64"));
    EXPECT_EQ(left.findLatest("only-nested"), nullptr);
    EXPECT_FALSE(left.addPackage(l, nullptr));
}

TEST_F(RepositoryTest, FileConflictsNeedTheSamePathWithOtherContent) {
    struct Case {
        const char* name;
        const char* otherName;
        const char* otherVersion;
        const char* otherArch;
        int mode;
        int otherMode;
        const char* content;
        const char* otherContent;
        bool conflict;
    } cases[] = {
        {"different digests", "b", "1-1", "x86_64", 0100644, 0100644, digestA, digestB, true},
        {"equal digests", "b", "1-1", "x86_64", 0100644, 0100644, digestA, digestA, false},
        {"64-digit digest equal in its first half", "b", "1-1", "x86_64", 0100644, 0100644, digestA,
         "0123456789abcdef0123456789abcdef99999999999999999999999999999999", false},
        {"a directory", "b", "1-1", "x86_64", 040755, 040755, "", "", false},
        {"links to one target", "b", "1-1", "x86_64", 0120777, 0120777, "target", "target", false},
        {"links to two targets", "b", "1-1", "x86_64", 0120777, 0120777, "target", "elsewhere", true},
        {"same name and arch, other version", "a", "2-1", "x86_64", 0100644, 0100644, digestA, digestB,
         false},
        {"same name and version, other arch", "a", "1-1", "i686", 0100644, 0100644, digestA, digestB, false},
        {"same name, other version and arch", "a", "2-1", "i686", 0100644, 0100644, digestA, digestB, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repository target;
        Package* a = add(target, "a", "1-1");
        Package* b = add(target, c.otherName, c.otherVersion, 'b', c.otherArch);
        file(a, "/usr/share/doc/a", 040755, "");
        file(b, "/usr/share/doc/a", 040755, "");
        file(a, "/etc/shared.conf", c.mode, c.content);
        file(b, "/etc/shared.conf", c.otherMode, c.otherContent);
        target.markStale();
        EXPECT_EQ(target.isConflicting(a, b), c.conflict);
        EXPECT_EQ(target.isConflicting(b, a), c.conflict);
        EXPECT_EQ(target.getConflictedBy(a).size(), c.conflict ? 1u : 0u);
    }
}

TEST_F(RepositoryTest, DeclaredConflictsAndObsoletesGoOneWay) {
    Package* mailer = add(repository, "mailer", "2-1");
    mailer->addConflict("sendmail < 9");
    mailer->addConflict("mta");
    mailer->addProvide("mta");
    mailer->addObsolete("oldmailer");
    mailer->addObsolete("mailer");
    Package* sendmail = add(repository, "sendmail", "8-1", 's');
    Package* sendmail9 = add(repository, "sendmail", "9-1");
    Package* oldmailer = add(repository, "oldmailer", "1-1", 's');
    Package* olderMailer = add(repository, "mailer", "1-1", 's');
    repository.markStale();

    EXPECT_THAT(repository.getConflicts(mailer), ElementsAre(sendmail));
    EXPECT_THAT(repository.getConflictedBy(sendmail), ElementsAre(mailer));
    EXPECT_TRUE(repository.isConflicting(mailer, sendmail));
    EXPECT_FALSE(repository.isConflicting(sendmail, mailer));
    EXPECT_FALSE(repository.isConflicting(mailer, sendmail9));
    // A package never conflicts with what it provides itself.
    EXPECT_FALSE(repository.isConflicting(mailer, mailer));
    // Obsoleting one's own name does not touch other versions.
    EXPECT_THAT(repository.getObsoletes(mailer), ElementsAre(oldmailer));
    EXPECT_THAT(repository.getObsoleters(oldmailer), ElementsAre(mailer));
    EXPECT_THAT(repository.getObsoleters(olderMailer), IsEmpty());
}

TEST_F(RepositoryTest, RemoversAreMadeOncePerName) {
    Package* tool = add(repository, "tool", "1-1", 's');
    EXPECT_THAT(repository.getObsoleters(tool), IsEmpty());
    Package* remover = repository.addRemoverFor("tool");
    EXPECT_EQ(repository.addRemoverFor("tool"), remover);
    EXPECT_EQ(print(remover), "dummy_obsoleter_tool-0.0");
    EXPECT_EQ(remover->getType(), 'd');
    EXPECT_EQ(remover->getFileName(), "dummy_remover_for_tool");
    EXPECT_TRUE(isRemoverPackage(remover));
    EXPECT_THAT(repository.getObsoletes(remover), ElementsAre(tool));
    EXPECT_THAT(repository.getObsoleters(tool), ElementsAre(remover));
    EXPECT_EQ(repository.getPackages()[1], remover);
    // A rebuild of the obsoletes keeps the pair once.
    repository.markStale();
    EXPECT_THAT(repository.getObsoleters(tool), ElementsAre(remover));

    // A remover dropped from the list is made again when asked for.
    repository.leaveOnlySystemPackages();
    Package* again = repository.addRemoverFor("tool");
    EXPECT_NE(again, remover);
    EXPECT_THAT(repository.getObsoleters(tool), ElementsAre(again));
}

TEST_F(RepositoryTest, PurgingAndPruningKeepTheOrder) {
    add(repository, "a", "1", 's');
    Package* b = add(repository, "b", "1", 'b');
    add(repository, "c", "1", 's');
    Package* d = add(repository, "d", "1", 'u');
    b->setType('z');
    repository.purgeRemoved();
    EXPECT_THAT(listed(repository), ElementsAre("a-1.x86_64", "c-1.x86_64", "d-1.x86_64"));
    EXPECT_THAT(repository.getRemoved(), ElementsAre(b));
    repository.leaveOnlySystemPackages();
    EXPECT_THAT(listed(repository), ElementsAre("a-1.x86_64", "c-1.x86_64"));
    EXPECT_EQ(repository.findLatest("d"), nullptr);
    EXPECT_TRUE(repository.addPackage(d, nullptr));
    EXPECT_EQ(repository.findLatest("d"), d);
}

TEST_F(RepositoryTest, CacheReadsAfterAPurgeSeeOnlyListedPackages) {
    const std::string record = "F:x-1.0-1.noarch.rpm\nN:x\nV:1.0\nL:1\nA:noarch\nR:again\nX:\n";
    const Repository::dups_mode_t modes[] = {Repository::DUPS_KEEP_OLD, Repository::DUPS_REPLACE_SAME_SOURCE,
                                             Repository::DUPS_REPLACE};
    for (Repository::dups_mode_t mode : modes) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        Repository target;
        ListSource source(&target);
        readCache(target, record, Repository::DUPS_APPEND, &source);
        target.findLatest("x"); // the name index is fresh
        target.getPackages()[0]->setType('z');
        target.purgeRemoved();
        ASSERT_NO_THROW(readCache(target, record, mode, &source));
        ASSERT_EQ(target.getPackages().size(), 1u);
        EXPECT_EQ(target.findLatest("x"), target.getPackages()[0]);
        EXPECT_EQ(target.getPackages()[0]->getType(), 's');
    }
}

TEST_F(RepositoryTest, ResolvingFillsTheRequirementsOwnProviderLists) {
    Package* lib = add(repository, "lib", "1.0");
    Package* compat = add(repository, "compat", "1.0");
    compat->addProvide("lib = 1.0");
    Package* app = add(repository, "app", "1.0");
    app->addRequire("lib");
    Package* other = add(repository, "other", "1.0");
    repository.resolveRequires();
    std::shared_ptr<Dependency> requirement = app->getRequire(0);
    ASSERT_EQ(requirement->getProviderCount(), 2u);
    EXPECT_EQ(requirement->getProvider(0)->getMaster(), lib);
    EXPECT_EQ(requirement->getProvider(1)->getMaster(), compat);
    EXPECT_TRUE(app->requiresPackage(lib));
    EXPECT_FALSE(app->requiresPackage(other));
    // Resolving again starts the lists afresh.
    repository.resolveRequires();
    EXPECT_EQ(requirement->getProviderCount(), 2u);
}

TEST_F(RepositoryTest, SourcesReadOnceAndTakeTheirPackagesAlong) {
    auto source = std::make_unique<ListSource>(&repository);
    source->brief = {make("brief", "1")};
    source->full = {make("full", "1")};
    add(repository, "own", "1");
    repository.getFull();
    repository.getFull();
    repository.getBrief();
    EXPECT_EQ(source->briefReads, 1);
    EXPECT_EQ(source->fullReads, 1);
    EXPECT_THAT(listed(repository), ElementsAre("own-1.x86_64", "brief-1.x86_64", "full-1.x86_64"));

    source->reloadBrief();
    EXPECT_THAT(listed(repository), ElementsAre("own-1.x86_64", "brief-1.x86_64"));
    EXPECT_FALSE(source->isFullRead());

    source->failBrief = true;
    EXPECT_THROW(source->reloadBrief(), error);
    EXPECT_FALSE(source->isBriefRead());

    source.reset();
    EXPECT_THAT(listed(repository), ElementsAre("own-1.x86_64"));
    EXPECT_THAT(repository.getSources(), IsEmpty());
}

TEST_F(RepositoryTest, ASourceOutlivingItsRepositoryIsDetached) {
    auto original = std::make_unique<Repository>();
    ListSource source(original.get());
    { Repository copy(*original); }
    EXPECT_EQ(source.getRepository(), original.get());
    original.reset();
    EXPECT_EQ(source.getRepository(), nullptr);
}

// Appending packages between queries indexes each new package once: the cost of a query does not
// grow with the packages that were indexed before.
TEST_F(RepositoryTest, QueriesAfterAppendsIndexOnlyTheNewPackages) {
    const size_t total = 20000;
    const size_t batch = 1000;
    for (size_t i = 0; i < total; ++i) {
        Package* package = add(repository, "pkg" + std::to_string(i), "1-1");
        package->addProvide("capability" + std::to_string(i));
        if ((i + 1) % batch == 0) {
            size_t before = repository.getRebuildCounters().packagesIndexed;
            EXPECT_EQ(repository.findBestProvider("capability" + std::to_string(i)), package);
            EXPECT_EQ(repository.findLatest("pkg" + std::to_string(i - batch + 1))->getName().str(),
                      "pkg" + std::to_string(i - batch + 1));
            // Once for the provides, once for the names.
            EXPECT_EQ(repository.getRebuildCounters().packagesIndexed - before, 2 * batch);
        }
    }
    EXPECT_EQ(repository.getRebuildCounters().fullRebuilds, 2u);

    // A copy shares the fresh indexes; a remover made in it indexes nothing.
    Repository copy(repository);
    copy.addRemoverFor("pkg7");
    EXPECT_EQ(copy.findBestProvider("capability7")->getName().str(), "pkg7");
    EXPECT_EQ(copy.getRebuildCounters().packagesIndexed, 0u);
}

} // namespace
