#include "installer/sources/SourceManager.h"

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "installer/driver/Options.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceDistMoxel.h"
#include "installer/sources/SourceSysMoxelExt.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/installer/sources/SourceTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using sourcetest::fixtureSource;
using sourcetest::printed;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const moxelCentos = "moxel/18.0.1/centos-8-x86_64.build.inf3";
const char* const moxelDebian = "moxel/18.0.1/debian-12-x86_64.build.inf3";
const char* const pagewrightCentos = "pagewright/2.5.0/centos-8-x86_64.build.inf3";
const char* const pagewrightDebian = "pagewright/2.5.0/debian-12-x86_64.build.inf3";

// Everything a configurator reads of a source.
std::string describe(const Source& source) {
    const auto& moxel = dynamic_cast<const SourceMoxel&>(source);
    return std::string(dynamic_cast<const SourceDistMoxel*>(&source) ? "dist " : "") + printed(source) + "|" +
           moxel.getFetcher().getSubdirOffset() + "|" + (moxel.getGpgCheck() ? "gpg" : "-") + "|" +
           moxel.getGpgKey() + "|" + (moxel.isPersistent() ? "persistent" : "-") + "|" +
           moxel.getYumRepoId() + "|" + moxel.getYumRepoName();
}

std::vector<std::string> describeAll(const SourceManager& manager) {
    std::vector<std::string> lines;
    for (const auto& source : manager.getSources())
        lines.push_back(describe(*source));
    return lines;
}

// Which repository directories are left, in list order.
std::vector<std::string> offsets(const SourceManager& manager) {
    std::vector<std::string> lines;
    for (const auto& source : manager.getSources())
        lines.push_back(dynamic_cast<const SourceMoxel&>(*source).getFetcher().getSubdirOffset());
    return lines;
}

std::string describe(const SourceManager::AptSource& record) {
    return record.apt_repository + "|" + record.source + "|" + record.os_release_name + "|" +
           record.base_dir + "|" + (record.persistent ? "persistent" : "temporary");
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

class SourceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Log::setFileThreshold(3);
        Log::open_file(logs.file("installer.log"), true);
        Options::instance().useMoxelUpdates = true;
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    boost::shared_ptr<Build> build(const std::string& config, bool gpgcheck = false,
                                   const std::string& key = "") {
        return sourcetest::loadedBuild(fixtureSource(), config, config.substr(0, config.find('/')), gpgcheck,
                                       key);
    }

    testsupport::TempDir logs;
    testsupport::TempDir target;
    Repository repository;
    FileFetcher fetcher{fixtureSource() + "/", target.path()};
    SourceManager manager{&repository};
};

TEST_F(SourceManagerTest, BuildSourcesComeInTheOrderBuildUpdatesThirdpartyExtras) {
    const std::string dist =
        "dist MoxelSource_b_moxel-18.0.1|moxel/18.0.1/centos-8/dist/|gpg|KEY|-|moxel-18.0.1|"
        "Moxel 18.0.1";
    const std::string updates = "MoxelSource_u_moxel-18.0.1|moxel/18.0.1/centos-8/updates/|-||-||";
    const std::string thirdparty =
        "MoxelSource_t_moxel-18.0.1|moxel/18.0.1/centos-8/thirdparty/|-||persistent|"
        "moxel-18.0.1-thirdparty|Moxel 18.0.1 third-party packages";
    // Extras are checked as the build is, but their key is never imported from here.
    const std::string extras = "MoxelSource_x_moxel-18.0.1|moxel/18.0.1/centos-8/extras/|gpg||persistent|"
                               "moxel-18.0.1-extras|Moxel 18.0.1 extras";
    const struct {
        bool useMoxelUpdates;
        std::vector<std::string> expected;
    } cases[] = {
        {true, {dist, updates, thirdparty, extras}},
        {false, {dist, thirdparty, extras}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.useMoxelUpdates);
        Options::instance().useMoxelUpdates = c.useMoxelUpdates;
        SourceManager fresh(&repository);
        fresh.addBuildSources(&fetcher, build(moxelCentos, true, "KEY"));
        EXPECT_THAT(describeAll(fresh), ElementsAreArray(c.expected));
        // Each source registers in the run's repository.
        EXPECT_EQ(repository.getSources().size(), c.expected.size());
    }
}

TEST_F(SourceManagerTest, DescriptionWithOnlyABuildDirectoryGivesOneSource) {
    manager.addBuildSources(&fetcher, build(pagewrightDebian));
    EXPECT_THAT(describeAll(manager),
                ElementsAre("dist MoxelSource_b_pagewright-2.5.0|pagewright/2.5.0/debian-12/dist/|-||-||"));
}

