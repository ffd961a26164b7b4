#include "installer/components/ComponentsChangeset.h"

#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using testing::ElementsAre;
using testing::IsEmpty;
using testsupport::makeBuild;
using testsupport::makeComponent;

namespace {

// ---------------------------------------------------------------------------------------------------------
// Queries under the changeset

const request_mode_t NO_ENTRY = static_cast<request_mode_t>(-1);

struct QueryCase {
    int status;
    request_mode_t request; // the component's own request mode
    request_mode_t entry;   // NO_ENTRY: the changeset has none for it
    bool willBeInstalled, older, newer, willBeNotInstalled, markedForInstall, markedForRemove;
};

const QueryCase queryCases[] = {
    // An unspecified entry answers false everywhere, whatever the component says.
    {1, REQ_INSTALL, REQ_UNSPECIFIED, false, false, false, false, false, false},
    {2, REQ_REMOVE, REQ_UNSPECIFIED, false, false, false, false, false, false},
    {3, REQ_LEAVE, REQ_UNSPECIFIED, false, false, false, false, false, false},
    // leave keeps the current state
    {1, REQ_INSTALL, REQ_LEAVE, false, false, false, true, false, false},
    {2, REQ_INSTALL, REQ_LEAVE, true, true, false, false, false, false},
    {3, REQ_REMOVE, REQ_LEAVE, true, false, true, false, false, false},
    {4, REQ_LEAVE, REQ_LEAVE, false, false, false, true, false, false},
    // install means installed in the newest state, unless unavailable
    {1, REQ_LEAVE, REQ_INSTALL, true, false, true, false, true, false},
    {2, REQ_REMOVE, REQ_INSTALL, true, false, true, false, true, false},
    {3, REQ_LEAVE, REQ_INSTALL, true, false, true, false, true, false},
    {4, REQ_LEAVE, REQ_INSTALL, false, false, false, false, true, false},
    // remove means absent
    {1, REQ_INSTALL, REQ_REMOVE, false, false, false, true, false, true},
    {2, REQ_LEAVE, REQ_REMOVE, false, false, false, true, false, true},
    {3, REQ_LEAVE, REQ_REMOVE, false, false, false, true, false, true},
    {4, REQ_LEAVE, REQ_REMOVE, false, false, false, true, false, true},
    // without an entry the component answers for itself
    {1, REQ_REMOVE, NO_ENTRY, false, false, false, true, false, true},
    {2, REQ_INSTALL, NO_ENTRY, true, false, true, false, true, false},
    {2, REQ_LEAVE, NO_ENTRY, true, true, false, false, false, false},
    {3, REQ_LEAVE, NO_ENTRY, true, false, true, false, false, false},
    {4, REQ_INSTALL, NO_ENTRY, false, false, false, false, true, false},
};

TEST(ComponentsChangesetTest, QueriesAnswerAsIfApplied) {
    const auto build = makeBuild("moxel");
    for (const QueryCase& c : queryCases) {
        SCOPED_TRACE(testing::Message() << "status " << c.status << " request " << c.request << " entry "
                                        << (c.entry == NO_ENTRY ? "none" : requestModeName(c.entry)));
        const comp_ptr_t component = makeComponent(build, "a", c.status, c.request);
        ComponentsChangeset cs;
        if (c.entry != NO_ENTRY)
            cs.setMode(component, c.entry);
        EXPECT_EQ(c.entry != NO_ENTRY, cs.contains(component));
        EXPECT_EQ(c.entry == NO_ENTRY ? REQ_UNSPECIFIED : c.entry, cs.getMode(component));
        EXPECT_EQ(c.willBeInstalled, cs.willBeInstalled(component));
        EXPECT_EQ(c.older, cs.willBeInstalledOlder(component));
        EXPECT_EQ(c.newer, cs.willBeInstalledNew(component));
        EXPECT_EQ(c.willBeNotInstalled, cs.willBeNotInstalled(component));
        EXPECT_EQ(c.markedForInstall, cs.isMarkedForInstall(component));
        EXPECT_EQ(c.markedForRemove, cs.isMarkedForRemove(component));
    }
}

TEST(ComponentsChangesetTest, LaterModeReplacesTheEntry) {
    const comp_ptr_t a = makeComponent(makeBuild("moxel"), "a", AiComponent::UPGRADE);
    ComponentsChangeset cs;
    cs.setMode(a, REQ_REMOVE);
    // Another pointer to the same component is the same key.
    cs.setMode(comp_cptr_t(a), REQ_INSTALL);
    EXPECT_EQ(1u, cs.getModeMap().size());
    EXPECT_EQ(REQ_INSTALL, cs.getMode(a));
}

TEST(ComponentsChangesetTest, DeniedImplicitRemovalCountsOnlyWhenExplicit) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t guarded = makeComponent(build, "guarded", AiComponent::UP2DATE);
    guarded->denyImplicitRemoval = true;
    const comp_ptr_t plain = makeComponent(build, "plain", AiComponent::UP2DATE);
    ComponentsChangeset cs;
    cs.setMode(guarded, REQ_REMOVE);
    cs.setMode(plain, REQ_REMOVE);

    EXPECT_TRUE(cs.isMarkedForRemove(guarded));
    EXPECT_FALSE(cs.isMarkedForRemove(guarded, true));
    EXPECT_TRUE(cs.isMarkedForRemove(plain, true));
    ASSERT_EQ(1u, cs.getDeniedImplicitRemovals().size());
    EXPECT_EQ(guarded, cs.getDeniedImplicitRemovals().front());

