#include "installer/components/AiComponent.h"

#include "common/packages/DebPackage.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "installer/components/ComponentsChangeset.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;

namespace {

// ---------------------------------------------------------------------------------------------------------
// Predicates and the status character over every status and request mode

struct PredicateCase {
    int status;
    bool microUpdate;
    request_mode_t request;
    bool installed, markedForRemove, markedForInstall, willBeInstalled, willBeNotInstalled, older, newer;
    char statusChar;
};

const PredicateCase predicateCases[] = {
    // not installed, installable
    {1, false, REQ_UNSPECIFIED, false, false, false, false, true, false, false, ' '},
    {1, false, REQ_LEAVE, false, false, false, false, true, false, false, ' '},
    {1, false, REQ_INSTALL, false, false, true, true, false, false, true, '*'},
    {1, false, REQ_REMOVE, false, false, false, false, true, false, false, 'X'},
    // an older state installed
    {2, false, REQ_UNSPECIFIED, true, false, false, true, false, true, false, ' '},
    {2, false, REQ_LEAVE, true, false, false, true, false, true, false, ' '},
    {2, false, REQ_INSTALL, true, false, true, true, false, false, true, '*'},
    {2, false, REQ_REMOVE, true, true, false, false, true, false, false, 'X'},
    // up to date
    {3, false, REQ_UNSPECIFIED, true, false, false, true, false, false, true, '='},
    {3, false, REQ_LEAVE, true, false, false, true, false, false, true, '='},
    {3, false, REQ_INSTALL, true, false, false, true, false, false, true, '='},
    {3, false, REQ_REMOVE, true, true, false, false, true, false, false, 'X'},
    // up to date with a pending micro-update reads as an upgrade
    {3, true, REQ_UNSPECIFIED, true, false, false, true, false, true, false, ' '},
    {3, true, REQ_LEAVE, true, false, false, true, false, true, false, ' '},
    {3, true, REQ_INSTALL, true, false, true, true, false, false, true, '*'},
    {3, true, REQ_REMOVE, true, true, false, false, true, false, false, 'X'},
    // not available
    {4, false, REQ_UNSPECIFIED, false, false, false, false, true, false, false, '!'},
    {4, false, REQ_LEAVE, false, false, false, false, true, false, false, '!'},
    {4, false, REQ_INSTALL, false, false, false, false, false, false, false, '!'},
    {4, false, REQ_REMOVE, false, false, false, false, true, false, false, 'X'},
};

TEST(AiComponentTest, PredicatesFollowStatusAndRequest) {
    const auto build = makeBuild("moxel");
    for (const PredicateCase& c : predicateCases) {
        SCOPED_TRACE(testing::Message()
                     << "status " << c.status << (c.microUpdate ? "+micro" : "") << " request " << c.request);
        const comp_ptr_t component = makeComponent(build, "a", c.status, c.request);
        component->microUpdateAvailable = c.microUpdate;
        EXPECT_EQ(c.installed, component->isInstalled());
        EXPECT_EQ(c.markedForRemove, component->isMarkedForRemove());
        EXPECT_EQ(c.markedForInstall, component->isMarkedForInstall());
        EXPECT_EQ(c.willBeInstalled, component->willBeInstalled());
        EXPECT_EQ(c.willBeNotInstalled, component->willBeNotInstalled());
        EXPECT_EQ(c.older, component->willBeInstalledOlder());
        EXPECT_EQ(c.newer, component->willBeInstalledNew());
        EXPECT_EQ(c.statusChar, component->getStatusChar());
    }
}

TEST(AiComponentTest, StatusNamesAndMicroUpdate) {
    const auto build = makeBuild("moxel");
    const char* const names[] = {"install", "upgrade", "up2date", "error"};
    for (int status = 1; status <= 4; ++status)
        EXPECT_STREQ(names[status - 1], makeComponent(build, "a", status)->getInstallModeName());

    const comp_ptr_t component = makeComponent(build, "a", AiComponent::UP2DATE);
    component->microUpdateAvailable = true;
    EXPECT_EQ(AiComponent::UPGRADE, component->getInstallMode());
    EXPECT_STREQ("upgrade", component->getInstallModeName());

    component->installMode = 7;
    const auto e = caught([&] { component->getInstallModeName(); });
    EXPECT_EQ("unknown code was assigned to the product component.\n", e.text);
    EXPECT_EQ(3, e.e_class);
    EXPECT_EQ(3, e.support);
}

TEST(AiComponentTest, StatusQueriesBeforeTheCheckAreInternalErrors) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "a", AiComponent::NOT_CHECKED);
    const std::pair<std::function<void()>, int> queries[] = {
        {[&] { component->getInstallMode(); }, 64},
        {[&] { component->getStatusChar(); }, 64},
        {[&] { component->select(); }, 64},
        {[&] { component->getServerBuildTime(); }, 160},
        {[&] { component->getLocalBuildTime(); }, 166},
        {[&] { component->getLocalVersion(); }, 177},
        {[&] { component->getServerVersion(); }, 183},
    };
    for (const auto& query : queries) {
        const auto e = caught(query.first);
        EXPECT_NE(std::string::npos,
                  e.text.find("installer/AiComponent, line " + std::to_string(query.second)))
            << e.text;
        EXPECT_EQ(3, e.e_class);
    }
    // Neither a removal request's character nor leaving a component that is not required needs it.
    component->requestMode = REQ_REMOVE;
    EXPECT_EQ('X', component->getStatusChar());
    component->leave();
    EXPECT_EQ(REQ_LEAVE, component->requestMode);
}

