#pragma once

// Shared set-up of the catalogue tests: a debug log to read back, sources written into a temporary
// directory, and a visitor that records the walk.

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/sources/FileFetcher.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace cataloguetest {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    // Writes a file of the source, creating its directories.
    void put(const std::string& name, const std::string& content) const {
        std::string::size_type slash = 0;
        while ((slash = name.find('/', slash + 1)) != std::string::npos)
            mkdir(source.file(name.substr(0, slash)).c_str(), 0755);
        testsupport::writeFile(source.file(name), content);
    }

    std::unique_ptr<BuildManager> load(const std::string& source_filename = "") const {
        FileFetcher fetcher(source.path() + "/", target.path());
        return std::make_unique<BuildManager>(fetcher, source_filename);
    }

    // The error the load raises.
    error loadFailure(const std::string& source_filename = "") const {
        try {
            load(source_filename);
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << "the catalogue loaded";
        return error();
    }

    testsupport::TempDir source;
    testsupport::TempDir target;
    testsupport::TempDir logs;
};

// A products list with one vendor and the given entries.
inline std::string productsList(const std::string& entries) {
    return "<vendors><vendor><products>" + entries + "</products></vendor></vendors>\n";
}

// A product file with one key package around the given releases.
inline std::string productFile(const std::string& releases, const std::string& id = "p") {
    return "<product id=\"" + id + "\"><keypackages><keypackage>moxeltest-" + id +
           "</keypackage></keypackages>" + releases + "</product>\n";
}

inline std::string build(const std::string& config, const std::string& extra = "") {
    return "<build os_name=\"Linux\" os_vendor=\"Debian\" os_version=\"12\" os_arch=\"x86_64\" config=\"" +
           config + "\"" + extra + "/>";
}

inline std::string release(const std::string& id, const std::string& version, const std::string& content,
                           const std::string& extra = "") {
    return "<release id=\"" + id + "\" name=\"Release " + id + "\" version=\"" + version +
           "\" upgrade_allowed_from=\"1.0\"" + extra + ">" + content + "</release>";
}

// Records a walk as "release <id>", "build <config>", "leave <id>" and "addon <id>" lines.
class RecordingVisitor : public BuildManager::Visitor {
public:
    void visitRelease(boost::shared_ptr<Release> release) override {
        seen.push_back("release " + release->_id);
    }
    void leaveRelease(boost::shared_ptr<Release> release) override {
        seen.push_back("leave " + release->_id);
    }
    void visitAddon(Addon& addon) override { seen.push_back("addon " + addon._id); }
    void visitBuild(Build& build) override { seen.push_back("build " + build._config); }

    std::vector<std::string> seen;
};

inline std::vector<std::string> walk(BuildManager& manager) {
    RecordingVisitor visitor;
    manager.accept(visitor);
    return visitor.seen;
}

// A release of a product made in memory, with its builds cut loose again at the end.
class ReleaseHolder {
public:
    ReleaseHolder() = default;
    ReleaseHolder(const ReleaseHolder&) = delete;
    ReleaseHolder& operator=(const ReleaseHolder&) = delete;
    ~ReleaseHolder() {
        for (const boost::shared_ptr<Release>& release : releases)
            release->_builds.clear();
    }

    boost::shared_ptr<Release> make(const std::string& product_id, const std::string& id,
                                    const std::string& version) {
        auto product = boost::make_shared<Product>();
        product->_id = product_id;
        auto made = boost::make_shared<Release>(product, id, "", "", version, "1.0");
        releases.push_back(made);
        return made;
    }

private:
    std::vector<boost::shared_ptr<Release>> releases;
};

} // namespace cataloguetest
