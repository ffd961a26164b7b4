#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>

#include <boost/smart_ptr/bad_weak_ptr.hpp>

#include <algorithm>

using namespace cataloguetest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class BuildManagerTest : public CatalogueTest {
protected:
    // Products "moxel" (releases m1 2.0, m2 3.0, m3 3.0) and "web" (w1 1.0), one add-on.
    std::unique_ptr<BuildManager> loadTwoProducts() const {
        put("products.inf3", productsList("<product id=\"moxel\" name=\"Moxel\" reference=\"moxel.inf3\"/>"
                                          "<product id=\"web\" name=\"Web\" reference=\"web.inf3\"/>"
                                          "<addon id=\"x\" reference=\"x.xml\"/>"));
        put("moxel.inf3",
            productFile(release("m1", "2.0", build("m1.xml")) + release("m2", "3.0", build("m2.xml")) +
                            release("m3", "3.0", build("m3a.xml") + build("m3b.xml")),
                        "moxel"));
        put("web.inf3", productFile(release("w1", "1.0", build("w1.xml")), "web"));
        put("x.xml",
            "<addon><release id=\"x\" version=\"1\"><compatibility_info><compatible product_id=\"moxel\""
            " from_version=\"1\" to_version=\"9\"/></compatibility_info></release></addon>");
        return load();
    }

    static std::vector<std::string> ids(const std::vector<boost::shared_ptr<Release>>& releases) {
        std::vector<std::string> result;
        for (const auto& r : releases)
            result.push_back(r->_id);
        return result;
    }

    // States as the comparison with the installed system leaves them.
    static void setState(Release& release, int state, const std::string& installed) {
        release._state = state;
        release._installed_version = installed;
    }
};

TEST_F(BuildManagerTest, EntryFileCandidates) {
    // Only versions.inf3: the failed first candidate leaves no trace.
    put("versions.inf3", productsList(""));
    EXPECT_THAT(load()->_releases, IsEmpty());

    // A named entry file is the only candidate.
    put("named.inf3", productsList(""));
    EXPECT_THAT(load("named.inf3")->_releases, IsEmpty());
}

TEST_F(BuildManagerTest, NoEntryFileCollectsEveryFailure) {
    const error both = loadFailure();
    EXPECT_EQ(both.getText(), Messages().getMessage("err_read_prodsinfo") + ": " +
                                  "Can't process products.inf3: " +
                                  Messages().format("err_misfile", source.file("products.inf3")) + "\n\n" +
                                  "Can't process versions.inf3: " +
                                  Messages().format("err_misfile", source.file("versions.inf3")) + "\n\n\n");
    EXPECT_EQ(both.getClass(), 1);
    EXPECT_EQ(both.getSupport(), 2);

    put("products.inf3", productsList(""));
    const error named = loadFailure("other.inf3");
    EXPECT_EQ(named.getText(), Messages().getMessage("err_read_prodsinfo") + ": Can't process other.inf3: " +
                                   Messages().format("err_misfile", source.file("other.inf3")) + "\n\n\n");
}

TEST_F(BuildManagerTest, EntryFileKinds) {
    put("weird.inf3", "<catalogue/>");
    const error unsupported = loadFailure("weird.inf3");
    EXPECT_EQ(unsupported.getText(), "Unsupported config file\n");
    EXPECT_EQ(unsupported.getClass(), 1);
    EXPECT_EQ(unsupported.getSupport(), 3);

    // Files the list names must all be there.
    put("products.inf3", productsList("<product id=\"p\" reference=\"missing.inf3\"/>"));
    EXPECT_EQ(loadFailure().getText(), Messages().format("err_misfile", source.file("missing.inf3")) + "\n");
    put("products.inf3", productsList("<addon id=\"a\" reference=\"missing.xml\"/>"));
    EXPECT_EQ(loadFailure().getText(), Messages().format("err_misfile", source.file("missing.xml")) + "\n");
}