// ---------------------------------------------------------------------------------------------------------
// Requests

enum class Request { select, remove, leave };

struct RequestCase {
    const char* what;
    Request request;
    int status;
    bool required;
    request_mode_t before;
    request_mode_t after; // REQ_UNSPECIFIED: the request fails
    const char* text;
    int e_class, support;
};

const RequestCase requestCases[] = {
    {"select installable", Request::select, 1, false, REQ_LEAVE, REQ_INSTALL, "", 0, 0},
    {"select up to date", Request::select, 3, false, REQ_LEAVE, REQ_INSTALL, "", 0, 0},
    {"select unavailable", Request::select, 4, false, REQ_LEAVE, REQ_UNSPECIFIED,
     "The component moxel/a is not available.\n", 1, 2},
    {"remove installed", Request::remove, 2, false, REQ_LEAVE, REQ_REMOVE, "", 0, 0},
    {"remove required, not installed", Request::remove, 1, true, REQ_INSTALL, REQ_REMOVE, "", 0, 0},
    {"remove required, installed", Request::remove, 3, true, REQ_INSTALL, REQ_UNSPECIFIED,
     "Unable to remove the component moxel/a:\nit is required component.\n", 2, 1},
    {"remove required, already removed", Request::remove, 3, true, REQ_REMOVE, REQ_REMOVE, "", 0, 0},
    {"remove unavailable", Request::remove, 4, false, REQ_LEAVE, REQ_UNSPECIFIED,
     "The component moxel/a is not available.\n", 1, 2},
    {"leave required, to be installed", Request::leave, 1, true, REQ_INSTALL, REQ_UNSPECIFIED,
     "Unable to exclude the component moxel/a:\nit is required component.\n", 2, 1},
    {"leave required, installed", Request::leave, 2, true, REQ_INSTALL, REQ_LEAVE, "", 0, 0},
    {"leave required, not requested", Request::leave, 1, true, REQ_REMOVE, REQ_LEAVE, "", 0, 0},
    {"leave unavailable", Request::leave, 4, false, REQ_INSTALL, REQ_LEAVE, "", 0, 0},
};

