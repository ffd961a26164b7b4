#pragma once

// Builds with loaded descriptions for the package-source tests, and the names of the sources that a
// source manager holds.

#include "common/packages/Source.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildInfFile.h"
#include "installer/sources/SourceMoxel.h"

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace sourcetest {

inline std::string fixtureSource() {
    return std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source";
}

// A build whose description `config` (relative to `root`) is loaded, as the component loader leaves
// it; the gpg facts are set as the loader copies them from the description.
inline boost::shared_ptr<Build> loadedBuild(const std::string& root, const std::string& config,
                                            const std::string& baseDir, bool gpgcheck = false,
                                            const std::string& gpgKey = "") {
    auto build = boost::make_shared<Build>(boost::shared_ptr<Release>(), "Linux", "", "", "x86_64", "", "",
                                           config, "false");
    build->_base_dir = baseDir;
    build->_build_description = boost::make_shared<BuildInfFile>(root + "/" + config, config);
    build->_gpgcheck = gpgcheck;
    build->_gpg_public_key = gpgKey;
    return build;
}

inline std::string printed(const Source& source) {
    std::ostringstream text;
    source.print(text);
    return text.str();
}

template <typename List> std::vector<std::string> printedAll(const List& sources) {
    std::vector<std::string> names;
    for (const auto& source : sources)
        names.push_back(printed(*source));
    return names;
}

} // namespace sourcetest
