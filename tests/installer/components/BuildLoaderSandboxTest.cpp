// The component tree of the test installation source, built by walking its catalogue with the loader.
// The settings manager writes options.ini below the home directory when it goes, hence the sandbox.

#include "installer/components/BuildLoader.h"

#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ParamManager.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "installer/engine/Bootstrapper.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceConfigLazyAddon.h"
#include "installer/sources/SourceManager.h"
#include "tests/support/DebugLog.h"
#include "tests/support/LoadRun.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string fixtures = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures";
const std::string moxelBuild = "moxel/18.0.1/debian-12-x86_64.build.inf3";
const std::string pagewrightBuild = "pagewright/2.5.0/debian-12-x86_64.build.inf3";
const std::string extensionsBuild = "extensions/1.0.0/debian-12-x86_64.build.inf3";

using testsupport::LoadRun;

// One line per node: components as "name product", groups with their members indented below them.
void describe(const std::shared_ptr<AiCompNode>& node, const std::string& indent, std::ostringstream& out) {
    if (auto component = std::dynamic_pointer_cast<AiComponent>(node)) {
        out << indent << component->name << " " << component->getProductId() << "\n";
    } else if (auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node)) {
        out << indent << "radio '" << radio->name << "' " << radio->getProductId()
            << " default=" << radio->defaultName << " rules=" << radio->hasSwitchRules;
        for (const auto& rule : radio->switches)
            out << " " << rule.first << ">" << rule.second;
        out << "\n";
        for (const comp_ptr_t& child : radio->children)
            describe(child, indent + "  ", out);
    } else if (auto sub = std::dynamic_pointer_cast<AiSubGroup>(node)) {
        out << indent << "sub '" << sub->name << "' " << sub->getProductId() << "\n";
        for (const auto& child : sub->children)
            describe(child, indent + "  ", out);
    }
}

std::string describe(const ComponentManager& components) {
    std::ostringstream out;
    for (const auto& node : components.nodes)
        describe(node, "", out);
    return out.str();
}

// Every component of the tree, groups included, by name (the last one of a name wins).
std::map<std::string, comp_ptr_t> componentsByName(const ComponentManager& components) {
    std::map<std::string, comp_ptr_t> found;
    std::function<void(const std::shared_ptr<AiCompNode>&)> collect =
        [&](const std::shared_ptr<AiCompNode>& node) {
            if (auto component = std::dynamic_pointer_cast<AiComponent>(node))
                found[component->name] = component;
            else if (auto radio = std::dynamic_pointer_cast<AiRadioGroup>(node))
                for (const comp_ptr_t& child : radio->children)
                    collect(child);
            else if (auto sub = std::dynamic_pointer_cast<AiSubGroup>(node))
                for (const auto& child : sub->children)
                    collect(child);
        };
    for (const auto& node : components.nodes)
        collect(node);
    return found;
}

std::string typesOf(const ComponentManager& components, const std::string& productId) {
    std::ostringstream out;
    for (const InstallationType& type : components.getProduct(productId).types) {
        for (const std::string& name : type.names)
            out << name << (&name == &type.names.back() ? "" : "+");
        out << " kind=" << type.kind << ":";
        for (const std::string& component : type.components)
            out << " " << component;
        out << "\n";
    }
    return out.str();
}

class BuildLoaderSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
        Opsys::override_name = "Linux";
        Opsys::override_vendor = "Debian";
        Opsys::override_version = "12";
        Opsys::override_arch = "x86_64";
        // Nobody listens at the add-on's feed address: one quick failure is enough.
        Options::instance().downloadRetryCount = 1;
        ASSERT_EQ(system(("cp -R '" + fixtures + "/source/.' '" + source.path() + "'").c_str()), 0);
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    // `fixture` is relative to tests/fixtures.
    void replaceWith(const std::string& name, const std::string& fixture) const {
        testsupport::writeFile(source.file(name), testsupport::readFile(fixtures + "/" + fixture));
    }

    void edit(const std::string& name, const std::string& from, const std::string& to) const {
        std::string text = testsupport::readFile(source.file(name));
        ASSERT_NE(text.find(from), std::string::npos) << from;
        boost::replace_all(text, from, to);
        testsupport::writeFile(source.file(name), text);
    }

    // Builds the tree of the selected releases into `run`; with `commit` the loader is committed before
    // it goes.
    LoadRun& load(const std::vector<std::string>& selected, bool skipPagewright = false, bool commit = true) {
        run.reset();
        run = std::make_unique<LoadRun>(source.path(), target.path());
        for (const std::string& id : selected) {
            boost::shared_ptr<Release> release = run->catalogue->findRelease(id);
            EXPECT_TRUE(release) << id;
            if (release)
                release->_selected = true;
        }
        run->loadTree(skipPagewright, commit);
        return *run;
    }

    // The error that stops the walk; `run` keeps what was loaded until then.
    BuildLoader::ErrLoadRelease loadFailure(const std::vector<std::string>& selected) {
        try {
            load(selected);
        } catch (const BuildLoader::ErrLoadRelease& e) {
            return e;
        }
        ADD_FAILURE() << "the releases loaded";
        return BuildLoader::ErrLoadRelease(error(), boost::weak_ptr<Release>());
    }

    testsupport::TempDir source;
    testsupport::TempDir target;
    testsupport::TempDir logs;
    // Goes before the directories: its file guards read the source once more.
    std::unique_ptr<LoadRun> run;
};

TEST_F(BuildLoaderSandboxTest, SourceLoadsIntoGroupedTree) {
    load({"moxel-18.0.1"});

    // Ungrouped components first in load order (the add-on's after the release's), then the groups;
    // "vz-tools" is not for this system.
    EXPECT_EQ(describe(run->components), "base moxel\n"
                                         "ext-wptoolkit moxel\n"
                                         "ext-letsencrypt moxel\n"
                                         "ext-firewall moxel\n"
                                         "sub 'Hosting services' moxel\n"
                                         "  web moxel\n"
                                         "  dns moxel\n"
                                         "  radio 'Mail server' moxel default=mail-postfix rules=1 "
                                         "mail-exim>mail-postfix mail-postfix>mail-exim\n"
                                         "    mail-postfix moxel\n"
                                         "    mail-exim moxel\n"
                                         "sub 'Additional tools' moxel\n"
                                         "  backup moxel\n"
                                         "  pagewright moxel\n");
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Skip component vz-tools because incompatible environment\n"));
    EXPECT_THAT(log, HasSubstr("Attach addon moxel-extensions-1.0.0 to release Moxel 18.0.1\n"));
    EXPECT_THAT(log, HasSubstr("BuildLoader: 1 releases processed\n"));
    EXPECT_THAT(log, Not(HasSubstr("Warning: BuildLoader finish with unsuccess.")));
    // One guard per description read: the release's and the add-on's.
    EXPECT_EQ(run->guards.size(), 2u);
    EXPECT_TRUE(isFeedbackRequired());
}