TEST_F(BuildManagerTest, VisitorSeesPromotedReleasesFirstThenAddons) {
    const auto manager = loadTwoProducts();
    // As release cropping leaves it: m1 kept only through a promoted tier.
    manager->_promoted_releases.push_back(manager->_releases[0]);
    manager->_releases.erase(manager->_releases.begin());
    EXPECT_THAT(walk(*manager),
                ElementsAre("release m1", "build m1.xml", "leave m1", "release m2", "build m2.xml",
                            "leave m2", "release m3", "build m3a.xml", "build m3b.xml", "leave m3",
                            "release w1", "build w1.xml", "leave w1", "addon x"));
}

TEST_F(BuildManagerTest, VisitorMayChangeTheCatalogueWhileItWalks) {
    const auto manager = loadTwoProducts();
    struct Remover : cataloguetest::RecordingVisitor {
        BuildManager* manager;
        void visitRelease(boost::shared_ptr<Release> release) override {
            RecordingVisitor::visitRelease(release);
            manager->removeRelease(release);
        }
    } remover;
    remover.manager = manager.get();
    manager->accept(remover);
    EXPECT_EQ(std::count_if(remover.seen.begin(), remover.seen.end(),
                            [](const std::string& line) { return line.rfind("release ", 0) == 0; }),
              4);
    EXPECT_THAT(manager->_releases, IsEmpty());
}

TEST_F(BuildManagerTest, LookupsByIdAndVersion) {
    const auto manager = loadTwoProducts();
    EXPECT_EQ(manager->findRelease("m2"), manager->_releases[1]);
    EXPECT_FALSE(manager->findRelease("nope"));
    EXPECT_EQ(manager->findProduct("web"), manager->_releases[3]->prod());
    EXPECT_FALSE(manager->findProduct("nope"));
    EXPECT_EQ(manager->findReleaseByVersion("moxel", "3.0"), manager->_releases[1]);
    EXPECT_EQ(manager->findReleaseByVersion("moxel", "2.0"), manager->_releases[0]);
    EXPECT_FALSE(manager->findReleaseByVersion("moxel", "2"));
    EXPECT_FALSE(manager->findReleaseByVersion("web", "3.0"));
    // Among equal versions the first wins.
    EXPECT_EQ(manager->getLatestReleaseId("moxel"), "m2");
    EXPECT_EQ(manager->getLatestReleaseId("nope"), "");

    // The promoted list counts for products and selections, not for the main lookups.
    manager->_promoted_releases.push_back(manager->_releases[3]);
    manager->_releases.pop_back();
    EXPECT_EQ(manager->findProduct("web"), manager->_promoted_releases[0]->prod());
    EXPECT_FALSE(manager->findRelease("w1"));
    EXPECT_THAT(ids(manager->getReleases(false)), ElementsAre("m1", "m2", "m3"));
    EXPECT_THAT(ids(manager->getReleases(true)), ElementsAre("w1", "m1", "m2", "m3"));
}

TEST_F(BuildManagerTest, SelectionFlags) {
    const auto manager = loadTwoProducts();
    manager->_promoted_releases.push_back(manager->_releases[3]);
    manager->_releases.pop_back();
    manager->_promoted_releases[0]->_selected = true;
    manager->_releases[2]->_selected = true;

    EXPECT_EQ(manager->getSelectedReleaseId("web"), "w1");
    EXPECT_EQ(manager->getSelectedReleaseVersion("web"), ""); // promoted: not seen
    EXPECT_EQ(manager->getSelectedReleaseId("moxel"), "m3");
    EXPECT_EQ(manager->getSelectedReleaseVersion("moxel"), "3.0");
    EXPECT_THAT(manager->getSelectedReleaseIds(), ElementsAre("w1", "m3"));
    EXPECT_TRUE(manager->isProductSelected("web"));

    manager->unselectProduct("web");
    EXPECT_FALSE(manager->isProductSelected("web"));
    EXPECT_TRUE(manager->isProductSelected("moxel"));
    manager->unselectAll();
    EXPECT_THAT(manager->getSelectedReleaseIds(), IsEmpty());
}

