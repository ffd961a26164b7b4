#include "installer/web/ProductIcon.h"

#include "installer/catalogue/BuildManager.h"
#include "installer/sources/FileFetcher.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"
#include "tests/installer/sources/DownloadTestSupport.h"
#include "tests/installer/web/BackendAnswers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testservers::HttpServer;

namespace {

class ProductIconTest : public downloadtest::DownloadTest {
protected:
    // moxel has both icons; tools has none.
    std::unique_ptr<BuildManager> catalogue(HttpServer& http) {
        const std::string release =
            cataloguetest::release("r1", "1.0", cataloguetest::build("r1.build.inf3"));
        const std::string entries = "<product id=\"moxel\" name=\"Moxel\" reference=\"moxel/product.inf3\"/>"
                                    "<product id=\"tools\" name=\"Tools\" reference=\"tools/product.inf3\"/>";
        testsupport::writeFile(source.file("products.inf3"), cataloguetest::productsList(entries));
        mkdir(source.file("moxel").c_str(), 0755);
        mkdir(source.file("tools").c_str(), 0755);
        testsupport::writeFile(source.file("moxel/product.inf3"),
                               cataloguetest::productFile("<active_icon src=\"" + http.url("blob.bin") +
                                                              "\"/><disabled_icon src=\"" +
                                                              http.url("big.bin") + "\"/>" + release,
                                                          "moxel"));
        testsupport::writeFile(source.file("tools/product.inf3"),
                               cataloguetest::productFile(release, "tools"));
        FileFetcher fetcher(source.path() + "/", target.path());
        return std::make_unique<BuildManager>(fetcher, "");
    }

    testsupport::TempDir source;
    testsupport::TempDir target;
};

TEST_F(ProductIconTest, FetchesTheIconOfTheStateWithinTheDownloadLimits) {
    testsupport::writeFile(files.file("big.bin"), std::string(3 * 1024 * 1024, 'b'));
    HttpServer http(files.path());
    const std::unique_ptr<BuildManager> manager = catalogue(http);
    const std::vector<char> icon = fetchProductIcon(*manager, {"moxel", true});
    EXPECT_EQ(std::string(icon.begin(), icon.end()), blob);

    struct Case {
        std::string productId;
        bool enabled;
        std::string expected;
    };
    const Case cases[] = {
        // Larger than the downloader takes.
        {"moxel", false, Messages().getMessage("err_no_space2")},
        {"tools", true, "3 A URL for a product icon is not defined."},
        {"nothing", true, "3 There is no product 'nothing' in the catalogue."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.productId);
        EXPECT_THAT(webtest::raised([&] { fetchProductIcon(*manager, {c.productId, c.enabled}); }),
                    HasSubstr(c.expected));
    }
}

TEST_F(ProductIconTest, AStalledServerEndsTheTransfer) {
    HttpServer http(files.path());
    http.setRules(R"({"/blob.bin": [{"stall": 10, "file": "blob.bin"}]})");
    const std::unique_ptr<BuildManager> manager = catalogue(http);
    const std::string failure = webtest::raised([&] { fetchProductIcon(*manager, {"moxel", true}); });
    EXPECT_THAT(failure, StartsWith("4 "));
    EXPECT_THAT(failure, HasSubstr(http.url("blob.bin")));
}

} // namespace
