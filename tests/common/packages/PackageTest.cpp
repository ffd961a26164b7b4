#include "common/packages/Package.h"
#include "common/packages/DebPackage.h"
#include "common/packages/DebVersion.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <sstream>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string text(const char* key) {
    return Messages().getMessage(key);
}

std::string printed(const Package& p) {
    std::ostringstream out;
    out << p;
    return out.str();
}

TEST(PackageTest, PrintsNameVersionAndArch) {
    Package p("foo", "1:2.0-3");
    EXPECT_EQ(printed(p), "foo-1:2.0-3");
    p.setArch("x86_64");
    EXPECT_EQ(printed(p), "foo-1:2.0-3.x86_64");
    p.setArch("");
    EXPECT_STREQ(p.getArch().c_str(), "noarch");

    Package unversioned("bar", std::unique_ptr<Version>());
    EXPECT_EQ(printed(unversioned), "bar");
}

TEST(PackageTest, FileNameIsMadeOnceFromNameAndVersion) {
    Package p("foo", "1:2.0-3");
    EXPECT_EQ(p.getFileName(), "foo-1:2.0");
    p.setVersion(std::make_unique<Version>("5.0"));
    EXPECT_EQ(p.getFileName(), "foo-1:2.0");
    Package unversioned("bar", std::unique_ptr<Version>());
    EXPECT_EQ(unversioned.getFileName(), "bar-(no version)");
}

TEST(PackageTest, MissingVersionAndXmlRaiseTheCheckedPointerError) {
    Package p("bar", std::unique_ptr<Version>());
    EXPECT_FALSE(p.hasVersion());
    try {
        p.getVersion();
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr("Try of use NULL pointer"));
    }
    EXPECT_THROW(p.getXml(), error);
}

TEST(PackageTest, BasePackageCannotReadItsFile) {
    Package p("foo", "1.0");
    try {
        p.readInfo();
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), text("err_basepkg_noread") + "\n");
        EXPECT_EQ(e.getClass(), 0);
        EXPECT_EQ(e.getSupport(), 3);
    }
}

TEST(PackageTest, DependencyListsSkipEmptyAndRpmFeatureEntries) {
    Package p("foo", "1.0");
    p.addRequire("rpmlib(PayloadIsXz) <= 5.2-1");
    p.addRequire("");
    p.addRequire("bar >= 2");
    p.addProvide("");
    p.addProvide("rpmlib(x)"); // only requirements are filtered
    p.addConflict("baz < 1");
    p.addObsolete("old-foo");
    ASSERT_EQ(p.getRequires().size(), 1u);
    EXPECT_EQ(p.getRequire(0)->getName(), "bar");
    EXPECT_FALSE(p.getRequire(1));
    EXPECT_EQ(p.getProvides().size(), 1u);
    EXPECT_EQ(p.getConflict(0)->getName(), "baz");
    EXPECT_EQ(p.getObsolete(0)->getName(), "old-foo");
    EXPECT_EQ(p.getRequire(0)->getMaster(), &p);

    p.removeRequire(5);
    EXPECT_EQ(p.getRequires().size(), 1u);
    p.removeRequire(0);
    EXPECT_TRUE(p.getRequires().empty());
}

TEST(PackageTest, PathsBecomeFileEntries) {
    Package p("foo", "1.0");
    auto file = p.createDependency("/etc/foo.conf");
    auto logical = p.createDependency("foo(x86-64)");
    EXPECT_EQ(file->getKind(), Dependency::FILE_ENTRY);
    EXPECT_EQ(std::static_pointer_cast<DependencyFile>(file)->getMode(), 0);
    EXPECT_EQ(logical->getKind(), Dependency::LOGICAL_ENTRY);
    EXPECT_EQ(logical->getName(), "foo(x86-64)");
}

TEST(PackageTest, SelfProvideIsMadeOnce) {
    Package p("foo", "1:2.0-3");
    auto self = p.getSelfProvide();
    std::ostringstream out;
    self->print(out);
    EXPECT_EQ(out.str(), "foo = 1:2.0-3");
    EXPECT_EQ(p.getSelfProvide(), self);
    EXPECT_EQ(self->getMaster(), &p);
}

TEST(PackageTest, CopiedDependenciesAreShared) {
    Package a("a", "1"), b("b", "1");
    a.addRequire("x");
    a.addProvide("y");
    b.addRequire("z");
    b.copyDependencies(a);
    ASSERT_EQ(b.getRequires().size(), 1u);
    EXPECT_EQ(b.getRequire(0), a.getRequire(0));
    EXPECT_EQ(b.getProvide(0), a.getProvide(0));
}

TEST(PackageTest, RequiresPackageFollowsResolvedProviders) {
    Package user("user", "1"), lib("lib", "1"), other("other", "1");
    user.addRequire("libx >= 1");
    lib.addProvide("libx = 2");
    EXPECT_FALSE(user.requiresPackage(&lib));
    user.getRequire(0)->addProvider(lib.getProvide(0));
    EXPECT_TRUE(user.requiresPackage(&lib));
    EXPECT_FALSE(user.requiresPackage(&other));
}

