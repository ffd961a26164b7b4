// The listings of the command line over the test installation source, against golden files in
// tests/fixtures/listings. The installed-patches database and the settings manager keep files below
// the home directory, hence the sandbox.

#include "common/packages/Repository.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamManager.h"
#include "installer/components/ParamString.h"
#include "installer/driver/CatalogueSelection.h"
#include "installer/driver/ComponentsReporter.h"
#include "installer/driver/InstallationTypesReporter.h"
#include "installer/driver/OSListReporter.h"
#include "installer/driver/Options.h"
#include "installer/driver/ProductsReporter.h"
#include "installer/driver/ReleasesReporter.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/ToInstallComponentsReporter.h"
#include "installer/driver/ToInstallReleasesReporter.h"
#include "installer/patches/MUInstalledDB.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/CurlDownloader.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/DebugLog.h"
#include "tests/support/LoadRun.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using ::testing::HasSubstr;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";

// Moxel 18.0.1 is installed with patch 1 (the source offers 1 and 2-1): base and its libraries at the
// offered version, web older, Postfix at the offered version. Pagewright is not installed.
const char* const installedPackages =
    "F:moxeltest-core_18.0.1-1_amd64.deb\nN:moxeltest-core\nV:18.0.1\nL:1\n"
    "A:amd64\nB:1700000000\nX:\n\n"
    "F:moxeltest-core-libs_18.0.1-1_amd64.deb\nN:moxeltest-core-libs\n"
    "V:18.0.1\nL:1\nA:amd64\nX:\n\n"
    "F:moxeltest-web_17.0.0-3_amd64.deb\nN:moxeltest-web\nV:17.0.0\nL:3\n"
    "A:amd64\nB:1600000000\nX:\n\n"
    "F:moxeltest-mail-postfix_18.0.1-1_amd64.deb\nN:moxeltest-mail-postfix\n"
    "V:18.0.1\nL:1\nA:amd64\nP:moxeltest-mta\nX:\n";

boost::posix_time::ptime at(const char* text) {
    return boost::posix_time::time_from_string(text);
}

// A command-line run up to its listings.
struct ListingRun : testsupport::LoadRun {
    ListingRun(const std::string& source, const std::string& target, const std::string& installedCache)
        : LoadRun(source, target, installedCache) {
        for (const auto& release : catalogue->_releases)
            release->_selected = true;
        // Pagewright is selected: its own product replaces Moxel's integration component.
        loadTree(true);
        driver::determineComponentStates(components, repository, nullptr, patches);
    }
};

class ListingReportersSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        Opsys::override_name = "Linux";
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
        Options::statusPrefix = "";
        // Nobody listens at the add-on's feed address: one quick failure is enough.
        Options::instance().downloadRetryCount = 1;
        CurlDownloader::setWaitTick([] {});
        ASSERT_EQ(std::system(("cp -R '" + fixtures + "/source/.' '" + source.path() + "'").c_str()), 0);
        // Pagewright is offered in the "testing" tier only.
        edit("pagewright/product.inf3", "upgrade_allowed_from=\"2.0.0\"",
             "upgrade_allowed_from=\"2.0.0\" tags=\"testing\"");

        MUInstalledDB::ProductRecord& moxel =
            MUInstalledDB::instance().prod("moxel", "18.0.1", at("2026-09-20 08:00:00"));
        moxel.patches.push_back(
            MUInstalledDB::PatchRecord{Version("1"), "2026-10-01", at("2026-10-02 09:30:15.250000"), "1001"});
        load(installedPackages);
    }

    // The run over the source on a system with these packages installed (package cache text).
    void load(const std::string& installed) {
        run.reset();
        testsupport::writeFile(logs.file("installed"), installed);
        run = std::make_unique<ListingRun>(source.path(), target.path(), logs.file("installed"));
    }

    void TearDown() override { Options::enableXmlOutput = false; }

    void edit(const std::string& name, const std::string& from, const std::string& to) const {
        std::string text = testsupport::readFile(source.file(name));
        ASSERT_NE(text.find(from), std::string::npos) << from;
        boost::replace_all(text, from, to);
        testsupport::writeFile(source.file(name), text);
    }

    comp_ptr_t component(const std::string& name) {
        struct Finder : ComponentManager::Visitor {
            void visit(const comp_ptr_t& c) override { found[c->name] = c; }
            std::map<std::string, comp_ptr_t> found;
        } finder;
        run->components.accept(finder);
        EXPECT_TRUE(finder.found.count(name)) << name;
        return finder.found[name];
    }

    std::string printed(const Reporter& reporter, bool xml) {
        Options::enableXmlOutput = xml;
        std::ostringstream out;
        out << reporter;
        return out.str();
    }

    testsupport::TempDir source;
    testsupport::TempDir target;
    testsupport::TempDir logs;
    std::unique_ptr<ListingRun> run;
};

