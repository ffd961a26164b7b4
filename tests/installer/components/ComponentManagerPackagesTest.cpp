#include "installer/components/ComponentManager.h"

#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/driver/auto_configurator.h"
#include "tests/common/packages/PackageTestSupport.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testsupport::caught;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::makeRadio;

namespace {

const int INSTALL = AiComponent::INSTALL;
const int UPGRADE = AiComponent::UPGRADE;
const int UP2DATE = AiComponent::UP2DATE;

// A package manager configuration that offers what the test gives it.
class OfferingConfigurator : public driver::auto_configurator::DummyConfigurator {
public:
    explicit OfferingConfigurator(std::map<std::string, const Package*> offers) : offers(std::move(offers)) {
        configureSystem();
    }

protected:
    const Package* doGetAvailablePackage(const std::string& name) override {
        const auto found = offers.find(name);
        return found == offers.end() ? nullptr : found->second;
    }

private:
    std::map<std::string, const Package*> offers;
};

class SelectionPackagesTest : public testing::Test {
protected:
    void SetUp() override { Log::open_file(dir.file("installer.log"), true); }
    std::string log() const { return testsupport::readFile(dir.file("installer.log")); }

    // A package that outlives every repository that lists it; listed in the repository unless the
    // type is 'n'.
    Package* add(const std::string& name, const std::string& version, Package::type_t type = 'b',
                 const std::string& arch = "x86_64") {
        Package* package = packagetest::makePackage(owned, name, version, type, arch);
        if (type != 'n')
            repository->addPackage(package, nullptr);
        return package;
    }
    comp_ptr_t component(const std::string& name, int status, request_mode_t request,
                         const cpkgs_t& packages = {}) {
        comp_ptr_t made = makeComponent(build, name, status, request);
        made->packages = packages;
        manager.nodes.push_back(made);
        return made;
    }
    static Component::keypackages_t section(const std::vector<std::string>& keypackages,
                                            const std::vector<std::string>& keyprovides = {},
                                            const std::vector<std::string>& nokeypackages = {}) {
        Component::keypackages_t made;
        made.keypackages = keypackages;
        made.keyprovides = keyprovides;
        made.nokeypackages = nokeypackages;
        return made;
    }
    static std::vector<std::string> texts(const cpkgs_t& packages) {
        std::vector<std::string> result;
        for (const Package* package : packages) {
            std::ostringstream text;
            if (package->getType() == 'd')
                text << "remove " << package->getObsolete(0)->getName();
            else
                text << *package;
            result.push_back(text.str());
        }
        return result;
    }
    // An empty repository and tree.
    void restart() {
        repository = std::make_unique<Repository>();
        manager.nodes.clear();
    }
    cpkgs_t packagesToInstall(SystemSpecificConfigurator* configurator = nullptr) {
        cpkgs_t out;
        manager.getPackagesToInstall(out, repository.get(), configurator);
        return out;
    }

