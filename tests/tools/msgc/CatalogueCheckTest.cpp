#include "tools/msgc/CatalogueCheck.h"
#include "tools/msgc/CatalogueFile.h"
#include "tools/msgc/GroupRules.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

using msgc::CatalogueCheck;
using msgc::CatalogueError;
using msgc::CatalogueFile;
using msgc::GroupRules;

namespace {

using Texts = std::vector<std::pair<std::string, std::string>>;

// Entries one per line, as a data file would hold them; text is given in the file's notation.
std::string dataFile(const Texts& texts) {
    std::string content;
    for (const auto& entry : texts)
        content += entry.first + " = \"" + entry.second + "\"\n";
    return content;
}

// The translation with one text replaced, or removed when the replacement is null.
Texts replaced(Texts texts, const std::string& key, const char* text) {
    for (auto it = texts.begin(); it != texts.end(); ++it) {
        if (it->first != key)
            continue;
        if (text)
            it->second = text;
        else
            texts.erase(it);
        return texts;
    }
    if (text)
        texts.emplace_back(key, text);
    return texts;
}

std::string failureOf(const std::string& group, const Texts& english, const Texts& translation) {
    const GroupRules rules = GroupRules::forGroup(group);
    try {
        const CatalogueFile original = CatalogueFile::parseText("en_US.msg", dataFile(english));
        const CatalogueFile file = CatalogueFile::parseText("de_DE.msg", dataFile(translation));
        CatalogueCheck::checkTexts(original, rules);
        CatalogueCheck::checkTexts(file, rules);
        CatalogueCheck::checkAgainstEnglish(file, original, rules);
    } catch (const CatalogueError& e) {
        return e.what();
    }
    return "";
}

const Texts console_english = {
    {"download_retry", "%s. Will retry in %s second(s)..."},
    {"usage_selector",
     "  product ID,       e.g. '%1%'\\n  release version,  e.g. '%2%'\\n  release ID, e.g. '%3%'\\n"},
    {"usage_end", "See 'installer help' for information on a command-based interface.\\n"},
    {"usage_verbose",
     "To see the full list of available options, add '--verbose' or '-v' to the command line."},
    {"err_no_pagers", "Warning: Unable to find neither 'less' nor 'more' utilities."},
    {"usage_opt_source", "Installation source: a directory containing top-level products.inf3 file"},
    {"wizard_legend_d_deselect_all", "(D) Deselect all"},
    {"yesno_retry", "Type Y for yes or N for no"},
    {"os_win_workstation_not_supported", "Unable to install Moxel on Windows for personal computers."},
};

const Texts console_german = {
    {"download_retry", "%s. Neuer Versuch in %s Sekunde(n)..."},
    {"usage_selector", "  Produkt-ID,  z. B. '%1%'\\n  Version,  z. B. '%2%'\\n  Release-ID, z. B. '%3%'\\n"},
    {"usage_end", "Siehe 'installer help' zur befehlsbasierten Oberfl\xc3\xa4"
                  "che.\\n"},
    {"usage_verbose", "Alle Optionen zeigt '--verbose' oder '-v' in der Befehlszeile."},
    {"err_no_pagers", "Warnung: Weder 'less' noch 'more' gefunden."},
    {"usage_opt_source", "Installationsquelle: ein Verzeichnis mit der Datei products.inf3"},
    {"wizard_legend_d_deselect_all", "(D) Alle abw\\u{00E4}hlen"},
    {"yesno_retry", "Geben Sie Y f\\u{00FC}r Ja oder N f\\u{00FC}r Nein ein"},
};

TEST(CatalogueCheckTest, SoundTranslationPasses) {
    EXPECT_EQ(failureOf("Console", console_english, console_german), "");
}

TEST(CatalogueCheckTest, RejectsFaultyTranslationTextsWithPlaceKeyAndReason) {
    struct Case {
        const char* key;
        const char* text;
        std::string reason;
    };
    const Case cases[] = {
        {"download_retry", "%s. Neuer Versuch in Sekunden...",
         "placeholders differ from English: expected %s %s, found %s"},
        {"usage_selector", "'%2%' '%1%' '%3%'",
         "placeholders differ from English: expected %1% %2% %3%, found %2% %1% %3%"},
        {"usage_selector", "'%1%' '%2%' '%3%' %s", "the text mixes %s with numbered placeholders"},
        {"download_retry", "%s. 100% in %s Sekunden",
         "stray % in the text (placeholders are %s, or %1%, %2% and so on)"},
        {"usage_verbose", "'--verbos' oder '-v'",
         "option --verbose of the English text is missing or altered"},
        {"usage_verbose", "'--verbose' oder 'v'", "option -v of the English text is missing or altered"},
        {"err_no_pagers", "Weder 'weniger' noch 'more'.", "'less' of the English text is missing or altered"},
        {"err_no_pagers", "Weder 'less-x' noch 'more'.", "'less' of the English text is missing or altered"},
        {"usage_end", "Siehe 'installer hilfe'.\\n",
         "installer help of the English text is missing or altered"},
        {"usage_opt_source", "ein Verzeichnis mit products.inf",
         "products.inf3 of the English text is missing or altered"},
        {"err_no_pagers", "tab\there 'less' 'more'", "control character 9 in the text"},
        {"err_no_pagers", "cr\rhere 'less' 'more'", "control character 13 in the text"},
        {"err_no_pagers", "next line\\u{0085} 'less' 'more'", "control character 133 in the text"},
        {"err_no_pagers", "bad \xc3\x28 'less' 'more'", "invalid UTF-8 in the text"},
        {"err_no_pagers", "overlong \xc0\xaf 'less' 'more'", "invalid UTF-8 in the text"},
        {"err_no_pagers", "", "empty text"},
        {"wizard_legend_d_deselect_all", "(A) Alle abw\\u{00E4}hlen",
         "the text must open with \"(D) \" as in English"},
        {"wizard_legend_d_deselect_all", "Alle abw\\u{00E4}hlen (D)",
         "the text must open with \"(D) \" as in English"},
        {"yesno_retry", "Geben Sie J f\\u{00FC}r Ja oder N f\\u{00FC}r Nein ein",
         "Y is missing from the text"},
    };
    for (const Case& c : cases) {
        const Texts translation = replaced(console_german, c.key, c.text);
        size_t line = 0;
        while (translation[line].first != c.key)
            ++line;
        EXPECT_EQ(failureOf("Console", console_english, translation),
                  "de_DE.msg:" + std::to_string(line + 1) + ": " + c.key + ": " + c.reason)
            << c.text;
    }
}

TEST(CatalogueCheckTest, KeptWordsMayChangeTheirQuotesButNotTheirLetters) {
    // Other quotation marks, and a prefix joined by a hyphen in another script, keep the word.
    for (const char* text : {"Weder \xe2\x80\x9eless\xe2\x80\x9d noch \xe2\x80\x9emore\xe2\x80\x9d.",
                             "\xd7\x91-less \xd7\x95-more", "less/more"})
        EXPECT_EQ(failureOf("Console", console_english, replaced(console_german, "err_no_pagers", text)), "")
            << text;
}

TEST(CatalogueCheckTest, KeySetFollowsTheGroupRules) {
    EXPECT_EQ(failureOf("Console", console_english, replaced(console_german, "err_no_pagers", nullptr)),
              "de_DE.msg: err_no_pagers: key missing from the translation");
    EXPECT_EQ(
        failureOf("Console", console_english,
                  replaced(console_german, "os_win_workstation_not_supported", "Nicht unter Windows.")),
        "de_DE.msg:9: os_win_workstation_not_supported: English-only key: translations do not carry it");
    EXPECT_EQ(failureOf("Console", console_english, replaced(console_german, "extra_key", "x")),
              "de_DE.msg:9: extra_key: key not in the English file");

    // Error texts that no code looks up may be left to English; the others may not.
    const Texts english = {{"err_not_root", "Moxel Installer should be executed with root privileges."},
                           {"err_vzag_error", "VZAgent reported an error while processing the request."}};
    EXPECT_EQ(failureOf("Error", english, {{"err_not_root", "Moxel Installer muss als root laufen."}}), "");
    EXPECT_EQ(failureOf("Error", english, {{"err_vzag_error", "VZAgent meldet einen Fehler."}}),
              "de_DE.msg: err_not_root: key missing from the translation");
}

TEST(CatalogueCheckTest, WebTextsKeepTheirPlaceInPagesAndScripts) {
    const Texts english = {
        {"web_components_group_hint_selected", "(#{selected} of #{total} selected)"},
        {"web_iup_cancel_confirm", "Product installation was not finished.\\\\nCancel anyway?"},
        {"web_releases_no_avail", "None for<br>( %s ).<br>Try <a href=\\\"preferences.html\\\">another</a>."},
    };
    const Texts german = {
        {"web_components_group_hint_selected", "(#{total} gesamt, #{selected} gew\xc3\xa4hlt)"},
        {"web_iup_cancel_confirm", "Die Installation ist nicht fertig.\\\\nTrotzdem abbrechen?"},
        {"web_releases_no_avail",
         "Keine f\xc3\xbcr<br>( %s ).<br><a href=\\\"preferences.html\\\">Andere</a>."},
    };
    // Template fields may change their order; the confirmation keeps its two-character \n.
    EXPECT_EQ(failureOf("Web", english, german), "");

    struct Case {
        const char* key;
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"web_components_group_hint_selected", "(#{selected} gew\xc3\xa4hlt)",
         "de_DE.msg:1: web_components_group_hint_selected: placeholders differ from English: expected "
         "#{selected} #{total}, found #{selected}"},
        {"web_components_group_hint_selected", "(#{selected} von #{total} ausgew'hlt)",
         "de_DE.msg:1: web_components_group_hint_selected: apostrophe in a single-quoted script string"},
        {"web_iup_cancel_confirm", "Nicht fertig.\\\\nWirklich \\\"abbrechen\\\"?",
         "de_DE.msg:2: web_iup_cancel_confirm: double quote in a confirmation question"},
        {"web_iup_cancel_confirm", "Nicht fertig.\\\\tAbbrechen?",
         "de_DE.msg:2: web_iup_cancel_confirm: backslash in a confirmation question other than \\n"},
        {"web_iup_cancel_confirm", "Nicht fertig.\\nAbbrechen?",
         "de_DE.msg:2: web_iup_cancel_confirm: line break in the text (texts of this group are single "
         "lines)"},
        {"web_releases_no_avail", "Keine f\xc3\xbcr ( %s ). <a href=\\\"settings.html\\\">Andere</a>.",
         "de_DE.msg:3: web_releases_no_avail: preferences.html of the English text is missing or altered"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failureOf("Web", english, replaced(german, c.key, c.text)), c.expected) << c.text;
}

TEST(CatalogueCheckTest, UnknownGroupIsRejected) {
    EXPECT_THROW(GroupRules::forGroup("Help"), std::invalid_argument);
}

} // namespace
