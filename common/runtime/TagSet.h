#pragma once

#include <string>
#include <unordered_set>

// Case-insensitive set of words read from a comma-separated list (release tiers). With
// `stable_when_empty`, an empty set stands for the single tag "stable".
class TagSet {
public:
    explicit TagSet(bool stable_when_empty);

    // Replaces the content with the normalised words of the list.
    void parse(const std::string& list);
    std::string toString() const;
    bool contains(const std::string& tag) const;
    // Inserted as given; parse() normalises first.
    void insert(const std::string& tag);

    // Trimmed and lower-cased by the global locale.
    static std::string normalize(const std::string& tag);

private:
    std::unordered_set<std::string> tags;
    bool stable_when_empty;
};
