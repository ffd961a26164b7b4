#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace msgc {

// What the catalogue check enforces for one text group beyond what holds for every group.
struct GroupRules {
    // Keys that only English carries; a translation must not assign them.
    std::set<std::string> english_only;
    // Keys that a translation may leave to English.
    std::set<std::string> optional;
    // Whether a text may hold a line break.
    bool line_breaks = true;
    // Words that a translation keeps letter for letter wherever English sets them in single quotes.
    std::set<std::string> quoted_words;
    // Tokens that a translation keeps wherever English has them.
    std::vector<std::string> literal_tokens;
    // Words that the translation of a key must hold, by key.
    std::map<std::string, std::set<std::string>> words_of_key;
    // Whether a text that English opens with an action letter, "(F) ", opens with it in every locale.
    bool action_letters = false;
    // Texts placed inside single-quoted script strings: no apostrophe, no backslash.
    std::set<std::string> script_strings;
    // Texts of a browser confirmation: no apostrophe, no double quote, a backslash only as "\n".
    std::set<std::string> confirmations;

    // The rules of the group Console, Web or Error; throws std::invalid_argument for another name.
    static GroupRules forGroup(const std::string& group);
};

} // namespace msgc
