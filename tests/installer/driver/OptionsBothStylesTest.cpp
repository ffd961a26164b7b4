#include "installer/driver/Options.h"

#include "tests/installer/driver/OptionsTestSupport.h"

#include <gtest/gtest.h>

namespace {

using optionstest::Argv;

// One request in both styles: the option style and the command style must leave the same record.
struct StylePair {
    std::vector<std::string> optionStyle;
    std::vector<std::string> commandStyle;
};

void PrintTo(const StylePair& pair, std::ostream* out) {
    *out << optionstest::testName(pair.commandStyle);
}

class SameRequestInBothStyles : public optionstest::SourceCatalogueTest,
                                public ::testing::WithParamInterface<StylePair> {
protected:
    void SetUp() override {
        SourceCatalogueTest::SetUp();
        // moxel is installed, pagewright is not.
        installed({"moxel"});
    }

    // The record as the command-line mode sees it after the second stage.
    std::unique_ptr<Options> optionStyle(const std::vector<std::string>& arguments) {
        auto options = std::make_unique<Options>();
        Argv argv(arguments);
        options->parseOptions(argv.argc(), argv.argv());
        options->applyTierDefaults();
        options->check();
        options->interpretSelectors(*catalogue);
        return options;
    }
};

TEST_P(SameRequestInBothStyles, GiveTheSameRecord) {
    const auto by_options = optionStyle(GetParam().optionStyle);
    const auto by_command = interpreted(GetParam().commandStyle);
    EXPECT_EQ(by_options->runMode, by_command->runMode);
    EXPECT_EQ(by_options->command, by_command->command);
    ASSERT_EQ(by_options->releaseSelectors.size(), by_command->releaseSelectors.size());
    for (size_t i = 0; i < by_options->releaseSelectors.size(); ++i) {
        EXPECT_EQ(by_options->releaseSelectors[i].productId, by_command->releaseSelectors[i].productId);
        EXPECT_EQ(by_options->releaseSelectors[i].kind, by_command->releaseSelectors[i].kind);
        EXPECT_EQ(by_options->releaseSelectors[i].releaseId, by_command->releaseSelectors[i].releaseId);
    }
    ASSERT_EQ(by_options->productRequests.size(), by_command->productRequests.size());
    for (const auto& entry : by_options->productRequests) {
        ASSERT_EQ(by_command->productRequests.count(entry.first), 1u) << entry.first;
        const ProductRequest& expected = entry.second;
        const ProductRequest& request = by_command->productRequests.at(entry.first);
        EXPECT_EQ(request.mode, expected.mode);
        EXPECT_EQ(request.installComponents, expected.installComponents);
        EXPECT_EQ(request.removeComponents, expected.removeComponents);
        EXPECT_EQ(request.componentClasses, expected.componentClasses);
        EXPECT_EQ(request.installationType, expected.installationType);
    }
    EXPECT_EQ(by_options->componentSettings, by_command->componentSettings);
    EXPECT_EQ(by_options->keptReleaseIds, by_command->keptReleaseIds);
    EXPECT_EQ(by_options->tier, by_command->tier);
    EXPECT_EQ(by_options->allVersions, by_command->allVersions);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SameRequestInBothStyles,
    ::testing::Values(
        StylePair{
            {"--select-product-id", "moxel", "--select-release-latest", "--installation-type", "Custom"},
            {"install"}},
        StylePair{{"--select-product-id", "moxel", "--select-release-latest", "--installation-type", "Custom",
                   "--show-packages"},
                  {"install", "--dry-run"}},
        StylePair{{"--select-product-id", "pagewright", "--select-release-latest", "--install-component", "a",
                   "--install-component", "b"},
                  {"install", "pagewright", "--components", "a,b"}},
        StylePair{{"--select-product-id", "moxel", "--select-release-id", "moxel-18.0.1",
                   "--installation-type", "Full", "--set-option", "a=1"},
                  {"install", "moxel", "18.0.1", "--preset", "Full", "--options", "a=1"}},
        StylePair{
            {"--select-product-id", "moxel", "--select-release-current", "--upgrade-installed-components"},
            {"update"}},
        StylePair{{"--select-product-id", "moxel", "--select-release-current",
                   "--include-components-from-class", "aspect=panel"},
                  {"update", "--panel-only"}},
        StylePair{{"--select-product-id", "moxel", "--select-release-current", "--install-component", "dns"},
                  {"add", "--components", "dns"}},
        StylePair{{"--select-product-id", "moxel", "--remove-component", "dns"},
                  {"remove", "moxel", "--components", "dns"}},
        StylePair{{"--select-product-id", "pagewright", "--select-release-id", "pagewright-2.5.0",
                   "--upgrade-installed-components"},
                  {"upgrade", "pagewright-2.5.0"}},
        StylePair{{"--select-product-id", "moxel", "--show-releases"}, {"list", "moxel"}},
        StylePair{{"--select-product-id", "moxel", "--show-releases", "--all-versions"},
                  {"list", "moxel", "all"}},
        StylePair{{"--select-product-id", "moxel", "--show-releases", "--tier", "stable"},
                  {"list", "moxel", "stable"}},
        StylePair{{"--select-release-id", "moxel-18.0.1", "--show-installation-types"},
                  {"list", "moxel-18.0.1", "--presets"}},
        StylePair{{"--select-release-id", "moxel-18.0.1", "--show-components", "--show-options"},
                  {"list", "moxel-18.0.1", "--components", "--options"}}),
    [](const ::testing::TestParamInfo<StylePair>& info) {
        return optionstest::testName(info.param.commandStyle);
    });

} // namespace
