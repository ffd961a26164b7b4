#include "tests/installer/catalogue/BuildInfFileTestSupport.h"

#include "common/runtime/Messages.h"
#include "installer/driver/Options.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>

using namespace buildinftest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class BuildInfFileTest : public BuildInfTest {};

const std::string moxelKey = testsupport::readFile(sourcePath("keys/moxeltest-repo.asc"));

const std::string moxelSettings = "settings: company, admin_password, admin_email, default_domain, "
                                  "server_hostname, panel_port, quota_ratio, backup_dir, docs_url, welcome, "
                                  "license_key, enable_firewall, group";

const std::string moxelGroups =
    "Hosting services(sub)[Services for hosted sites]{web, dns, Mail server(radio, default mail-postfix, "
    "switch mail-exim>mail-postfix mail-postfix>mail-exim)[One mail server at a time]{mail-postfix, "
    "mail-exim}}; Additional tools(sub)[Tools beside the hosting services]{backup, pagewright}";

const std::string moxelTypes =
    "Minimal(The panel core only.): base; "
    "Recommended(The panel with web, mail and DNS services.): base, web, mail-postfix, dns, vz-tools; "
    "Full, Everything(Every component of the release.): base, web, mail-postfix, dns, backup, pagewright";

struct FieldCheck {
    const char* fixture;
    const char* field;
    std::string expected;
};

// Fields whose values the two Moxel descriptions share.
std::vector<FieldCheck> moxelCommon(const char* f) {
    return {
        {f, "build.os_name", "Linux"},
        {f, "build.os_arch", "x86_64"},
        {f, "build.environment", ""},
        {f, "build.ezTemplatePrefix", "moxel18"},
        {f, "build.deprecated", "false"},
        {f, "build.sendFeedback", "yes"},
        {f, "build.uninstallSupport", "yes"},
        {f, "build.gpgPublicKey", moxelKey},
        {f, "build.examinations",
         "pre_any|Free space|examine/check-disk.sh|examine/run-check.sh|--min-mb=100|-|; "
         "post_install|Services|examine/check-services.sh||"
         "--rc={RC} --from={FROM_RELEASE_VERSION} --to={TO_RELEASE_VERSION}|always|"},
        {f, "build.bootstrapper.element",
         "bootstrapper: package, prep/execute, post/execute, post/commit, pkgs/rollback, prep/execute, "
         "post-patch/execute"},
        {f, "product.id", "moxel"},
        {f, "product.keyPackages", "[moxeltest-core] [moxeltest-core-libs]"},
        {f, "product.upgradeCodes", "MOXEL-UPGRADE-18"},
        {f, "product.productCodes", "MOXEL-18.0.1"},
        {f, "product.release", "moxel-18.0.1|Moxel 18.0.1|Kestrel|18.0.1|17.0.0"},
        {f, "product.parametersFile", "/usr/local/zeq/var/moxel-settings.params"},
        {f, "extCatalogPackages", ""},
        {f, "portOptions", "mail/postfix{TLS=on} www/nginx{WITH_DEBUG=off, WITH_HTTP2=on}"},
        {f, "preferredPackages", "moxeltest-mail-postfix"},
        {f, "forceRemovePackages", "moxeltest-broken-plugin"},
        {f, "removablePackages", "moxeltest-legacy-tools, moxeltest-old-webmail"},
        {f, "installationTypes", moxelTypes},
        {f, "groups", moxelGroups},
        {f, "components", "base, web, mail-postfix, mail-exim, dns, backup, pagewright, vz-tools"},
        {f, "component.base.description", "Moxel core"},
        {f, "component.base.keyPackageSets", "[moxeltest-core]"},
        {f, "component.base.classes", "core, panel"},
        {f, "component.base.examinations",
         "pre_install|Core prerequisites|examine/check-disk.sh||--min-mb=500|-|"},
        {f, "component.base.settingsElement", moxelSettings},
        {f, "component.base.bootstrapper.element", "bootstrapper: package, prep/-, post/execute"},
        {f, "component.base.uninstallSupport", "no"},
        {f, "component.base.denyImplicitRemoval", "yes"},
        {f, "component.base.hidden", "no"},
        {f, "component.base.requires", ""},
        {f, "component.web.requires", "base"},
        {f, "component.web.keyPackageSets", "[moxeltest-web; no moxeltest-web-legacy]"},
        {f, "component.web.portOptions", "www/nginx{WITH_HTTP2=on, WITH_STREAM=off}"},
        {f, "component.web.classes", "web"},
        {f, "component.web.uninstallSupport", "yes"},
        {f, "component.web.settingsElement", "(none)"},
        {f, "component.web.bootstrapper.element", "(none)"},
        {f, "component.mail-postfix.conflicts", "mail-exim"},
        {f, "component.mail-postfix.keyPackageSets", "[moxeltest-mail-postfix; provides moxeltest-mta]"},
        {f, "component.mail-exim.conflicts", "mail-postfix"},
        {f, "component.dns.hidden", "yes"},
        {f, "component.dns.showInstalledHidden", "yes"},
        {f, "component.dns.ezTemplates", "moxel18-dns-bind"},
        {f, "component.dns.denyImplicitRemoval", "no"},
        {f, "component.backup.hardwired_with", "web"},
        {f, "component.backup.keyPackageSets",
         "[moxeltest-backup] [moxeltest-backup-legacy; no moxeltest-backup]"},
        {f, "component.backup.expackages", "moxeltest-backup-cloud"},
        {f, "component.backup.rmpackages", "moxeltest-backup-legacy"},
        {f, "component.pagewright.description", "Pagewright integration"},
        {f, "component.vz-tools.environment", "vz"},
    };
}

