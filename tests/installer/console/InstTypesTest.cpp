#include "installer/console/InstTypes.h"
#include "installer/components/ComponentManager.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using testsupport::caught;
using testsupport::makeBuild;

namespace {

InstallationType type(std::vector<std::string> names, int kind, std::vector<std::string> components = {}) {
    InstallationType t;
    t.names = std::move(names);
    t.description = t.names.empty() ? "" : t.names.front() + " set";
    t.kind = kind;
    t.components = std::move(components);
    return t;
}

InstallationType full() {
    InstallationType t = type({"Full"}, InstallationType::FULL);
    t.description = "Install all components.";
    return t;
}

InstallationType custom() {
    InstallationType t = type({"Custom"}, InstallationType::CUSTOM);
    t.description = "Custom components selection. Recommended only for experienced users.";
    return t;
}

std::vector<std::string> productIds(const InstTypes& types) {
    std::vector<std::string> ids;
    for (const InstTypes::Product& entry : types.products)
        ids.push_back(entry.productId);
    return ids;
}

std::vector<std::string> firstNames(const InstTypes::Product& entry) {
    std::vector<std::string> names;
    for (const InstallationType& t : entry.types)
        names.push_back(t.names.front());
    return names;
}

} // namespace

TEST(InstTypesTest, TypesAreFiledPerProductInLoadOrder) {
    const auto web = makeBuild("web");
    const auto mail = makeBuild("mail");
    InstTypes types;
    types.addType(web, type({"Typical"}, InstallationType::DECLARED, {"base", "php"}));
    types.addType(mail, full());
    types.addType(web, full());
    types.addType(mail, custom());
    types.addType(web, custom());

    EXPECT_EQ(productIds(types), (std::vector<std::string>{"web", "mail"}));
    const InstTypes::Product& entry = types.getProduct("web");
    EXPECT_EQ(entry.productName, "web");
    EXPECT_EQ(firstNames(entry), (std::vector<std::string>{"Typical", "Full", "Custom"}));
    EXPECT_EQ(entry.types.front().components, (std::vector<std::string>{"base", "php"}));
    EXPECT_EQ(firstNames(types.getProduct("mail")), (std::vector<std::string>{"Full", "Custom"}));
    EXPECT_EQ(types.findProduct("mail"), types.products.begin() + 1);
    // Product ids are compared exactly.
    EXPECT_EQ(types.findProduct("WEB"), types.products.end());
}

// The type lists a build gets from the loader, and lookups in them: names and aliases match
// regardless of case, and the first type in order wins.
TEST(InstTypesTest, LookupsIgnoreCaseAndTakeTheFirstMatch) {
    struct Case {
        const char* what;
        std::vector<InstallationType> added;
        std::string lookup;
        std::string expectedName;
        std::string expectedDescription;
        int expectedKind;
    };
    const InstallationType typical = type({"Typical"}, InstallationType::DECLARED, {"base"});
    const InstallationType declaredFull = type({"Full"}, InstallationType::DECLARED, {"base", "php"});
    const InstallationType lowerFull = type({"full"}, InstallationType::DECLARED, {"base", "php"});
    const InstallationType aliased = type({"Typical", "Recommended"}, InstallationType::DECLARED, {"base"});
    const Case cases[] = {
        {"declared Full is the Full",
         {typical, declaredFull, custom()},
         "FULL",
         "Full",
         "Full set",
         InstallationType::DECLARED},
        {"generated Full",
         {typical, full(), custom()},
         "full",
         "Full",
         "Install all components.",
         InstallationType::FULL},
        {"declared full in lower case comes first",
         {lowerFull, full(), custom()},
         "Full",
         "full",
         "full set",
         InstallationType::DECLARED},
        {"alias in lower case",
         {aliased, full(), custom()},
         "recommended",
         "Typical",
         "Typical set",
         InstallationType::DECLARED},
        {"first name in upper case",
         {aliased, full(), custom()},
         "TYPICAL",
         "Typical",
         "Typical set",
         InstallationType::DECLARED},
        {"no declared types",
         {full(), custom()},
         "custom",
         "Custom",
         "Custom components selection. Recommended only for experienced users.",
         InstallationType::CUSTOM},
    };
    const auto build = makeBuild("web");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstTypes types;
        for (const InstallationType& t : c.added)
            types.addType(build, t);
        const InstallationType& found = types.getProduct("web").getType(c.lookup);
        EXPECT_EQ(found.names.front(), c.expectedName);
        EXPECT_EQ(found.description, c.expectedDescription);
        EXPECT_EQ(found.kind, c.expectedKind);
    }
}