    testsupport::TempDir dir;
    std::vector<std::unique_ptr<Package>> owned;
    std::unique_ptr<Repository> repository = std::make_unique<Repository>();
    boost::shared_ptr<Build> build = makeBuild("moxel");
    ComponentManager manager;
};

// ---------------------------------------------------------------------------------------------------------
// Build packages and removers

TEST_F(SelectionPackagesTest, BuildPackagesSkipWhatIsInstalledInTheSameOrANewerVersion) {
    struct Case {
        const char* what;
        const char* installed; // "" when not installed
        bool scheduled;
    };
    const Case cases[] = {
        {"not installed", "", true},
        {"older installed", "1.0-1", true},
        {"same installed", "1.1-1", false},
        {"newer installed", "1.2-1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        if (*c.installed)
            add("moxel-mail", c.installed, 's');
        component("mail", INSTALL, REQ_INSTALL, {add("moxel-mail", "1.1-1")});
        EXPECT_EQ(c.scheduled ? std::vector<std::string>{"moxel-mail-1.1-1.x86_64"}
                              : std::vector<std::string>{},
                  texts(packagesToInstall()));
    }
}

TEST_F(SelectionPackagesTest, SelectionGivesBuildPackagesRemoversAndKeyPackagesInWalkOrder) {
    add("spamd", "1.0-1", 's');
    add("old-filter", "1.0-1", 's');
    add("postfix", "2.0-1", 's');
    add("qmail", "1.0-1", 's');
    add("qmail-smtpd", "1.0-1", 's');
    add("clamd", "0.9-1");
    const comp_ptr_t mail =
        component("mail", INSTALL, REQ_INSTALL, {add("postfix", "3.0-1"), add("spamd", "2.0-1")});
    mail->rmpackages = {"old-filter", "never-installed"};
    mail->keyPackageSets = {section({"clamd"})};
    component("qmail", UP2DATE, REQ_REMOVE, {add("qmail", "1.0-1"), add("qmail-smtpd", "1.0-1")});
    component("idle", INSTALL, REQ_LEAVE, {add("idle-pkg", "1.0-1")});
    component("spam", INSTALL, REQ_INSTALL, {add("spamd", "2.0-1")}); // shares a package with mail

    cpkgs_t out = {add("earlier", "1.0-1")};
    manager.getPackagesToInstall(out, repository.get(), nullptr);
    EXPECT_THAT(texts(out),
                ElementsAre("earlier-1.0-1.x86_64", "postfix-3.0-1.x86_64", "spamd-2.0-1.x86_64",
                            "remove old-filter", "clamd-0.9-1.x86_64", "remove qmail", "remove qmail-smtpd"));
    EXPECT_THAT(log(),
                HasSubstr("Following packages will be installed: earlier-1.0-1.x86_64 postfix-3.0-1.x86_64"));
}

TEST_F(SelectionPackagesTest, PackageMissingFromTheBuildHeadersIsAnError) {
    Package* listed = add("postfix", "3.0-1");
    Package* unlisted = add("spamd", "2.0-1", 'n');
    component("mail", INSTALL, REQ_INSTALL, {listed, unlisted});

    cpkgs_t out;
    const auto facts = caught([&] { manager.getPackagesToInstall(out, repository.get(), nullptr); });
    EXPECT_EQ(1, facts.e_class);
    EXPECT_EQ(3, facts.support);
    EXPECT_EQ(
        "The Moxel Installer's configuration files .inf3 and .hdr.gz contain lists of packages that do not "
        "match.\n",
        facts.text);
    EXPECT_THAT(texts(out), ElementsAre("postfix-3.0-1.x86_64")) << "what was added before stays";
    EXPECT_THAT(
        log(),
        HasSubstr("Package spamd-2.0-1.x86_64 from inf3 file not found in build headers (hdr.gz) file."));
}

TEST_F(SelectionPackagesTest, RemovalThatSwitchesAlternativesLeavesPackagesToTheResolver) {
    add("apache2", "2.4-1", 's');
    add("nginx", "1.22-1", 's');
    const comp_ptr_t apache = makeComponent(build, "apache", UP2DATE, REQ_REMOVE);
    apache->packages = {add("apache2", "2.4-1")};
    const comp_ptr_t nginx = makeComponent(build, "nginx", INSTALL, REQ_INSTALL);
    nginx->packages = {add("nginx", "1.24-1")};
    manager.nodes.push_back(makeRadio(build, "web", {apache, nginx}));
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("nginx-1.24-1.x86_64"));

    nginx->requestMode = REQ_LEAVE; // removal without a replacement
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("remove apache2"));
}

