#include "installer/sources/SourceMoxel.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/md5rep.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceDistMoxel.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/installer/sources/DownloadTestSupport.h"
#include "tests/installer/sources/SourceTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <sys/stat.h>

using downloadtest::requestsFor;
using sourcetest::fixtureSource;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testservers::HttpServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char* const moxelCentos = "moxel/18.0.1/centos-8-x86_64.build.inf3";
const char* const moxelDebian = "moxel/18.0.1/debian-12-x86_64.build.inf3";

// "name-version.arch(type)" of every package in the repository, in order.
std::vector<std::string> listed(const Repository& repository) {
    std::vector<std::string> lines;
    for (const Package* package : repository.getPackages()) {
        std::ostringstream text;
        package->print(text);
        lines.push_back(text.str() + "(" + package->getType() + ")");
    }
    return lines;
}

std::string record(const std::string& name, const std::string& version = "1.0",
                   const std::string& extra = "") {
    return "F:" + name + "-" + version + "-1.noarch.rpm\nN:" + name + "\nV:" + version + "\nL:1\nA:noarch\n" +
           extra + "X:\n";
}

class SourceMoxelTest : public downloadtest::DownloadTest {
protected:
    // A site of one build description "p/1.0/build.inf3" whose four repositories each name the
    // headers file "h.gz", served over HTTP.
    void writeSite() {
        makeDirs("p/1.0");
        writeFile(files.file("p/1.0/build.inf3"),
                  "<build os_name=\"Linux\" os_vendor=\"CentOS\" os_version=\"8\" os_arch=\"x86_64\" "
                  "environment=\"\" build_dir=\"dist\" headers_file=\"h.gz\">\n"
                  "<product id=\"p\"><release id=\"p-1.0\" version=\"1.0\"/></product>\n"
                  "<component name=\"c\" description=\"C\"><keypackages><keypackage name=\"moxeltest-c\"/>"
                  "</keypackages></component>\n"
                  "<updates updates_dir=\"updates\" headers_file=\"h.gz\"/>\n"
                  "<thirdparty thirdparty_dir=\"thirdparty\" headers_file=\"h.gz\"/>\n"
                  "<extras extras_dir=\"extras\" headers_file=\"h.gz\"/>\n"
                  "</build>\n");
        siteBuild = sourcetest::loadedBuild(files.path(), "p/1.0/build.inf3", "p");
    }

    // Gzips `text` into the headers file of a repository of the site.
    void writeHeaders(const std::string& dir, const std::string& text) {
        makeDirs("p/1.0/" + dir);
        const std::string plain = files.file("p/1.0/" + dir + "/h");
        writeFile(plain, text);
        ASSERT_EQ(std::system(("gzip -n -f '" + plain + "'").c_str()), 0);
    }

    void makeDirs(const std::string& relative) {
        ASSERT_EQ(std::system(("mkdir -p '" + files.file(relative) + "'").c_str()), 0);
    }

    testsupport::TempDir target;
    Repository repository;
    boost::shared_ptr<Build> siteBuild;
};

