#include "installer/components/Param.h"

#include "common/runtime/Messages.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamDomain.h"
#include "installer/components/ParamEmail.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamFloat.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamHostname.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamPath.h"
#include "installer/components/ParamStatic.h"
#include "installer/components/ParamString.h"
#include "installer/components/ParamUrl.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::caught;
using testsupport::ErrorFacts;
using testsupport::makeBuild;
using testsupport::makeComponent;

namespace {

comp_ptr_t newComponent(int status = AiComponent::INSTALL) {
    return makeComponent(makeBuild("moxel"), "base", status, REQ_INSTALL);
}

// ---------------------------------------------------------------------------------------------------------
// Validation by type

using factory_t = std::function<param_ptr_t(const comp_ptr_t&)>;

template <typename T, typename... Args> factory_t make(Args... args) {
    return [=](const comp_ptr_t& component) { return std::make_shared<T>(component, "p", args...); };
}

struct ValidationCase {
    const char* what;
    factory_t factory;
    std::string text;
    bool accepted;
    // The message key of the detail a rejection leaves, "" for none.
    std::string detail;
    // The argument the detail text is formatted with.
    std::string detailArgument;
};

class ValidationTest : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ValidationTest, AcceptsOrRejectsWithItsDetail) {
    const ValidationCase& c = GetParam();
    param_ptr_t param = c.factory(newComponent());
    EXPECT_EQ(param->validate(c.text), c.accepted) << c.what << ": '" << c.text << "'";
    std::string detail;
    if (!c.detail.empty())
        detail = c.detailArgument.empty() ? Messages().getMessage(c.detail)
                                          : Messages().format(c.detail.c_str(), c.detailArgument);
    EXPECT_EQ(param->validationDetail, detail) << c.what << ": '" << c.text << "'";
}