std::vector<FieldCheck> fieldChecks() {
    std::vector<FieldCheck> checks = moxelCommon(moxelDebian);
    const std::vector<FieldCheck> centos = moxelCommon(moxelCentos);
    checks.insert(checks.end(), centos.begin(), centos.end());
    const std::vector<FieldCheck> specific = {
        {moxelDebian, "configName", "config.build.inf3"},
        {moxelDebian, "build.os_vendor", "Debian"},
        {moxelDebian, "build.os_version", "12"},
        {moxelDebian, "build.os_release_name", "bookworm"},
        {moxelDebian, "build.ezTemplateSuffix", "debian-12-x86_64"},
        {moxelDebian, "build.apt_repository", "moxel"},
        {moxelDebian, "build.apt_source", "18.0.1/debian-12/dist bookworm main"},
        {moxelDebian, "build.persistent_apt_source", "18.0.1/debian-12/extras bookworm main"},
        {moxelDebian, "build.gpgCheck", "yes"},
        {moxelDebian, "build.bootstrapper.packages", "moxeltest-bootstrap-18.0.1-1.all(b)"},
        {moxelDebian, "buildRepository", "debian-12/dist||-||"},
        {moxelDebian, "updatesRepository", "debian-12/updates||-||"},
        {moxelDebian, "thirdpartyRepository", "debian-12/thirdparty||persistent||"},
        {moxelDebian, "extrasRepository", "debian-12/extras||persistent||"},
        {moxelDebian, "updatePackages", "moxeltest-core-18.0.1-2.amd64(u)"},
        {moxelDebian, "thirdpartyPackages", "moxeltest-thirdparty-php-8.2.7-1.amd64(t)"},
        {moxelDebian, "component.base.packages",
         "moxeltest-core-18.0.1-1.amd64(b), moxeltest-core-libs-18.0.1-1.amd64(b)"},
        {moxelDebian, "component.base.bootstrapper.packages", "moxeltest-core-setup-18.0.1-1.all(b)"},
        {moxelDebian, "component.pagewright.packages", "moxeltest-pagewright-integration-18.0.1-1.all(b)"},

        {moxelCentos, "build.os_vendor", "CentOS"},
        {moxelCentos, "build.os_version", "8"},
        {moxelCentos, "build.os_release_name", ""},
        {moxelCentos, "build.ezTemplateSuffix", "centos-8-x86_64"},
        {moxelCentos, "build.apt_repository", ""},
        {moxelCentos, "build.apt_source", ""},
        {moxelCentos, "build.persistent_apt_source", ""},
        // "rpm" asks for checks on RedHat-like servers only; these tests run as a Debian server.
        {moxelCentos, "build.gpgCheck", "no"},
        {moxelCentos, "build.bootstrapper.packages", "moxeltest-bootstrap-18.0.1-1.el8.noarch(b)"},
        {moxelCentos, "buildRepository", "centos-8/dist|headers.gz|-|moxel-18.0.1|Moxel 18.0.1"},
        {moxelCentos, "updatesRepository", "centos-8/updates|headers.gz|-||"},
        {moxelCentos, "thirdpartyRepository",
         "centos-8/thirdparty||persistent|moxel-18.0.1-thirdparty|Moxel 18.0.1 third-party packages"},
        {moxelCentos, "extrasRepository",
         "centos-8/extras||persistent|moxel-18.0.1-extras|Moxel 18.0.1 extras"},
        {moxelCentos, "updatePackages", "moxeltest-core-18.0.1-2.el8.x86_64(u)"},
        {moxelCentos, "thirdpartyPackages", "moxeltest-thirdparty-php-8.2.7-1.el8.x86_64(t)"},
        {moxelCentos, "component.base.packages",
         "moxeltest-core-18.0.1-1.el8.x86_64(b), moxeltest-core-libs-18.0.1-1.el8.x86_64(b)"},

        {pagewrightDebian, "build.os_vendor", "Debian"},
        {pagewrightDebian, "build.ezTemplatePrefix", "pagewright"},
        {pagewrightDebian, "build.ezTemplateSuffix", "debian-12-x86_64"},
        {pagewrightDebian, "build.apt_source", "2.5.0/debian-12/dist bookworm main"},
        {pagewrightDebian, "build.uninstallSupport", "yes"},
        {pagewrightDebian, "build.sendFeedback", "no"},
        {pagewrightDebian, "build.gpgCheck", "no"},
        {pagewrightDebian, "build.gpgPublicKey", ""},
        {pagewrightDebian, "build.bootstrapper.element", "(none)"},
        {pagewrightDebian, "build.examinations", ""},
        {pagewrightDebian, "product.id", "pagewright"},
        {pagewrightDebian, "product.release", "pagewright-2.5.0|Pagewright 2.5|Quill|2.5.0|2.0.0"},
        {pagewrightDebian, "buildRepository", "debian-12/dist||-||"},
        {pagewrightDebian, "updatesRepository", "||-||"},
        {pagewrightDebian, "thirdpartyRepository", "||-||"},
        {pagewrightDebian, "extrasRepository", "||-||"},
        {pagewrightDebian, "removablePackages", ""},
        {pagewrightDebian, "installationTypes", ""},
        {pagewrightDebian, "groups", ""},
        {pagewrightDebian, "components", "pagewright, pagewright-themes"},
        {pagewrightDebian, "component.pagewright.packages", "moxeltest-pagewright-2.5.0-1.all(b)"},
        {pagewrightDebian, "component.pagewright-themes.requires", "pagewright"},
        {pagewrightCentos, "build.os_vendor", "CentOS"},
        {pagewrightCentos, "components", "pagewright, pagewright-themes"},
        {pagewrightCentos, "component.pagewright.packages", "moxeltest-pagewright-2.5.0-1.el8.noarch(b)"},

        {includeOnly, "components", "dummy_component_name_for_include, dummy_component_name_for_include"},
        {includeOnly, "component.dummy_component_name_for_include.description",
         "pagewright/2.5.0/debian-12-x86_64.build.inf3"},
        {includeOnly, "component.dummy_component_name_for_include.keyPackageSets", ""},
        {includeOnly, "component.dummy_component_name_for_include.packages", ""},
    };
    checks.insert(checks.end(), specific.begin(), specific.end());
    return checks;
}

