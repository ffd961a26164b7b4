#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>

#include <boost/algorithm/string/replace.hpp>

#include <utility>

using namespace cataloguetest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

class CatalogueFilesTest : public CatalogueTest {
protected:
    // A products list naming one product file, "p.inf3" at the source root.
    void withProductFile(const std::string& content) const {
        put("products.inf3", productsList("<product id=\"p\" name=\"P\" reference=\"p.inf3\"/>"));
        put("p.inf3", content);
    }

    std::string path(const std::string& name) const { return source.file(name); }
};

TEST_F(CatalogueFilesTest, ProductsListEntriesOfEveryVendorInDocumentOrder) {
    put("products.inf3", "<vendors>"
                         "<vendor><products>"
                         "<product id=\"a\" name=\"A\" reference=\"a/a.inf3\" hidden_to_install=\"yes\">"
                         "<incompatible_with prod_id=\"b\"/><incompatible_with prod_id=\"x\"/></product>"
                         "<comment id=\"ignored\" reference=\"missing.inf3\"/>"
                         "<lazy_addon id=\"lazy\" reference=\"lazy.xml\"/>"
                         "</products></vendor>"
                         "<vendor><products>"
                         "<product id=\"b\" name=\"B\" reference=\"b.inf3\" hidden_to_install=\"on\"/>"
                         "<product id=\"c\" name=\"C\" reference=\"c.inf3\" hidden_to_install=\"True\"/>"
                         "<addon id=\"eager\" reference=\"eager.xml\" hidden_to_install=\"yes\"/>"
                         "</products></vendor>"
                         "</vendors>");
    put("a/a.inf3", productFile(release("a1", "1.0", build("a.xml")), "a"));
    put("b.inf3", productFile(release("b1", "1.0", build("b.xml")), "b"));
    put("c.inf3", productFile(release("c1", "1.0", build("c.xml")), "c"));
    const std::string addon = "<addon><release id=\"%s\" version=\"1.0\"><compatibility_info>"
                              "<compatible product_id=\"a\" from_version=\"1.0\" to_version=\"2.0\"/>"
                              "</compatibility_info>" +
                              build("addon.xml") + "</release></addon>";
    put("lazy.xml", boost::replace_all_copy(addon, "%s", "lazy"));
    put("eager.xml", boost::replace_all_copy(addon, "%s", "eager"));

    const auto manager = load();
    EXPECT_THAT(walk(*manager), ElementsAre("release a1", "build a/a.xml", "leave a1", "release b1",
                                            "build b.xml", "leave b1", "release c1", "build c.xml",
                                            "leave c1", "addon lazy", "addon eager"));
    const auto& releases = manager->_releases;
    EXPECT_EQ(releases[0]->prod()->_name, "A");
    EXPECT_THAT(releases[0]->prod()->_incompatible_with, ElementsAre("b", "x"));
    EXPECT_TRUE(releases[0]->prod()->_hidden_to_install);
    EXPECT_TRUE(releases[1]->prod()->_hidden_to_install);
    EXPECT_FALSE(releases[2]->prod()->_hidden_to_install);
    EXPECT_TRUE(manager->_addons[0]->_lazy);
    EXPECT_FALSE(manager->_addons[1]->_lazy);
    // The id and name come from the products list, not from the product file.
    EXPECT_EQ(releases[1]->prod()->_id, "b");
}

