#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/packages/Source.h"
#include "common/runtime/PackagesProgress.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using ::testing::ElementsAre;

namespace {

class RecordingSource : public Source {
public:
    RecordingSource(Repository* repository, bool remote) : Source(repository), remote(remote) {}
    bool isRemote() const override { return remote; }
    void downloadPackage(Package* package) override { fetched.push_back(package->getName().str()); }

    bool remote;
    std::vector<std::string> fetched;

protected:
    void doGetBrief() override {}
    void doGetFull() override {}
};

class RecordingProgress : public PackagesProgress {
public:
    void set_started() override {}
    void set_progress(int stage, const std::string& name) override { stages.emplace_back(stage, name); }
    std::vector<std::pair<int, std::string>> stages;
};

TEST(RepositorySandboxTest, DownloadsOnlyPackagesOfRemoteSources) {
    // Packages outlive the repository and its sources.
    std::vector<std::unique_ptr<Package>> owned;
    Repository repository;
    RecordingSource remote(&repository, true);
    RecordingSource local(&repository, false);
    std::vector<const Package*> plan;
    for (auto [name, source] :
         {std::pair<const char*, Source*>{"a", &remote}, {"b", &local}, {"c", nullptr}, {"d", &remote}}) {
        owned.push_back(std::make_unique<Package>(name, "1.0"));
        repository.addPackage(owned.back().get(), source);
        plan.push_back(owned.back().get());
    }
    RecordingProgress progress;
    repository.downloadPackages(plan, &progress);
    EXPECT_THAT(remote.fetched, ElementsAre("a", "d"));
    EXPECT_TRUE(local.fetched.empty());
    EXPECT_THAT(progress.stages,
                ElementsAre(std::make_pair(1, std::string("a")), std::make_pair(1, std::string("d"))));
}

} // namespace