TEST(PackageTest, Md5ParsesHexAndKeepsTheOldValueOnBadText) {
    Package p("foo", "1.0");
    p.setMd5("00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(p.getMd5()[0], 0x00);
    EXPECT_EQ(p.getMd5()[15], 0xff);
    EXPECT_THROW(p.setMd5("0011"), error);
    EXPECT_EQ(p.getMd5()[15], 0xff);
    p.setMd5("");
    EXPECT_EQ(p.getMd5()[15], 0x00);
}

TEST(PackageTest, NumbersMustBeDecimal) {
    Package p("foo", "1.0");
    p.setBuildTime("1700000000");
    p.setSize("2048");
    EXPECT_EQ(p.getBuildTime(), 1700000000);
    EXPECT_EQ(p.getSize(), 2048);
    try {
        p.setBuildTime("12x");
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), text("err_non_digit") + "\n");
    }
}

TEST(PackageTest, EvaluateStringReplacesKnownProperties) {
    ExtCatalogPackage p("ext-abc", "1.0");
    p.setCode("abc");
    p.setProperty("EMPTY", "");
    p.setProperty("NESTED", "[EXT_CODE]");
    struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"[EXT_CODE]-x", "abc-x"},
        {"[FOO]-[EXT_CODE]", "[FOO]-abc"}, // unknown placeholders stay
        {"[EMPTY][EXT_CODE]", "abc"},      // an empty value at the start does not stop the search
        {"a[EMPTY]b[EXT_CODE]", "ababc"},
        {"[NESTED]", "[EXT_CODE]"}, // values are not expanded again
        {"no placeholders [", "no placeholders ["},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(p.evaluateString(c.text), c.result) << c.text;
}

TEST(PackageTest, UndefinedPlaceholdersAreLogged) {
    setenv("LC_ALL", "C", 1);
    testsupport::TempDir dir;
    Log::setFileThreshold(3);
    Log::open_file(dir.file("log"), true);
    Package("foo", "1.0").evaluateString("x[FOO]");
    EXPECT_THAT(testsupport::readFile(dir.file("log")),
                HasSubstr("debug: Package::evaluateString: undefined property FOO in expression x[FOO]"));
}

TEST(PackageTest, ExtCatalogPropertiesAreEmptyUntilSet) {
    ExtCatalogPackage p("ext-x", "0-0");
    EXPECT_EQ(p.getCode(), "");
    EXPECT_EQ(p.getDownloadUrl(), "");
    p.setDisplayName("Shiny");
    p.setDownloadUrl("https://example.org/x.zip");
    EXPECT_EQ(p.getDisplayName(), "Shiny");
    EXPECT_EQ(p.getProperty("EXT_DOWNLOAD_URL"), "https://example.org/x.zip");
    EXPECT_EQ(p.getType(), 'n');
}

TEST(PackageTest, RemoverIsADummyWithAnObsoletesEntry) {
    Package remover("dummy_obsoleter_foo", "0.0");
    remover.addObsolete("foo");
    EXPECT_FALSE(isRemoverPackage(&remover)); // not a dummy yet
    remover.setType('d');
    EXPECT_TRUE(isRemoverPackage(&remover));
    Package requirer("dummy_requirer", "0.0");
    requirer.setType('d');
    requirer.addRequire("foo");
    EXPECT_FALSE(isRemoverPackage(&requirer));
}

TEST(PackageFromFileTest, ClassFollowsTheFileName) {
    auto rpm = Package::createFromFile("foo", "1.0-1", "foo-1.0-1.x86_64.rpm");
    EXPECT_NE(dynamic_cast<RPMPackage*>(rpm.get()), nullptr);
    EXPECT_EQ(typeid(rpm->getVersion()), typeid(Version));
    EXPECT_EQ(rpm->getFileName(), "foo-1.0-1.x86_64.rpm");

    auto deb = Package::createFromFile("foo", "2.0~rc1", "foo_2.0~rc1_amd64.deb");
    EXPECT_NE(dynamic_cast<DebPackage*>(deb.get()), nullptr);
    EXPECT_EQ(typeid(deb->getVersion()), typeid(DebVersion));
    EXPECT_LT(deb->getVersion().compare(Version("2.0")), 0);

    try {
        Package::createFromFile("foo", "1.0", "foo-1.0.tar.gz");
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Unable to create package object from file foo-1.0.tar.gz\n");
        EXPECT_EQ(e.getClass(), 0);
    }
}

class PackageFromXmlTest : public ::testing::Test {
protected:
    const TiXmlElement* parse(const std::string& xml) {
        document.Parse(xml.c_str());
        EXPECT_FALSE(document.Error()) << document.ErrorDesc();
        return document.RootElement();
    }

    TiXmlDocument document;
};