TEST_F(CatalogueFilesTest, ProductAndReleaseContent) {
    withProductFile(
        "<product id=\"whatever\">"
        "<keypackages><keypackage>moxeltest-core</keypackage><upgrade_code>U1</upgrade_code></keypackages>"
        "<keypackages><product_code>P1</product_code><keypackage>moxeltest-old</keypackage>"
        "<keypackage>moxeltest-older</keypackage></keypackages>"
        "<keypackages/>"
        "<active_icon src=\"img/on.png\"/><active_icon src=\"img/second.png\"/>"
        "<disabled_icon src=\"img/off.png\"/><product_site src=\"https://moxel.example/\"/>"
        "<kb_article_upgrade_from_not_supported_versions src=\"kb/1\"/>"
        "<release_1 id=\"r1\" name=\"One\" codename=\"Alder\" version=\"1:18.0-3\" "
        "upgrade_allowed_from=\"17.5\""
        " details_url=\"https://moxel.example/[LOCALE]/notes\" tags=\"Current, Beta\" "
        "promoted_tags=\"stable\""
        " hide_tags=\"cli,query\" whp_api_version=\"2.1\" dispatcher_api_version=\"7\">"
        "<caution>Back up first.</caution>" +
        build("one.xml") +
        "<compatibility_info>"
        "<best_with product_id=\"web\"><version>2.0</version><version>1.0</version></best_with>"
        "<best_with product_id=\"mail\"><version>5</version></best_with>"
        "<best_with product_id=\"web\"><version>3.0</version><version>0.5</version></best_with>"
        "</compatibility_info>"
        "</release_1>"
        "<release id=\"r2\" name=\"Two\" version=\"19.0\" upgrade_allowed_from=\"18.0\">"
        "<caution><b>not a text</b></caution>" +
        build("two.xml") + "</release>" + "</product>");

    const auto manager = load();
    ASSERT_EQ(manager->_releases.size(), 2u);
    const Release& one = *manager->_releases[0];
    const Product& product = *one.prod();
    EXPECT_EQ(product.keypackages(), (std::vector<std::vector<std::string>>{
                                         {"moxeltest-core"}, {"moxeltest-old", "moxeltest-older"}, {}}));
    EXPECT_THAT(product._upgrade_codes, ElementsAre("U1"));
    EXPECT_THAT(product._product_codes, ElementsAre("P1"));
    EXPECT_EQ(product._active_icon, "img/on.png");
    EXPECT_EQ(product._disabled_icon, "img/off.png");
    EXPECT_EQ(product._product_site, "https://moxel.example/");
    EXPECT_EQ(product._kb_article, "kb/1");
    EXPECT_EQ(manager->_releases[1]->prod(), one.prod());

    EXPECT_EQ(one._codename, "Alder");
    EXPECT_EQ(one._version.toString(), "1:18.0-3");
    EXPECT_EQ(one._upgrade_allowed_from.toString(), "17.5");
    EXPECT_EQ(one._details_url, "https://moxel.example/[LOCALE]/notes");
    EXPECT_TRUE(one._tags.contains("beta"));
    EXPECT_TRUE(one._tags.contains("current"));
    EXPECT_FALSE(one._tags.contains("stable"));
    EXPECT_TRUE(one._promoted_tags.contains("stable"));
    EXPECT_EQ(one._hide_policy, 5u);
    EXPECT_EQ(one._whp_api_version, "2.1");
    EXPECT_EQ(one._dispatcher_api_version, "7");
    EXPECT_EQ(one._caution, "Back up first.");
    EXPECT_EQ(
        (std::vector<std::pair<std::string, std::string>>(one._best_with.begin(), one._best_with.end())),
        (std::vector<std::pair<std::string, std::string>>{
            {"mail", "5"}, {"web", "2.0"}, {"web", "1.0"}, {"web", "3.0"}, {"web", "0.5"}}));

    const Release& two = *manager->_releases[1];
    EXPECT_EQ(two._caution, "");
    EXPECT_TRUE(two._tags.contains("stable")); // untagged
    EXPECT_EQ(two._hide_policy, 0u);
    EXPECT_THAT(logText(), HasSubstr("parseBestWith: no compatibility info in Two\n"));
}

TEST_F(CatalogueFilesTest, BuildPathsFollowTheProductFile) {
    put("products.inf3",
        productsList("<product id=\"m\" name=\"M\" reference=\"products/moxel/product.inf3\"/>"
                     "<product id=\"r\" name=\"R\" reference=\"root.inf3\"/>"));
    put("products/moxel/product.inf3",
        productFile(
            release("m1", "1.0",
                    build("build.xml", " patches=\"patches.xml\" environment=\"vz\" deprecated=\"true\"") +
                        build("deb/other.xml")),
            "m"));
    put("root.inf3",
        productFile(release("r1", "1.0", build("dir/r.xml", " patches=\"up/patches.xml\"")), "r"));

    const auto manager = load();
    ASSERT_EQ(manager->_releases.size(), 2u);
    const Build& in_dir = *manager->_releases[0]->_builds[0];
    EXPECT_EQ(in_dir._config, "products/moxel/build.xml");
    EXPECT_EQ(in_dir._base_dir, "products/moxel");
    EXPECT_THAT(in_dir._patches, ElementsAre("products/moxel/patches.xml"));
    EXPECT_EQ(in_dir._environment, "vz");
    EXPECT_EQ(in_dir._os_release_name, "");
    EXPECT_TRUE(in_dir._deprecated);
    EXPECT_EQ(in_dir._parent, manager->_releases[0]);
    EXPECT_TRUE(in_dir.belongsToParentRelease());
    EXPECT_EQ(manager->_releases[0]->_builds[1]->_config, "products/moxel/deb/other.xml");

    const Build& at_root = *manager->_releases[1]->_builds[0];
    EXPECT_EQ(at_root._config, "dir/r.xml");
    EXPECT_EQ(at_root._base_dir, "");
    EXPECT_THAT(at_root._patches, ElementsAre("up/patches.xml"));
}