TEST_F(BuildLoaderSandboxTest, ComponentsTakeWhatTheirRecordsSay) {
    load({"moxel-18.0.1"});
    std::map<std::string, comp_ptr_t> found = componentsByName(run->components);

    const AiComponent& base = *found.at("base");
    EXPECT_EQ(base.description, "Moxel core");
    EXPECT_THAT(base.classes, ElementsAre("core", "panel"));
    EXPECT_FALSE(base.uninstallSupport);
    EXPECT_TRUE(base.denyImplicitRemoval);
    ASSERT_EQ(base.packages.size(), 2u);
    EXPECT_EQ(base.packages[0]->getName().str(), "moxeltest-core");
    ASSERT_EQ(base.bootstrapper.size(), 1u);
    EXPECT_EQ(base.bootstrapper[0]->getName().str(), "moxeltest-core-setup");
    ASSERT_EQ(base.bootstrapperActions.size(), 2u);
    EXPECT_EQ(base.bootstrapperActions[0]->parentName, "base");
    EXPECT_EQ(base.bootstrapperActions[1]->sequence, "post");
    ASSERT_EQ(base.examinations.size(), 1u);
    EXPECT_EQ(base.examinations[0].name, "Core prerequisites");
    EXPECT_EQ(base.examinations[0].baseDir, "moxel/18.0.1/");

    EXPECT_THAT(found.at("web")->requires, ElementsAre("base"));
    EXPECT_EQ(found.at("web")->portOptions.at("www/nginx").at("WITH_HTTP2"), "on");
    EXPECT_THAT(found.at("mail-postfix")->conflicts, ElementsAre("mail-exim"));
    EXPECT_THAT(found.at("backup")->hardwired_with, ElementsAre("web"));
    EXPECT_THAT(found.at("backup")->expackages, ElementsAre("moxeltest-backup-cloud"));
    EXPECT_THAT(found.at("backup")->rmpackages, ElementsAre("moxeltest-backup-legacy"));
    EXPECT_EQ(found.at("backup")->keyPackageSets.size(), 2u);
    EXPECT_TRUE(found.at("dns")->hidden);
    EXPECT_TRUE(found.at("dns")->showInstalledHidden);
    EXPECT_EQ(found.at("ext-firewall")->description, "ext-firewall (description empty)");

    // The settings of base's package went to the settings manager.
    ASSERT_FALSE(run->params.topLevelParams.empty());
    EXPECT_EQ(run->params.topLevelParams.front()->id, "company");
}

TEST_F(BuildLoaderSandboxTest, EzTemplateNamesAreListedOrGenerated) {
    load({"moxel-18.0.1"});
    std::map<std::string, comp_ptr_t> found = componentsByName(run->components);
    struct Case {
        const char* component;
        const char* templates;
    } cases[] = {
        {"base", "moxel18"},                     // the prefix alone for "base"
        {"web", "moxel18-web"},                  // prefix, '-' and the name
        {"dns", "moxel18-dns-bind"},             // listed by the description
        {"ext-firewall", "moxel8-ext-firewall"}, // the add-on has no prefix
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& name : found.at(c.component)->ezTemplates)
            joined += (joined.empty() ? "" : ",") + name;
        EXPECT_EQ(joined, c.templates) << c.component;
    }
    EXPECT_THAT(logText(), HasSubstr("EZ template name for component web was generated: moxel18-web\n"));
}

TEST_F(BuildLoaderSandboxTest, WithoutSuffixNoTemplateNamesAndAWarning) {
    edit(moxelBuild, "       ez-template-suffix=\"debian-12-x86_64\"\n", "");
    load({"moxel-18.0.1"});
    EXPECT_TRUE(componentsByName(run->components).at("web")->ezTemplates.empty());
    EXPECT_THAT(logText(), HasSubstr("Warning: ez_template_suffix is NOT defined in  " + moxelBuild + "\n"));
}

TEST_F(BuildLoaderSandboxTest, ReleaseBuildTakesWhatItsDescriptionSays) {
    load({"moxel-18.0.1"});
    const Build& build = *componentsByName(run->components).at("base")->build;

    EXPECT_EQ(build._config, moxelBuild);
    ASSERT_TRUE(build._build_description);
    EXPECT_EQ(build._os_release_name, "bookworm");
    EXPECT_EQ(build._parameters_file, "/usr/local/zeq/var/moxel-settings.params");
    EXPECT_TRUE(build._gpgcheck);
    EXPECT_THAT(build._gpg_public_key, HasSubstr("-----BEGIN PGP PUBLIC KEY BLOCK-----"));
    EXPECT_TRUE(build._uninstall_support);
    ASSERT_EQ(build._examine.size(), 2u);
    EXPECT_EQ(build._examine[0].baseDir, "moxel/18.0.1/");
    EXPECT_EQ(build._examine[1].baseDir, "moxel/18.0.1/");
    ASSERT_EQ(build._bootstrapper_packages.size(), 1u);
    EXPECT_EQ(build._bootstrapper_packages[0]->getName().str(), "moxeltest-bootstrap");
    ASSERT_EQ(build._bootstrapper_actions.size(), 6u);
    for (const auto& action : build._bootstrapper_actions)
        EXPECT_EQ(action->parentName, "moxel-18.0.1");
    // The description as read keeps its examinations without a base directory.
    EXPECT_EQ(build._build_description->build.examinations[0].baseDir, "");
}

