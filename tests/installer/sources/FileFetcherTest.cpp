#include "installer/sources/FileFetcher.h"

#include "common/runtime/md5rep.h"
#include "installer/sources/http_error.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <functional>
#include <vector>

using downloadtest::requestsFor;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testservers::HttpServer;
using testsupport::exists;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

bool isEmptyDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    size_t entries = 0;
    while (readdir(dir))
        ++entries;
    closedir(dir);
    return entries == 2; // "." and ".."
}

class FileFetcherTest : public downloadtest::DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        recordWaits();
        mkdir(files.file("pool").c_str(), 0755);
        writeFile(files.file("pool/blob.bin"), blob);
        blob_md5 = util::md5_file_string(files.file("pool/blob.bin"));
    }

    // Runs the fetch and returns the error it raises.
    template <typename Fetch> error failure(Fetch fetch) {
        try {
            fetch();
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << "the fetch succeeded";
        return error();
    }

    testsupport::TempDir target;
    std::string blob_md5;
};

TEST_F(FileFetcherTest, LocalSourceIsReadInPlace) {
    FileFetcher fetcher(files.path() + "/", target.path());
    EXPECT_EQ(fetcher.getFile("pool/blob.bin"), files.path() + "/pool/blob.bin");
    EXPECT_EQ(fetcher.getFile("pool/blob.bin", blob_md5, "elsewhere.bin"), files.path() + "/pool/blob.bin");

    const error missing = failure([&] { fetcher.getFile("pool/missing.bin"); });
    EXPECT_EQ(missing.getText(), Messages().format("err_misfile", files.path() + "/pool/missing.bin") + "\n");
    EXPECT_EQ(missing.getClass(), 4);
    EXPECT_EQ(missing.getRepeat(), 2);
    EXPECT_EQ(missing.getSupport(), 1);

    const std::string wrong(32, '0');
    const error mismatch = failure([&] { fetcher.getFile("pool/blob.bin", wrong); });
    EXPECT_EQ(mismatch.getText(),
              Messages().format("err_mk5check", files.path() + "/pool/blob.bin", wrong, blob_md5) + "\n");
    // Nothing was written below the target directory.
    EXPECT_TRUE(isEmptyDirectory(target.path()));
}

TEST_F(FileFetcherTest, NetworkCopyIsCheckedAndReusedWhileItsChecksumMatches) {
    HttpServer http(files.path());
    FileFetcher fetcher(http.url(), target.path());
    const std::string destination = target.path() + "/pool/blob.bin";

    EXPECT_EQ(fetcher.getFile("pool/blob.bin", blob_md5), destination);
    EXPECT_EQ(readFile(destination), blob);
    EXPECT_FALSE(exists(destination + ".tmp"));
    EXPECT_EQ(requestsFor(http, "/pool/blob.bin"), 1u);

    // A copy whose checksum matches is not downloaded again.
    EXPECT_EQ(fetcher.getFile("pool/blob.bin", blob_md5), destination);
    EXPECT_EQ(requestsFor(http, "/pool/blob.bin"), 1u);

    // Without a checksum there is nothing to trust the copy by.
    EXPECT_EQ(fetcher.getFile("pool/blob.bin"), destination);
    EXPECT_EQ(requestsFor(http, "/pool/blob.bin"), 2u);
}

TEST_F(FileFetcherTest, OnlyAWholeFileWithTheRightChecksumReplacesTheCopy) {
    const std::string old_copy = "copy of an earlier run";
    writeFile(files.file("pool/bad.bin"), "tampered");
    mkdir(target.file("pool").c_str(), 0755);
    const std::string destination = target.file("pool/blob.bin");
    writeFile(destination, old_copy);
    HttpServer http(files.path());
    http.setRules(R"({"/pool/blob.bin": [{"status": 404}, {"file": "pool/bad.bin"}, {}]})");
    FileFetcher fetcher(http.url(), target.path());

    // A failed download passes through unchanged.
    try {
        fetcher.getFile("pool/blob.bin", blob_md5);
        ADD_FAILURE() << "the fetch succeeded";
    } catch (const http_error& e) {
        EXPECT_EQ(e.getCode(), 404);
    }
    EXPECT_EQ(readFile(destination), old_copy);

    const error mismatch = failure([&] { fetcher.getFile("pool/blob.bin", blob_md5); });
    EXPECT_EQ(mismatch.getText(), Messages().format("err_mk5check", destination + ".tmp", blob_md5,
                                                    util::md5_file_string(files.file("pool/bad.bin"))) +
                                      "\n");
    EXPECT_EQ(mismatch.getClass(), 4);
    EXPECT_EQ(readFile(destination), old_copy);
    EXPECT_EQ(readFile(destination + ".tmp"), "tampered");

    EXPECT_EQ(fetcher.getFile("pool/blob.bin", blob_md5), destination);
    EXPECT_EQ(readFile(destination), blob);
    EXPECT_FALSE(exists(destination + ".tmp"));
}

TEST_F(FileFetcherTest, UpperCaseChecksumNeverMatches) {
    HttpServer http(files.path());
    FileFetcher fetcher(http.url(), target.path());
    std::string upper = blob_md5;
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    const error mismatch = failure([&] { fetcher.getFile("pool/blob.bin", upper); });
    EXPECT_THAT(mismatch.getText(), HasSubstr(upper));
    EXPECT_FALSE(exists(target.file("pool/blob.bin")));
}

TEST_F(FileFetcherTest, LocalNameIsStoredWithUnsafeCharactersReplaced) {
    HttpServer http(files.path());
    FileFetcher fetcher(http.url(), target.path());
    EXPECT_EQ(fetcher.getFile("pool/blob.bin", "", "C:x|y?*<>"), target.path() + "/C_x_y____");
    EXPECT_EQ(readFile(target.file("C_x_y____")), blob);
}