TEST(AiComponentTest, RequestsChangeTheModeOrRefuse) {
    const auto build = makeBuild("moxel");
    for (const RequestCase& c : requestCases) {
        SCOPED_TRACE(c.what);
        const comp_ptr_t component = makeComponent(build, "a", c.status, c.before);
        component->required = c.required;
        auto run = [&] {
            switch (c.request) {
            case Request::select:
                component->select();
                break;
            case Request::remove:
                component->remove();
                break;
            case Request::leave:
                component->leave();
                break;
            }
        };
        if (c.after != REQ_UNSPECIFIED) {
            run();
            EXPECT_EQ(c.after, component->requestMode);
            continue;
        }
        const auto e = caught(run);
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ(c.e_class, e.e_class);
        EXPECT_EQ(1, e.repeat);
        EXPECT_EQ(1, e.system_state);
        EXPECT_EQ(c.support, e.support);
        EXPECT_EQ(c.before, component->requestMode);
    }
}

TEST(AiComponentTest, SetRequiredRequestsInstall) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "base", AiComponent::INSTALL, REQ_LEAVE);
    component->setRequired();
    EXPECT_TRUE(component->required);
    EXPECT_EQ(REQ_INSTALL, component->requestMode);
}

// ---------------------------------------------------------------------------------------------------------
// Construction and names

TEST(AiComponentTest, TextConstructorSplitsAtTheFirstBlank) {
    const auto build = makeBuild("moxel");
    AiComponent described(build, "mail Mail server and  webmail");
    EXPECT_EQ("mail", described.name);
    EXPECT_EQ("Mail server and  webmail", described.getDescription());
    EXPECT_TRUE(described.uninstallSupport);
    EXPECT_EQ(AiComponent::NOT_CHECKED, described.installMode);
    EXPECT_EQ(REQ_LEAVE, described.requestMode);

    AiComponent bare(build, "base");
    EXPECT_EQ("base", bare.name);
    EXPECT_EQ("base(no description available", bare.description);

    const auto e = caught([&] { AiComponent nameless(build, " description only"); });
    EXPECT_EQ("You did not specify component name in a component's description.\n", e.text);
    EXPECT_EQ(1, e.e_class);
    EXPECT_EQ(1, e.support);
}

TEST(AiComponentTest, AComponentNeedsABuild) {
    const auto withSections = caught([] { AiComponent c(nullptr, "a", "A", "", {}); });
    EXPECT_NE(std::string::npos, withSections.text.find("installer/AiComponent, line 53"));
    const auto fromText = caught([] { AiComponent c(nullptr, "a A"); });
    EXPECT_NE(std::string::npos, fromText.text.find("installer/AiComponent, line 42"));
}

TEST(AiComponentTest, FullNameAndProductComeFromTheRelease) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "mail");
    EXPECT_EQ("moxel", component->getProductId());
    EXPECT_EQ("moxel/mail", component->getFullName());

    // An add-on build not yet moved under a release has no product.
    auto orphan = boost::make_shared<Build>(boost::shared_ptr<Release>(), "Linux", "Debian", "12", "x86_64",
                                            "", "", "addon.inf3", "false");
    const comp_ptr_t loose = makeComponent(orphan, "mail");
    EXPECT_EQ("", loose->getProductId());
    EXPECT_EQ("mail", loose->getFullName());
}

TEST(AiComponentTest, MicroUpdateMarksAnInstalledUpToDateRelease) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "mail", AiComponent::UP2DATE);
    const boost::shared_ptr<Release> release = component->getRelease();
    release->_installed_version = "1.0";
    release->_state = 2;
    release->_update_mode = 4;
    component->setMicroUpdateAvailable();
    EXPECT_TRUE(component->microUpdateAvailable);
    EXPECT_TRUE(release->_micro_update_available);
}