// One listing over the run, printed as text or XML and compared with its golden file.
struct GoldenCase {
    const char* golden;
    bool xml;
    std::function<std::unique_ptr<Reporter>(ListingRun&)> reporter;
    // Changes to the run and options before printing.
    std::function<void(ListingRun&)> prepare = [](ListingRun&) {};
    // Installed packages; the installation types are offered only for products not installed yet.
    std::string installed = installedPackages;
};

void PrintTo(const GoldenCase& c, std::ostream* out) {
    *out << c.golden;
}

class ListingReportersGoldenSandboxTest : public ListingReportersSandboxTest,
                                          public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(ListingReportersGoldenSandboxTest, PrintsTheGoldenListing) {
    const GoldenCase& c = GetParam();
    if (c.installed != installedPackages)
        load(c.installed);
    c.prepare(*run);
    const std::unique_ptr<Reporter> reporter = c.reporter(*run);
    const std::string output = printed(*reporter, c.xml);
    EXPECT_EQ(output, testsupport::readFile(fixtures + "/listings/" + c.golden));
}

std::unique_ptr<Reporter> products(ListingRun& run) {
    return std::make_unique<ProductsReporter>(run.catalogue.get());
}
std::unique_ptr<Reporter> releases(ListingRun& run) {
    return std::make_unique<ReleasesReporter>(run.catalogue.get(), &run.patches,
                                              ReleasesReporter::all_releases);
}
std::unique_ptr<Reporter> releasesWithoutPatches(ListingRun& run) {
    return std::make_unique<ReleasesReporter>(run.catalogue.get(), nullptr, ReleasesReporter::all_releases);
}
std::unique_ptr<Reporter> updates(ListingRun& run) {
    return std::make_unique<ReleasesReporter>(run.catalogue.get(), &run.patches,
                                              ReleasesReporter::updates_only);
}
std::unique_ptr<Reporter> components(ListingRun& run) {
    return std::make_unique<ComponentsReporter>(&run.repository, run.catalogue.get(), &run.components,
                                                &run.params);
}
std::unique_ptr<Reporter> types(ListingRun& run) {
    return std::make_unique<InstallationTypesReporter>(&run.components);
}
std::unique_ptr<Reporter> systems(ListingRun& run) {
    return std::make_unique<OSListReporter>(run.catalogue.get());
}
std::unique_ptr<Reporter> toInstallReleases(ListingRun& run) {
    return std::make_unique<ToInstallReleasesReporter>(run.catalogue.get());
}
std::unique_ptr<Reporter> toInstallComponents(ListingRun& run) {
    return std::make_unique<ToInstallComponentsReporter>(&run.components);
}

// Values as the command line would give them; base is installed, so they are set past the loader.
void showOptions(ListingRun& run) {
    Options::instance().showOptions = true;
    struct Setter : ParamManager::Visitor {
        void visit(const param_ptr_t& param) override {
            const std::map<std::string, std::string> values = {{"admin_password", "abc"},
                                                               {"firewall_policy", "custom"}};
            const auto value = values.find(param->id);
            if (value == values.end())
                return;
            param->assign(value->second);
            param->valueNotSet = false;
        }
    } setter;
    run.params.accept(setter, nullptr, false);
}

// Some changes requested: base and Pagewright's themes to install, Postfix (installed) and Exim (not
// installed) to remove; only the Pagewright release is selected, Moxel's is installed.
void requestChanges(ListingRun& run) {
    struct Requests : ComponentManager::Visitor {
        void visit(const comp_ptr_t& c) override {
            if (c->name == "pagewright-themes" || c->name == "base")
                c->requestMode = REQ_INSTALL;
            else if (c->name == "mail-postfix" || c->name == "mail-exim")
                c->requestMode = REQ_REMOVE;
        }
    } requests;
    run.components.accept(requests);
    run.catalogue->findRelease("moxel-18.0.1")->_selected = false;
}

