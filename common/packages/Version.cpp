#include "common/packages/Version.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <cstdlib>
#include <cstring>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

error emptyVersion() {
    return error(error::repository, 1, 1, 3) << Messages().getMessage("err_empty_version");
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Byte order of two runs, as strcmp orders them.
int compareRuns(const char* a, size_t a_length, const char* b, size_t b_length) {
    int result = memcmp(a, b, a_length < b_length ? a_length : b_length);
    if (result != 0)
        return sign(result);
    return (a_length > b_length) - (a_length < b_length);
}

} // namespace

Version::Version(const std::string& text) {
    if (text.empty())
        throw emptyVersion();
    size_t dash = text.find('-');
    std::string left = text.substr(0, dash);
    if (left.empty())
        throw emptyVersion();
    size_t colon = left.find(':');
    if (colon != std::string::npos) {
        epoch = atol(left.substr(0, colon).c_str());
        hasEpoch = true;
        version = left.substr(colon + 1);
    } else {
        version = left;
    }
    if (dash != std::string::npos)
        setRelease(text.c_str() + dash + 1);
}

int Version::setRelease(const char* text) {
    if (!text || !*text)
        return -1;
    release = text;
    return 0;
}

int Version::cmpEpoch(const Version& other) const {
    if (!hasEpoch && !other.hasEpoch)
        return 0;
    if (!other.hasEpoch)
        return 1;
    if (!hasEpoch)
        return -1;
    uint64_t mine = static_cast<uint64_t>(epoch);
    uint64_t theirs = static_cast<uint64_t>(other.epoch);
    return (mine > theirs) - (mine < theirs);
}

int Version::cmpVersion(const Version& other) const {
    return cmpString(version.c_str(), other.version.c_str());
}

int Version::cmpRelease(const Version& other) const {
    return cmpString(release.c_str(), other.release.c_str());
}

int Version::compare(const Version& other) const {
    if (int result = cmpEpoch(other))
        return result;
    if (int result = cmpVersion(other))
        return result;
    return cmpRelease(other);
}

// Every character that is neither an ASCII letter nor a digit separates segments, '~' included.
int Version::cmpString(const char* a, const char* b) const {
    if (strcmp(a, b) == 0)
        return 0;
    for (;;) {
        if (!*a)
            return *b ? -1 : 0;
        if (!*b)
            return 1;
        while (*a && !isDigit(*a) && !isLetter(*a))
            ++a;
        while (*b && !isDigit(*b) && !isLetter(*b))
            ++b;

        const char* a_start = a;
        const char* b_start = b;
        bool digits = isDigit(*a);
        if (digits) {
            while (isDigit(*a))
                ++a;
            while (isDigit(*b))
                ++b;
        } else {
            while (isLetter(*a))
                ++a;
            while (isLetter(*b))
                ++b;
        }
        if (a == a_start)
            return -1;
        if (b == b_start)
            return digits ? 1 : -1; // a number is newer than letters

        int result;
        if (digits) {
            while (a_start < a && *a_start == '0')
                ++a_start;
            while (b_start < b && *b_start == '0')
                ++b_start;
            size_t a_length = a - a_start;
            size_t b_length = b - b_start;
            if (a_length != b_length)
                return a_length > b_length ? 1 : -1;
            result = compareRuns(a_start, a_length, b_start, b_length);
        } else {
            result = compareRuns(a_start, a - a_start, b_start, b - b_start);
        }
        if (result != 0)
            return result;
    }
}

std::string Version::getVersionWithEpoch() const {
    std::string text;
    if (hasEpoch)
        text = std::to_string(epoch) + ":";
    text += version.empty() ? "no_versioning_data" : version;
    return text;
}

std::string Version::toString() const {
    std::string text = getVersionWithEpoch();
    if (!release.empty())
        text += "-" + release;
    return text;
}

std::ostream& Version::print(std::ostream& out) const {
    return out << toString();
}

std::ostream& operator<<(std::ostream& out, const Version& version) {
    return version.print(out);
}
