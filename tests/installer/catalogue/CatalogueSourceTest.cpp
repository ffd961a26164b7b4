// The catalogue of the test installation source, read from the directory and over HTTP.

#include "installer/driver/Options.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>

#include <boost/algorithm/string/replace.hpp>

#include <algorithm>
#include <sstream>

using cataloguetest::CatalogueTest;
using cataloguetest::walk;
using ::testing::ElementsAre;

namespace {

const std::string fixture = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source";

// Every field the readers fill, one per line.
std::string describe(const BuildManager& manager) {
    std::ostringstream out;
    out << std::boolalpha;
    auto list = [&](const std::vector<std::string>& words) {
        for (const std::string& word : words)
            out << " " << word;
        out << "\n";
    };
    auto builds = [&](const BuildList& builds) {
        for (const auto& build : builds) {
            out << "  " << *build << " base=" << build->_base_dir << " release=" << build->_os_release_name
                << " deprecated=" << build->_deprecated
                << " parent=" << (build->_parent ? build->_parent->_id : "") << " patches:";
            list(build->_patches);
        }
    };
    for (const auto& release : manager.getReleases(true)) {
        const Product& product = *release->prod();
        out << "product " << product._id << " '" << product._name << "' hidden=" << product._hidden_to_install
            << " icons=" << product._active_icon << "," << product._disabled_icon
            << " site=" << product._product_site << " kb=" << product._kb_article << " incompatible:";
        list(product._incompatible_with);
        for (const auto& group : product.keypackages()) {
            out << " keypackages:";
            list(group);
        }
        out << " codes:";
        list(product._upgrade_codes);
        out << " products:";
        list(product._product_codes);
        out << "release " << release->_id << " '" << release->_name << "' " << release->_codename << " "
            << release->_version << " from " << release->_upgrade_allowed_from
            << " url=" << release->_details_url << " api=" << release->_whp_api_version << ","
            << release->_dispatcher_api_version << " caution=" << release->_caution
            << " tags=" << release->_tags.toString() << " promoted=" << release->_promoted_tags.toString()
            << " hide=" << release->_hide_policy << "\n";
        for (const auto& best : release->_best_with)
            out << " best with " << best.first << " " << best.second << "\n";
        builds(release->_builds);
    }
    for (const auto& addon : manager._addons) {
        out << "addon " << addon->_id << " '" << addon->_name << "' " << addon->_version
            << " lazy=" << addon->_lazy << "\n";
        for (const auto& window : addon->_compatible)
            out << " window " << window._prod_id << " " << window._from << " " << window._to << "\n";
        builds(addon->_builds);
    }
    return out.str();
}

class CatalogueSourceTest : public CatalogueTest {
protected:
    std::unique_ptr<BuildManager> loadFrom(const std::string& location,
                                           const std::string& source_filename) const {
        FileFetcher fetcher(location, target.path());
        return std::make_unique<BuildManager>(fetcher, source_filename);
    }
};

TEST_F(CatalogueSourceTest, LocalDirectoryAndHttpGiveTheSameCatalogue) {
    const auto local = loadFrom(fixture + "/", "");
    EXPECT_THAT(walk(*local),
                ElementsAre("release moxel-18.0.1", "build moxel/18.0.1/debian-12-x86_64.build.inf3",
                            "build moxel/18.0.1/centos-8-x86_64.build.inf3", "leave moxel-18.0.1",
                            "release pagewright-2.5.0", "build pagewright/2.5.0/debian-12-x86_64.build.inf3",
                            "build pagewright/2.5.0/centos-8-x86_64.build.inf3", "leave pagewright-2.5.0",
                            "addon moxel-extensions-1.0.0"));
    const std::string expected = describe(*local);
    EXPECT_EQ(
        expected,
        "product moxel 'Moxel' hidden=false icons=moxel/icons/moxel.png,moxel/icons/moxel-off.png "
        "site=https://moxel.invalid/ kb=https://moxel.invalid/kb/upgrade incompatible:\n"
        " keypackages: moxeltest-core\n"
        " keypackages: moxeltest-core-libs\n"
        " codes: MOXEL-UPGRADE-18\n"
        " products: MOXEL-18.0.1\n"
        "release moxel-18.0.1 'Moxel 18.0.1' Kestrel 18.0.1 from 17.0.0 "
        "url=https://moxel.invalid/[LOCALE]/18.0.1/ api=1.6,2.0 caution=Moxel 18.0.1 restarts the web "
        "server. tags=stable promoted= hide=0\n"
        " best with pagewright 2.5.0\n"
        "  build for Linux Debian 12 x86_64 (moxel/18.0.1/debian-12-x86_64.build.inf3) base=moxel release= "
        "deprecated=false parent=moxel-18.0.1 patches: moxel/18.0.1/debian-12-patches.xml\n"
        "  build for Linux CentOS 8 x86_64 (moxel/18.0.1/centos-8-x86_64.build.inf3) base=moxel release= "
        "deprecated=false parent=moxel-18.0.1 patches: moxel/18.0.1/centos-8-patches.xml\n"
        "product pagewright 'Pagewright' hidden=false icons=, site= kb= incompatible:\n"
        " keypackages: moxeltest-pagewright\n"
        " codes:\n"
        " products:\n"
        "release pagewright-2.5.0 'Pagewright 2.5' Quill 2.5.0 from 2.0.0 url= api=, caution= tags=stable "
        "promoted= hide=0\n"
        "  build for Linux Debian 12 x86_64 (pagewright/2.5.0/debian-12-x86_64.build.inf3) base=pagewright "
        "release= deprecated=false parent=pagewright-2.5.0 patches:\n"
        "  build for Linux CentOS 8 x86_64 (pagewright/2.5.0/centos-8-x86_64.build.inf3) base=pagewright "
        "release= deprecated=false parent=pagewright-2.5.0 patches:\n"
        "addon moxel-extensions-1.0.0 'Moxel Extensions' 1.0.0 lazy=false\n"
        " window moxel 18.0.0 18.9.9\n"
        "  build for Linux Debian 12 x86_64 (extensions/1.0.0/debian-12-x86_64.build.inf3) base=extensions "
        "release= deprecated=false parent= patches:\n"
        "  build for Linux CentOS 8 x86_64 (extensions/1.0.0/centos-8-x86_64.build.inf3) base=extensions "
        "release= deprecated=false parent= patches:\n");

    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    testservers::HttpServer http(fixture);
    EXPECT_EQ(describe(*loadFrom(http.url(), "")), expected);
    for (const char* file :
         {"/products.inf3", "/moxel/product.inf3", "/pagewright/product.inf3", "/extensions/addon.inf3"}) {
        const auto requests = http.requests();
        EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [&](const std::string& line) {
            return line.find(std::string("\"") + file + "\"") != std::string::npos;
        })) << file;
    }
    EXPECT_EQ(describe(*loadFrom(http.url("products.inf3"), "products.inf3")), expected);
}

