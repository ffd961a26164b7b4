#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Each test case runs in a process of its own: the first lookup fixes the locale from the
// environment, so each case sets the environment first.
class MessagesTest : public ::testing::Test {
protected:
    void useEnvironmentLocale(const char* name) {
        unsetenv("LANGUAGE");
        unsetenv("LC_MESSAGES");
        setenv("LC_ALL", name, 1);
        setenv("LANG", name, 1);
    }
    static int count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
            ++n;
        return n;
    }
};

TEST_F(MessagesTest, SupportedLocaleFromTheEnvironment) {
    useEnvironmentLocale("de_DE.UTF-8");
    EXPECT_EQ(Messages::getLocale(), "de_DE.UTF-8");
    // A key no German text overrides still resolves in English.
    EXPECT_EQ(Messages().getMessage("error_rep_again"), "Please try to install packages again later.");
    EXPECT_THAT(Log::getReport(), Not(HasSubstr("not supported")));
}

TEST_F(MessagesTest, ArabicNamesMatchedByPatternBecomeAr) {
    useEnvironmentLocale("ar_EG.UTF-8");
    EXPECT_EQ(Messages::getLocale(), "ar");
}

TEST_F(MessagesTest, ArabicCatalogueNameIsKept) {
    Messages::setLocale("ar.UTF-8");
    EXPECT_EQ(Messages::getLocale(), "ar.UTF-8");
}

TEST_F(MessagesTest, NameWithoutSuffixFallsBackToEnglishWithTwoWarnings) {
    useEnvironmentLocale("de_DE");
    EXPECT_EQ(Messages::getLocale(), "en_US");
    const std::string report = Log::getReport();
    EXPECT_THAT(report, HasSubstr("Warning: Locale de_DE is not supported, used en_US.\n"));
    EXPECT_THAT(report, HasSubstr("Supported locales are: ar_*.UTF-8 ca_ES.UTF-8 "));
    EXPECT_THAT(report, HasSubstr("zh_CN.UTF-8 zh_TW.UTF-8 \n"));
}

TEST_F(MessagesTest, PlainCLocaleIsKeptWithoutWarning) {
    useEnvironmentLocale("C");
    EXPECT_EQ(Messages::getLocale(), "C");
    EXPECT_THAT(Log::getReport(), Not(HasSubstr("Warning")));
}

TEST_F(MessagesTest, MissingKeyFallsBackAndWarnsOnce) {
    useEnvironmentLocale("C");
    Messages messages;
    EXPECT_EQ(messages.getMessage("no_such_key"), "no_such_key_(non_localized)");
    EXPECT_EQ(messages.getMessage("no_such_key"), "no_such_key_(non_localized)");
    EXPECT_EQ(count(Log::getReport(), "Warning: unlocalized key no_such_key\n"), 1);
}

TEST_F(MessagesTest, TextsAreStoredByteForByte) {
    useEnvironmentLocale("C");
    EXPECT_EQ(Messages().getMessage("error_supp_maybe"),
              "Please resolve this issue and try to install the packages again.\n"
              "Visit https://support.moxel.example/ to search for a solution.");
}

TEST_F(MessagesTest, SetLocaleCompletesTheNameAndSetsTheEnvironment) {
    Messages::setLocale("pt-BR");
    EXPECT_EQ(Messages::getLocale(), "pt_BR.UTF-8");
    EXPECT_STREQ(getenv("LC_ALL"), "pt_BR.UTF-8");
    EXPECT_STREQ(getenv("LANG"), "pt_BR.UTF-8");
}

TEST_F(MessagesTest, SetLocaleWithoutCatalogueUsesEnglishAndASystemLocale) {
    Messages::setLocale("ru");
    EXPECT_EQ(Messages::getLocale(), "en_US");
    EXPECT_THAT(Log::getReport(), HasSubstr("Warning: Locale ru.UTF-8 is not supported, used en_US."));
    // The system has no locale named ru.UTF-8.
    EXPECT_STREQ(getenv("LC_ALL"), "C");
}

TEST_F(MessagesTest, TextsHandedOutSurviveALocaleSwitch) {
    useEnvironmentLocale("C");
    const std::string& before = Messages().getMessage("error_sys_stable");
    Messages::setLocale("de_DE");
    EXPECT_EQ(before, "Not all packages were installed.");
}

TEST_F(MessagesTest, LookupsOnOneThreadWhileAnotherSwitchesTheLocale) {
    useEnvironmentLocale("C");
    std::atomic<bool> stop{false};
    std::atomic<long> lookups{0};
    std::thread reader([&] {
        Messages messages;
        while (!stop) {
            const std::string& text = messages.getMessage("error_sys_broken");
            ASSERT_EQ(text, "Attention! Your software might be inoperable.");
            messages.getMessage(lookups % 2 ? "missing_key_a" : "missing_key_b");
            ++lookups;
        }
    });
    const char* const locales[] = {"de_DE", "pt-BR", "en_US", "ar"};
    for (int i = 0; i < 200; ++i)
        Messages::setLocale(locales[i % 4]);
    stop = true;
    reader.join();
    EXPECT_GT(lookups.load(), 0);
}

TEST_F(MessagesTest, FormatFillsPlaceholders) {
    useEnvironmentLocale("C");
    EXPECT_EQ(Messages().format("error_rep_again"), "Please try to install packages again later.");
}

TEST_F(MessagesTest, FormatWithTheWrongArgumentCountFallsBackToTextAndArguments) {
    useEnvironmentLocale("C");
    EXPECT_EQ(Messages().format("error_rep_again", "x", 3),
              "Please try to install packages again later. x 3");
    EXPECT_THAT(Log::getReport(), HasSubstr("Warning: cannot format the text of error_rep_again"));
}

TEST_F(MessagesTest, ConsoleLocales) {
    const std::pair<const char*, bool> cases[] = {
        {"zh_CN.UTF-8", false}, {"C", true},         {"POSIX", true},        {"ar_EG.UTF-8", false},
        {"ar", true},           {"de_DE.UTF-8", true}, {"ja_JP.UTF-8", false}, {"c", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isConsoleLocale(c.first), c.second) << c.first;
}

TEST_F(MessagesTest, LanguagesOfferedByTheWebInterface) {
    const auto languages = Messages::getLanguages();
    ASSERT_EQ(languages.size(), 32u);
    EXPECT_EQ(languages.front(), std::make_pair(std::string("en_US"), std::string("English")));
    EXPECT_EQ(languages[17], std::make_pair(std::string("nb_NO"), std::string("Norweigian")));
    EXPECT_EQ(languages.back(), std::make_pair(std::string("zh_TW"), std::string("Chinese (Traditional)")));
}

} // namespace