TEST(InstTypesTest, FailedLookupsRaiseInternalErrors) {
    const auto build = makeBuild("web");
    InstTypes types;
    types.addType(build, type({"Typical", "Recommended"}, InstallationType::DECLARED, {"base"}));
    types.addType(build, full());
    const InstTypes::Product empty;

    struct Case {
        const char* what;
        std::function<void()> lookup;
        std::string text;
    };
    const Case cases[] = {
        {"unknown product", [&] { types.getProduct("mail"); },
         "InstTypes data: can't get product by id='mail'"},
        {"product id in another case", [&] { types.getProduct("Web"); },
         "InstTypes data: can't get product by id='Web'"},
        {"unknown type", [&] { types.getProduct("web").getType("Minimal"); },
         "InstTypes data: can't get install type from product: web/Minimal"},
        {"a prefix of a name", [&] { types.getProduct("web").getType("Ful"); },
         "InstTypes data: can't get install type from product: web/Ful"},
        {"a name with more after it", [&] { types.getProduct("web").getType("Fullx"); },
         "InstTypes data: can't get install type from product: web/Fullx"},
        {"empty type name", [&] { types.getProduct("web").getType(""); },
         "InstTypes data: tname is empty in request"},
        {"empty type name where there are no types", [&] { empty.getType(""); },
         "InstTypes data: tname is empty in request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testsupport::ErrorFacts e = caught(c.lookup);
        EXPECT_EQ(e.text, c.text + "\n");
        EXPECT_EQ(e.e_class, 3);
        EXPECT_EQ(e.repeat, 1);
        EXPECT_EQ(e.system_state, 1);
        EXPECT_EQ(e.support, 3);
    }
}

TEST(InstTypesTest, RefusedTypesLeaveTheListsUnchanged) {
    const auto build = makeBuild("web");
    struct Case {
        const char* what;
        boost::shared_ptr<Build> build;
        InstallationType added;
        std::string text;
    };
    auto looseBuild = makeBuild("web");
    looseBuild->_parent.reset(); // an add-on build not moved under a release
    const Case cases[] = {
        {"no names", build, type({}, InstallationType::FULL), "installer/InstTypes, line 83."},
        {"declared without components", build, type({"Typical"}, InstallationType::DECLARED),
         "installer/InstTypes, line 84."},
        {"no build", nullptr, full(), "Try of use NULL pointer"},
        {"build without release", looseBuild, full(), "Try of use NULL pointer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool known : {false, true}) {
            InstTypes types;
            if (known)
                types.addType(build, full());
            const testsupport::ErrorFacts e = caught([&] { types.addType(c.build, c.added); });
            EXPECT_NE(e.text.find(c.text), std::string::npos) << e.text;
            EXPECT_EQ(e.e_class, 3);
            EXPECT_EQ(types.products.size(), known ? 1u : 0u);
            if (known) {
                EXPECT_EQ(types.products.front().types.size(), 1u);
            }
        }
    }
}

TEST(InstTypesTest, ComponentManagerCarriesTheTypes) {
    ComponentManager manager;
    EXPECT_TRUE(manager.products.empty());
    manager.addType(makeBuild("web"), full());
    EXPECT_EQ(manager.getProduct("web").getType("full").kind, InstallationType::FULL);
}