TEST_F(CatalogueSourceTest, LoneBuildDescriptionMakesACatalogueOfItsOwn) {
    // The add-on's description asks the extension catalogue for its feed.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    testservers::HttpServer feed(fixture);
    feed.setRules(R"({"/feed/": [{"file": "extensions/feed.json"}]})");
    Options::instance().extCatalogUrl = feed.url("feed/");

    struct Case {
        std::string dir;
        std::string name;
        std::string product;
    };
    const Case cases[] = {
        {fixture + "/moxel/18.0.1/", "debian-12-x86_64.build.inf3", "moxel 'Moxel'"},
        {fixture + "/pagewright/2.5.0/", "centos-8-x86_64.build.inf3", "pagewright 'Pagewright'"},
        {fixture + "/extensions/1.0.0/", "debian-12-x86_64.build.inf3",
         "moxel-extensions 'Moxel Extensions'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir + c.name);
        const auto manager = loadFrom(c.dir, c.name);
        EXPECT_THAT(describe(*manager), ::testing::StartsWith("product " + c.product + " hidden=false"));
        EXPECT_THAT(walk(*manager), ::testing::SizeIs(3));
    }

    const auto moxel = loadFrom(fixture + "/moxel/18.0.1/", "debian-12-x86_64.build.inf3");
    EXPECT_EQ(describe(*moxel), "product moxel 'Moxel' hidden=false icons=, site= kb= incompatible:\n"
                                " keypackages: moxeltest-core\n"
                                " keypackages: moxeltest-core-libs\n"
                                " codes: MOXEL-UPGRADE-18\n"
                                " products: MOXEL-18.0.1\n"
                                "release moxel-18.0.1 'Moxel 18.0.1' Kestrel 18.0.1 from 17.0.0 url= api=, "
                                "caution= tags=stable promoted= hide=0\n"
                                "  build for Linux Debian 12 x86_64 (debian-12-x86_64.build.inf3) base= "
                                "release=bookworm deprecated=false parent=moxel-18.0.1 patches:\n");

    // A product id of somebody else's is shown as it is.
    std::string description =
        testsupport::readFile(fixture + "/pagewright/2.5.0/debian-12-x86_64.build.inf3");
    boost::replace_all(description, "<product id=\"pagewright\"", "<product id=\"moxeltest-other\"");
    put("other.build.inf3", description);
    EXPECT_THAT(describe(*load("other.build.inf3")),
                ::testing::StartsWith("product moxeltest-other 'moxeltest-other' hidden=false"));
}

} // namespace
