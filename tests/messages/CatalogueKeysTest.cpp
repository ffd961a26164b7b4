#include "tools/msgc/CatalogueFile.h"
#include "tools/msgc/GroupRules.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/regex.hpp>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = boost::filesystem;

namespace {

const std::string source_dir = MOXEL_SOURCE_DIR;

std::vector<msgc::CatalogueFile> englishFiles() {
    std::vector<msgc::CatalogueFile> files;
    for (const char* group : {"console", "error", "web"})
        files.push_back(msgc::CatalogueFile::parse(source_dir + "/messages/data/" + group + "/en_US.msg"));
    return files;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Keys named as literals in the code: getMessage("key") and format("key", ...) calls, and the
// {web_key} tags of the page templates. Each with the place that names it.
std::multimap<std::string, std::string> keysNamedInTheCode() {
    static const boost::regex call("(?:\\bgetMessage|(?<!::)\\bformat)\\s*\\(\\s*\"([^\"\\\\]*)\"");
    static const boost::regex tag("\\{(web_[a-z0-9_]+)\\}");
    std::multimap<std::string, std::string> named;
    for (const char* top : {"common", "installer", "web_ui", "httpd"}) {
        const fs::path root = fs::path(source_dir) / top;
        if (!fs::is_directory(root))
            continue;
        for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
            if (!fs::is_regular_file(it->path()))
                continue;
            const std::string extension = it->path().extension().string();
            const bool code = extension == ".cpp" || extension == ".h" || extension == ".c";
            const bool page = extension == ".html" || extension == ".htm" || extension == ".js";
            if (!code && !page)
                continue;
            const std::string content = readAll(it->path());
            const std::string place = fs::relative(it->path(), source_dir).string();
            const boost::regex& pattern = code ? call : tag;
            for (boost::sregex_iterator match(content.begin(), content.end(), pattern), last; match != last;
                 ++match) {
                const std::string key = (*match)[1];
                // boost::format("%1%") and the like are formats, not keys.
                if (code && key.find('%') != std::string::npos)
                    continue;
                named.emplace(key, place);
            }
        }
    }
    return named;
}

TEST(CatalogueKeysTest, EveryKeyTheCodeNamesHasAnEnglishText) {
    std::set<std::string> keys;
    for (const msgc::CatalogueFile& file : englishFiles())
        for (const msgc::Entry& entry : file.entries())
            keys.insert(entry.key);
    const auto named = keysNamedInTheCode();
    EXPECT_FALSE(named.empty()) << "the scan found no lookup at all";
    std::vector<std::string> unknown;
    for (const auto& use : named)
        if (!keys.count(use.first))
            unknown.push_back(use.second + ": " + use.first);
    EXPECT_EQ(unknown, std::vector<std::string>{});
}

TEST(CatalogueKeysTest, GroupsShareNoKey) {
    std::map<std::string, std::vector<std::string>> groups_of;
    const char* const groups[] = {"console", "error", "web"};
    const std::vector<msgc::CatalogueFile> files = englishFiles();
    for (size_t i = 0; i < files.size(); ++i)
        for (const msgc::Entry& entry : files[i].entries())
            groups_of[entry.key].push_back(groups[i]);
    std::vector<std::string> shared;
    for (const auto& key : groups_of)
        if (key.second.size() > 1)
            shared.push_back(key.first);
    EXPECT_EQ(shared, std::vector<std::string>{});
    // Web keys are recognised by their prefix in the page templates.
    for (const auto& key : groups_of)
        EXPECT_EQ(key.first.compare(0, 4, "web_") == 0, key.second.front() == std::string("web"))
            << key.first;
}

// The keys that the catalogue check exempts or treats specially are keys of the inventory.
TEST(CatalogueKeysTest, GroupRulesNameInventoryKeys) {
    const std::vector<msgc::CatalogueFile> files = englishFiles();
    const char* const groups[] = {"Console", "Error", "Web"};
    for (size_t i = 0; i < files.size(); ++i) {
        const msgc::GroupRules rules = msgc::GroupRules::forGroup(groups[i]);
        for (const std::set<std::string>* keys :
             {&rules.english_only, &rules.optional, &rules.script_strings, &rules.confirmations})
            for (const std::string& key : *keys)
                EXPECT_NE(files[i].find(key), nullptr) << groups[i] << ": " << key;
    }
    EXPECT_EQ(msgc::GroupRules::forGroup("Console").english_only.size(), 3u);
    // Translations carry the 223 error texts that the system looks up.
    EXPECT_EQ(files[1].entries().size() - msgc::GroupRules::forGroup("Error").optional.size(), 223u);
}

} // namespace