TEST_F(BuildInfFileTest, FixtureDescriptionsYieldTheirRecords) {
    std::map<std::string, std::map<std::string, std::string>> loaded;
    for (const char* fixture : {moxelDebian, moxelCentos, pagewrightDebian, pagewrightCentos, includeOnly})
        loaded[fixture] = describe(BuildInfFile(sourcePath(fixture), "config.build.inf3"));

    for (const FieldCheck& check : fieldChecks()) {
        SCOPED_TRACE(std::string(check.fixture) + " " + check.field);
        const auto& fields = loaded.at(check.fixture);
        const auto found = fields.find(check.field);
        ASSERT_NE(found, fields.end());
        EXPECT_EQ(found->second, check.expected);
    }
    // The Debian and CentOS descriptions of one release describe the same components.
    for (const auto& field : loaded.at(moxelDebian)) {
        if (field.first.compare(0, 10, "component.") == 0 &&
            field.first.find("packages") == std::string::npos) {
            EXPECT_EQ(loaded.at(moxelCentos).at(field.first), field.second) << field.first;
        }
    }
}

TEST_F(BuildInfFileTest, RecordsOutliveTheirDocumentAndDescription) {
    std::vector<Package*> kept;
    std::shared_ptr<const TiXmlElement> settings;
    {
        BuildInfFile moxel(sourcePath(moxelDebian), moxelDebian);
        kept = moxel.components.front()->packages;
        settings = moxel.components.front()->settingsElement;
    }
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0]->getName().str(), "moxeltest-core");
    EXPECT_EQ(kept[0]->getFileName(), "moxeltest-core_18.0.1-1_amd64.deb");
    ASSERT_TRUE(settings);
    EXPECT_STREQ(settings->FirstChildElement("setting")->Attribute("id"), "company");
}