TEST_F(SelectionPackagesTest, ExtraAndUpgradePackagesComeLast) {
    add("httpd-old", "1.0-1", 's');
    add("bind9", "9.16-1", 's');
    component("mail", INSTALL, REQ_INSTALL, {add("postfix", "3.0-1")});
    manager.extraPackages = {repository->addRemoverFor("httpd-old"),
                             repository->addRemoverFor("not-installed"), add("extra", "1.0-1")};
    manager.additionalUpgradePackages = {add("bind9", "9.18-1"), add("bind9", "9.18-1")};
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("postfix-3.0-1.x86_64", "extra-1.0-1.x86_64",
                                                        "remove httpd-old", "bind9-9.18-1.x86_64"));
}

TEST_F(SelectionPackagesTest, EmptySelectionListsNothing) {
    component("mail", UP2DATE, REQ_LEAVE, {add("postfix", "3.0-1")});
    EXPECT_THAT(packagesToInstall(), IsEmpty());
    EXPECT_THAT(log(), HasSubstr("Following packages will be installed: (empty)"));
}

TEST_F(SelectionPackagesTest, NullRepositoryIsAnError) {
    cpkgs_t out;
    const auto facts = caught([&] { manager.getPackagesToInstall(out, nullptr, nullptr); });
    EXPECT_THAT(facts.text, HasSubstr("Try of use NULL pointer"));
}

TEST_F(SelectionPackagesTest, ScheduledPackagesAreRegisteredWithTheProductsProgress) {
    ProductsProgress progress;
    const comp_ptr_t mail = component("mail", INSTALL, REQ_INSTALL, {add("postfix", "3.0-1")});
    packagesToInstall();
    ProductsProgress::progress_list_t list;
    progress.get_progress(list);
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(mail->getRelease(), list.front().release);
}

// ---------------------------------------------------------------------------------------------------------
// Key packages

TEST_F(SelectionPackagesTest, KeyPackagesOfTheFirstSection) {
    struct Case {
        const char* what;
        std::vector<std::string> installed; // name=version
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"not installed", {}, {"clamd-1.0-1.x86_64", "freshclam-1.0-1.x86_64"}},
        {"older installed", {"clamd=0.9-1"}, {"clamd-1.0-1.x86_64", "freshclam-1.0-1.x86_64"}},
        {"same installed", {"clamd=1.0-1"}, {"freshclam-1.0-1.x86_64"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        for (const std::string& entry : c.installed)
            add(entry.substr(0, entry.find('=')), entry.substr(entry.find('=') + 1), 's');
        add("clamd", "1.0-1");
        add("freshclam", "1.0-1");
        const comp_ptr_t av = component("antivirus", INSTALL, REQ_INSTALL);
        // Only the first section counts without key provides; a path names its last part.
        av->keyPackageSets = {section({"/opt/clamav/clamd", "freshclam", "unavailable"}), section({"other"})};
        EXPECT_EQ(c.expected, texts(packagesToInstall()));
    }
    EXPECT_THAT(log(), HasSubstr("Warning: key package unavailable is not available"));
}

TEST_F(SelectionPackagesTest, KeyProvidesChooseTheSectionAndBringTheirProviders) {
    Package* installedPhp = add("php7-cli", "7.4-1", 's');
    installedPhp->addProvide("php-handler");
    add("php7-cli", "7.4-9");
    // A section with key provides fits an installed set, which it then upgrades.
    add("roundcube-php7", "1.0-1", 's');
    add("roundcube-php7", "1.1-1");
    add("roundcube-php8", "1.0-1");
    add("roundcube-plain", "1.0-1");
    const comp_ptr_t webmail = component("webmail", INSTALL, REQ_INSTALL);
    webmail->keyPackageSets = {section({"roundcube-plain"}), section({"roundcube-php8"}, {"php8-handler"}),
                               section({"roundcube-php7"}, {"php-handler"})};
    EXPECT_THAT(texts(packagesToInstall()),
                ElementsAre("roundcube-php7-1.1-1.x86_64", "php7-cli-7.4-9.x86_64"));

    // No section with key provides fits: the first section.
    webmail->keyPackageSets = {section({"roundcube-plain"}), section({"roundcube-php8"}, {"php8-handler"})};
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("roundcube-plain-1.0-1.x86_64"));

    // A negative key package rules the section out.
    webmail->keyPackageSets = {section({"roundcube-plain"}),
                               section({"roundcube-php7"}, {"php-handler"}, {"php7-cli"})};
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("roundcube-plain-1.0-1.x86_64"));
}

