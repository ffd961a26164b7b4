#include "common/runtime/Regexp.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <boost/cregex.hpp>

struct Regexp::Pattern {
    Pattern() = default;
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;
    ~Pattern() {
        if (compiled_ok)
            boost::regfreeA(&compiled);
    }

    bool subexpr = false;
    bool compiled_ok = false;
    boost::regex_tA compiled;
};

Regexp::Regexp(const char* pattern_text, bool subexpr) : pattern(std::make_shared<Pattern>()) {
    pattern->subexpr = subexpr;
    // Boost's extended syntax knows \d and \w outside brackets and keeps a backslash literal inside.
    int flags = boost::REG_EXTENDED | boost::REG_NEWLINE;
    if (!subexpr)
        flags |= boost::REG_NOSUB;
    int code = boost::regcompA(&pattern->compiled, pattern_text ? pattern_text : "", flags);
    if (code != 0) {
        char text[4096];
        boost::regerrorA(code, &pattern->compiled, text, sizeof text);
        throw error(0, 1, 1, 2) << Messages().format("err_bad_regexp", pattern_text ? pattern_text : "",
                                                     text);
    }
    pattern->compiled_ok = true;
}

bool Regexp::match(const char* text) const {
    if (!text)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_bad_match_arg");
    int code = boost::regexecA(&pattern->compiled, text, 0, nullptr, 0);
    if (code == 0)
        return true;
    if (code == boost::REG_ESPACE)
        throw error(0, 1, 1, 2) << Messages().getMessage("err_regexp_nomem");
    return false;
}

int Regexp::getNumSubexpr() const {
    if (!pattern->subexpr)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_bad_subexpr");
    return int(pattern->compiled.re_nsub) + 1;
}

bool Regexp::matchSub(const std::string& text) {
    if (!pattern->subexpr)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_bad_subexpr2");
    submatches.clear();
    std::vector<boost::regmatch_t> slots(pattern->compiled.re_nsub + 1);
    int code = boost::regexecA(&pattern->compiled, text.c_str(), slots.size(), slots.data(), 0);
    if (code == boost::REG_ESPACE)
        throw error(0, 1, 1, 3) << Messages().getMessage("err_regexp_nomem2");
    if (code != 0)
        return false;
    for (const boost::regmatch_t& slot : slots) {
        if (slot.rm_so < 0 || slot.rm_eo < slot.rm_so)
            submatches.emplace_back();
        else
            submatches.push_back(text.substr(size_t(slot.rm_so), size_t(slot.rm_eo - slot.rm_so)));
    }
    return true;
}

std::string Regexp::getMatch(int n) const {
    if (!pattern->subexpr)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_bad_submatch");
    if (submatches.empty())
        throw error(3, 1, 1, 3) << Messages().getMessage("err_badmatch");
    return submatches.at(size_t(n));
}
