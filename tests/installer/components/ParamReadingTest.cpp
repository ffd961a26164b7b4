#include "installer/components/ParamManager.h"

#include "common/runtime/Messages.h"
#include "common/runtime/tinybind.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamPath.h"
#include "installer/components/ParamString.h"
#include "tests/installer/components/ComponentFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tinyxml.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;

namespace {

// Reads a settings element the way the manager does, without a manager (whose end writes to the
// home directory).
class ParamReadingTest : public ::testing::Test {
protected:
    comp_ptr_t component = makeComponent(makeBuild("moxel"), "base");
    TiXmlDocument document;
    params_t topLevel;

    params_t read(const std::string& xml) {
        topLevel.clear();
        document.Clear();
        document.Parse(xml.c_str());
        EXPECT_FALSE(document.Error()) << document.ErrorDesc();
        for (tinybind::ChildIterator child(document.RootElement(), ""), end; child != end; ++child)
            ParamManager::create(topLevel, component, *child, nullptr, "");
        return topLevel;
    }

    param_ptr_t readOne(const std::string& setting) {
        params_t params = read("<settings>" + setting + "</settings>");
        EXPECT_EQ(params.size(), 1u);
        return params.empty() ? nullptr : params.front();
    }

    std::string readError(const std::string& setting) {
        try {
            read("<settings>" + setting + "</settings>");
        } catch (const error& e) {
            EXPECT_EQ(e.getClass(), 1);
            EXPECT_EQ(e.getSupport(), 3);
            return e.getText();
        } catch (const tinybind::err& e) {
            return e.text;
        }
        ADD_FAILURE() << "no error for " << setting;
        return "";
    }
};

TEST_F(ParamReadingTest, GroupHoldsItsSettingsInDocumentOrder) {
    params_t params = read("<settings><group><description>Database</description>"
                           "<setting id='db_name' type='string'><name>Name</name></setting>"
                           "<setting id='db_user' type='string'><name>User</name></setting>"
                           "</group></settings>");
    ASSERT_EQ(params.size(), 1u);
    auto group = std::dynamic_pointer_cast<ParamGroup>(params[0]);
    ASSERT_TRUE(group);
    EXPECT_EQ(group->id, "__SUBGROUP");
    EXPECT_EQ(group->displayName, "__group_cant_have_name__");
    EXPECT_EQ(group->displayDescription, "Database");
    EXPECT_EQ(group->errorMessage, "__group_cant_have_errmsg__");
    EXPECT_THAT(group->getBranchNames(), ElementsAre(""));
    params_t nested = group->getBranch("");
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_EQ(nested[0]->id, "db_name");
    EXPECT_EQ(nested[0]->displayName, "Name");
    EXPECT_EQ(nested[1]->id, "db_user");
}

TEST_F(ParamReadingTest, BooleanNestsItsSettingsAndGroupsUnderTrue) {
    param_ptr_t ssl =
        readOne("<setting id='ssl' type='boolean'><name>SSL</name>"
                "<setting id='cert' type='string'/><group><setting id='key' type='string'/></group>"
                "</setting>");
    auto flag = std::dynamic_pointer_cast<ParamBool>(ssl);
    ASSERT_TRUE(flag);
    EXPECT_THAT(flag->getBranchNames(), ElementsAre("true"));
    params_t nested = flag->getBranch("true");
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_EQ(nested[0]->id, "cert");
    EXPECT_TRUE(std::dynamic_pointer_cast<ParamGroup>(nested[1]));
    EXPECT_EQ(std::dynamic_pointer_cast<SubParams>(nested[1])->getBranch("")[0]->id, "key");
}

TEST_F(ParamReadingTest, EnumChoicesAndTheirBranches) {
    param_ptr_t mode = readOne("<setting id='mode' type='enum'><name>Mode</name>"
                               "<choice id='a'><name>Choice A</name></choice>"
                               "<choice id='b'><name>Choice B</name><setting id='level' type='integer' "
                               "min='1' max='9'/></choice>"
                               "<choice id='c'/></setting>");
    auto choices = std::dynamic_pointer_cast<ParamEnum>(mode);
    ASSERT_TRUE(choices);
    EXPECT_THAT(choices->choiceList,
                ElementsAre(Pair("a", "Choice A"), Pair("b", "Choice B"), Pair("c", "")));
    EXPECT_THAT(choices->getBranchNames(), ElementsAre("b"));
    auto level = std::dynamic_pointer_cast<ParamInteger>(choices->getBranch("b")[0]);
    ASSERT_TRUE(level);
    EXPECT_EQ(level->minText, "1");
    EXPECT_EQ(level->maxText, "9");
}

TEST_F(ParamReadingTest, AttributesOfTheTypes) {
    auto password = std::dynamic_pointer_cast<ParamPassword>(readOne(
        "<setting id='pw' type='password' min-length='8' max-length='64' regex='^\\S+$' "
        "validate-with-login='true' behaviour='secure'><error-message>Bad</error-message></setting>"));
    ASSERT_TRUE(password);
    EXPECT_EQ(password->minLength, "8");
    EXPECT_EQ(password->maxLength, "64");
    EXPECT_EQ(password->regexText, "^\\S+$");
    EXPECT_EQ(password->validateWithLogin, "true");
    EXPECT_EQ(password->behaviourMode, Param::secure);
    EXPECT_EQ(password->errorMessage, "Bad");

    auto path =
        std::dynamic_pointer_cast<ParamPath>(readOne("<setting id='root' type='path' exists='yes'/>"));
    ASSERT_TRUE(path);
    EXPECT_TRUE(path->mustExist);

    param_ptr_t detected = readOne("<setting id='ip' type='host-name' behaviour='detectable' lock='true'>"
                                   "<read-setting-value/></setting>");
    EXPECT_EQ(detected->behaviourMode, Param::detectable);
    EXPECT_EQ(readOne("<setting id='x' type='hidden' behaviour='regular'/>")->behaviourMode, Param::regular);
}

TEST_F(ParamReadingTest, DefaultIsKeptUnexpandedAndMayBeEmpty) {
    param_ptr_t page = readOne("<setting id='page' type='static-text' default-value='[LOCALE]/readme'/>");
    EXPECT_TRUE(page->hasDefault);
    EXPECT_EQ(page->defaultValue, "[LOCALE]/readme");

    param_ptr_t empty = readOne("<setting id='e' type='string' default-value=''/>");
    EXPECT_TRUE(empty->hasDefault);
    EXPECT_EQ(empty->getDefault(), "");

    param_ptr_t none = readOne("<setting id='n' type='string'/>");
    EXPECT_FALSE(none->hasDefault);
}

TEST_F(ParamReadingTest, BadDescriptions) {
    EXPECT_EQ(readError("<option id='x' type='string'/>"), "Unsupported tag <option> in config.\n");
    EXPECT_EQ(readError("<setting id='a b' type='string'/>"),
              "ERROR: invalid '<setting id=' in config: 'a b'\n");
    EXPECT_EQ(readError("<setting type='string'/>"), "ERROR: invalid '<setting id=' in config: ''\n");
    EXPECT_EQ(readError("<setting id='x' type='text'/>"), "Unsupported 'setting type' in config: text\n");
    EXPECT_EQ(readError("<setting id='x' type='string' behaviour='Secure'/>"),
              "Unsupported attribute 'behaviour' value Secure\n");
    EXPECT_EQ(readError("<setting id='x' type='string' behaviour='detectable'/>"),
              "There is no child element 'read-setting-value' in tag 'setting'");
    EXPECT_THAT(readError("<setting id='x' type='path'/>"), HasSubstr("exists"));
    EXPECT_THAT(readError("<setting id='x' type='path' exists='1'/>"),
                HasSubstr("incorrect boolean attribute"));
    EXPECT_THAT(readError("<setting id='x' type='string'><name/></setting>"),
                HasSubstr("Text node not found"));
}

TEST_F(ParamReadingTest, IdsOfLettersDigitsDashAndUnderscore) {
    EXPECT_EQ(readOne("<setting id='1st-db_Name' type='string'/>")->id, "1st-db_Name");
}

TEST_F(ParamReadingTest, SettingsBeforeAnErrorStay) {
    EXPECT_THROW(read("<settings><setting id='a' type='string'/><bad/></settings>"), error);
    ASSERT_EQ(topLevel.size(), 1u);
    EXPECT_EQ(topLevel[0]->id, "a");
}

// ---------------------------------------------------------------------------------------------------------
// Localised texts

const char* const localisedName =
    "<setting id='x' type='string'>"
    "<name>Site name</name><name lang='de_DE'>Name der Site</name>"
    "<name lang='fr_FR'>Nom du site</name>"
    "<description lang='fr_FR'>Le nom</description><description>The name</description>"
    "</setting>";

TEST_F(ParamReadingTest, TextOfTheLocaleLanguage) {
    Messages::setLocale("de_DE.UTF-8");
    param_ptr_t param = readOne(localisedName);
    EXPECT_EQ(param->displayName, "Name der Site");
    // Without a match, the first text, whatever its language.
    EXPECT_EQ(param->displayDescription, "Le nom");
}

TEST_F(ParamReadingTest, FirstTextWithoutAMatchingLanguage) {
    Messages::setLocale("it_IT.UTF-8");
    EXPECT_EQ(readOne(localisedName)->displayName, "Site name");
}

TEST_F(ParamReadingTest, OnlyTheFirstAndTheMatchingTextsAreRead) {
    Messages::setLocale("fr_FR.UTF-8");
    const std::string broken = "<setting id='x' type='string'><name>Name</name><name lang='de_DE'/>"
                               "<name lang='fr_FR'>Nom</name></setting>";
    EXPECT_EQ(readOne(broken)->displayName, "Nom");
}

// ---------------------------------------------------------------------------------------------------------
// Macros

TEST(ExpandMacrosTest, LocaleInTheFormOfALanguageTag) {
    Messages::setLocale("pt_BR.UTF-8");
    struct {
        std::string text, expanded;
    } cases[] = {
        {"[LOCALE]/readme", "pt-BR/readme"},
        {"docs/[other]/[LOCALE]", "docs/[other]/pt-BR"},
        {"[locale]", "[locale]"},
        {"[LOCALE", "[LOCALE"},
        {"[x[LOCALE]]", "[x[LOCALE]]"},
        {"[LOCALE][LOCALE]", "pt-BRpt-BR"},
        {"", ""},
    };
    for (auto& c : cases) {
        std::string text = c.text;
        expandMacros(text);
        EXPECT_EQ(text, c.expanded) << c.text;
    }
}

TEST(ExpandMacrosTest, ShortLocaleNamesStayAsTheyAre) {
    Messages::setLocale("ar_SA.UTF-8");
    std::string text = "[LOCALE]";
    expandMacros(text);
    EXPECT_EQ(text, "ar");
}

} // namespace