TEST_F(SourceMoxelTest, FullReadOverHttpBringsInThePackagesOfTheHeadersFile) {
    HttpServer server(fixtureSource());
    FileFetcher fetcher(server.url(), target.path());
    const auto build = sourcetest::loadedBuild(fixtureSource(), moxelCentos, "moxel");
    SourceDistMoxel dist(&repository, fetcher, build);
    SourceMoxel updates(&repository, fetcher, build, 'u');
    EXPECT_THAT(logText(),
                HasSubstr("Use package source " + server.url("moxel/18.0.1/centos-8/updates/") + "\n"));

    repository.getFull();
    EXPECT_THAT(
        listed(repository),
        ElementsAre("moxeltest-core-18.0.1-1.el8.x86_64(b)", "moxeltest-core-libs-18.0.1-1.el8.x86_64(b)",
                    "moxeltest-core-setup-18.0.1-1.el8.noarch(b)", "moxeltest-web-18.0.1-1.el8.x86_64(b)",
                    "moxeltest-mail-postfix-18.0.1-1.el8.x86_64(b)",
                    "moxeltest-mail-exim-18.0.1-1.el8.x86_64(b)", "moxeltest-dns-18.0.1-1.el8.x86_64(b)",
                    "moxeltest-backup-18.0.1-1.el8.x86_64(b)",
                    "moxeltest-pagewright-integration-18.0.1-1.el8.noarch(b)",
                    "moxeltest-vz-tools-18.0.1-1.el8.x86_64(b)", "moxeltest-bootstrap-18.0.1-1.el8.noarch(b)",
                    "moxeltest-core-18.0.1-2.el8.x86_64(u)"));
    const Package* core = repository.getPackages()[0];
    EXPECT_EQ(core->getSource(), &dist);
    EXPECT_EQ(repository.getPackages()[11]->getSource(), &updates);
    EXPECT_EQ(core->getFileName(), "moxeltest-core-18.0.1-1.el8.x86_64.rpm");
    EXPECT_EQ(core->getSize(), 204800);
    EXPECT_EQ(core->getRequire(0)->getName(), "moxeltest-core-libs");
    // The copies stay in the target directory, below the repository's own path.
    EXPECT_EQ(readFile(target.file("moxel/18.0.1/centos-8/dist/headers.gz")),
              readFile(fixtureSource() + "/moxel/18.0.1/centos-8/dist/headers.gz"));
    EXPECT_EQ(requestsFor(server, "/moxel/18.0.1/centos-8/dist/headers.gz"), 1u);
}

TEST_F(SourceMoxelTest, RepositoryWithoutHeadersFileBringsNoPackages) {
    HttpServer server(fixtureSource());
    FileFetcher fetcher(server.url(), target.path());
    SourceDistMoxel dist(&repository, fetcher,
                         sourcetest::loadedBuild(fixtureSource(), moxelDebian, "moxel"));
    dist.getFull();
    EXPECT_THAT(listed(repository), IsEmpty());
    EXPECT_THAT(server.requests(), IsEmpty());
}

TEST_F(SourceMoxelTest, PackagesTakeTheKindLetterAsTypeAndWhiteSpaceBetweenRecordsIsSkipped) {
    writeSite();
    const struct {
        char kind;
        const char* dir;
        std::string headers;
    } cases[] = {
        {'b', "dist", record("moxeltest-a") + "\n\n" + record("moxeltest-b")},
        {'u', "updates", "\n  \t\n" + record("moxeltest-c") + "   \n\t\t\n"},
        {'t', "thirdparty", record("moxeltest-d") + " \r\n \f\v" + record("moxeltest-e") + "\n\n\n"},
        {'x', "extras", record("moxeltest-f")},
    };
    for (const auto& c : cases)
        writeHeaders(c.dir, c.headers);
    HttpServer server(files.path());
    FileFetcher fetcher(server.url(), target.path());
    std::vector<std::unique_ptr<SourceMoxel>> sources;
    for (const auto& c : cases)
        sources.push_back(c.kind == 'b'
                              ? std::make_unique<SourceDistMoxel>(&repository, fetcher, siteBuild)
                              : std::make_unique<SourceMoxel>(&repository, fetcher, siteBuild, c.kind));

    repository.getFull();
    EXPECT_THAT(listed(repository),
                ElementsAre("moxeltest-a-1.0-1.noarch(b)", "moxeltest-b-1.0-1.noarch(b)",
                            "moxeltest-c-1.0-1.noarch(u)", "moxeltest-d-1.0-1.noarch(t)",
                            "moxeltest-e-1.0-1.noarch(t)", "moxeltest-f-1.0-1.noarch(x)"));
    EXPECT_EQ(sourcetest::printed(*sources[3]), "MoxelSource_x_p-1.0");
}