TEST_F(PackageFromXmlTest, BuildPackageWithFile) {
    auto p = Package::createFromXml(
        parse("<package name='foo' file='foo-1.0-2.x86_64.rpm' version='1.0' release='2' arch='x86_64'"
              " md5='00112233445566778899aabbccddeeff' buildtime='1700000000' size='4096'"
              " classes='web, mail,,db'/>"),
        'b');
    EXPECT_NE(dynamic_cast<RPMPackage*>(p.get()), nullptr);
    EXPECT_EQ(printed(*p), "foo-1.0-2.x86_64");
    EXPECT_EQ(p->getFileName(), "foo-1.0-2.x86_64.rpm");
    EXPECT_EQ(p->getType(), 'b');
    EXPECT_EQ(p->getBuildTime(), 1700000000);
    EXPECT_EQ(p->getSize(), 4096);
    EXPECT_EQ(p->getMd5()[1], 0x11);
    EXPECT_THAT(p->getClasses(), ElementsAre("", " mail", "db", "web"));
    EXPECT_TRUE(p->getProvides().empty()); // only catalogue packages read their children
}

TEST_F(PackageFromXmlTest, DebFileGivesDebianVersionRules) {
    auto p = Package::createFromXml(parse("<package name='foo' file='foo.deb' version='1:2.0' release=''"
                                          " arch='amd64' md5='' buildtime='0' size='1'/>"),
                                    'u');
    EXPECT_NE(dynamic_cast<DebPackage*>(p.get()), nullptr);
    EXPECT_EQ(p->getVersion().toString(), "1:2.0");
}

TEST_F(PackageFromXmlTest, CatalogueEntryKeepsItsElementAndReadsItsDependencies) {
    auto p =
        Package::createFromXml(parse("<package name='ext-abc' file='' version='0' release='0' arch='noarch'>"
                                     "<requires>zeq &gt;= 18.0</requires>"
                                     "<requires>rpmlib(x)</requires>"
                                     "<provides>ext-abc-api = 1</provides>"
                                     "<conflicts>ext-old</conflicts>"
                                     "<obsoletes>ext-older</obsoletes>"
                                     "<description>ignored</description>"
                                     "<actions/>"
                                     "</package>"),
                               'e');
    auto* ext = dynamic_cast<ExtCatalogPackage*>(p.get());
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(p->getType(), 'e');
    EXPECT_STREQ(p->getXml()->Value(), "package");
    EXPECT_NE(p->getXml(), document.RootElement());
    ASSERT_EQ(p->getRequires().size(), 1u);
    EXPECT_EQ(p->getRequire(0)->getName(), "zeq");
    EXPECT_EQ(p->getConflict(0)->getName(), "ext-old");
    EXPECT_EQ(p->getObsolete(0)->getName(), "ext-older");
    // The "actions" child adds the package's own provide.
    ASSERT_EQ(p->getProvides().size(), 2u);
    EXPECT_EQ(p->getProvide(1), p->getSelfProvide());
    EXPECT_EQ(p->getFileName(), "ext-abc-0");
}

TEST_F(PackageFromXmlTest, CatalogueEntryWithoutFileOrActionsHasNoOwnProvide) {
    auto p = Package::createFromXml(parse("<package name='ext-x' file='' version='1' release='' "
                                          "arch='noarch'><provides>x</provides></package>"),
                                    'e');
    EXPECT_EQ(p->getProvides().size(), 1u);
}

TEST_F(PackageFromXmlTest, MissingAttributesAreRejected) {
    const char* const full = "name='foo' file='foo.rpm' version='1' release='1' arch='noarch' md5=''"
                             " buildtime='1' size='1'";
    for (const char* attribute : {"name", "file", "version", "release", "arch", "md5", "buildtime", "size"}) {
        std::string attributes = full;
        size_t at = attributes.find(std::string(attribute) + "=");
        attributes.erase(at, attributes.find('\'', attributes.find('\'', at) + 1) - at + 1);
        try {
            Package::createFromXml(parse("<package " + attributes + "/>"), 'b');
            ADD_FAILURE() << "accepted a package without " << attribute;
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), text("err_bad_pkgtag") + "\n") << attribute;
            EXPECT_EQ(e.getClass(), error::repository);
        }
    }
}

TEST_F(PackageFromXmlTest, FileFactsAreOptionalWithoutFile) {
    auto p =
        Package::createFromXml(parse("<package name='ext-y' file='' version='1' release='' arch=''/>"), 'e');
    EXPECT_STREQ(p->getArch().c_str(), "noarch");
    EXPECT_EQ(p->getSize(), 0);
}

TEST_F(PackageFromXmlTest, UnknownFileKindIsRejected) {
    try {
        Package::createFromXml(parse("<package name='foo' file='foo.tar.gz' version='1' release='' arch='x'"
                                     " md5='' buildtime='1' size='1'/>"),
                               'b');
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Unable to create package object from file foo.tar.gz\n");
    }
}

TEST_F(PackageFromXmlTest, NullElementIsAnXmlError) {
    try {
        Package::createFromXml(tinybind::Element(), 'b');
        FAIL() << "no error";
    } catch (const tinybind::err& e) {
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.text, "no element pointer");
    }
}

} // namespace