TEST_F(BuildLoaderSandboxTest, PackagesRemoversAndSourcesAreRegistered) {
    load({"moxel-18.0.1"});

    // Packages the descriptions name come in through the loader's own source.
    for (const char* name : {"moxeltest-core", "moxeltest-core-setup", "moxeltest-bootstrap",
                             "moxeltest-thirdparty-php", "moxeltest-web"}) {
        const Package* package = run->repository.findLatest(name);
        ASSERT_NE(package, nullptr) << name;
        EXPECT_NE(package->getSource(), nullptr) << name;
    }
    EXPECT_EQ(run->repository.findLatest("moxeltest-core")->getVersion().release, "2"); // the update package
    // A remover is made once per name: asking again adds nothing.
    const size_t count = run->repository.getPackages().size();
    for (const char* name : {"moxeltest-legacy-tools", "moxeltest-old-webmail"})
        EXPECT_EQ(run->repository.addRemoverFor(name)->getType(), 'd') << name;
    EXPECT_EQ(run->repository.getPackages().size(), count);
    EXPECT_EQ(PkgManager::preferredPackages().count("moxeltest-mail-postfix"), 1u);

    // The release build brings four update-server sources, the add-on build one.
    EXPECT_EQ(run->sources.getSources().size(), 5u);
}

TEST_F(BuildLoaderSandboxTest, BuildLevelBookkeepingGoesToTheSourceManager) {
    edit("extensions/addon.inf3", "to_version=\"18.9.9\"", "to_version=\"18.0.0\"");
    load({"moxel-18.0.1"});

    EXPECT_EQ(run->sources.getOsTemplateName(), "debian-12-x86_64");
    EXPECT_THAT(run->sources.getTemplateNames(), ElementsAre("moxeltest-broken-plugin"));
    EXPECT_EQ(run->sources.getPortOptions().at("mail/postfix").at("TLS"), "on");
    EXPECT_EQ(run->sources.getPortOptions().at("www/nginx").at("WITH_DEBUG"), "off");
    EXPECT_EQ(run->sources.getPortsArchivePath(),
              source.path() + "/moxel/18.0.1/debian-12/updates/ports.tgz");
    EXPECT_EQ(run->sources.getPortsArchiveVersion(), "");
    EXPECT_EQ(run->sources.getSources().size(), 4u);
}

TEST_F(BuildLoaderSandboxTest, OnlyReleaseBuildsGoToThePatchManager) {
    edit("extensions/addon.inf3", "config=\"1.0.0/debian-12-x86_64.build.inf3\"",
         "config=\"1.0.0/debian-12-x86_64.build.inf3\" patches=\"1.0.0/patches.xml\"");
    load({"moxel-18.0.1"});

    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("MicroUpdateManager::parseUrl: moxel/18.0.1/debian-12-patches.xml\n"));
    EXPECT_THAT(log, Not(HasSubstr("extensions/1.0.0/patches.xml")));
    EXPECT_EQ(run->patches.getProducts().size(), 1u);
}

TEST_F(BuildLoaderSandboxTest, AddonThatDoesNotFitIsPassedOver) {
    struct Case {
        const char* from;
        const char* to;
        const char* logged;
    } cases[] = {
        // The release's version is outside the add-on's window.
        {"to_version=\"18.9.9\"", "to_version=\"18.0.0\"", "DEBUG: Addon::applicableTo: version too high"},
        {"os_version=\"12\" os_arch=\"x86_64\"", "os_version=\"13\" os_arch=\"x86_64\"",
         "Addon moxel-extensions-1.0.0 have no build for current OS\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(
            system(("cp '" + fixtures + "/source/extensions/addon.inf3' '" + source.file("extensions") + "/'")
                       .c_str()),
            0);
        edit("extensions/addon.inf3", c.from, c.to);
        load({"moxel-18.0.1"});
        EXPECT_EQ(componentsByName(run->components).count("ext-firewall"), 0u) << c.logged;
        EXPECT_EQ(run->guards.size(), 1u) << c.logged;
        EXPECT_THAT(logText(), HasSubstr(c.logged));
    }
}