TEST_F(SourceMoxelTest, UnreadableHeadersStopTheReadAndKeepTheEarlierPackages) {
    writeSite();
    const std::string readError = Messages().getMessage("err_prodpkg_read") + "\n";
    const struct {
        std::string headers;
        bool gzipped;
        std::string text; // the error's text
        int errorClass;
        std::string cause; // logged as the reason
    } cases[] = {
        // A record without a version.
        {record("moxeltest-a") + "F:x.rpm\nN:moxeltest-b\nX:\n", true, readError, 1,
         Messages().getMessage("err_cache_pkgvers")},
        // The output ends inside a record.
        {record("moxeltest-a") + "F:x.rpm\nN:moxeltest-b\nV:1\n", true, readError, 1,
         Messages().getMessage("err_cache_unexpend")},
        {record("moxeltest-a") + "F:x.rpm\nN:moxeltest-b\nV:1\nno colon\nX:\n", true, readError, 1,
         Messages().getMessage("err_cache_semicolon")},
        // gunzip fails: its own error goes out unchanged.
        {"not compressed", false, "Error 1 in execution of gunzip", 4, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headers);
        if (c.gzipped) {
            writeHeaders("dist", c.headers);
        } else {
            makeDirs("p/1.0/dist");
            writeFile(files.file("p/1.0/dist/h.gz"), c.headers);
        }
        const std::string local = files.file("p/1.0/dist/h.gz");
        Repository fresh;
        // A local source reads the headers file in place.
        SourceDistMoxel dist(&fresh, FileFetcher(files.path() + "/", target.path()), siteBuild);
        const error failed = runtimetest::raised([&] { dist.getFull(); });
        EXPECT_THAT(failed.getText(), HasSubstr(c.text));
        EXPECT_EQ(failed.getClass(), c.errorClass);
        if (c.errorClass == 1) {
            EXPECT_EQ(failed.getText(), c.text);
            EXPECT_EQ(failed.getRepeat(), 1);
            EXPECT_EQ(failed.getSystemState(), 1);
            EXPECT_EQ(failed.getSupport(), 3);
            // Every line of the reader's error, the line it stopped at included.
            const std::string log = logText();
            EXPECT_THAT(log, HasSubstr("Error: Unable to process " + local +
                                       ": Error in Package::createFromCache: input line  "));
            EXPECT_THAT(log, HasSubstr("\n" + c.cause + "\n"));
            EXPECT_THAT(listed(fresh), ElementsAre("moxeltest-a-1.0-1.noarch(b)"));
        } else {
            EXPECT_THAT(listed(fresh), IsEmpty());
        }
    }
}

TEST_F(SourceMoxelTest, DownloadFetchesOnlyRpmPackagesWithASize) {
    writeSite();
    makeDirs("p/1.0/dist/pool");
    writeFile(files.file("p/1.0/dist/pool/moxeltest-a-1.0-1.noarch.rpm"), blob);
    writeFile(files.file("p/1.0/dist/pool/moxeltest-z-1.0-1.noarch.rpm"), blob);
    writeFile(files.file("p/1.0/dist/pool/moxeltest-d_1.0-1_all.deb"), blob);
    const std::string md5 = util::md5_file_string(files.file("p/1.0/dist/pool/moxeltest-a-1.0-1.noarch.rpm"));
    HttpServer server(files.path());
    SourceDistMoxel dist(&repository, FileFetcher(server.url(), target.path()), siteBuild);

    auto package = [&](const std::string& name, const std::string& file, int64_t size) {
        auto made = Package::createFromFile(name, "1.0-1", file);
        made->setSize(size);
        made->setMd5(md5);
        return made;
    };
    auto rpm = package("moxeltest-a", "pool/moxeltest-a-1.0-1.noarch.rpm", 5000);
    dist.downloadPackage(rpm.get());
    EXPECT_EQ(rpm->getFileName(), target.file("p/1.0/dist/pool/moxeltest-a-1.0-1.noarch.rpm"));
    EXPECT_EQ(readFile(rpm->getFileName()), blob);
    EXPECT_EQ(requestsFor(server, "/p/1.0/dist/pool/moxeltest-a-1.0-1.noarch.rpm"), 1u);

    // A size of 0 means the entry has no file.
    auto empty = package("moxeltest-z", "pool/moxeltest-z-1.0-1.noarch.rpm", 0);
    dist.downloadPackage(empty.get());
    EXPECT_EQ(empty->getFileName(), "pool/moxeltest-z-1.0-1.noarch.rpm");
    EXPECT_THAT(logText(),
                HasSubstr("Warning: SourceMoxel::downloadPackage: getFileSize is 0 for moxeltest-z, "
                          "skip from downloading!"));

    auto deb = package("moxeltest-d", "pool/moxeltest-d_1.0-1_all.deb", 5000);
    dist.downloadPackage(deb.get());
    EXPECT_EQ(deb->getFileName(), "pool/moxeltest-d_1.0-1_all.deb");
    dist.downloadPackage(nullptr);

    EXPECT_EQ(requestsFor(server, "/p/1.0/dist/pool/moxeltest-z-1.0-1.noarch.rpm"), 0u);
    EXPECT_EQ(requestsFor(server, "/p/1.0/dist/pool/moxeltest-d_1.0-1_all.deb"), 0u);
}

