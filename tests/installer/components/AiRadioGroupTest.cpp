#include "installer/components/AiRadioGroup.h"

#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gtest/gtest.h>

using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;

namespace {

std::vector<std::string> childNames(const AiRadioGroup& group) {
    std::vector<std::string> names;
    for (const comp_ptr_t& child : group.children)
        names.push_back(child->name);
    return names;
}

// One child per letter of `statuses`: 'i' installable, 'u' older installed, '=' up to date,
// '+' installable and requested for install, '!' not available.
std::shared_ptr<AiRadioGroup> radioOf(const std::string& statuses, const std::string& defaultName) {
    const auto build = makeBuild("moxel");
    std::vector<comp_ptr_t> children;
    for (size_t i = 0; i < statuses.size(); ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        switch (statuses[i]) {
        case 'i':
            children.push_back(makeComponent(build, name, AiComponent::INSTALL));
            break;
        case 'u':
            children.push_back(makeComponent(build, name, AiComponent::UPGRADE));
            break;
        case '=':
            children.push_back(makeComponent(build, name, AiComponent::UP2DATE));
            break;
        case '+':
            children.push_back(makeComponent(build, name, AiComponent::INSTALL, REQ_INSTALL));
            break;
        case '!':
            children.push_back(makeComponent(build, name, AiComponent::NOT_AVAILABLE, REQ_INSTALL));
            break;
        }
    }
    return makeRadio(build, "web", children, defaultName);
}

// ---------------------------------------------------------------------------------------------------------
// Default and effective child

struct EffectiveCase {
    const char* what;
    const char* statuses;
    const char* defaultName;
    const char* willBeInstalled; // "" for none
    const char* defaultChild;
    const char* effective;
};

const EffectiveCase effectiveCases[] = {
    {"nothing installed, default named", "iii", "b", "", "b", "b"},
    {"default names no child", "iii", "zz", "", "a", "a"},
    {"no default name", "iii", "", "", "a", "a"},
    {"installed child wins over the default", "iui", "a", "b", "a", "b"},
    {"requested child wins over the default", "ii+", "a", "c", "a", "c"},
    {"two to be installed: the first in order", "i+=", "a", "b", "a", "b"},
    {"unavailable child requested is not installed", "!ii", "c", "", "c", "c"},
};

TEST(AiRadioGroupTest, DefaultAndEffectiveChild) {
    for (const EffectiveCase& c : effectiveCases) {
        SCOPED_TRACE(c.what);
        const auto group = radioOf(c.statuses, c.defaultName);
        ComponentsChangeset empty;
        const comp_ptr_t installed = group->getWillBeInstalled(&empty);
        EXPECT_EQ(c.willBeInstalled, installed ? installed->name : "");
        EXPECT_EQ(*c.willBeInstalled != '\0', group->hasWillBeInstalled(&empty));
        EXPECT_EQ(c.defaultChild, group->getDefault()->name);
        EXPECT_EQ(c.effective, group->getEffective(&empty)->name);
    }
}

TEST(AiRadioGroupTest, EffectiveChildFollowsTheChangeset) {
    const auto group = radioOf("ui", "a");
    const comp_ptr_t a = group->children[0];
    const comp_ptr_t b = group->children[1];
    ComponentsChangeset cs;
    cs.setMode(a, REQ_REMOVE);
    // Nothing will be installed: the default, even though it is the one being removed.
    EXPECT_EQ(a, group->getEffective(&cs));
    cs.setMode(b, REQ_INSTALL);
    EXPECT_EQ(b, group->getEffective(&cs));
    // Without a changeset of its own the group asks the process-wide one, which is empty.
    EXPECT_EQ(a, group->getEffective());
}

TEST(AiRadioGroupTest, EmptyGroupHasNoDefaultOrEffectiveChild) {
    const auto group = makeRadio(makeBuild("moxel"), "web", {}, "a");
    EXPECT_TRUE(group->isEmpty());
    EXPECT_NE(std::string::npos,
              caught([&] { group->getDefault(); }).text.find("installer/AiRadioGroup, line 127"));
    EXPECT_NE(std::string::npos,
              caught([&] { group->getEffective(); }).text.find("installer/AiRadioGroup, line 211"));
}

TEST(AiRadioGroupTest, StatusCharShowsAChildToBeInstalled) {
    EXPECT_EQ(' ', radioOf("ii", "a")->getStatusChar());
    EXPECT_EQ('*', radioOf("i=", "a")->getStatusChar());
    EXPECT_EQ('*', radioOf("+i", "a")->getStatusChar());
}

// ---------------------------------------------------------------------------------------------------------
// Switch rules

struct SwitchCase {
    const char* what;
    const char* statuses;
    bool hasRules;
    std::vector<std::pair<std::string, std::string>> rules;
    std::vector<std::string> kept;
};

const SwitchCase switchCases[] = {
    {"no rules keep everything", "uii", false, {}, {"a", "b", "c"}},
    {"nothing installed keeps everything", "iii", true, {{"a", "c"}}, {"a", "b", "c"}},
    {"only allowed targets stay", "uii", true, {{"a", "c"}}, {"a", "c"}},
    {"a rule from another child keeps nothing", "uii", true, {{"b", "c"}}, {"a"}},
    {"installed child in the middle keeps its place", "iui", true, {{"b", "a"}}, {"a", "b"}},
    {"first installed child decides", "i=u", true, {{"c", "a"}, {"b", "c"}}, {"b", "c"}},
    {"marked without pairs allows no switch", "=ii", true, {}, {"a"}},
    {"names are case-sensitive", "uii", true, {{"a", "C"}, {"A", "b"}}, {"a"}},
};

TEST(AiRadioGroupTest, SwitchRulesDropAlternativesNotAllowed) {
    for (const SwitchCase& c : switchCases) {
        SCOPED_TRACE(c.what);
        const auto group = radioOf(c.statuses, "");
        const std::vector<comp_ptr_t> before = group->children;
        for (const auto& rule : c.rules)
            group->addSwitch(rule.first, rule.second);
        group->hasSwitchRules = c.hasRules;
        group->drop_not_allowed_switches();
        EXPECT_EQ(c.kept, childNames(*group));
        for (const comp_ptr_t& child : before) {
            const bool kept = std::find(c.kept.begin(), c.kept.end(), child->name) != c.kept.end();
            EXPECT_EQ(kept ? group.get() : nullptr, child->radioGroup.raw()) << child->name;
        }
    }
}

TEST(AiRadioGroupTest, ChildrenPointBackOnlyWhileTheGroupLives) {
    const comp_ptr_t a = makeComponent(makeBuild("moxel"), "a");
    {
        const auto group = makeRadio(makeBuild("moxel"), "web", {a});
        EXPECT_EQ(group.get(), a->radioGroup.raw());
        group->addSwitch("a", "b");
        EXPECT_TRUE(group->hasSwitchRules);
    }
    EXPECT_EQ(nullptr, a->radioGroup.raw());
}

} // namespace