TEST_F(BuildLoaderSandboxTest, InstallationTypesOfACleanInstallation) {
    edit(pagewrightBuild, "<component name=\"pagewright-themes\"",
         "<installation_types><type name=\"Everything\"><component>pagewright</component></type>"
         "<type name=\"Themes\"><component>pagewright-themes</component></type></installation_types>"
         "<component name=\"pagewright-themes\"");
    load({"moxel-18.0.1", "pagewright-2.5.0"}, true);

    // "vz-tools" left "Recommended"; a type that names "Full" among others stands for it.
    EXPECT_EQ(typesOf(run->components, "moxel"),
              "Minimal kind=0: base\n"
              "Recommended kind=0: base web mail-postfix dns\n"
              "Full+Everything kind=0: base web mail-postfix dns backup pagewright\n"
              "Custom kind=2:\n");
    // Without a type of that name the built-in "Full" comes before "Custom".
    EXPECT_EQ(typesOf(run->components, "pagewright"), "Everything kind=0: pagewright\n"
                                                      "Themes kind=0: pagewright-themes\n"
                                                      "Full kind=1:\n"
                                                      "Custom kind=2:\n");
    EXPECT_EQ(run->components.getProduct("pagewright").types[2].description, "Install all components.");
    EXPECT_EQ(run->components.getProduct("pagewright").types[3].description,
              "Custom components selection. Recommended only for experienced users.");
}

TEST_F(BuildLoaderSandboxTest, TypeLeftWithoutComponentsIsDropped) {
    edit(moxelBuild, "<installation_types>",
         "<installation_types><type name=\"Containers\" description=\"Container tools only\">"
         "<component>vz-tools</component></type>");
    load({"moxel-18.0.1"});

    EXPECT_EQ(run->components.getProduct("moxel").types.size(), 4u);
    EXPECT_THAT(typesOf(run->components, "moxel"), Not(HasSubstr("Containers")));
    EXPECT_THAT(logText(),
                HasSubstr("Installation type Containers has no components left for this system; dropped\n"));
}

TEST_F(BuildLoaderSandboxTest, BadlyEscapedTypeNameIsAnErrorOfTheDescription) {
    edit(moxelBuild, "<type name=\"Minimal\"", "<type name=\"Mini\\mal\"");
    BuildLoader::ErrLoadRelease e = loadFailure({"moxel-18.0.1"});

    EXPECT_THAT(e.getText(), HasSubstr("Wrong name of installation type 'Mini\\mal' in " + moxelBuild));
    EXPECT_EQ(e.getClass(), error::repository);
}

TEST_F(BuildLoaderSandboxTest, TypeKeepsComponentsOfThisEnvironment) {
    Opsys::override_environment = "vz";
    edit(moxelBuild, "<installation_types>",
         "<installation_types><type name=\"Containers\"><component>vz-tools</component></type>");
    load({"moxel-18.0.1"});

    EXPECT_EQ(componentsByName(run->components).count("vz-tools"), 1u);
    EXPECT_THAT(typesOf(run->components, "moxel"), HasSubstr("Containers kind=0: vz-tools\n"));
    EXPECT_THAT(typesOf(run->components, "moxel"),
                HasSubstr("Recommended kind=0: base web mail-postfix dns vz-tools\n"));
}