TEST_F(CatalogueFilesTest, ReleaseWithoutBuildsIsDropped) {
    withProductFile(productFile(release("empty", "1.0", "") + release("full", "2.0", build("b.xml"))));
    const auto manager = load();
    ASSERT_EQ(manager->_releases.size(), 1u);
    EXPECT_EQ(manager->_releases[0]->_id, "full");
    EXPECT_THAT(logText(), HasSubstr("In release empty no builds\n"));

    // Releases without builds still count as releases of the file.
    withProductFile(productFile(release("empty", "1.0", "")));
    EXPECT_TRUE(load()->_releases.empty());
}

TEST_F(CatalogueFilesTest, EntryFileMayBeAProductFile) {
    put("moxel.inf3", "<product id=\"moxel\" name=\"Moxel\" hidden_to_install=\"yes\">"
                      "<keypackages><keypackage>moxeltest-core</keypackage></keypackages>" +
                          release("m1", "1.0", build("deb/build.xml")) + "</product>");
    const auto manager = load("moxel.inf3");
    ASSERT_EQ(manager->_releases.size(), 1u);
    const Product& product = *manager->_releases[0]->prod();
    EXPECT_EQ(product._id, "moxel");
    EXPECT_EQ(product._name, "Moxel");
    EXPECT_TRUE(product._hidden_to_install);
    EXPECT_EQ(manager->_releases[0]->_builds[0]->_config, "deb/build.xml");
}

