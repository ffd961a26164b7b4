#pragma once

// Set-up shared by the tests of release states, filters and selection: this server described as
// Debian 12 on x86_64, installed packages given as package cache text, and small catalogues.

#include "common/packages/Repository.h"
#include "common/runtime/Opsys.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace releasetest {

// One installed package as a package cache record.
inline std::string installed(const std::string& name, const std::string& version,
                             const std::string& epoch = "", const std::string& revision = "") {
    std::string record = "F:" + name + "_" + version + "_all.deb\nN:" + name + "\nV:" + version + "\n";
    if (!epoch.empty())
        record += "E:" + epoch + "\n";
    if (!revision.empty())
        record += "L:" + revision + "\n";
    return record + "A:all\nX:\n";
}

// A release element with one build; `attributes` go on the release.
inline std::string rel(const std::string& id, const std::string& version, const std::string& attributes = "",
                       const std::string& allowed_from = "1.0", const std::string& arch = "x86_64") {
    return "<release id=\"" + id + "\" name=\"Release " + id + "\" version=\"" + version +
           "\" upgrade_allowed_from=\"" + allowed_from + "\" " + attributes +
           "><build os_name=\"Linux\" os_vendor=\"Debian\" os_version=\"12\" os_arch=\"" + arch +
           "\" config=\"" + id + ".build.inf3\"/></release>";
}

// One product of a catalogue; its key package is "moxeltest-" + id.
struct ProductSpec {
    std::string id;
    std::string releases;
    // Attributes and children of the products-list entry.
    std::string entry_attributes = "";
    std::string entry_children = "";
    // Elements of the product file before its releases.
    std::string file_extra = "";
};

// The text of the error the call raises, after its class.
inline std::string raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const error& e) {
        return std::to_string(e.getClass()) + " " + e.getText();
    }
    return "nothing raised";
}

class ReleaseCatalogueTest : public cataloguetest::CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        describeServer("Linux", "Debian", "12", "x86_64");
    }

    // Takes effect only before this process first describes its server.
    static void describeServer(const std::string& name, const std::string& vendor, const std::string& version,
                               const std::string& arch) {
        Opsys::override_name = name;
        Opsys::override_vendor = vendor;
        Opsys::override_version = version;
        Opsys::override_arch = arch;
    }

    // The installed packages of a package cache text.
    Repository& system(const std::string& cache) {
        repositories.emplace_back(std::make_unique<Repository>());
        Repository& repository = *repositories.back();
        const std::string path = logs.file("cache" + std::to_string(repositories.size()));
        testsupport::writeFile(path, cache);
        FILE* in = fopen(path.c_str(), "re");
        EXPECT_NE(in, nullptr);
        if (in) {
            repository.addFromCache(in, 's', Repository::DUPS_APPEND, nullptr);
            fclose(in);
        }
        return repository;
    }

    void write(const std::vector<ProductSpec>& products) const {
        std::string entries;
        for (const ProductSpec& product : products) {
            entries += "<product id=\"" + product.id + "\" name=\"Product " + product.id + "\" reference=\"" +
                       product.id + "/product.inf3\" " + product.entry_attributes + ">" +
                       product.entry_children + "</product>";
            put(product.id + "/product.inf3",
                "<product id=\"" + product.id + "\"><keypackages><keypackage>moxeltest-" + product.id +
                    "</keypackage></keypackages>" + product.file_extra + product.releases + "</product>\n");
        }
        put("products.inf3", cataloguetest::productsList(entries));
    }

    // The catalogue written last, with the release states against the installed packages.
    std::unique_ptr<BuildManager> loadStates(const std::string& cache) {
        std::unique_ptr<BuildManager> manager = load();
        manager->calculateReleaseStates(&system(cache));
        return manager;
    }

    std::vector<std::unique_ptr<Repository>> repositories;
};

// "id" of each release, or "id:display tag" with `tags`.
inline std::vector<std::string> ids(const std::vector<boost::shared_ptr<Release>>& releases,
                                    bool tags = false) {
    std::vector<std::string> result;
    for (const boost::shared_ptr<Release>& release : releases)
        result.push_back(tags ? release->_id + ":" + release->getDisplayTag() : release->_id);
    return result;
}

} // namespace releasetest