TEST_F(BuildLoaderSandboxTest, InstalledReleaseAddsNoInstallationTypes) {
    // The product counts as installed in a version the release may upgrade.
    run = std::make_unique<LoadRun>(source.path(), target.path());
    boost::shared_ptr<Release> release = run->catalogue->findRelease("moxel-18.0.1");
    release->_selected = true;
    release->_update_mode = 2;
    run->loadTree();

    EXPECT_EQ(run->components.findProduct("moxel"), run->components.products.end());
    EXPECT_FALSE(run->components.nodes.empty());
}

TEST_F(BuildLoaderSandboxTest, PagewrightComponentOfMoxelIsLeftOutOnRequest) {
    struct Case {
        bool skip;
        const char* tree;
        const char* logged;
    } cases[] = {
        // Moxel comes first: the site builder's own component is the one skipped.
        {false, "  backup moxel\n  pagewright moxel\n",
         "Skip component pagewright from pagewright/2.5.0/debian-12-x86_64.build.inf3 - it has already come "
         "from <include> or addon\n"},
        {true, "pagewright pagewright\n", "Skip component pagewright by some hack\n"},
    };
    for (const Case& c : cases) {
        load({"moxel-18.0.1", "pagewright-2.5.0"}, c.skip);
        EXPECT_THAT(describe(run->components), HasSubstr(c.tree)) << c.skip;
        EXPECT_THAT(logText(), HasSubstr(c.logged)) << c.skip;
    }
    // The group of Moxel does not take the node of the other product.
    EXPECT_THAT(logText(),
                HasSubstr("Components grouping warning: unable to find component with name pagewright "
                          "for group 'Additional tools'\n"));
}

TEST_F(BuildLoaderSandboxTest, SecondReleaseDefiningBaseIsSkipped) {
    replaceWith(pagewrightBuild, "loader/pagewright-with-base.build.inf3");
    load({"moxel-18.0.1", "pagewright-2.5.0"}, true);

    const std::string tree = describe(run->components);
    EXPECT_THAT(tree, HasSubstr("base moxel\n"));
    EXPECT_THAT(tree, Not(HasSubstr("base pagewright")));
    // Its group finds only the site builder: Moxel's "base" belongs to another product.
    EXPECT_THAT(tree, HasSubstr("sub 'Site builder' pagewright\n  pagewright pagewright\n"));
    EXPECT_THAT(logText(), HasSubstr("Skip component base from " + pagewrightBuild +
                                     " - it has already come from <include> or addon\n"));
}

TEST_F(BuildLoaderSandboxTest, AddonComponentReplacesTheReleaseNodeInPlace) {
    replaceWith(extensionsBuild, "loader/extension-overrides.build.inf3");
    load({"moxel-18.0.1", "pagewright-2.5.0"}, true);

    // "web" keeps its place in the release's group, "base" its place among the ungrouped ones.
    EXPECT_EQ(describe(run->components), "base moxel\n"
                                         "pagewright pagewright\n"
                                         "pagewright-themes pagewright\n"
                                         "sub 'Hosting services' moxel\n"
                                         "  web moxel\n"
                                         "  dns moxel\n"
                                         "  radio 'Mail server' moxel default=mail-postfix rules=1 "
                                         "mail-exim>mail-postfix mail-postfix>mail-exim\n"
                                         "    mail-postfix moxel\n"
                                         "    mail-exim moxel\n"
                                         "sub 'Additional tools' moxel\n"
                                         "  backup moxel\n"
                                         "sub 'Extension tools' moxel\n"
                                         "  ext-tools moxel\n");
    std::map<std::string, comp_ptr_t> found = componentsByName(run->components);
    EXPECT_EQ(found.at("web")->description, "Web server from the add-on");
    EXPECT_EQ(found.at("web")->build->_config, extensionsBuild);
    EXPECT_EQ(found.at("base")->description, "Moxel core from the add-on");
    EXPECT_THAT(found.at("base")->ezTemplates, ElementsAre("moxel8"));
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Overwrite component web with component from <include> or addon at " +
                               extensionsBuild + "\n"));
    EXPECT_THAT(log,
                HasSubstr("Components grouping warning: unable to find component with name pagewright-themes "
                          "for group 'Extension tools'\n"));
}