TEST_F(BuildInfFileTest, LoadingLogsTheMissingSectionsAndTheBootstrapper) {
    BuildInfFile moxel(sourcePath(moxelDebian), moxelDebian);
    const std::string full = logText();
    EXPECT_THAT(full, HasSubstr("Load and parse component list from " + sourcePath(moxelDebian)));
    EXPECT_THAT(full, HasSubstr("parse bootstrapper for component base"));
    EXPECT_THAT(full, HasSubstr("parse bootstrapper for build"));
    EXPECT_THAT(full, HasSubstr(" add package moxeltest-bootstrap_18.0.1-1_all.deb"));
    EXPECT_THAT(full, HasSubstr("1 build packages added from bootstrapper"));
    EXPECT_THAT(full, HasSubstr("No ext_catalog section in this build"));
    EXPECT_THAT(full, Not(HasSubstr("No updates section")));

    BuildInfFile pagewright(sourcePath(pagewrightDebian), pagewrightDebian);
    const std::string more = logText().substr(full.size());
    for (const char* warning :
         {"No updates section in this build", "No thirdparty section in this build",
          "No extra section in this build", "No removers section in this build.",
          "No force remove packages list in this build.", "No preferrers section in this build."})
        EXPECT_THAT(more, HasSubstr(warning));
}

// How a failure that names an element reads: `where` is " (row:R col:C)" of that element.
using Expectation = std::function<std::string(const std::string& path, const std::string& where)>;

Expectation missingAttribute(const std::string& name, const std::string& tag, bool extended = true) {
    return [=](const std::string& path, const std::string& where) {
        return Messages().format("err_missing_attr", name) + (extended ? ". Error while parse " + path : "") +
               "\n" + "There is no attribute '" + name + "' in element " + tag + where + "\n";
    };
}

Expectation helperText(const std::string& text) {
    return [=](const std::string& path, const std::string& where) {
        return text + where + ". Error while parse " + path + "\n";
    };
}

Expectation plain(const std::function<std::string()> text) {
    return [=](const std::string& path, const std::string&) {
        return text() + ". Error while parse " + path + "\n";
    };
}

struct Removal {
    const char* what;
    const char* fixture;
    std::vector<Edit> edits;
    Expectation expected;
};

// Row and column, as TinyXML counts them, of the element that the first edit starts with, or of the
// element whose start tag it lies in.
std::string whereOf(const std::string& fixture, const Edit& edit) {
    const std::string text = testsupport::readFile(sourcePath(fixture));
    size_t at = text.find(edit.first);
    if (edit.first[0] != '<')
        at = text.rfind('<', at);
    const size_t lineStart = text.rfind('\n', at);
    const long row = std::count(text.begin(), text.begin() + long(at), '\n') + 1;
    const size_t column = at - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
    return " (row:" + std::to_string(row) + " col:" + std::to_string(column) + ")";
}

