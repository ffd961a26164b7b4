#include "tools/msgc/CatalogueCheck.h"

#include "tools/msgc/utf8.h"

#include <set>
#include <vector>

namespace msgc {

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isWordChar(char c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == '_';
}

bool isControl(unsigned long code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The placeholders of a text: "%s" (filled in order), "%1%" and the like (filled by number),
// and the "#{name}" fields of a browser-side template.
struct Placeholders {
    std::vector<std::string> all; // in order of appearance
    size_t positional = 0;
    std::vector<std::string> numbered;
    std::multiset<std::string> named;
    std::string fault;
};

Placeholders placeholdersOf(const std::string& text) {
    Placeholders found;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] == '%') {
            if (pos + 1 < text.size() && text[pos + 1] == 's') {
                found.all.push_back("%s");
                ++found.positional;
                ++pos;
                continue;
            }
            size_t end = pos + 1;
            while (end < text.size() && isAsciiDigit(text[end]))
                ++end;
            if (end > pos + 1 && text[pos + 1] != '0' && end < text.size() && text[end] == '%') {
                found.all.push_back(text.substr(pos, end + 1 - pos));
                found.numbered.push_back(found.all.back());
                pos = end;
                continue;
            }
            if (found.fault.empty())
                found.fault = "stray % in the text (placeholders are %s, or %1%, %2% and so on)";
        } else if (text.compare(pos, 2, "#{") == 0) {
            size_t end = pos + 2;
            while (end < text.size() && isWordChar(text[end]))
                ++end;
            if (end > pos + 2 && end < text.size() && text[end] == '}') {
                found.all.push_back(text.substr(pos, end + 1 - pos));
                found.named.insert(found.all.back());
                pos = end;
            }
        }
    }
    if (found.fault.empty() && found.positional > 0 && !found.numbered.empty())
        found.fault = "the text mixes %s with numbered placeholders";
    return found;
}

std::string describe(const Placeholders& placeholders) {
    if (placeholders.all.empty())
        return "none";
    std::string out;
    for (const std::string& one : placeholders.all)
        out += (out.empty() ? "" : " ") + one;
    return out;
}

// Option names as a user types them: "--name" and one-letter "-v", each standing on its own.
std::set<std::string> optionNamesOf(const std::string& text) {
    std::set<std::string> names;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] != '-' || (pos > 0 && (isWordChar(text[pos - 1]) || text[pos - 1] == '-')))
            continue;
        const bool long_name = text.compare(pos, 2, "--") == 0;
        size_t end = pos + (long_name ? 2 : 1);
        if (end >= text.size() || !isAsciiLetter(text[end]))
            continue;
        if (long_name) {
            while (end < text.size() && (isWordChar(text[end]) || text[end] == '-'))
                ++end;
            while (text[end - 1] == '-')
                --end;
            names.insert(text.substr(pos, end - pos));
        } else if (end + 1 >= text.size() || !(isWordChar(text[end + 1]) || text[end + 1] == '-')) {
            names.insert(text.substr(pos, 2));
        }
        pos = end - 1;
    }
    return names;
}

// A hyphen joined to an ASCII word makes the two one word ("list-all"); a hyphen after a
// letter of another script only joins a prefix, so the word still stands on its own.
bool startsWord(const std::string& text, size_t pos) {
    if (pos == 0)
        return true;
    const char before = text[pos - 1];
    if (isWordChar(before))
        return false;
    return before != '-' || pos < 2 || !isWordChar(text[pos - 2]);
}

bool endsWord(const std::string& text, size_t end) {
    if (end >= text.size())
        return true;
    const char after = text[end];
    if (isWordChar(after))
        return false;
    return after != '-' || end + 1 >= text.size() || !isWordChar(text[end + 1]);
}

bool containsWord(const std::string& text, const std::string& word) {
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1))
        if (startsWord(text, pos) && endsWord(text, pos + word.size()))
            return true;
    return false;
}

bool startsWithActionLetter(const std::string& text) {
    return text.size() >= 4 && text[0] == '(' && text[1] >= 'A' && text[1] <= 'Z' && text[2] == ')' &&
           text[3] == ' ';
}

} // namespace

void CatalogueCheck::checkTexts(const CatalogueFile& file, const GroupRules& rules) {
    for (const Entry& entry : file.entries()) {
        if (entry.text.empty())
            throw CatalogueError(file.path(), entry.line, entry.key, "empty text");
        checkCharacters(file, entry, rules);
        checkPlaceholderForm(file, entry);
        checkScriptText(file, entry, rules);
    }
}

void CatalogueCheck::checkAgainstEnglish(const CatalogueFile& translation, const CatalogueFile& english,
                                         const GroupRules& rules) {
    checkKeySet(translation, english, rules);
    for (const Entry& entry : translation.entries()) {
        const Entry& original = *english.find(entry.key);
        checkPlaceholders(translation, entry, original);
        checkOptionNames(translation, entry, original);
        checkKeptTokens(translation, entry, original, rules);
    }
}