TEST_F(BuildLoaderSandboxTest, SettingsOfAReplacedComponentGoWithIt) {
    replaceWith(extensionsBuild, "loader/extension-overrides.build.inf3");
    edit(extensionsBuild, "buildtime=\"1700000100\" size=\"30720\"/>",
         "buildtime=\"1700000100\" size=\"30720\"><settings>"
         "<setting id=\"vhosts\" type=\"integer\" default-value=\"10\"/></settings></package>");
    load({"moxel-18.0.1"});

    // The release's "base" and its settings are gone; the add-on's "web" brought a setting of its own.
    std::map<std::string, comp_ptr_t> found = componentsByName(run->components);
    ASSERT_EQ(run->params.topLevelParams.size(), 1u);
    EXPECT_EQ(run->params.topLevelParams[0]->id, "vhosts");
    EXPECT_EQ(run->params.topLevelParams[0]->getComponents().front(), found.at("web"));

    // Once the tree's components have their status, the settings can be counted and set.
    for (const auto& component : found) {
        component.second->installMode = AiComponent::INSTALL;
        component.second->requestMode = REQ_INSTALL;
    }
    Options::instance().componentSettings["moxel"] = {{"company", "Elsewhere"}, {"vhosts", "20"}};
    EXPECT_EQ(run->params.countComponentsWithParams(), 1);
    run->params.loadFromOptions();
    EXPECT_EQ(run->params.topLevelParams[0]->getValue(), "20");
}

TEST_F(BuildLoaderSandboxTest, MalformedActionOrSettingStopsTheReleaseLoad) {
    struct Case {
        const char* from;
        const char* to;
        const char* text;
    } cases[] = {
        // An action of the build, one of a component, and a setting of a component.
        {"<action sequence=\"pkgs\" stage=\"rollback\"", "<action stage=\"rollback\"",
         "There is no attribute 'sequence' in element action"},
        {"<action sequence=\"prep\" sequence-order=\"10\"\n              exec-cmd=",
         "<action sequence=\"prep\" sequence-order=\"10\"\n              exec-command=",
         "There is no attribute 'exec-cmd' in element action"},
        {"type=\"path\" exists=\"false\"", "type=\"path\" exists=\"0\"",
         "There is incorrect boolean attribute 'exists' in element setting"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(system(("cp '" + fixtures + "/source/" + moxelBuild + "' '" + source.file(moxelBuild) + "'")
                             .c_str()),
                  0);
        edit(moxelBuild, c.from, c.to);
        BuildLoader::ErrLoadRelease e = loadFailure({"moxel-18.0.1"});

        EXPECT_THAT(e.getText(), HasSubstr(c.text)) << c.text;
        EXPECT_THAT(e.getText(), HasSubstr(moxelBuild)) << c.text;
        EXPECT_EQ(e.getClass(), error::repository) << c.text;
        ASSERT_TRUE(e.getRelease().lock()) << c.text;
        EXPECT_EQ(e.getRelease().lock()->_id, "moxel-18.0.1");
    }
}

TEST_F(BuildLoaderSandboxTest, LazyAddonHasASourceOfItsOwn) {
    edit("products.inf3", "<addon id=\"moxel-extensions\"", "<lazy_addon id=\"moxel-extensions\"");
    replaceWith(extensionsBuild, "loader/extension-overrides.build.inf3");
    load({"moxel-18.0.1"});

    const AiComponent& tools = *componentsByName(run->components).at("ext-tools");
    EXPECT_EQ(tools.lazyAddonBuild.lock(), tools.build);
    const Package* package = run->repository.findLatest("moxeltest-ext-tools");
    ASSERT_NE(package, nullptr);
    auto lazy = dynamic_cast<const SourceConfigLazyAddon*>(package->getSource());
    ASSERT_NE(lazy, nullptr);
    EXPECT_EQ(lazy->getAddon().lock(), tools.build);
    // A release component keeps no lazy add-on.
    EXPECT_TRUE(componentsByName(run->components).at("dns")->lazyAddonBuild.expired());
}

TEST_F(BuildLoaderSandboxTest, IncludeStopsTheReleaseLoad) {
    replaceWith(moxelBuild, "source/special/include-only.build.inf3");
    BuildLoader::ErrLoadRelease e = loadFailure({"moxel-18.0.1"});

    EXPECT_EQ(e.getText(), "  included components inside .build.inf3 temporary not supported\n");
    EXPECT_EQ(e.getClass(), error::repository);
    ASSERT_TRUE(e.getRelease().lock());
    EXPECT_EQ(e.getRelease().lock()->_id, "moxel-18.0.1");
    EXPECT_TRUE(run->components.nodes.empty());
    EXPECT_THAT(logText(), HasSubstr("Warning: BuildLoader finish with unsuccess.\n"));
}

TEST_F(BuildLoaderSandboxTest, SecondOsTemplateNameStopsThatRelease) {
    edit(pagewrightBuild, "ez-template-suffix=\"debian-12-x86_64\"",
         "ez-template-suffix=\"debian-12-amd64\"");
    BuildLoader::ErrLoadRelease e = loadFailure({"moxel-18.0.1", "pagewright-2.5.0"});

    EXPECT_THAT(e.getText(),
                HasSubstr("OS template name is already defined as debian-12-x86_64 (try set name "
                          "debian-12-amd64)"));
    EXPECT_EQ(e.getClass(), error::repository);
    ASSERT_TRUE(e.getRelease().lock());
    EXPECT_EQ(e.getRelease().lock()->_id, "pagewright-2.5.0");
}

TEST_F(BuildLoaderSandboxTest, ReleaseWithoutBuildForThisSystem) {
    Opsys::override_version = "11";
    BuildLoader::ErrLoadRelease e = loadFailure({"moxel-18.0.1"});

    EXPECT_EQ(e.getText(), Messages().getMessage("err_rel_notsupp") + "\n");
    EXPECT_EQ(e.getClass(), error::user);
    EXPECT_EQ(e.getSupport(), 2);
    EXPECT_THAT(logText(),
                HasSubstr("unable to find suitable to installation build from release moxel-18.0.1\n"));
}

TEST_F(BuildLoaderSandboxTest, NoSelectedReleaseGivesAnEmptyTree) {
    load({});

    EXPECT_TRUE(run->components.nodes.empty());
    EXPECT_TRUE(run->guards.empty());
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr("Warning: no any release selected!\n"));
    EXPECT_THAT(log, HasSubstr("BuildLoader: 0 releases processed\n"));
}