TEST_F(CatalogueFilesTest, HidePolicyWords) {
    struct Case {
        std::string text;
        uint32_t bits;
        int unrecognized;
    };
    const Case cases[] = {
        {"none", 0, 0},
        {"cli, web", 3, 1},
        {"interactive", 3, 0},
        {"query other", 12, 0},
        {"inanycase,all", 1792 | 15, 0},
        {"filtered,nonfiltered", 768, 0},
        {"autoassigned", 1024, 0},
        {"ALL,bogus", 0, 2},
        {"", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        const std::string before = logText();
        EXPECT_EQ(BuildManager::parseHidePolicy(c.text), c.bits);
        const std::string logged = logText().substr(before.size());
        int unrecognized = 0;
        for (size_t at = 0; (at = logged.find("Unrecognized control word '", at)) != std::string::npos; ++at)
            ++unrecognized;
        EXPECT_EQ(unrecognized, c.unrecognized) << logged;
    }
    EXPECT_THAT(logText(),
                HasSubstr("Unrecognized control word '~empty' in display tag hide policy (hide_tags "
                          "attribute)\n"));
    EXPECT_THAT(logText(), HasSubstr("Added control word 'cli' to display tag hide policy\n"));
}

TEST_F(CatalogueFilesTest, AddonsAreOrderedByVersionAndKeepTheirWindows) {
    put("products.inf3", productsList("<addon id=\"first\" reference=\"first.xml\"/>"
                                      "<addon id=\"second\" reference=\"addons/second.xml\"/>"));
    put("first.xml", "<addon><release id=\"old\" name=\"Old\" version=\"1.0\"><compatibility_info>"
                     "<compatible product_id=\"moxel\" from_version=\"1.0\" to_version=\"2.0\"/>"
                     "<compatible product_id=\"pagewright\" from_version=\"3\" to_version=\"4\"/>"
                     "</compatibility_info>" +
                         build("old.xml") + "</release></addon>");
    put("addons/second.xml", "<addon>"
                             "<release id=\"newer\" version=\"2.0\"><compatibility_info>"
                             "<compatible product_id=\"moxel\" from_version=\"1.0\" to_version=\"2.0\"/>"
                             "</compatibility_info>" +
                                 build("newer.xml") + build("newer2.xml") +
                                 "</release>"
                                 "<release id=\"same\" version=\"1.0\"><compatibility_info>"
                                 "<compatible product_id=\"moxel\" from_version=\"1.0\" to_version=\"2.0\"/>"
                                 "</compatibility_info></release>"
                                 "</addon>");
    const auto manager = load();
    ASSERT_EQ(manager->_addons.size(), 3u);
    EXPECT_EQ(manager->_addons[0]->_id, "old");
    EXPECT_EQ(manager->_addons[1]->_id, "same");
    EXPECT_EQ(manager->_addons[2]->_id, "newer");
    EXPECT_EQ(manager->_addons[0]->_compatible.size(), 2u);
    EXPECT_EQ(manager->_addons[0]->_compatible[1]._prod_id, "pagewright");
    EXPECT_EQ(manager->_addons[0]->_name, "Old");
    const BuildList& builds = manager->_addons[2]->_builds;
    ASSERT_EQ(builds.size(), 2u);
    EXPECT_EQ(builds[0]->_config, "addons/newer.xml");
    EXPECT_FALSE(builds[0]->_parent);
    EXPECT_THAT(logText(), HasSubstr("In Addon same no builds\n"));
    EXPECT_THAT(logText(), HasSubstr("Addon add build for Linux Debian 12 x86_64 (addons/newer2.xml)\n"));
}

// A bad add-on file costs only its own remaining add-ons.
TEST_F(CatalogueFilesTest, BadAddonFilesAreLoggedAndSkipped) {
    const std::string window = "<compatibility_info><compatible product_id=\"moxel\" from_version=\"1\" "
                               "to_version=\"2\"/></compatibility_info>";
    struct Case {
        const char* what;
        std::string content;
        std::vector<std::string> kept;
        std::string logged;
    };
    const Case cases[] = {
        {"no compatibility_info",
         "<addon><release id=\"a\" version=\"1\">" + window +
             "</release><release id=\"b\" version=\"1\"/>"
             "<release id=\"c\" version=\"1\">" +
             window + "</release></addon>",
         {"a"},
         "Absent compatibility_info in addon\n"},
        {"no window",
         "<addon><release id=\"a\" version=\"1\"><compatibility_info/></release></addon>",
         {},
         "Absent compatibility info in addon a\n"},
        {"empty bound",
         "<addon><release id=\"a\" version=\"1\"><compatibility_info><compatible product_id=\"moxel\" "
         "from_version=\"1\"/></compatibility_info></release></addon>",
         {},
         "Wrong addon's compat info: moxel  from 1 to \n"},
        {"empty version",
         "<addon><release id=\"a\">" + window + "</release></addon>",
         {},
         Messages().getMessage("err_empty_version") + "\n"},
        {"build without config",
         "<addon><release id=\"a\" version=\"1\">" + window +
             "<build os_name=\"Linux\" os_vendor=\"Debian\" os_version=\"12\" os_arch=\"x86_64\"/></release>"
             "</addon>",
         {"a"},
         "The 'config' build attribute was not found in file "},
        {"wrong root", "<addons/>", {}, "Root element name not match\n"},
        {"not XML", "<addon><release", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        put("products.inf3", productsList("<addon id=\"bad\" reference=\"bad.xml\"/>"
                                          "<addon id=\"good\" reference=\"good.xml\"/>"));
        put("bad.xml", c.content);
        put("good.xml", "<addon><release id=\"good\" version=\"9\">" + window + "</release></addon>");
        const std::string before = logText();
        const auto manager = load();
        std::vector<std::string> ids;
        for (const auto& addon : manager->_addons)
            ids.push_back(addon->_id);
        std::vector<std::string> expected = c.kept;
        expected.push_back("good");
        EXPECT_EQ(ids, expected);
        const std::string logged = logText().substr(before.size());
        EXPECT_THAT(logged, HasSubstr("Error in parse " + path("bad.xml") + ": " + c.logged));
    }
}

TEST_F(CatalogueFilesTest, MalformedProductFilesRaiseTheirErrors) {
    const std::string p = path("p.inf3");
    struct Case {
        const char* what;
        std::string content;
        std::string text;
    };
    const Case cases[] = {
        {"empty root id", "<product id=\"\"/>", Messages().format("err_inf3_noid", p)},
        {"no root id", "<product/>", Messages().format("err_inf3_noid", p)},
        {"root is not product", "<products id=\"p\"/>", Messages().format("err_inf3_nonprod", p)},
        {"no root element", "<!-- nothing -->", Messages().format("err_inf3_root", p)},
        {"no key packages", "<product id=\"p\">" + release("r", "1", build("b")) + "</product>",
         Messages().format("err_prod_keypkg", p)},
        {"first group without key package",
         "<product id=\"p\"><keypackages><upgrade_code>U</upgrade_code></keypackages>"
         "<keypackages><keypackage>moxeltest-p</keypackage></keypackages>" +
             release("r", "1", build("b")) + "</product>",
         Messages().format("err_prod_keypkg", p)},
        {"no release", productFile("<other/>"), Messages().format("err_inf3_norel", p)},
        {"release without id",
         productFile("\n  <release name=\"R\" version=\"1\" upgrade_allowed_from=\"1\">" + build("b") +
                     "</release>"),
         Messages().format("err_inf3_relid", p, " (row 2, col 3)")},
        {"release without name", productFile("<release id=\"r\" version=\"1\" upgrade_allowed_from=\"1\"/>"),
         Messages().format("err_inf3_relname", p, " (row 1, col 80)")},
        {"release without version", productFile("<release id=\"r\" name=\"R\" upgrade_allowed_from=\"1\"/>"),
         Messages().format("err_inf3_relver", p, " (row 1, col 80)")},
        {"release without upgrade_allowed_from", productFile("<release id=\"r\" name=\"R\" version=\"1\"/>"),
         Messages().format("err_inf3_upgalw", p, " (row 1, col 80)")},
        {"release with an empty version",
         productFile("<release id=\"r\" name=\"R\" version=\"\" upgrade_allowed_from=\"1\"/>"),
         Messages().getMessage("err_empty_version")},
        {"build without os_vendor",
         productFile(release("r", "1",
                             "<build os_name=\"Linux\" os_version=\"12\" os_arch=\"x86_64\" config=\"b\"/>")),
         Messages().format("err_inf3_vndr", p, " (" + p + ": row 1, col 152)")},
        {"build without anything", productFile(release("r", "1", "<build/>")),
         Messages().format("err_inf3_osname", p, " (" + p + ": row 1, col 152)")},
        {"build without os_arch",
         productFile(
             release("r", "1", "<build os_name=\"L\" os_vendor=\"D\" os_version=\"1\" config=\"b\"/>")),
         Messages().format("err_inf3_osarch", p, " (" + p + ": row 1, col 152)")},
        {"build without config",
         productFile(
             release("r", "1", "<build os_name=\"L\" os_vendor=\"D\" os_version=\"1\" os_arch=\"a\"/>")),
         Messages().format("err_inf3_bcfg", p, " (" + p + ": row 1, col 152)")},
        {"best_with without product",
         productFile(release("r", "1", build("b") + "<compatibility_info><best_with/></compatibility_info>")),
         "Empty prod_id in best_with"},
        {"best_with with an empty version",
         productFile(release("r", "1",
                             build("b") + "<compatibility_info><best_with product_id=\"web\">"
                                          "<version>1</version><version><![CDATA[]]></version></best_with>"
                                          "</compatibility_info>")),
         "Empty version in prod_id=web in best_with"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        withProductFile(c.content);
        const error e = loadFailure();
        EXPECT_EQ(e.getText(), c.text + "\n");
        EXPECT_EQ(e.getClass(), 1);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), 3);
    }

    withProductFile("<product id=\"p\"><keypackages>");
    EXPECT_THAT(loadFailure().getText(), StartsWith("Syntax error in file " + p + ":\n"));
}

// Failures of the XML helpers are reported against the entry file, whichever file they came from.
TEST_F(CatalogueFilesTest, XmlHelperFailuresNameTheEntryFile) {
    const std::string entry = path("products.inf3");
    struct Case {
        const char* what;
        std::string list;
        std::string product;
        std::string text;
    };
    const Case cases[] = {
        {"vendor without products", "<vendors><vendor/></vendors>", "",
         "There is no child element 'products' in tag 'vendor'"},
        {"incompatible_with without prod_id",
         productsList("<product id=\"p\" reference=\"p.inf3\"><incompatible_with/></product>"), "",
         "There is no attribute 'prod_id' in element incompatible_with (row:1 col:63)"},
        {"key package without text", productsList("<product id=\"p\" reference=\"p.inf3\"/>"),
         "<product id=\"p\"><keypackages><keypackage/></keypackages></product>",
         "Text node not found in element 'keypackage' (row:1 col:30)"},
        {"best_with version without text", productsList("<product id=\"p\" reference=\"p.inf3\"/>"),
         productFile(release("r", "1",
                             build("b") + "<compatibility_info><best_with product_id=\"w\">"
                                          "<version/></best_with></compatibility_info>")),
         "Text node not found in element 'version' (row:1 col:"},
        {"entry file is not XML", "<vendors><vendor>", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        put("products.inf3", c.list);
        put("p.inf3", c.product);
        const error e = loadFailure();
        EXPECT_THAT(e.getText(), StartsWith("Can't parse " + entry + ": " + c.text));
        EXPECT_EQ(e.getClass(), 1);
        EXPECT_EQ(e.getSupport(), 2);
    }
}

} // namespace