TEST_F(BuildManagerTest, InstalledLookupsNeedTheStates) {
    const auto manager = loadTwoProducts();
    try {
        manager->getInstalledReleaseId("moxel");
        ADD_FAILURE() << "states were not computed";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "release Release m1 installation state not checked yet\n");
    }
    // Releases of other products are not asked.
    for (const auto& r : manager->_releases)
        if (r->prod()->_id == "moxel")
            setState(*r, 1, "");
    EXPECT_EQ(manager->getInstalledProductVersion("moxel"), "");

    setState(*manager->_releases[0], 1, "3.0");
    setState(*manager->_releases[1], 2, "3.0");
    setState(*manager->_releases[2], 2, "3.0");
    setState(*manager->_releases[3], 2, "");
    EXPECT_EQ(manager->getInstalledReleaseId("moxel"), "m2");
    EXPECT_EQ(manager->getInstalledReleaseVersion("moxel"), "3.0");
    EXPECT_EQ(manager->getInstalledProductVersion("moxel"), "3.0");
    EXPECT_EQ(manager->getInstalledReleaseId("web"), "");
    EXPECT_EQ(manager->getInstalledReleaseVersion("web"), "");
    EXPECT_THAT(manager->getInstalledProducts(), ElementsAre("moxel", "moxel"));
}

TEST_F(BuildManagerTest, RemoveRelease) {
    const auto manager = loadTwoProducts();
    const boost::weak_ptr<Release> m2 = manager->_releases[1];
    manager->removeRelease(m2);
    EXPECT_THAT(ids(manager->_releases), ElementsAre("m1", "m3", "w1"));
    EXPECT_FALSE(m2.expired()); // the catalogue keeps what it read until it goes

    boost::weak_ptr<Release> expired;
    EXPECT_THROW(manager->removeRelease(expired), boost::bad_weak_ptr);
    manager->_releases.clear();
    manager->removeRelease(expired);
}

TEST_F(BuildManagerTest, DestroyingTheCatalogueFreesItsRecords) {
    boost::weak_ptr<Release> kept;
    boost::weak_ptr<Release> removed;
    boost::weak_ptr<Build> build;
    {
        const auto manager = loadTwoProducts();
        kept = manager->_releases[0];
        removed = manager->_releases[1];
        build = manager->_releases[0]->_builds[0];
        manager->removeRelease(removed);
    }
    EXPECT_TRUE(kept.expired());
    EXPECT_TRUE(removed.expired());
    EXPECT_TRUE(build.expired());
}

// An installed product drops the releases of every product it conflicts with, in both directions.
TEST_F(BuildManagerTest, ReleasesConflictingWithAnInstalledProductAreMarked) {
    put("products.inf3",
        productsList("<product id=\"P\" reference=\"p.inf3\"><incompatible_with prod_id=\"Q\"/>"
                     "</product>"
                     "<product id=\"Q\" reference=\"q.inf3\"/>"
                     "<product id=\"R\" reference=\"r.inf3\"><incompatible_with prod_id=\"P\"/>"
                     "</product>"
                     "<product id=\"S\" reference=\"s.inf3\"/>"));
    put("p.inf3", productFile(release("p1", "1", build("p1")) + release("p2", "2", build("p2")), "P"));
    put("q.inf3", productFile(release("q1", "1", build("q1")) + release("q2", "2", build("q2")), "Q"));
    put("r.inf3", productFile(release("r1", "1", build("r1")), "R"));
    put("s.inf3", productFile(release("s1", "1", build("s1")), "S"));
    const auto manager = load();
    for (const auto& r : manager->_releases)
        setState(*r, 2, "");
    manager->_releases[0]->_installed_version = "1"; // P 1 is installed

    to_remove marker(manager.get());
    manager->accept(marker);
    std::vector<std::string> kept;
    for (const auto& r : manager->_releases)
        if (marker(r))
            kept.push_back(r->_id);
    EXPECT_THAT(kept, ElementsAre("p1", "p2", "s1"));
    EXPECT_THAT(
        logText(),
        HasSubstr("DEBUG: drop q1 because version 1 of conflicting product 'P' is already installed.\n"));
    EXPECT_THAT(
        logText(),
        HasSubstr("DEBUG: drop r1 because version 1 of conflicting product 'P' is already installed.\n"));
    EXPECT_THAT(logText(), Not(HasSubstr("DEBUG: drop s1")));
    // A copy used as the predicate keeps the marks.
    const to_remove copy = marker;
    EXPECT_FALSE(copy(manager->_releases[2]));
}

} // namespace