TEST_F(BuildLoaderSandboxTest, LoaderGoneWithoutCommitWarnsAndHandsNothingOver) {
    load({"moxel-18.0.1"}, false, false);

    EXPECT_TRUE(run->components.nodes.empty());
    EXPECT_THAT(logText(), HasSubstr("Warning: BuildLoader finish with unsuccess.\n"));
}

} // namespace

// The example source (made by the build with scripts/make-example-source) loads on both systems it has builds
// for.
TEST_F(BuildLoaderSandboxTest, ExampleSourceLoadsOnDebianAndCentOS) {
    ASSERT_EQ(system(("rm -rf '" + source.path() + "'/* && cp -R '" + MOXEL_BINARY_DIR +
                      "/example-source/.' '" + source.path() + "'")
                         .c_str()),
              0);
    for (const char* vendor : {"Debian", "CentOS"}) {
        SCOPED_TRACE(vendor);
        Opsys::override_vendor = vendor;
        Opsys::override_version = vendor == std::string("Debian") ? "12" : "8";
        load({"moxel-example-1.0.0"});

        EXPECT_EQ(describe(run->components), "base moxel-example\nweb moxel-example\n");
        EXPECT_EQ(typesOf(run->components, "moxel-example"), "Minimal kind=0: base\n"
                                                             "Full kind=0: base web\n"
                                                             "Custom kind=2:\n");
    }
    EXPECT_THAT(logText(), Not(HasSubstr("Warning: BuildLoader finish with unsuccess.")));
}