TEST_F(BuildInfFileTest, EveryRequiredPartWhenRemovedNamesItself) {
    // The catalogue's url is required only when the run names no catalogue.
    Options::instance().extCatalogUrl.clear();
    const Removal removals[] = {
        {"os_name",
         moxelDebian,
         {{"<build os_name=\"Linux\"\n", "<build\n"}},
         missingAttribute("os_name", "build", false)},
        {"os_vendor",
         moxelDebian,
         {{"       os_vendor=\"Debian\"\n", ""}},
         missingAttribute("os_vendor", "build", false)},
        {"os_version",
         moxelCentos,
         {{"       os_version=\"8\"\n", ""}},
         missingAttribute("os_version", "build", false)},
        {"os_arch",
         moxelDebian,
         {{"       os_arch=\"x86_64\"\n", ""}},
         missingAttribute("os_arch", "build", false)},
        {"environment",
         moxelDebian,
         {{"       environment=\"\"\n", ""}},
         missingAttribute("environment", "build", false)},
        {"build_dir",
         moxelDebian,
         {{"       build_dir=\"debian-12/dist\"\n", ""}},
         missingAttribute("build_dir", "build")},
        {"component name",
         moxelDebian,
         {{"<component name=\"web\" description=\"Web server\"", "<component description=\"Web server\""}},
         missingAttribute("name", "component")},
        {"component description",
         moxelDebian,
         {{"<component name=\"web\" description=\"Web server\"", "<component name=\"web\""}},
         missingAttribute("description", "component")},
        {"keypackage name",
         moxelDebian,
         {{"<keypackage name=\"moxeltest-web\"/>", "<keypackage/>"}},
         missingAttribute("name", "keypackage")},
        {"nokeypackage name",
         moxelDebian,
         {{"<nokeypackage name=\"moxeltest-web-legacy\"/>", "<nokeypackage/>"}},
         missingAttribute("name", "nokeypackage")},
        {"keyprovide name",
         moxelCentos,
         {{"<keyprovide name=\"moxeltest-mta\"/>", "<keyprovide/>"}},
         missingAttribute("name", "keyprovide")},
        {"eztemplate name",
         moxelDebian,
         {{"<eztemplate name=\"moxel18-dns-bind\"/>", "<eztemplate/>"}},
         missingAttribute("name", "eztemplate")},
        {"component examine scope",
         moxelDebian,
         {{"<examine scope=\"pre_install\" name=\"Core prerequisites\"",
           "<examine name=\"Core prerequisites\""}},
         missingAttribute("scope", "examine")},
        {"build examine name",
         moxelDebian,
         {{"<examine scope=\"pre_any\" name=\"Free space\"", "<examine scope=\"pre_any\""}},
         missingAttribute("name", "examine")},
        {"build examine script",
         moxelCentos,
         {{"name=\"Services\" script=\"examine/check-services.sh\"", "name=\"Services\""}},
         missingAttribute("script", "examine")},
        {"include config",
         includeOnly,
         {{"<include config=\"pagewright/2.5.0/debian-12-x86_64.build.inf3\"/>", "<include/>"}},
         missingAttribute("config", "include")},
        {"updates_dir",
         moxelDebian,
         {{"<updates updates_dir=\"debian-12/updates\">", "<updates>"}},
         missingAttribute("updates_dir", "updates")},
        {"port name",
         moxelDebian,
         {{"<package name=\"mail/postfix\">", "<package>"}},
         missingAttribute("name", "package")},
        {"port option name",
         moxelDebian,
         {{"<option name=\"TLS\" value=\"on\"/>", "<option value=\"on\"/>"}},
         missingAttribute("name", "option")},
        {"port option value",
         moxelCentos,
         {{"<option name=\"TLS\" value=\"on\"/>", "<option name=\"TLS\"/>"}},
         missingAttribute("value", "option")},
        {"thirdparty_dir",
         moxelDebian,
         {{"<thirdparty thirdparty_dir=\"debian-12/thirdparty\" persistent_repo=\"true\">",
           "<thirdparty persistent_repo=\"true\">"}},
         missingAttribute("thirdparty_dir", "thirdparty")},
        {"extras_dir",
         moxelCentos,
         {{"<extras extras_dir=\"centos-8/extras\"", "<extras"}},
         missingAttribute("extras_dir", "extras")},
        {"removable package name",
         moxelDebian,
         {{"<package name=\"moxeltest-old-webmail\"/>", "<package/>"}},
         missingAttribute("name", "package")},
        {"preferred package name",
         moxelDebian,
         {{"<package name=\"moxeltest-mail-postfix\"/>", "<package/>"}},
         missingAttribute("name", "package")},
        {"ext_catalog url",
         extensionsDebian,
         {{"<ext_catalog url=\"http://127.0.0.1:9/catalog/\">", "<ext_catalog>"}},
         missingAttribute("url", "ext_catalog")},
        {"group member name",
         moxelDebian,
         {{"<component name=\"dns\"/>", "<component/>"}},
         helperText("There is no attribute 'name' in element component")},
        {"installation type component",
         moxelDebian,
         {{"<component>base</component>\n    </type>\n    <type name=\"Recommended\"",
           "<component></component>\n    </type>\n    <type name=\"Recommended\""}},
         helperText("Text node not found in element 'component'")},
        {"gpg key text",
         moxelDebian,
         {{"<gpg_public_key><![CDATA[", "<gpg_public_key></gpg_public_key><!--"},
          {"]]></gpg_public_key>", "-->"}},
         helperText("Text node not found in element 'gpg_public_key'")},
        {"package name",
         moxelDebian,
         {{"<package name=\"moxeltest-dns\" file=", "<package file="}},
         plain([] { return Messages().getMessage("err_bad_pkgtag"); })},
        {"key packages",
         moxelDebian,
         {{"<keypackages>\n      <keypackage name=\"moxeltest-dns\"/>\n    </keypackages>",
           "<keypackages/>"}},
         plain([] { return Messages().format("err_binf3_compkey", std::string("dns")); })},
    };
    for (const Removal& removal : removals) {
        SCOPED_TRACE(removal.what);
        const std::string path = variant(removal.fixture, removal.edits);
        const error e = failure(path);
        EXPECT_EQ(e.getText(), removal.expected(path, whereOf(removal.fixture, removal.edits.front())));
        EXPECT_EQ(e.getClass(), 1);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 3);
    }
}

TEST_F(BuildInfFileTest, DescriptionWithoutComponentsFails) {
    const std::string dropped =
        "<component name=\"notes\" description=\"Notes\"><requires>base</requires></component>";
    for (const std::string& body : {std::string(), dropped, "<installation_types/>" + dropped}) {
        SCOPED_TRACE(body);
        const std::string path = write("none.build.inf3", description(body));
        const error e = failure(path);
        EXPECT_EQ(e.getText(), Messages().format("err_binf3_comps", std::string("config.build.inf3")) +
                                   ". Error while parse " + path + "\n");
        EXPECT_EQ(e.getClass(), 1);
        EXPECT_EQ(e.getSupport(), 3);
    }
}