TEST(AiComponentTest, PackageKindFollowsTheFirstPackage) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "mail");
    const auto e = caught([&] { component->isRPMBased(); });
    EXPECT_EQ("There are no packages in the mail component.\n", e.text);
    EXPECT_EQ(1, e.e_class);
    EXPECT_EQ(3, e.support);

    DebPackage deb("moxel-mail", "1.0-1");
    RPMPackage rpm("moxel-mail", "1.0-1");
    component->packages = {&deb, &rpm};
    EXPECT_TRUE(component->isDebBased());
    EXPECT_FALSE(component->isRPMBased());
    component->packages = {&rpm, &deb};
    EXPECT_TRUE(component->isRPMBased());
    EXPECT_FALSE(component->isDebBased());
}

TEST(AiComponentTest, PackageNamesListNegativeSetsFirst) {
    Component::keypackages_t first;
    first.keypackages = {"moxel-mail", "/opt/bin/mailer"};
    first.nokeypackages = {"old-mail"};
    Component::keypackages_t second;
    second.keyprovides = {"mail-transport"};
    second.keypackages = {"webmail"};
    AiComponent component(makeBuild("moxel"), "mail", "Mail", "", {first, second});
    std::vector<std::string> names = {"already"};
    component.appendPackageNames(names);
    EXPECT_EQ((std::vector<std::string>{"already", "old-mail", "moxel-mail", "/opt/bin/mailer", "webmail"}),
              names);
}

TEST(AiComponentTest, BestPackageIsTheNewestCandidate) {
    const comp_ptr_t component = makeComponent(makeBuild("moxel"), "mail");
    RPMPackage own("moxel-mail", "1.1-1");
    RPMPackage other("moxel-other", "1.0-1");
    component->packages = {&other, &own};
    RPMPackage older("moxel-mail", "1.0-1");
    RPMPackage sameAsOwn("moxel-mail", "1.1-1");
    RPMPackage newer("moxel-mail", "1.2-1");
    Repository repository;
    repository.addPackage(&older, nullptr);
    repository.addPackage(&sameAsOwn, nullptr);

    // Equal versions: the component's own package comes first and wins. A path counts by its base name.
    EXPECT_EQ(&own, component->findBestPackage("/usr/lib/moxel-mail", &repository, nullptr, false));
    EXPECT_EQ(&own, component->findBestPackage("moxel-mail", nullptr, nullptr, true));

    repository.addPackage(&newer, nullptr);
    EXPECT_EQ(&newer, component->findBestPackage("moxel-mail", &repository, nullptr, false));
    EXPECT_EQ(&newer, component->findBestPackage("moxel-mail", &repository, nullptr, true));
    EXPECT_EQ(nullptr, component->findBestPackage("absent", &repository, nullptr, false));
}

// ---------------------------------------------------------------------------------------------------------
// Relations

TEST(AiComponentTest, ConflictsAreSymmetricWithinOneProduct) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t a = makeComponent(build, "a");
    const comp_ptr_t b = makeComponent(build, "b");
    a->conflicts = {"b"};
    EXPECT_TRUE(a->conflictsWith(b));
    EXPECT_TRUE(b->conflictsWith(a));

    const comp_ptr_t foreignB = makeComponent(makeBuild("other"), "b");
    EXPECT_FALSE(a->conflictsWith(foreignB));
    EXPECT_FALSE(foreignB->conflictsWith(a));
}

TEST(AiComponentTest, NeedsADirectRequirementThatWouldBeAbsent) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t a = makeComponent(build, "a", AiComponent::INSTALL, REQ_INSTALL);
    a->requires = {"b"};
    const comp_ptr_t b = makeComponent(build, "b", AiComponent::INSTALL);
    ComponentsChangeset cs;
    EXPECT_TRUE(a->needs(b, &cs));
    EXPECT_FALSE(b->needs(a, &cs));

    cs.setMode(b, REQ_INSTALL);
    EXPECT_FALSE(a->needs(b, &cs));

    // The same names in another product are no relation.
    const comp_ptr_t foreignB = makeComponent(makeBuild("other"), "b", AiComponent::INSTALL);
    EXPECT_FALSE(a->needs(foreignB, &cs));
}

