#pragma once

#include <memory>
#include <string>
#include <vector>

// POSIX extended regular expression (newline-sensitive) that also knows \d and \w outside brackets.
// Copies share one compiled pattern; a Regexp and its copies belong to one thread.
class Regexp {
public:
    struct Pattern;

    // `subexpr` enables matchSub / getMatch / getNumSubexpr. A pattern that does not compile raises
    // err_bad_regexp.
    Regexp(const char* pattern, bool subexpr);

    // Whether the pattern matches anywhere in the text; a null text raises err_bad_match_arg.
    bool match(const char* text) const;
    // Sub-expressions plus one for the whole match.
    int getNumSubexpr() const;
    // Matches and keeps the texts of the whole match and of every sub-expression ("" for one that
    // took no part); on failure nothing is kept.
    bool matchSub(const std::string& text);
    std::string getMatch(int n) const;

private:
    std::shared_ptr<Pattern> pattern;
    std::vector<std::string> submatches;
};