TEST_F(SourceManagerTest, DroppingABuildRemovesAllItsSourcesWhereverTheyAre) {
    const std::vector<std::string> moxel = {"moxel/18.0.1/centos-8/dist/", "moxel/18.0.1/centos-8/updates/",
                                            "moxel/18.0.1/centos-8/thirdparty/",
                                            "moxel/18.0.1/centos-8/extras/"};
    const std::vector<std::string> pagewright = {"pagewright/2.5.0/centos-8/dist/"};
    const std::vector<std::string> debian = {
        "moxel/18.0.1/debian-12/dist/", "moxel/18.0.1/debian-12/updates/",
        "moxel/18.0.1/debian-12/thirdparty/", "moxel/18.0.1/debian-12/extras/"};
    auto joined = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const struct {
        int dropped; // index of the build to drop; 3 is a build that has no sources
        std::vector<std::string> left;
        size_t dropLines;
    } cases[] = {
        {0, joined({pagewright, debian}), 4},
        {1, joined({moxel, debian}), 1},
        {2, joined({moxel, pagewright}), 4},
        {3, joined({moxel, pagewright, debian}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dropped);
        const std::vector<boost::shared_ptr<Build>> builds = {build(moxelCentos), build(pagewrightCentos),
                                                              build(moxelDebian), build(pagewrightDebian)};
        SourceManager fresh(&repository);
        for (int i = 0; i < 3; ++i)
            fresh.addBuildSources(&fetcher, builds[i]);
        const size_t logged = count(logText(), "DEBUG: drop MoxelSource_");

        fresh.dropBuildSources(builds[c.dropped]);
        EXPECT_THAT(offsets(fresh), ElementsAreArray(c.left));
        EXPECT_EQ(count(logText(), "DEBUG: drop MoxelSource_") - logged, c.dropLines);
        EXPECT_EQ(repository.getSources().size(), c.left.size());
    }
}

TEST_F(SourceManagerTest, DroppedSourcesTakeTheirPackagesOutOfTheRepository) {
    const auto moxel = build(moxelCentos);
    const auto pagewright = build(pagewrightCentos);
    manager.addBuildSources(&fetcher, moxel);
    manager.addBuildSources(&fetcher, pagewright);
    repository.getFull();
    ASSERT_EQ(repository.getPackages().size(), 14u);

    manager.dropBuildSources(moxel);
    std::vector<std::string> left;
    for (const Package* package : repository.getPackages())
        left.push_back(package->getName().str());
    EXPECT_THAT(left, ElementsAre("moxeltest-pagewright", "moxeltest-pagewright-themes"));
}

TEST_F(SourceManagerTest, ExtensionSourceFollowsTheBuildSources) {
    manager.addBuildSources(&fetcher, build(pagewrightDebian));
    manager.addExtensionSource(nullptr);
    ASSERT_EQ(manager.getSources().size(), 2u);
    EXPECT_TRUE(boost::dynamic_pointer_cast<SourceSysMoxelExt>(manager.getSources().back()));
    EXPECT_FALSE(manager.getSources().back()->isRemote());
}

TEST_F(SourceManagerTest, AptRecordsComeFromTheDistSourcesInListOrder) {
    // The catalogue keeps the builds; sources only point back to them.
    const std::vector<boost::shared_ptr<Build>> builds = {build(moxelCentos), build(moxelDebian),
                                                          build(pagewrightDebian)};
    for (const auto& each : builds)
        manager.addBuildSources(&fetcher, each);
    std::vector<std::string> records;
    for (const auto& record : manager.getAptSources())
        records.push_back(describe(record));
    EXPECT_THAT(records,
                ElementsAre("moxel|18.0.1/debian-12/dist bookworm main|bookworm|moxel|temporary",
                            "moxel|18.0.1/debian-12/extras bookworm main|bookworm|moxel|persistent",
                            "pagewright|2.5.0/debian-12/dist bookworm main|bookworm|pagewright|temporary"));
}

TEST_F(SourceManagerTest, NoAptRecordIsAnInternalError) {
    const std::string expected = internal_error("installer/SourceManager", 196).getText();
    EXPECT_EQ(runtimetest::raised([&] { manager.getAptSources(); }).getText(), expected);

    const std::vector<boost::shared_ptr<Build>> builds = {build(moxelCentos), build(pagewrightCentos)};
    for (const auto& each : builds)
        manager.addBuildSources(&fetcher, each);
    const error none = runtimetest::raised([&] { manager.getAptSources(); });
    EXPECT_EQ(none.getText(), expected);
    EXPECT_EQ(none.getClass(), error::internal);
}

TEST_F(SourceManagerTest, PortsArchiveOfTheHighestVersionStays) {
    using entries_t = std::vector<std::pair<std::string, std::string>>;
    const struct {
        entries_t set;
        std::string path;
        std::string version;
    } cases[] = {
        {{{"a/ports.tgz", ""}}, "a/ports.tgz", ""},
        {{{"a/ports.tgz", "2"}, {"b/ports.tgz", "1"}}, "a/ports.tgz", "2"},
        {{{"a/ports.tgz", "1"}, {"b/ports.tgz", "2"}}, "b/ports.tgz", "2"},
        // An equal version takes the newer path.
        {{{"a/ports.tgz", "2"}, {"b/ports.tgz", "2"}}, "b/ports.tgz", "2"},
        {{{"a/ports.tgz", ""}, {"b/ports.tgz", ""}}, "b/ports.tgz", ""},
        {{{"a/ports.tgz", "1"}, {"b/ports.tgz", ""}}, "a/ports.tgz", "1"},
        // Versions compare as plain text.
        {{{"a/ports.tgz", "9"}, {"b/ports.tgz", "10"}}, "a/ports.tgz", "9"},
    };
    for (const auto& c : cases) {
        SourceManager fresh(&repository);
        for (const auto& entry : c.set)
            fresh.setPortsArchive(entry.first, entry.second);
        EXPECT_EQ(fresh.getPortsArchivePath() + "@" + fresh.getPortsArchiveVersion(),
                  c.path + "@" + c.version);
    }
}

TEST_F(SourceManagerTest, TemplateNamesAreKeptOnceInFirstSeenOrder) {
    for (const char* name : {"moxel18-dns-bind", "moxel18", "moxel18-dns-bind", "pagewright", "moxel18"})
        manager.addTemplateName(name);
    EXPECT_THAT(manager.getTemplateNames(), ElementsAre("moxel18-dns-bind", "moxel18", "pagewright"));
}

TEST_F(SourceManagerTest, OsTemplateNameMustBeTheSameForEveryBuild) {
    manager.setOsTemplateName("debian-12-x86_64");
    manager.setOsTemplateName("debian-12-x86_64");
    EXPECT_EQ(manager.getOsTemplateName(), "debian-12-x86_64");

    const error conflict = runtimetest::raised([&] { manager.setOsTemplateName("centos-8-x86_64"); });
    EXPECT_EQ(conflict.getText(),
              "OS template name is already defined as debian-12-x86_64 (try set name centos-8-x86_64)\n");
    EXPECT_EQ(conflict.getClass(), 1);
    EXPECT_EQ(conflict.getRepeat(), 1);
    EXPECT_EQ(conflict.getSystemState(), 1);
    EXPECT_EQ(conflict.getSupport(), 2);
    EXPECT_EQ(manager.getOsTemplateName(), "debian-12-x86_64");
}

TEST_F(SourceManagerTest, DifferentOptionsForAPortAreWarnedAboutAndTheFirstStay) {
    using options_t = SourceManager::options_t;
    const options_t http2 = {{"WITH_HTTP2", "on"}, {"WITH_SSL", "on"}};
    const struct {
        options_t later;
        std::string warning; // "" for none
    } cases[] = {
        {http2, ""},
        {{{"WITH_HTTP2", "off"}, {"WITH_SSL", "on"}},
         "Warning: Options for port is differ: \"www/nginx:(WITH_HTTP2=on,WITH_SSL=on) from previous config "
         "and "
         "\"www/nginx:(WITH_HTTP2=off,WITH_SSL=on) try set now."},
        {{{"WITH_HTTP2", "on"}},
         "Warning: Options for port is differ: \"www/nginx:(WITH_HTTP2=on,WITH_SSL=on) from previous config "
         "and "
         "\"www/nginx:(WITH_HTTP2=on) try set now."},
        {{},
         "Warning: Options for port is differ: \"www/nginx:(WITH_HTTP2=on,WITH_SSL=on) from previous config "
         "and "
         "\"www/nginx:(empty) try set now."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning);
        SourceManager fresh(&repository);
        fresh.mergePortOptions({"www/nginx", http2});
        fresh.mergePortOptions({"mail/postfix", {}});
        const size_t logged = count(logText(), "Warning: Options for port is differ");

        fresh.mergePortOptions({"www/nginx", c.later});
        const std::string log = logText();
        EXPECT_EQ(count(log, "Warning: Options for port is differ") - logged, c.warning.empty() ? 0u : 1u);
        if (!c.warning.empty()) {
            EXPECT_THAT(log, HasSubstr(c.warning + "\n"));
        }
        EXPECT_EQ(fresh.getPortOptions(),
                  (SourceManager::port_options_t{{"mail/postfix", {}}, {"www/nginx", http2}}));
    }
}

} // namespace
