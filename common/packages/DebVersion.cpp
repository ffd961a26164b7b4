#include "common/packages/DebVersion.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

error partialComparison() {
    return error(error::internal, 1, 1, 3) << Messages().getMessage("err_no_debpartver");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The toString() text of a version, built without touching the heap for any usual length.
class VersionText {
public:
    explicit VersionText(const Version& v) {
        char digits[24];
        size_t digits_length = 0;
        if (v.hasEpoch)
            digits_length = std::to_chars(digits, digits + sizeof digits, v.epoch).ptr - digits;
        const std::string& upstream = v.version.empty() ? no_version : v.version;
        size_t length = digits_length + (v.hasEpoch ? 1 : 0) + upstream.size() +
                        (v.release.empty() ? 0 : 1 + v.release.size());
        char* out = buffer;
        if (length >= sizeof buffer) {
            spill.resize(length);
            out = &spill[0];
        }
        text = out;
        if (v.hasEpoch) {
            out = std::copy(digits, digits + digits_length, out);
            *out++ = ':';
        }
        out = std::copy(upstream.begin(), upstream.end(), out);
        if (!v.release.empty()) {
            *out++ = '-';
            out = std::copy(v.release.begin(), v.release.end(), out);
        }
        *out = '\0';
        end = out;
    }
    VersionText(const VersionText&) = delete;
    VersionText& operator=(const VersionText&) = delete;

    const char* text;
    const char* end;

private:
    static const std::string no_version;
    char buffer[256];
    std::string spill;
};

const std::string VersionText::no_version = "no_versioning_data";

struct Parsed {
    unsigned long epoch = 0;
    const char* upstream = "";
    const char* upstream_end = upstream;
    const char* revision = "";
    const char* revision_end = revision;
};

// The reason the text is not a version, or null.
const char* parse(const char* text, const char* text_end, Parsed& out) {
    if (strcmp(text, "<unknown>") == 0)
        return nullptr;
    if (text == text_end)
        return "version string is empty";
    while (isBlank(*text))
        ++text;
    const char* word_end = text;
    while (*word_end && !isSpace(*word_end))
        ++word_end;
    for (const char* p = word_end; *p; ++p)
        if (!isSpace(*p))
            return "version string has embedded spaces";

    if (const char* colon = strchr(text, ':')) {
        char* number_end;
        unsigned long epoch = strtoul(text, &number_end, 10);
        if (number_end != colon)
            return "epoch in version is not number";
        if (colon[1] == '\0')
            return "nothing after colon in version number";
        out.epoch = epoch;
        text = colon + 1;
    }
    const char* hyphen = nullptr;
    for (const char* p = text; p < text_end; ++p)
        if (*p == '-')
            hyphen = p;
    out.upstream = text;
    if (hyphen) {
        out.upstream_end = hyphen;
        out.revision = hyphen + 1;
        out.revision_end = text_end;
    } else {
        out.upstream_end = text_end;
    }
    return nullptr;
}

bool informative(const Parsed& p) {
    return p.epoch != 0 || p.upstream != p.upstream_end || p.revision != p.revision_end;
}

// '~' sorts before everything, even the end of the text; letters sort before other characters.
int order(const char* p, const char* end) {
    if (p == end)
        return 0;
    unsigned char c = static_cast<unsigned char>(*p);
    if (isDigit(c))
        return 0;
    if (isLetter(c))
        return c;
    if (c == '~')
        return -1;
    return c + 256;
}

int compareParts(const char* a, const char* a_end, const char* b, const char* b_end) {
    while (a != a_end || b != b_end) {
        int first_difference = 0;
        while ((a != a_end && !isDigit(*a)) || (b != b_end && !isDigit(*b))) {
            int a_order = order(a, a_end);
            int b_order = order(b, b_end);
            if (a_order != b_order)
                return a_order - b_order;
            ++a;
            ++b;
        }
        while (a != a_end && *a == '0')
            ++a;
        while (b != b_end && *b == '0')
            ++b;
        while (a != a_end && b != b_end && isDigit(*a) && isDigit(*b)) {
            if (!first_difference)
                first_difference = *a - *b;
            ++a;
            ++b;
        }
        if (a != a_end && isDigit(*a))
            return 1;
        if (b != b_end && isDigit(*b))
            return -1;
        if (first_difference)
            return first_difference;
    }
    return 0;
}

} // namespace

int DebVersion::cmpEpoch(const Version&) const {
    throw partialComparison();
}

int DebVersion::cmpVersion(const Version&) const {
    throw partialComparison();
}

int DebVersion::cmpRelease(const Version&) const {
    throw partialComparison();
}

int DebVersion::cmpString(const char*, const char*) const {
    throw partialComparison();
}

int DebVersion::compare(const Version& other) const {
    VersionText a_text(*this);
    VersionText b_text(other);
    Parsed a, b;
    if (const char* reason = parse(a_text.text, a_text.end, a)) {
        fprintf(stderr, "version a has bad syntax: %s\n", reason);
        return -255;
    }
    if (const char* reason = parse(b_text.text, b_text.end, b)) {
        fprintf(stderr, "version b has bad syntax: %s\n", reason);
        return -255;
    }
    if (!informative(a)) {
        fprintf(stderr, "version a is noninformative\n");
        return -255;
    }
    if (!informative(b)) {
        fprintf(stderr, "version b is noninformative\n");
        return -255;
    }
    if (a.epoch != b.epoch)
        return a.epoch > b.epoch ? 1 : -1;
    if (int result = compareParts(a.upstream, a.upstream_end, b.upstream, b.upstream_end))
        return result;
    return compareParts(a.revision, a.revision_end, b.revision, b.revision_end);
}
