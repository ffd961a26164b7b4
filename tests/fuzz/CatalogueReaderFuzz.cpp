// Feeds arbitrary catalogue files to the catalogue readers. An input is split at lines "#FILE#" into
// the entry file "products.inf3" and the files it may name: "p.inf3", "a.xml" and "b.xml". The
// readers must answer every input with a loaded catalogue or an error, never with anything else.

#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/sources/FileFetcher.h"
#include "tests/fuzz/FuzzScratch.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const separator = "\n#FILE#\n";
const char* const names[] = {"products.inf3", "p.inf3", "a.xml", "b.xml"};

std::vector<std::string> split(const std::string& input) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (std::string::size_type at; (at = input.find(separator, start)) != std::string::npos;) {
        parts.push_back(input.substr(start, at - start));
        start = at + std::char_traits<char>::length(separator);
    }
    parts.push_back(input.substr(start));
    return parts;
}

// Touches every record the way the catalogue's users do.
class Walker : public BuildManager::Visitor {
public:
    explicit Walker(BuildManager& manager) : manager(manager) {}

    void visitRelease(boost::shared_ptr<Release> release) override {
        manager.getLatestReleaseId(release->prod()->_id);
        manager.findReleaseByVersion(release->prod()->_id, release->_version.toString());
        release->_builds.getBestBuild(system);
        for (const auto& addon : manager._addons)
            addon->applicableTo(*release);
    }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon& addon) override { addon._builds.getBestBuild(system); }
    void visitBuild(Build& build) override { build.belongsToParentRelease(); }

private:
    BuildManager& manager;
    const Opsys system{"Linux", "Debian", "12", "x86_64", ""};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = fuzzScratchDir();
    const std::vector<std::string> parts = split(std::string(reinterpret_cast<const char*>(data), size));
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        const std::string path = dir + "/" + names[i];
        if (i < parts.size())
            std::ofstream(path, std::ios::binary | std::ios::trunc) << parts[i];
        else
            std::remove(path.c_str());
    }
    try {
        FileFetcher fetcher(dir + "/", dir + "/target");
        BuildManager manager(fetcher, "");
        Walker walker(manager);
        manager.accept(walker);
    } catch (const error&) {
    } catch (const tinybind::err&) {
    }
    return 0;
}