TEST_F(SourceMoxelTest, DownloadWithAWrongChecksumFailsAndLeavesTheFileNameAlone) {
    writeSite();
    makeDirs("p/1.0/dist");
    writeFile(files.file("p/1.0/dist/moxeltest-a-1.0-1.noarch.rpm"), blob);
    HttpServer server(files.path());
    SourceDistMoxel dist(&repository, FileFetcher(server.url(), target.path()), siteBuild);
    auto rpm = Package::createFromFile("moxeltest-a", "1.0-1", "moxeltest-a-1.0-1.noarch.rpm");
    rpm->setSize(5000);
    rpm->setMd5(std::string(32, 'a'));

    const error mismatch = runtimetest::raised([&] { dist.downloadPackage(rpm.get()); });
    EXPECT_EQ(
        mismatch.getText(),
        Messages().format("err_mk5check", target.file("p/1.0/dist/moxeltest-a-1.0-1.noarch.rpm.tmp"),
                          std::string(32, 'a'),
                          util::md5_file_string(files.file("p/1.0/dist/moxeltest-a-1.0-1.noarch.rpm"))) +
            "\n");
    EXPECT_EQ(rpm->getFileName(), "moxeltest-a-1.0-1.noarch.rpm");
}

TEST_F(SourceMoxelTest, DescriptionAtTheSourceRootReadsItsRepositoryBelowTheRoot) {
    writeSite();
    writeFile(files.file("root.build.inf3"), readFile(files.file("p/1.0/build.inf3")));
    makeDirs("dist");
    writeFile(files.file("dist/h"), record("moxeltest-a"));
    ASSERT_EQ(std::system(("gzip -n '" + files.file("dist/h") + "'").c_str()), 0);
    SourceDistMoxel dist(&repository, FileFetcher(files.path() + "/", target.path()),
                         sourcetest::loadedBuild(files.path(), "root.build.inf3", ""));
    EXPECT_EQ(dist.getFetcher().getSubdirOffset(), "dist/");
    dist.getFull();
    EXPECT_THAT(listed(repository), ElementsAre("moxeltest-a-1.0-1.noarch(b)"));
}

TEST_F(SourceMoxelTest, UnknownKindOrRepositoryWithoutDirectoryIsAnInternalError) {
    const auto pagewright = sourcetest::loadedBuild(
        fixtureSource(), "pagewright/2.5.0/debian-12-x86_64.build.inf3", "pagewright");
    FileFetcher fetcher(fixtureSource() + "/", target.path());
    const struct {
        char kind;
        int line;
    } cases[] = {{'q', 60}, {'u', 64}, {'t', 64}, {'x', 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const error failed =
            runtimetest::raised([&] { SourceMoxel source(&repository, fetcher, pagewright, c.kind); });
        EXPECT_EQ(failed.getText(), internal_error("installer/SourceMoxel", c.line).getText());
        // The half-made source is not left registered.
        EXPECT_THAT(repository.getSources(), IsEmpty());
    }
}

} // namespace