TEST_F(BuildInfFileTest, DocumentFailures) {
    const std::string missing = work.file("missing.build.inf3");
    const std::string unclosed =
        write("unclosed.build.inf3", "<build os_name=\"Linux\"><product>\n</build>\n");
    const std::string commentOnly = write("comment.build.inf3", "<!-- nothing -->\n");
    const std::string wrongRoot = write("wrong.build.inf3", description(oneComponent(), "", "builds"));

    EXPECT_EQ(failure("").getText(), Messages().getMessage("err_inf_fname") + "\n");
    EXPECT_EQ(failure(missing).getText(),
              Messages().format("err_config_parse", missing, std::string("Failed to open file")) + "\n");
    const error syntax = failure(unclosed);
    EXPECT_THAT(syntax.getText(), HasSubstr(unclosed));
    EXPECT_EQ(syntax.getClass(), 1);
    EXPECT_EQ(failure(commentOnly).getText(), Messages().format("err_inf3_root", commentOnly) + "\n");
    EXPECT_EQ(failure(wrongRoot).getText(), Messages().format("err_binf3_build", wrongRoot) + "\n");
    // Nesting that would overflow the parser's stack is refused before parsing.
    std::string nested;
    for (int i = 0; i < 100000; ++i)
        nested += "<build>";
    const std::string deep = write("deep.build.inf3", nested);
    const error tooDeep = failure(deep);
    EXPECT_THAT(tooDeep.getText(), HasSubstr("deeper than 256 levels"));
    EXPECT_THAT(tooDeep.getText(), HasSubstr(deep));
    EXPECT_EQ(tooDeep.getClass(), 1);

    const BuildInfFile renamed(write("one.build.inf3", description(oneComponent(), "", "build_1")), "one");
    EXPECT_EQ(renamed.build.os_vendor, "Debian");
    EXPECT_EQ(renamed.components.size(), 1u);
}

