#include "installer/components/ComponentManagerPasses.h"

#include "common/packages/Repository.h"
#include "common/runtime/ProgressShm.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using testsupport::makeBuild;
using testsupport::makeRadio;
using testsupport::makeSub;

namespace {

using Section = Component::keypackages_t;

// The status pass publishes its step in the shared status record, so it runs in the sandbox.
TEST(ComponentManagerPassesSandboxTest, TheStatusPassChecksComponentsInsideGroupsAndReportsItsStep) {
    testsupport::TempDir dir;
    const std::string path = dir.file("installed");
    testsupport::writeFile(path, "N:moxel-dns\nV:1.0\nL:1\nB:10\nX:\n");
    Repository repository;
    FILE* in = fopen(path.c_str(), "re");
    ASSERT_NE(in, nullptr);
    repository.addFromCache(in, 's', Repository::DUPS_APPEND, nullptr);
    fclose(in);

    const auto build = makeBuild("moxel");
    build->_parent->_state = 2;
    auto dns =
        std::make_shared<AiComponent>(build, "dns", "DNS", "", std::vector<Section>{{{"moxel-dns"}, {}, {}}});
    auto mail = std::make_shared<AiComponent>(build, "mail", "Mail", "",
                                              std::vector<Section>{{{"moxel-mail"}, {}, {}}});
    ComponentManager manager;
    manager.nodes = {makeSub(build, "servers", {makeRadio(build, "naming", {dns})}), mail};

    ComponentManager::CheckInstalled pass(&repository, nullptr);
    {
        ProgressShm shm;
        EXPECT_EQ("checking_comps_status", ProgressShm::getText(shm.data()->step_id));
        EXPECT_EQ("Detecting installed product components.", ProgressShm::getText(shm.data()->step_title));
    }
    manager.accept(pass);
    EXPECT_EQ(AiComponent::UP2DATE, dns->installMode);
    EXPECT_EQ(AiComponent::NOT_AVAILABLE, mail->installMode);
}

} // namespace
