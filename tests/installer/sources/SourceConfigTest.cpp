#include "installer/sources/SourceConfig.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "installer/catalogue/Build.h"
#include "installer/sources/SourceConfigLazyAddon.h"

#include <boost/make_shared.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::ElementsAre;

namespace {

std::vector<std::string> names(const Repository& repository) {
    std::vector<std::string> list;
    for (const Package* package : repository.getPackages())
        list.push_back(package->getName().str());
    return list;
}

// A source of installed packages that reads nothing.
class Installed : public Source {
public:
    using Source::Source;

protected:
    void doGetBrief() override {}
    void doGetFull() override {}
};

TEST(SourceConfigTest, NamedPackagesStandInUntilTheFullRead) {
    Package core("moxeltest-core", "18.0.1-1");
    Package web("moxeltest-web", "18.0.1-1");
    Package system("moxeltest-base-files", "1.0-1");
    Repository repository;
    Installed installed(&repository);
    repository.addPackage(&system, &installed);
    SourceConfig config(&repository);
    config.addPackage(&core);
    config.addPackage(&web);
    EXPECT_EQ(core.getSource(), &config);
    EXPECT_FALSE(config.isRemote());

    repository.getBrief();
    EXPECT_THAT(names(repository), ElementsAre("moxeltest-base-files", "moxeltest-core", "moxeltest-web"));
    repository.getFull();
    EXPECT_THAT(names(repository), ElementsAre("moxeltest-base-files"));
}

TEST(SourceConfigTest, LazyAddonSourceKnowsItsBuildOnlyWhileItLives) {
    Package extension("moxeltest-ext", "1.0-1");
    Repository repository;
    auto build = boost::make_shared<Build>(boost::shared_ptr<Release>(), "Linux", "Debian", "12", "x86_64",
                                           "", "", "extensions/1.0.0/debian-12-x86_64.build.inf3", "false");
    SourceConfigLazyAddon lazy(&repository, build);
    lazy.addPackage(&extension);
    EXPECT_EQ(lazy.getAddon().lock(), build);
    EXPECT_EQ(extension.getSource(), &lazy);

    build.reset();
    EXPECT_TRUE(lazy.getAddon().expired());
}

} // namespace