// Names from the source never reach a path outside the directory they belong to.
TEST_F(FileFetcherTest, NamesThatLeaveTheirDirectoryAreRefused) {
    HttpServer http(files.path());
    struct Case {
        bool network;
        std::string offset;
        std::string name;
        std::string local_name;
    };
    const Case cases[] = {
        {true, "", "../escape.bin", ""},
        {true, "", "pool/../../escape.bin", ""},
        {true, "", "/tmp/escape.bin", ""},
        {true, "", "pool/blob.bin", "/tmp/escape.bin"},
        {true, "", "pool/blob.bin", "pool/.."},
        {true, "../", "escape.bin", ""},
        {false, "", "../escape.bin", ""},
        {false, "pool", "../../escape.bin", ""},
        {true, "", "", ""},
        {true, "pool/", "", ""},
        {true, "", "pool/", ""},
        {false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset + c.name + " as " + c.local_name);
        FileFetcher fetcher(c.network ? http.url() : files.path(), target.path());
        fetcher.addSubdirOffset(c.offset);
        const error refused = failure([&] { fetcher.getFile(c.name, "", c.local_name); });
        EXPECT_THAT(refused.getText(), HasSubstr("not a relative path without '..'"));
        EXPECT_EQ(refused.getClass(), 1);
    }
    EXPECT_THAT(http.requests(), IsEmpty());
}

// A copy that cannot be put in place is a classified error and leaves no temporary file behind.
TEST_F(FileFetcherTest, CopyThatCannotReplaceTheDestinationIsRemoved) {
    HttpServer http(files.path());
    mkdir(target.file("pool").c_str(), 0755);
    mkdir(target.file("pool/blob.bin").c_str(), 0755);
    writeFile(target.file("pool/blob.bin/inside"), "in the way");
    FileFetcher fetcher(http.url(), target.path());
    const error failed = failure([&] { fetcher.getFile("pool/blob.bin"); });
    EXPECT_EQ(failed.getClass(), 4);
    EXPECT_FALSE(exists(target.file("pool/blob.bin.tmp")));
    EXPECT_EQ(readFile(target.file("pool/blob.bin/inside")), "in the way");
}

// A package is held to the size its source declares; files nobody declares a size for to the
// fetcher's own limit.
TEST_F(FileFetcherTest, DownloadLongerThanItsSizeIsRefused) {
    HttpServer http(files.path());
    http.setRules(R"({"/endless.xml": [{"endless": true}]})");
    FileFetcher fetcher(http.url(), target.path());
    EXPECT_EQ(readFile(fetcher.getFile("pool/blob.bin", blob_md5, "", blob.size())), blob);
    for (const auto& fetch : std::vector<std::function<void()>>{
             [&] { fetcher.getFile("pool/blob.bin", "", "again.bin", blob.size() - 1); },
             [&] { fetcher.getFile("endless.xml"); }}) {
        const error refused = failure(fetch);
        EXPECT_THAT(refused.getText(), HasSubstr("bytes"));
        EXPECT_EQ(refused.getClass(), 4);
    }
    EXPECT_FALSE(exists(target.file("again.bin")));
    EXPECT_FALSE(exists(target.file("endless.xml")));
    EXPECT_FALSE(exists(target.file("endless.xml.tmp")));
}

TEST_F(FileFetcherTest, CopiesFetchBelowTheirOwnOffsets) {
    mkdir(files.file("a").c_str(), 0755);
    mkdir(files.file("b").c_str(), 0755);
    writeFile(files.file("a/f.txt"), "in a");
    writeFile(files.file("b/f.txt"), "in b");
    HttpServer http(files.path());
    FileFetcher fetcher(http.url(), target.path());

    FileFetcher in_a(fetcher);
    in_a.addSubdirOffset("a");
    FileFetcher in_b(fetcher);
    in_b.addSubdirOffset("b/");
    EXPECT_EQ(in_a.getFile("f.txt"), target.path() + "/a/f.txt");
    EXPECT_EQ(in_b.getFile("f.txt"), target.path() + "/b/f.txt");
    EXPECT_EQ(readFile(target.file("a/f.txt")), "in a");
    EXPECT_EQ(readFile(target.file("b/f.txt")), "in b");
    EXPECT_EQ(fetcher.getFile("pool/blob.bin"), target.path() + "/pool/blob.bin");
    EXPECT_NE(in_a.getProgressRenderer(), fetcher.getProgressRenderer());
}

TEST_F(FileFetcherTest, CatalogueFileLocationFetchesBesideIt) {
    writeFile(files.file("pool/products.inf3"), "<products/>");
    HttpServer http(files.path());
    FileFetcher fetcher(http.url("pool/products.inf3"), target.path());
    EXPECT_EQ(fetcher.getSources().at(0), http.url("pool/"));
    EXPECT_EQ(readFile(fetcher.getFile("products.inf3")), "<products/>");
    EXPECT_EQ(requestsFor(http, "/pool/products.inf3"), 1u);
}

TEST_F(FileFetcherTest, SharedFileCounterCountsEveryFetch) {
    HttpServer http(files.path());
    FileFetcher fetcher(http.url(), target.path());
    auto counter = std::make_shared<ProgressValue<unsigned long>>();
    counter->total = 2;
    fetcher.addProgressObserver(counter);
    fetcher.getFile("pool/blob.bin", blob_md5);
    fetcher.getFile("pool/blob.bin", blob_md5); // served from the copy, still counted
    EXPECT_EQ(counter->value, 2u);
    EXPECT_EQ(counter->text, "pool/blob.bin");
}

} // namespace