const ValidationCase validationCases[] = {
    {"boolean", make<ParamBool>(), "YES", true, "", ""},
    {"boolean", make<ParamBool>(), "Y", true, "", ""},
    {"boolean", make<ParamBool>(), "no", true, "", ""},
    {"boolean", make<ParamBool>(), "False", true, "", ""},
    {"boolean", make<ParamBool>(), "1", false, "", ""},
    {"boolean", make<ParamBool>(), "on", false, "", ""},
    {"boolean", make<ParamBool>(), "", false, "", ""},

    {"integer", make<ParamInteger>("", ""), "", true, "", ""},
    {"integer", make<ParamInteger>("", ""), "-", true, "", ""},
    {"integer", make<ParamInteger>("", ""), "+5", true, "", ""},
    {"integer", make<ParamInteger>("", ""), "1-2", true, "", ""},
    {"integer", make<ParamInteger>("", ""), "1.5", false, "", ""},
    {"integer", make<ParamInteger>("", ""), " 1", false, "", ""},
    {"integer bounds are not enforced", make<ParamInteger>("10", "20"), "5", true, "", ""},

    {"float", make<ParamFloat>("", ""), "abc1", true, "", ""},
    {"float", make<ParamFloat>("1", ""), "abc1", false, "", ""},
    {"float", make<ParamFloat>("", "999"), "1e3", false, "", ""},
    {"float", make<ParamFloat>("", "1000"), "1e3", true, "", ""},
    {"float", make<ParamFloat>("-1.5", "2.5"), "2.5", true, "", ""},
    {"float", make<ParamFloat>("", ""), ".5", true, "", ""},
    {"float", make<ParamFloat>("", ""), "abc", false, "", ""},
    {"float", make<ParamFloat>("", ""), "", false, "", ""},

    {"string", make<ParamString>("3", "", ""), "ab", false, "", ""},
    {"string", make<ParamString>("3", "", ""), "abc", true, "", ""},
    {"string", make<ParamString>("", "3", ""), "abcd", false, "", ""},
    {"string", make<ParamString>("x", "", ""), "anything", false, "", ""},
    {"string", make<ParamString>("", "-1", ""), "a negative bound reads as a very large one", true, "", ""},
    {"string", make<ParamString>("", "", "^[a-z]+$"), "abc", true, "", ""},
    {"string", make<ParamString>("", "", "^[a-z]+$"), "ab1", false, "", ""},
    {"string", make<ParamString>("", "", "\\d"), "a pattern is found anywhere: 7", true, "", ""},
    {"string", make<ParamString>("", "", "(unclosed"), "unclosed", false, "", ""},

    {"password", make<ParamPassword>("8", "", "", ""), "short", false, "param_password_too_short", "8"},
    {"password", make<ParamPassword>("", "4", "", ""), "too long", false, "param_password_too_long", "4"},
    {"password", make<ParamPassword>("", "", "^[a-z]+$", ""), "s3cret", false,
     "param_password_contains_invalid_characters", ""},
    {"password", make<ParamPassword>("x", "", "", ""), "anything", false, "param_password_validation_failed",
     ""},
    {"password", make<ParamPassword>("2", "8", "^[a-z]+$", ""), "secret", true, "", ""},

    {"email", make<ParamEmail>(), "ops@example.com", true, "", ""},
    {"email", make<ParamEmail>(), "a@b", true, "", ""},
    {"email", make<ParamEmail>(), "@example.com", false, "", ""},
    {"email", make<ParamEmail>(), "ops@", false, "", ""},
    {"email", make<ParamEmail>(), "a@b@c", false, "", ""},
    {"email", make<ParamEmail>(), "a\\b@c", false, "", ""},

    {"domain", make<ParamDomain>(), "example.com", true, "", ""},
    {"domain", make<ParamDomain>(), "a-b.example.com", true, "", ""},
    {"domain", make<ParamDomain>(), "192.0.2.1", true, "", ""},
    {"domain", make<ParamDomain>(), "localhost", false, "", ""},
    {"domain", make<ParamDomain>(), "localhost.rev", false, "", ""},
    {"domain", make<ParamDomain>(), "1.2.0.192.in-addr.arpa", false, "", ""},
    {"domain", make<ParamDomain>(), "-a.example.com", false, "", ""},
    {"domain", make<ParamDomain>(), "#192.0.2.1", false, "", ""},
    {"domain", make<ParamDomain>(), std::string(64, 'a') + ".com", false, "", ""},
    {"domain", make<ParamDomain>(), std::string(63, 'a') + ".com", true, "", ""},

    {"host", make<ParamHostname>(), "www.example.com", true, "", ""},
    {"host", make<ParamHostname>(), "192.0.2.1", true, "", ""},
    {"host", make<ParamHostname>(), "#192.0.2.1", true, "", ""},
    {"host", make<ParamHostname>(), "localhost", false, "", ""},
    {"host", make<ParamHostname>(), "localhost.rev", false, "", ""},
    {"host", make<ParamHostname>(), "1.2.0.192.in-addr.arpa", false, "", ""},
    {"host", make<ParamHostname>(), std::string(250, '1') + ".2.3.4", false, "", ""},

    {"url", make<ParamUrl>(), "https://example.com/", true, "", ""},
    {"url", make<ParamUrl>(), "ftp://example.com/pub/file", true, "", ""},
    {"url", make<ParamUrl>(), "https://example.com", false, "", ""},
    {"url", make<ParamUrl>(), "example.com/", false, "", ""},

    {"static text", make<ParamStatic>(), "anything at all", true, "", ""},
    {"hidden", make<ParamHidden>(), "", true, "", ""},
    {"group", make<ParamGroup>(), "", true, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Types, ValidationTest, ::testing::ValuesIn(validationCases));

TEST(ParamEnumTest, AcceptsOnlyTheChoiceIdsByteForByte) {
    auto choice = std::make_shared<ParamEnum>(newComponent(), "mode");
    choice->setChoices({{"fast", "Fast"}, {"safe", "Safe"}});
    EXPECT_TRUE(choice->validate("safe"));
    EXPECT_FALSE(choice->validate("Safe"));
    EXPECT_FALSE(choice->validate("safe "));
    EXPECT_FALSE(choice->validate(""));
}

// Paths are checked against the file system; the accepted characters leave out the dot of a
// temporary directory's name, so these read system directories.
std::string pathDetail(const std::string& text, bool mustExist = false) {
    ParamPath path(newComponent(), "docroot", mustExist);
    EXPECT_FALSE(path.validate(text)) << text;
    return path.validationDetail;
}

TEST(ParamPathTest, ExistingDirectoryAndMissingPathPass) {
    ParamPath path(newComponent(), "docroot", false);
    EXPECT_TRUE(path.validate("/usr/bin"));
    EXPECT_TRUE(path.validate("/usr/not-there_(yet) 2\\x"));
    EXPECT_EQ(path.validationDetail, "");

    ParamPath existing(newComponent(), "docroot", true);
    EXPECT_TRUE(existing.validate("/usr/bin"));
}

TEST(ParamPathTest, RejectionsSayWhy) {
    EXPECT_EQ(pathDetail("var/www"), Messages().getMessage("param_path_not_full"));
    EXPECT_EQ(pathDetail(""), Messages().getMessage("param_path_not_full"));
    EXPECT_EQ(pathDetail("/bin/sh"), Messages().getMessage("param_path_not_directory"));
    EXPECT_EQ(pathDetail("/var/www/site.example"),
              Messages().getMessage("param_path_contains_invalid_characters"));
    EXPECT_EQ(pathDetail("/var/www/caf\xc3\xa9"),
              Messages().getMessage("param_path_contains_invalid_characters"));
    EXPECT_EQ(pathDetail("/"), Messages().getMessage("param_path_contains_invalid_characters"));
    EXPECT_EQ(pathDetail("/usr/not-there", true), Messages().getMessage("param_path_not_exists"));
}

TEST(ParamPathTest, StoresThePathWithoutTrailingSlashes) {
    ParamPath path(newComponent(), "docroot", false);
    ASSERT_TRUE(path.setValue("/usr/bin//"));
    EXPECT_EQ(path.acceptedValue, "/usr/bin");
    EXPECT_EQ(path.enteredText, "/usr/bin//");
}

TEST(ParamPasswordTest, ErrorMessageCarriesTheDetailAndAStringOnlyItsOwnText) {
    auto password = std::make_shared<ParamPassword>(newComponent(), "admin_password", "8", "", "", "");
    password->setTexts("Password", "The administrator's password", "Bad password");
    EXPECT_FALSE(password->setValue("short"));
    EXPECT_EQ(password->getErrorMessage(),
              "Bad password - " + Messages().format("param_password_too_short", std::string("8")));

    // Each validation starts without a detail.
    EXPECT_TRUE(password->setValue("long enough"));
    EXPECT_EQ(password->getErrorMessage(), "Bad password");

    auto text = std::make_shared<ParamString>(newComponent(), "name", "8", "", "");
    text->setTexts("Name", "", "Bad name");
    EXPECT_FALSE(text->setValue("short"));
    EXPECT_EQ(text->getErrorMessage(), "Bad name");
}

TEST(ParamTypeTest, TypeNames) {
    const comp_ptr_t c = newComponent();
    EXPECT_STREQ(ParamBool(c, "p").getType(), "boolean");
    EXPECT_STREQ(ParamEnum(c, "p").getType(), "enum");
    EXPECT_STREQ(ParamGroup(c, "p").getType(), "__group_no_type__doh1Oolo__");
    EXPECT_STREQ(ParamInteger(c, "p", "", "").getType(), "integer");
    EXPECT_STREQ(ParamFloat(c, "p", "", "").getType(), "float");
    EXPECT_STREQ(ParamString(c, "p", "", "", "").getType(), "string");
    EXPECT_STREQ(ParamPassword(c, "p", "", "", "", "").getType(), "password");
    EXPECT_STREQ(ParamEmail(c, "p").getType(), "email");
    EXPECT_STREQ(ParamDomain(c, "p").getType(), "domain-name");
    EXPECT_STREQ(ParamHostname(c, "p").getType(), "host-name");
    EXPECT_STREQ(ParamPath(c, "p", false).getType(), "path");
    EXPECT_STREQ(ParamUrl(c, "p").getType(), "url");
    EXPECT_STREQ(ParamStatic(c, "p").getType(), "static-text");
    EXPECT_STREQ(ParamHidden(c, "p").getType(), "__type_hidden__tei9Rae9__");
}

// ---------------------------------------------------------------------------------------------------------
// Values

TEST(ParamValueTest, BooleanIsStoredNormalised) {
    ParamBool flag(newComponent(), "ssl");
    ASSERT_TRUE(flag.setValue("YES"));
    EXPECT_EQ(flag.acceptedValue, "true");
    ASSERT_TRUE(flag.setValue("Y"));
    EXPECT_EQ(flag.acceptedValue, "true");
    ASSERT_TRUE(flag.setValue("no"));
    EXPECT_EQ(flag.acceptedValue, "false");

    ErrorFacts facts = caught([&] { flag.assign("maybe"); });
    EXPECT_THAT(facts.text, HasSubstr("installer/ParamBool, line 41"));
}

TEST(ParamValueTest, RejectedTextKeepsTheEarlierValue) {
    ParamInteger port(newComponent(), "port", "", "");
    EXPECT_FALSE(port.isValid());
    EXPECT_EQ(port.getValue(), "");

    ASSERT_TRUE(port.setValue("8443"));
    EXPECT_FALSE(port.setValue("eighty"));
    EXPECT_EQ(port.acceptedValue, "8443");
    EXPECT_EQ(port.enteredText, "eighty");
    EXPECT_TRUE(port.isValid());
    EXPECT_FALSE(port.lastValueAccepted);
    EXPECT_EQ(port.getValue(), "8443");

    EXPECT_TRUE(port.setValue("80"));
    EXPECT_TRUE(port.lastValueAccepted);
}

TEST(ParamValueTest, DefaultIsUsedUntilAValueIsSetAndIsRequired) {
    ParamString name(newComponent(), "name", "", "", "");
    ErrorFacts facts = caught([&] { name.getDefault(); });
    EXPECT_EQ(facts.text, "Param::getDefault - default value is not set for opton name\n");
    EXPECT_EQ(facts.e_class, 3);
    EXPECT_EQ(facts.support, 3);

    // Without a settings manager the default is not expanded.
    name.setDefault("[LOCALE]-x");
    EXPECT_EQ(name.getValue(), "[LOCALE]-x");
    ASSERT_TRUE(name.setValue("given"));
    EXPECT_EQ(name.getValue(), "given");

    ParamString empty(newComponent(), "empty", "", "", "");
    empty.setDefault("");
    EXPECT_TRUE(empty.hasDefault);
    EXPECT_EQ(empty.getDefault(), "");
}

TEST(ParamValueTest, SettingsOfInstalledComponentsAreReadOnly) {
    for (int status : {AiComponent::UPGRADE, AiComponent::UP2DATE}) {
        ParamString name(newComponent(status), "name", "", "", "");
        EXPECT_TRUE(name.is_readonly());
        ErrorFacts facts = caught([&] { name.setValue("x"); });
        EXPECT_EQ(facts.text, "Param::setValue: try to change read-only param\n");
        EXPECT_EQ(facts.e_class, 3);
        EXPECT_EQ(facts.support, 2);
        EXPECT_EQ(name.enteredText, "");
        EXPECT_FALSE(name.hasValue());
    }
    EXPECT_FALSE(ParamString(newComponent(AiComponent::INSTALL), "name", "", "", "").is_readonly());

    // The installed state must be known.
    ParamString early(newComponent(AiComponent::NOT_CHECKED), "name", "", "", "");
    EXPECT_THAT(caught([&] { early.is_readonly(); }).text, HasSubstr("installer/AiComponent, line 64"));
}

TEST(ParamValueTest, UnselectedComponent) {
    comp_ptr_t component = newComponent(AiComponent::INSTALL);
    ParamString name(component, "name", "", "", "");
    EXPECT_FALSE(name.hasUnselectedComponent());
    component->requestMode = REQ_LEAVE;
    EXPECT_TRUE(name.hasUnselectedComponent());
}

TEST(ParamValueTest, ComponentsMustNotBeEmpty) {
    comp_ptr_t component = newComponent();
    ParamString name(component, "name", "", "", "");
    EXPECT_THAT(name.getComponents(), ElementsAre(component));
    name.ownerComponents.clear();
    EXPECT_THAT(caught([&] { name.getComponents(); }).text, HasSubstr("installer/Param, line 98"));
}

// ---------------------------------------------------------------------------------------------------------
// Settings with branches

TEST(SubParamsTest, BooleanIsValidByItsChosenBranch) {
    const comp_ptr_t c = newComponent();
    auto ssl = std::make_shared<ParamBool>(c, "ssl");
    auto certificate = std::make_shared<ParamString>(c, "certificate", "1", "", "");
    ssl->addToBranch("true", certificate);

    EXPECT_FALSE(ssl->isValid());
    ASSERT_TRUE(ssl->setValue("false"));
    EXPECT_TRUE(ssl->isValid());
    ASSERT_TRUE(ssl->setValue("true"));
    EXPECT_FALSE(ssl->isValid());
    ASSERT_TRUE(certificate->setValue("/etc/ssl/site.pem"));
    EXPECT_TRUE(ssl->isValid());
}

TEST(SubParamsTest, EnumWithoutNestedSettingsIsValidOnceSet) {
    const comp_ptr_t c = newComponent();
    auto mode = std::make_shared<ParamEnum>(c, "mode");
    mode->setChoices({{"a", "A"}, {"b", "B"}});
    mode->addToBranch("b", std::make_shared<ParamString>(c, "nested", "1", "", ""));
    ASSERT_TRUE(mode->setValue("a"));
    EXPECT_TRUE(mode->isValid());
    ASSERT_TRUE(mode->setValue("b"));
    EXPECT_FALSE(mode->isValid());
}

TEST(SubParamsTest, GroupIsInvalidUntilSomeValueIsSet) {
    const comp_ptr_t c = newComponent();
    ParamGroup group(c, "__SUBGROUP");
    EXPECT_FALSE(group.isValid());
    ASSERT_TRUE(group.setValue(""));
    EXPECT_TRUE(group.isValid());
}

TEST(SubParamsTest, BranchesInNameOrderAndUnknownBranchIsAnInternalError) {
    const comp_ptr_t c = newComponent();
    ParamEnum mode(c, "mode");
    auto first = std::make_shared<ParamString>(c, "first", "", "", "");
    auto second = std::make_shared<ParamString>(c, "second", "", "", "");
    mode.addToBranch("zeta", first);
    mode.addToBranch("alpha", second);
    mode.addToBranch("zeta", second);
    EXPECT_THAT(mode.getBranchNames(), ElementsAre("alpha", "zeta"));
    EXPECT_THAT(mode.getBranch("zeta"), ElementsAre(first, second));
    EXPECT_THAT(caught([&] { mode.getBranch("omega"); }).text, HasSubstr("installer/Param, line 192"));
}

} // namespace