void selectPagewrightOnly(ListingRun&) {
    Options::instance().addReleaseSelector(ReleaseSelector::latest, "pagewright", "");
}

INSTANTIATE_TEST_SUITE_P(
    FixtureSource, ListingReportersGoldenSandboxTest,
    ::testing::Values(GoldenCase{"products.txt", false, products}, GoldenCase{"products.xml", true, products},
                      GoldenCase{"releases.txt", false, releases}, GoldenCase{"releases.xml", true, releases},
                      GoldenCase{"releases-without-patches.xml", true, releasesWithoutPatches},
                      GoldenCase{"updates.xml", true, updates},
                      GoldenCase{"releases-of-pagewright.txt", false, releases, selectPagewrightOnly},
                      GoldenCase{"releases-of-pagewright.xml", true, releases, selectPagewrightOnly},
                      GoldenCase{"components.txt", false, components},
                      GoldenCase{"components.xml", true, components},
                      GoldenCase{"components-with-options.txt", false, components, showOptions},
                      GoldenCase{"types.txt", false, types}, GoldenCase{"types.xml", true, types},
                      GoldenCase{"types-of-new-products.txt", false, types, [](ListingRun&) {}, ""},
                      GoldenCase{"types-of-new-products.xml", true, types, [](ListingRun&) {}, ""},
                      GoldenCase{"os.txt", false, systems},
                      GoldenCase{"to-install-releases.txt", false, toInstallReleases, requestChanges},
                      GoldenCase{"to-install-components.txt", false, toInstallComponents, requestChanges}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) {
        std::string name = info.param.golden;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// What a reporter printed before it raised, and the error's class and text.
struct Outcome {
    std::string printed;
    std::string raised;
};

Outcome outcome(const Reporter& reporter, bool xml) {
    Options::enableXmlOutput = xml;
    std::ostringstream out;
    try {
        out << reporter;
    } catch (const error& e) {
        return {out.str(), std::to_string(e.getClass()) + " " + e.getText()};
    }
    return {out.str(), ""};
}

TEST_F(ListingReportersSandboxTest, UpgradeCommandFailsAfterTheTableOrWithoutTheDocument) {
    Options::instance().verb = Options::verb_upgrade;
    const std::string noSmth = Messages().getMessage("err_cmd_upgrade_no_smth");
    struct Case {
        std::unique_ptr<Reporter> reporter;
        const char* golden;
        std::string text;
    };
    Case cases[] = {
        {products(*run), "products.txt", noSmth + Messages().getMessage("err_cmd_upgrade_no_product")},
        {releases(*run), "releases.txt", noSmth + Messages().getMessage("err_cmd_upgrade_no_release")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        const Outcome text = outcome(*c.reporter, false);
        EXPECT_EQ(text.printed, testsupport::readFile(fixtures + "/listings/" + c.golden));
        EXPECT_EQ(text.raised, "2 " + c.text + "\n");
        const Outcome xml = outcome(*c.reporter, true);
        EXPECT_EQ(xml.printed, "");
        EXPECT_EQ(xml.raised, text.raised);
    }
}

TEST_F(ListingReportersSandboxTest, EmptyCatalogueAndNothingToUpdate) {
    const std::string empty = Messages().getMessage("releases_reporter_list_empty");
    const std::vector<boost::shared_ptr<Release>> kept = run->catalogue->_releases;
    run->catalogue->_releases.clear();
    EXPECT_EQ(outcome(*products(*run), false).printed, "\nERROR: " + empty + "\n");
    EXPECT_EQ(outcome(*releases(*run), false).printed, "\nERROR: " + empty + "\n");
    EXPECT_EQ(outcome(*updates(*run), false).printed,
              "\n" + Messages().getMessage("releases_reporter_no_updates") + "\n");

    // Only the installed release, with nothing pending: the updates listing is empty, not the record.
    run->catalogue->_releases = {kept.front()};
    kept.front()->_component_upgrade_available = false;
    kept.front()->_micro_update_available = false;
    EXPECT_THAT(outcome(*updates(*run), true).printed,
                HasSubstr("<dizadizezeroz status=\"ok\"><releases />"));
}

TEST_F(ListingReportersSandboxTest, RefusedCombinations) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<Reporter>(ListingRun&)> reporter;
        std::string raised;
    };
    const Case cases[] = {
        {"os list in XML", systems, "2 " + Messages().getMessage("err_src_xmlblist") + "\n"},
        {"settings in XML",
         [](ListingRun& run) {
             Options::instance().showOptions = true;
             return components(run);
         },
         "3 ComponentsReporter: --show-options with --enable-xml-output is not implemented.\n"},
        {"types without a product entry",
         [](ListingRun& run) {
             run.components.products.clear();
             return types(run);
         },
         "2 Installation types may be shown only for not yet installed products.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome xml = outcome(*c.reporter(*run), true);
        EXPECT_EQ(xml.printed, "");
        EXPECT_EQ(xml.raised, c.raised);
    }
}

TEST_F(ListingReportersSandboxTest, ToInstallLinesOfUncheckedComponentsAndUnfitReleases) {
    component("dns")->installMode = AiComponent::NOT_CHECKED;
    component("mail-exim")->installMode = AiComponent::NOT_CHECKED;
    component("mail-exim")->requestMode = REQ_REMOVE;
    std::ostringstream lines;
    ToInstallComponentsReporter(&run->components).put(lines);
    EXPECT_THAT(lines.str(), HasSubstr("\nL [ ] dns < An internal error occured in Moxel Installer "));
    EXPECT_THAT(lines.str(),
                HasSubstr(".\n >\nL [=] mail-postfix up2date '18.0.1-1 => 18.0.1-1'\nR [X] mail-exim "
                          "< An internal error occured in Moxel Installer "));
    EXPECT_THAT(lines.str(), HasSubstr("\nL [ ] backup noop ' => 18.0.1-1'\n"));

    run->catalogue->findRelease("moxel-18.0.1")->_state = 1;
    run->catalogue->findRelease("pagewright-2.5.0")->_selected = false;
    std::ostringstream releases;
    ToInstallReleasesReporter(run->catalogue.get()).put(releases);
    EXPECT_EQ(releases.str(), "selected  moxel moxel-18.0.1 none (not installable)\n");
}

TEST_F(ListingReportersSandboxTest, ErrorReportKeepsTheToInstallTexts) {
    requestChanges(*run);
    ReportError::set_components(run->catalogue.get(), &run->components);
    const std::string document = ReportError::document(ReportError::Info(), "failed");
    EXPECT_THAT(document,
                HasSubstr("<releases_info>installed moxel moxel-18.0.1 update &#x0A;selected  pagewright "
                          "pagewright-2.5.0 install &#x0A;</releases_info>"));
    EXPECT_THAT(
        document,
        HasSubstr("<components_info>I [*] base upgrade &apos;18.0.1-1 =&gt; 18.0.1-2&apos;&#x0A;L [ ] "));
}

// Settings of another component between those of the printed one, with a branch of their own.
TEST(ComponentsReporterOptionsSandboxTest, PrintsOnlyTheComponentsOwnSettings) {
    const boost::shared_ptr<Build> build = testsupport::makeBuild("moxel");
    const comp_ptr_t printed = testsupport::makeComponent(build, "base");
    const comp_ptr_t other = testsupport::makeComponent(build, "web");
    ParamManager params;
    auto setting = [](const comp_ptr_t& owner, const std::string& id, const std::string& defaultValue) {
        auto param = std::make_shared<ParamString>(owner, id, "", "", "");
        param->setTexts(id + " name", "", "");
        if (!defaultValue.empty())
            param->setDefault(defaultValue);
        return param;
    };
    auto otherSwitch = std::make_shared<ParamBool>(other, "web_switch");
    otherSwitch->addToBranch("true", setting(other, "web_nested", "n"));
    auto ownSwitch = std::make_shared<ParamBool>(printed, "base_switch");
    ownSwitch->setTexts("Switch", "", "");
    ownSwitch->assign("false");
    ownSwitch->valueNotSet = false;
    params.topLevelParams = {setting(printed, "first", "one"), otherSwitch, setting(printed, "second", ""),
                             std::make_shared<ParamHidden>(printed, "hidden"), ownSwitch};

    std::ostringstream out;
    ComponentsReporter::OptionsPrinter printer(printed, out);
    params.accept(printer, nullptr, false);
    EXPECT_EQ(out.str(), "    Option: first - first name\n"
                         "      Default: one\n"
                         "    Option: second - second name\n"
                         "    Option: base_switch - Switch\n"
                         "      Current: no\n");
    EXPECT_EQ(printer.printed(), 3);
}

} // namespace