// A provider that a source only offers does not make the capability installed, however new it is.
TEST_F(SelectionPackagesTest, OfferedKeyProviderDoesNotMakeASectionFit) {
    add("roundcube", "1.0-1", 's');
    add("roundcube-plain", "1.0-1");
    Package* buildPhp = add("php8-cli", "8.2-1");
    buildPhp->addProvide("php-handler");
    const comp_ptr_t webmail = component("webmail", INSTALL, REQ_INSTALL);
    webmail->keyPackageSets = {section({"roundcube-plain"}), section({"roundcube"}, {"php-handler"})};
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("roundcube-plain-1.0-1.x86_64"));
}

TEST_F(SelectionPackagesTest, ConfiguratorOffersKeyPackagesTheSourceLacks) {
    Package* offered = add("clamd", "1.2-1", 'n');
    Package* newer = add("freshclam", "2.0-1", 'n');
    add("freshclam", "1.0-1");
    OfferingConfigurator configurator({{"clamd", offered}, {"freshclam", newer}});
    const comp_ptr_t av = component("antivirus", INSTALL, REQ_INSTALL);
    av->keyPackageSets = {section({"clamd", "freshclam", "unavailable"})};
    EXPECT_THAT(texts(packagesToInstall(&configurator)),
                ElementsAre("clamd-1.2-1.x86_64", "freshclam-2.0-1.x86_64"));
    EXPECT_THAT(texts(packagesToInstall()), ElementsAre("freshclam-1.0-1.x86_64"));
}

// ---------------------------------------------------------------------------------------------------------
// Bootstrapper packages

TEST_F(SelectionPackagesTest, BootstrapperPackagesOncePerProductAfterTheFirstComponent) {
    add("moxel-release", "1.0-1", 's');
    build->_bootstrapper_packages = {add("moxel-keyring", "2.0-1"), add("moxel-release", "1.0-1")};
    const comp_ptr_t mail = component("mail", INSTALL, REQ_INSTALL);
    mail->bootstrapper = {add("mail-setup", "1.0-1")};
    const comp_ptr_t idle = component("idle", INSTALL, REQ_LEAVE);
    idle->bootstrapper = {add("idle-setup", "1.0-1")};
    const comp_ptr_t web = component("web", UPGRADE, REQ_INSTALL);
    web->bootstrapper = {add("web-setup", "1.0-1")};

    cpkgs_t out;
    manager.getBootstrapperPackagesToInstall(out, repository.get());
    EXPECT_THAT(texts(out), ElementsAre("mail-setup-1.0-1.x86_64", "moxel-keyring-2.0-1.x86_64",
                                        "web-setup-1.0-1.x86_64"));
    EXPECT_THAT(log(),
                HasSubstr("Following bootstrapper packages will be installed: mail-setup-1.0-1.x86_64 "));
}

TEST_F(SelectionPackagesTest, BootstrapperPackagesOfEachSelectedProduct) {
    const boost::shared_ptr<Build> other = makeBuild("sitebuilder");
    build->_bootstrapper_packages = {add("moxel-keyring", "2.0-1")};
    other->_bootstrapper_packages = {add("builder-keyring", "1.0-1")};
    component("mail", INSTALL, REQ_INSTALL);
    manager.nodes.push_back(makeComponent(other, "editor", INSTALL, REQ_INSTALL));
    component("web", INSTALL, REQ_INSTALL);

    cpkgs_t out;
    manager.getBootstrapperPackagesToInstall(out, repository.get());
    EXPECT_THAT(texts(out), ElementsAre("moxel-keyring-2.0-1.x86_64", "builder-keyring-1.0-1.x86_64"));
}

} // namespace