void CatalogueCheck::checkCharacters(const CatalogueFile& file, const Entry& entry, const GroupRules& rules) {
    for (size_t pos = 0; pos < entry.text.size();) {
        unsigned long code;
        const size_t length = utf8::decode(entry.text, pos, code);
        if (length == 0)
            throw CatalogueError(file.path(), entry.line, entry.key, "invalid UTF-8 in the text");
        if (code == '\n' && !rules.line_breaks)
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 "line break in the text (texts of this group are single lines)");
        if (code != '\n' && isControl(code))
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 "control character " + std::to_string(code) + " in the text");
        pos += length;
    }
}

void CatalogueCheck::checkPlaceholderForm(const CatalogueFile& file, const Entry& entry) {
    const Placeholders found = placeholdersOf(entry.text);
    if (!found.fault.empty())
        throw CatalogueError(file.path(), entry.line, entry.key, found.fault);
}

void CatalogueCheck::checkScriptText(const CatalogueFile& file, const Entry& entry, const GroupRules& rules) {
    const bool script_string = rules.script_strings.count(entry.key) > 0;
    const bool confirmation = rules.confirmations.count(entry.key) > 0;
    if (!script_string && !confirmation)
        return;
    const std::string place = script_string ? "a single-quoted script string" : "a confirmation question";
    for (size_t pos = 0; pos < entry.text.size(); ++pos) {
        const char c = entry.text[pos];
        if (c == '\'')
            throw CatalogueError(file.path(), entry.line, entry.key, "apostrophe in " + place);
        if (c == '"' && confirmation)
            throw CatalogueError(file.path(), entry.line, entry.key, "double quote in " + place);
        if (c == '\\' && (script_string || pos + 1 >= entry.text.size() || entry.text[pos + 1] != 'n'))
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 "backslash in " + place + (confirmation ? " other than \\n" : ""));
    }
}

void CatalogueCheck::checkKeySet(const CatalogueFile& translation, const CatalogueFile& english,
                                 const GroupRules& rules) {
    for (const Entry& entry : translation.entries()) {
        if (!english.find(entry.key))
            throw CatalogueError(translation.path(), entry.line, entry.key, "key not in the English file");
        if (rules.english_only.count(entry.key))
            throw CatalogueError(translation.path(), entry.line, entry.key,
                                 "English-only key: translations do not carry it");
    }
    for (const Entry& entry : english.entries())
        if (!translation.find(entry.key) && !rules.english_only.count(entry.key) &&
            !rules.optional.count(entry.key))
            throw CatalogueError(translation.path(), 0, entry.key, "key missing from the translation");
}

void CatalogueCheck::checkPlaceholders(const CatalogueFile& file, const Entry& entry, const Entry& english) {
    const Placeholders expected = placeholdersOf(english.text);
    const Placeholders found = placeholdersOf(entry.text);
    if (found.positional != expected.positional || found.numbered != expected.numbered ||
        found.named != expected.named)
        throw CatalogueError(file.path(), entry.line, entry.key,
                             "placeholders differ from English: expected " + describe(expected) + ", found " +
                                 describe(found));
}

void CatalogueCheck::checkOptionNames(const CatalogueFile& file, const Entry& entry, const Entry& english) {
    const std::set<std::string> found = optionNamesOf(entry.text);
    for (const std::string& name : optionNamesOf(english.text))
        if (!found.count(name))
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 "option " + name + " of the English text is missing or altered");
}

void CatalogueCheck::checkKeptTokens(const CatalogueFile& file, const Entry& entry, const Entry& english,
                                     const GroupRules& rules) {
    for (const std::string& word : rules.quoted_words)
        if (english.text.find("'" + word + "'") != std::string::npos && !containsWord(entry.text, word))
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 "'" + word + "' of the English text is missing or altered");
    for (const std::string& token : rules.literal_tokens)
        if (english.text.find(token) != std::string::npos && entry.text.find(token) == std::string::npos)
            throw CatalogueError(file.path(), entry.line, entry.key,
                                 token + " of the English text is missing or altered");
    const auto words = rules.words_of_key.find(entry.key);
    if (words != rules.words_of_key.end())
        for (const std::string& word : words->second)
            if (!containsWord(entry.text, word))
                throw CatalogueError(file.path(), entry.line, entry.key, word + " is missing from the text");
    if (rules.action_letters && startsWithActionLetter(english.text) &&
        entry.text.compare(0, 4, english.text, 0, 4) != 0)
        throw CatalogueError(file.path(), entry.line, entry.key,
                             "the text must open with \"" + english.text.substr(0, 4) + "\" as in English");
}

} // namespace msgc