TEST_F(BuildInfFileTest, FaultsInTheProductBlockAreWarnings) {
    const char* const warning =
        "Warning: There is some error during read optional config section 'product': ";
    struct Case {
        const char* what;
        std::vector<Edit> edits;
        std::string logged;
        std::string keyPackages;
        std::string releaseId;
    };
    const Case cases[] = {
        {"no product",
         {{"<product id=\"moxel\">", "<moxel_product>"}, {"</product>", "</moxel_product>"}},
         "There is no child element 'product' in tag 'build'",
         "",
         ""},
        {"no release",
         {{"<release id=\"moxel-18.0.1\"", "<next_release id=\"moxel-18.0.1\""}},
         "There is no child element 'release' in tag 'product'",
         "[moxeltest-core] [moxeltest-core-libs]",
         ""},
        {"key package without text",
         {{"<keypackage>moxeltest-core-libs</keypackage>", "<keypackage/>"}},
         "Text node not found in element 'keypackage'",
         "[moxeltest-core]",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = logText().size();
        const BuildInfFile moxel(variant(moxelDebian, c.edits), moxelDebian);
        EXPECT_THAT(logText().substr(before), HasSubstr(warning + c.logged));
        const auto fields = describe(moxel);
        EXPECT_EQ(fields.at("product.keyPackages"), c.keyPackages);
        EXPECT_EQ(moxel.product.releaseId, c.releaseId);
        EXPECT_EQ(moxel.components.size(), 8u);
    }
}

TEST_F(BuildInfFileTest, FlagAttributes) {
    struct Case {
        std::string rootAttributes;
        std::string component;
        std::string field;
        std::string expected;
    };
    const std::string plainComponent = oneComponent();
    const Case cases[] = {
        {"persistent_repo=\"true\"", plainComponent, "buildRepository", "dist||persistent||"},
        {"persistent_repo=\"yes\"", plainComponent, "buildRepository", "dist||persistent||"},
        {"persistent_repo=\"1\"", plainComponent, "buildRepository", "dist||-||"},
        {"send_feedback=\"true\"", plainComponent, "build.sendFeedback", "yes"},
        {"send_feedback=\"True\"", plainComponent, "build.sendFeedback", "no"},
        {"", plainComponent, "build.uninstallSupport", "no"},
        {"uninstall_support=\"yes\"", plainComponent, "build.uninstallSupport", "yes"},
        {"", plainComponent, "component.c.uninstallSupport", "yes"},
        {"", oneComponent("uninstall_support=\"no\""), "component.c.uninstallSupport", "yes"},
        {"", oneComponent("uninstall_support=\"false\""), "component.c.uninstallSupport", "no"},
        {"", oneComponent("hidden=\"yes\""), "component.c.hidden", "no"},
        {"", oneComponent("hidden=\"true\""), "component.c.hidden", "yes"},
        {"", oneComponent("show_installed_hidden=\"yes\""), "component.c.showInstalledHidden", "no"},
        {"", oneComponent("show_installed_hidden=\"true\""), "component.c.showInstalledHidden", "yes"},
        {"", oneComponent("deny_implicit_removal=\"true\""), "component.c.denyImplicitRemoval", "yes"},
        {"", oneComponent("environment=\"vz\""), "component.c.environment", "vz"},
        {"", oneComponent("classes=\",a,&quot;b,c&quot;,, d ,\""), "component.c.classes", "a, b,c, , d"},
        {"", "<component name=\"c\" description=\"\"><eztemplate name=\"t\"/></component>",
         "component.c.description", "c (description empty)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rootAttributes + c.component);
        const std::string path = write("flags.build.inf3", description(c.component, c.rootAttributes));
        EXPECT_EQ(describe(BuildInfFile(path, "flags")).at(c.field), c.expected);
    }
}

TEST_F(BuildInfFileTest, BadClassListNamesTheComponent) {
    const std::string path = write("classes.build.inf3", description(oneComponent("classes=\"a\\qb\"")));
    const error e = failure(path);
    EXPECT_EQ(e.getLines().back(),
              "Failed to parse list of classes for product component 'c'.. Error while parse " + path);
    EXPECT_EQ(e.getLines().front(), "unknown escape sequence");
    EXPECT_EQ(e.getClass(), 1);
    EXPECT_EQ(e.getSupport(), 3);
}

TEST_F(BuildInfFileTest, GpgCheckOnADebianServer) {
    const std::pair<const char*, const char*> cases[] = {
        {"deb", "yes"}, {"rpm", "no"},   {"yes", "yes"}, {"true", "yes"},
        {"no", "no"},   {"false", "no"}, {"DEB", "no"},  {"", "no"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::string attribute = *c.first ? std::string("gpgcheck=\"") + c.first + "\"" : "";
        const std::string path = write("gpg.build.inf3", description(oneComponent(), attribute));
        EXPECT_EQ(describe(BuildInfFile(path, "gpg")).at("build.gpgCheck"), c.second);
    }
}

TEST_F(BuildInfFileTest, GpgCheckOnARedHatServer) {
    Opsys::override_vendor = "CentOS";
    const std::pair<const char*, const char*> cases[] = {{"deb", "no"}, {"rpm", "yes"}, {"yes", "yes"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::string path =
            write("gpg.build.inf3", description(oneComponent(), std::string("gpgcheck=\"") + c.first + "\""));
        EXPECT_EQ(describe(BuildInfFile(path, "gpg")).at("build.gpgCheck"), c.second);
    }
    EXPECT_EQ(describe(BuildInfFile(sourcePath(moxelCentos), "c")).at("build.gpgCheck"), "yes");
}

TEST_F(BuildInfFileTest, SectionsReadByTheirRules) {
    struct Case {
        const char* what;
        std::string body;
        std::string field;
        std::string expected;
    };
    const std::string base = oneComponent();
    const Case cases[] = {
        {"later option and later port win",
         base + "<updates updates_dir=\"u\" headers_file=\"h.gz\" persistent_repo=\"yes\">"
                "<package name=\"www/a\"><option name=\"X\" value=\"1\"/><option name=\"X\" "
                "value=\"2\"/></package>"
                "<package name=\"www/b\"><option name=\"Y\" value=\"1\"/></package>"
                "<package name=\"www/b\"><option name=\"Z\" value=\"3\"/></package></updates>",
         "portOptions", "www/a{X=2} www/b{Z=3}"},
        {"updates keep only their directory and headers file",
         base +
             "<updates updates_dir=\"u\" headers_file=\"h.gz\" persistent_repo=\"yes\" yum_repo_id=\"i\"/>",
         "updatesRepository", "u|h.gz|-||"},
        {"switch rules without allow",
         base + "<component_groups><group name=\"g\" type=\"radio\">"
                "<component name=\"c\"/><switch_rules/></group></component_groups>",
         "groups", "g(radio, switch)[]{c}"},
        {"last default wins, other types are sub-groups",
         base + "<component_groups><group name=\"g\" type=\"Radio\"><component name=\"a\" default=\"true\"/>"
                "<component name=\"b\" default=\"yes\"/><component name=\"c\" default=\"true\"/>"
                "<group name=\"n\"/></group></component_groups>",
         "groups", "g(sub, default c)[]{a, b, c, n(sub)[]{}}"},
        {"nameless force-remove entry",
         base + "<force_remove_packages><package/><package name=\"x\"/></force_remove_packages>",
         "forceRemovePackages", ", x"},
        {"unknown elements and attributes are ignored",
         "<component name=\"c\" description=\"C\" colour=\"red\"><keypackages><keypackage name=\"k\"/>"
         "<keyfile name=\"f\"/></keypackages><widget/></component><widgets/>",
         "component.c.keyPackageSets", "[k]"},
        {"key provide alone is a set",
         "<component name=\"c\" description=\"C\"><keypackages><keyprovide "
         "name=\"mta\"/></keypackages></component>",
         "component.c.keyPackageSets", "[; provides mta]"},
        {"component names from the first text node; empty ones skipped",
         oneComponent("", "<requires>a<!-- x -->b</requires><requires/><requires>c</requires>"
                          "<hardwired_with>d</hardwired_with><conflicts><x/></conflicts>"),
         "component.c.requires", "a, c"},
        {"first expackages and rmpackages only; names optional",
         oneComponent("", "<expackages><expackage/><expackage name=\"e\"/></expackages>"
                          "<expackages><expackage name=\"later\"/></expackages>"
                          "<rmpackages><rmpackage name=\"r\"/></rmpackages><rmpackages><rmpackage "
                          "name=\"s\"/></rmpackages>"),
         "component.c.expackages", ", e"},
        {"the later settings block wins",
         oneComponent(
             "",
             "<package name=\"p\" file=\"p_1-1_all.deb\" version=\"1\" release=\"1\" arch=\"all\" md5=\"\""
             " buildtime=\"1\" size=\"1\"><settings><setting id=\"one\"/></settings></package>"
             "<package name=\"q\" file=\"q_1-1_all.deb\" version=\"1\" release=\"1\" arch=\"all\" md5=\"\""
             " buildtime=\"1\" size=\"1\"><settings><setting id=\"two\"/></settings></package>"
             "<package name=\"r\" file=\"r_1-1_all.deb\" version=\"1\" release=\"1\" arch=\"all\" md5=\"\""
             " buildtime=\"1\" size=\"1\"/>"),
         "component.c.settingsElement", "settings: two"},
        {"ports of a component: repeated names replace",
         oneComponent("",
                      "<comp_ports_options><port name=\"a\"><option name=\"x\" value=\"1\"/>"
                      "<option name=\"x\" value=\"2\"/></port><port name=\"b\"><option name=\"y\"/></port>"
                      "<port name=\"b\"><option value=\"3\"/></port></comp_ports_options>"),
         "component.c.portOptions", "a{x=2} b{=3}"},
        {"only EZ templates keep a component",
         "<component name=\"t\" description=\"T\"><eztemplate name=\"a\"/><eztemplate "
         "name=\"b\"/></component>",
         "component.t.ezTemplates", "a, b"},
        {"only port options keep a component",
         "<component name=\"p\" description=\"P\"><comp_ports_options><port "
         "name=\"x\"/></comp_ports_options></component>",
         "components", "p"},
        {"a component without packages is dropped, the others stay",
         "<component name=\"notes\" description=\"N\"><requires>c</requires></component>" + base,
         "components", "c"},
        {"examination attributes",
         base + "<examine scope=\"s\" name=\"n\" script=\"x.sh\" always=\"yes\"/><examine scope=\"t\" "
                "name=\"m\" "
                "script=\"/abs.sh\" launcher=\"l\" options=\"o\" always=\"on\"/>",
         "build.examinations", "s|n|x.sh|||always|; t|m|/abs.sh|l|o|-|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("sections.build.inf3", description(c.body));
        EXPECT_EQ(describe(BuildInfFile(path, "sections")).at(c.field), c.expected);
    }
    EXPECT_THAT(logText(), HasSubstr("Warning: component notes have no build or keypackages, ignore."));
}

TEST_F(BuildInfFileTest, BrokenInstallationTypesAreInternalErrors) {
    for (const std::string& type :
         {std::string("<type name=\"T\" description=\"no components\"/>"),
          std::string("<type description=\"no name\"><component>c</component></type>")}) {
        SCOPED_TRACE(type);
        const std::string path =
            write("types.build.inf3",
                  description(oneComponent() + "<installation_types>" + type + "</installation_types>"));
        const error e = failure(path);
        EXPECT_EQ(e.getClass(), 3);
        EXPECT_THAT(e.getText(), HasSubstr("installer/BuildInfFile"));
        EXPECT_THAT(e.getText(), HasSubstr(". Error while parse " + path));
    }
}

} // namespace
