#include "installer/engine/DebianAPTConfigurator.h"

#include "common/packages/Repository.h"
#include "installer/components/ComponentManager.h"
#include "installer/sources/SourceManager.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DebianAPTConfiguratorTest, SourceLinesFollowTheInstallationSource) {
    const std::string dist = "18.0.1/debian-12/dist bookworm main";
    const struct {
        const char* location;
        std::string sourceText;
        const char* baseDir;
        const char* line;
    } cases[] = {
        {"http://updates.moxel.invalid/", dist, "moxel",
         "deb http://updates.moxel.invalid/moxel/18.0.1/debian-12/dist bookworm main"},
        {"/srv/mirror/", dist, "moxel", "deb file:///srv/mirror/moxel/18.0.1/debian-12/dist bookworm main"},
        {"/srv/mirror/", dist, "", "deb file:///srv/mirror/18.0.1/debian-12/dist bookworm main"},
        // A location naming a file inside the repository is cut back to where the repository begins.
        {"http://updates.moxel.invalid/mirror/debian-12/dist/products.inf3", dist, "moxel",
         "deb http://updates.moxel.invalid/mirror/moxel/18.0.1/debian-12/dist bookworm main"},
        // Without a '/' in the source text there is nothing to cut at.
        {"http://updates.moxel.invalid/debian/products.inf3", "dist bookworm main", "",
         "deb http://updates.moxel.invalid/debian/dist bookworm main"},
    };
    Repository repository;
    SourceManager sources(&repository);
    ComponentManager components;
    for (const auto& test : cases) {
        const DebianAPTConfigurator apt(test.location, components, sources, repository);
        EXPECT_EQ(apt.getSourceLine("moxel", test.sourceText, test.baseDir), test.line) << test.location;
    }
}

} // namespace
