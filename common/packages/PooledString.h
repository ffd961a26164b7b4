#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

// Handle to an interned, never-freed copy of a text. Equal texts always give the same pointer, so
// package names, architectures and paths compare and hash by address.
class PooledString {
public:
    // The empty text.
    PooledString();
    // A null pointer is taken as the empty text.
    PooledString(const char* text);
    PooledString(const std::string& text);

    const char* c_str() const { return text; }
    std::string str() const { return text; }
    bool empty() const { return *text == '\0'; }

    bool operator==(const PooledString& other) const { return text == other.text; }
    bool operator!=(const PooledString& other) const { return text != other.text; }
    // Identity order, for ordered containers; not the order of the texts.
    bool operator<(const PooledString& other) const { return text < other.text; }

    uint64_t address() const { return reinterpret_cast<uintptr_t>(text); }

private:
    static const char* intern(const char* text, size_t length);

    const char* text;
};

std::ostream& operator<<(std::ostream& out, const PooledString& text);

namespace std {
template <> struct hash<PooledString> {
    size_t operator()(const PooledString& s) const noexcept { return std::hash<const char*>()(s.c_str()); }
};
} // namespace std