    cs.setExplicit(guarded);
    EXPECT_TRUE(cs.isMarkedForRemove(guarded, true));
    EXPECT_THAT(cs.getDeniedImplicitRemovals(), IsEmpty());
}

TEST(ComponentsChangesetTest, NameListsAreSortedAndSplitByExplicitMarks) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t a = makeComponent(build, "a");
    const comp_ptr_t b = makeComponent(build, "b");
    const comp_ptr_t c = makeComponent(build, "c", AiComponent::UP2DATE);
    ComponentsChangeset cs;
    EXPECT_FALSE(cs.hasImplicitChanges());
    cs.setMode(b, REQ_INSTALL);
    cs.setMode(a, REQ_INSTALL);
    cs.setMode(c, REQ_REMOVE);
    cs.setExplicit(b);

    EXPECT_THAT(cs.getNamesToInstall(), ElementsAre("a", "b"));
    EXPECT_THAT(cs.getImplicitNamesToInstall(), ElementsAre("a"));
    EXPECT_THAT(cs.getNamesToRemove(), ElementsAre("c"));
    EXPECT_THAT(cs.getImplicitNamesToRemove(), ElementsAre("c"));
    EXPECT_THAT(cs.getNamesToLeave(), IsEmpty());
    EXPECT_TRUE(cs.hasImplicitChanges());

    cs.setExplicit(a);
    cs.setExplicit(c);
    EXPECT_FALSE(cs.hasImplicitChanges());
}

TEST(ComponentsChangesetTest, ComponentsOfOneNameShareTheirMarks) {
    const comp_ptr_t mine = makeComponent(makeBuild("moxel"), "mail");
    const comp_ptr_t theirs = makeComponent(makeBuild("other"), "mail");
    ComponentsChangeset cs;
    cs.setMode(mine, REQ_INSTALL);
    cs.setMode(theirs, REQ_INSTALL);
    EXPECT_THAT(cs.getNamesToInstall(), ElementsAre("mail", "mail"));

    cs.setExplicit(mine);
    cs.addConflict(theirs);
    EXPECT_TRUE(cs.isExplicit(theirs));
    EXPECT_TRUE(cs.isConflicting(mine));
    // Every component of the explicit name leaves the implicit list.
    EXPECT_THAT(cs.getImplicitNamesToInstall(), IsEmpty());
    EXPECT_FALSE(cs.isExplicit(nullptr));
    EXPECT_FALSE(cs.isConflicting(nullptr));
}

TEST(ComponentsChangesetTest, ConflictNamesAreSorted) {
    const auto build = makeBuild("moxel");
    ComponentsChangeset cs;
    cs.addConflict(makeComponent(build, "zeta"));
    cs.addConflict(makeComponent(build, "alpha"));
    cs.addConflict(makeComponent(build, "zeta"));
    EXPECT_THAT(cs.getConflictNames(), ElementsAre("alpha", "zeta"));
}

TEST(ComponentsChangesetTest, MarkingQueriesNeedAComponent) {
    ComponentsChangeset cs;
    EXPECT_THROW(cs.isMarkedForInstall(nullptr), error);
    EXPECT_THROW(cs.isMarkedForRemove(nullptr), error);
}

TEST(ComponentsChangesetTest, InstanceIsTheGivenOrTheProcessWideChangeset) {
    ComponentsChangeset own;
    EXPECT_EQ(&own, ComponentsChangeset::instance(&own));
    ComponentsChangeset* const processWide = ComponentsChangeset::instance(nullptr);
    ASSERT_NE(nullptr, processWide);
    EXPECT_NE(&own, processWide);
    EXPECT_EQ(processWide, ComponentsChangeset::instance(nullptr));
}

// ---------------------------------------------------------------------------------------------------------
// Text form

std::string textOf(const ComponentsChangeset& cs) {
    std::ostringstream out;
    out << cs;
    return out.str();
}

TEST(ComponentsChangesetTest, TextFormOfAnEmptyChangeset) {
    EXPECT_EQ("ComponentsChangeset[ ] (! is explicit, = is leave, + is install, ~ is remove)",
              textOf(ComponentsChangeset()));
}

TEST(ComponentsChangesetTest, TextFormListsEveryEntryInMapOrder) {
    const auto build = makeBuild("p");
    const comp_ptr_t installed = makeComponent(build, "a");
    const comp_ptr_t left = makeComponent(build, "b", AiComponent::UPGRADE);
    const comp_ptr_t removed = makeComponent(build, "c", AiComponent::UP2DATE);
    const comp_ptr_t unspecified = makeComponent(makeBuild("q"), "d");
    ComponentsChangeset cs;
    cs.setMode(installed, REQ_INSTALL);
    cs.setExplicit(installed);
    cs.setMode(left, REQ_LEAVE);
    cs.setMode(removed, REQ_REMOVE);
    cs.addConflict(removed);
    cs.setMode(unspecified, REQ_UNSPECIFIED);

    // The map is ordered by identity; build the expectation in the same order.
    std::vector<std::pair<const AiComponent*, std::string>> entries = {{installed.get(), "!+p/a"},
                                                                       {left.get(), "=p/b"},
                                                                       {removed.get(), "~p/c (conflict)"},
                                                                       {unspecified.get(), "?q/d"}};
    std::sort(entries.begin(), entries.end(),
              [](const auto& x, const auto& y) { return std::less<const AiComponent*>()(x.first, y.first); });
    std::string expected = "ComponentsChangeset[";
    for (size_t i = 0; i < entries.size(); ++i)
        expected += (i == 0 ? " " : ", ") + entries[i].second;
    expected += " ] (! is explicit, = is leave, + is install, ~ is remove)";

    EXPECT_EQ(expected, textOf(cs));
}

} // namespace
