#include "common/runtime/TagSet.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <locale>
#include <vector>

TagSet::TagSet(bool stable_when_empty) : stable_when_empty(stable_when_empty) {}

void TagSet::parse(const std::string& list) {
    std::vector<std::string> words;
    boost::algorithm::split(words, list, boost::algorithm::is_any_of(","),
                            boost::algorithm::token_compress_on);
    tags.clear();
    for (const std::string& word : words)
        insert(normalize(word));
}

std::string TagSet::toString() const {
    if (tags.empty() && stable_when_empty)
        return "stable";
    return boost::algorithm::join(tags, ",");
}

bool TagSet::contains(const std::string& tag) const {
    std::string wanted = normalize(tag);
    if (tags.empty() && stable_when_empty)
        return wanted == "stable";
    return tags.count(wanted) != 0;
}

void TagSet::insert(const std::string& tag) {
    tags.insert(tag);
}

std::string TagSet::normalize(const std::string& tag) {
    std::locale global;
    return boost::algorithm::to_lower_copy(boost::algorithm::trim_copy(tag, global), global);
}