TEST(AiComponentTest, HardwiredPartnerThatStaysOlderIsNeeded) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t a = makeComponent(build, "a", AiComponent::UPGRADE, REQ_INSTALL);
    const comp_ptr_t partner = makeComponent(build, "partner", AiComponent::UPGRADE, REQ_LEAVE);
    partner->hardwired_with = {"a"};
    ComponentsChangeset cs;
    EXPECT_TRUE(a->hardwiredToOlder(partner, &cs));
    EXPECT_TRUE(a->needs(partner, &cs));
    EXPECT_FALSE(partner->hardwiredToOlder(a, &cs));

    cs.setMode(partner, REQ_INSTALL);
    EXPECT_FALSE(a->hardwiredToOlder(partner, &cs));
    EXPECT_FALSE(a->needs(partner, &cs));
}

TEST(AiComponentTest, NeedsTheAlternativeThatCanSatisfyARadioGroupRequirement) {
    const auto build = makeBuild("moxel");
    const comp_ptr_t user = makeComponent(build, "user", AiComponent::INSTALL, REQ_INSTALL);
    user->requires = {"web"};
    const comp_ptr_t apache = makeComponent(build, "apache", AiComponent::UPGRADE);
    const comp_ptr_t nginx = makeComponent(build, "nginx", AiComponent::INSTALL);
    const auto web = makeRadio(build, "web", {apache, nginx}, "nginx");

    // apache stays installed: the group is satisfied.
    ComponentsChangeset staying;
    EXPECT_FALSE(user->needs(apache, &staying));
    EXPECT_FALSE(user->needs(nginx, &staying));

    // apache is to be removed: the default alternative is needed, and so is the installed one
    // whose removal is what empties the group.
    ComponentsChangeset removing;
    removing.setMode(apache, REQ_REMOVE);
    EXPECT_TRUE(user->needs(nginx, &removing));
    EXPECT_TRUE(user->needs(apache, &removing));

    // Once nginx is to be installed the requirement holds again.
    removing.setMode(nginx, REQ_INSTALL);
    EXPECT_FALSE(user->needs(nginx, &removing));
    EXPECT_FALSE(user->needs(apache, &removing));
}

// ---------------------------------------------------------------------------------------------------------
// Environment

struct EnvironmentCase {
    const char* component;
    const char* system;
    bool compatible;
};

void PrintTo(const EnvironmentCase& c, std::ostream* out) {
    *out << "component '" << c.component << "' on system '" << c.system << "'";
}

class AiComponentEnvironmentTest : public testing::TestWithParam<EnvironmentCase> {};

// The server is described once per process, and each case runs in a process of its own.
TEST_P(AiComponentEnvironmentTest, MatchesTheServer) {
    Opsys::override_environment = GetParam().system;
    AiComponent component(makeBuild("moxel"), "a", "A", GetParam().component, {});
    EXPECT_EQ(Opsys().getEnvironment(), GetParam().system);
    EXPECT_EQ(GetParam().compatible, component.isEnvironmentCompatible());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AiComponentEnvironmentTest,
    testing::Values(EnvironmentCase{"", "vz", true}, EnvironmentCase{"dedicated", "dedicated", true},
                    EnvironmentCase{"dedicated", "vz", false}, EnvironmentCase{"vz", "vz", true},
                    EnvironmentCase{"vz", "dedicated", false}, EnvironmentCase{"xen", "xen", false}));

TEST(AiComponentTest, RequestModeNames) {
    std::ostringstream out;
    out << REQ_UNSPECIFIED << ' ' << REQ_LEAVE << ' ' << REQ_INSTALL << ' ' << REQ_REMOVE << ' '
        << static_cast<request_mode_t>(9);
    EXPECT_EQ("REQ_UNSPECIFIED REQ_LEAVE REQ_INSTALL REQ_REMOVE REQ_UNKNOWN", out.str());
}

} // namespace
