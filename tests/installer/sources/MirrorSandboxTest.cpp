// Mirroring the example source of scripts/make-example-source (made by the build) and the test source
// from a server on 127.0.0.1; the installer binary's mirror mode runs inside the sandbox.

#include "installer/sources/Mirror.h"

#include "common/runtime/md5rep.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Addon.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Release.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceUrl.h"
#include "tests/installer/sources/DownloadTestSupport.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <exception>
#include <functional>
#include <map>
#include <regex>
#include <thread>

using downloadtest::requestsFor;
using ::testing::HasSubstr;
using testsupport::readFile;
using testsupport::writeFile;

namespace fs = boost::filesystem;

namespace {

const std::string exampleSource = std::string(MOXEL_BINARY_DIR) + "/example-source";
const std::string release = "moxel-example-1.0.0";
const std::string base = "moxel-example/1.0.0/";
const std::string debianDescription = base + "debian-12-x86_64.build.inf3";
const std::string centosDescription = base + "centos-8-x86_64.build.inf3";
const std::string webRpm = base + "centos-8/dist/moxel-example-web-1.0.0-1.el8.noarch.rpm";
const std::string coreRpm = base + "centos-8/dist/moxel-example-core-1.0.0-1.el8.noarch.rpm";
const std::string webDeb = base + "debian-12/dist/pool/main/moxel-example-web_1.0.0-1_all.deb";
const std::string coreDeb = base + "debian-12/dist/pool/main/moxel-example-core_1.0.0-1_all.deb";
const Mirror::requested_t bothBuilds = {{release, "debian-12-x86_64.build.inf3"},
                                        {release, "centos-8-x86_64.build.inf3"}};

// Regular files below `dir`, by relative path.
std::map<std::string, std::string> filesBelow(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator entry(dir), end; entry != end; ++entry)
        if (fs::is_regular_file(entry->path()))
            files[entry->path().string().substr(dir.size() + 1)] = readFile(entry->path().string());
    return files;
}

std::string replaced(const std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.substr(0, at) + to + text.substr(at + from.size());
}

// The catalogue as a walk sees it.
class CatalogueRecord : public BuildManager::Visitor {
public:
    void visitRelease(boost::shared_ptr<Release> r) override { lines.push_back("release " + r->_id); }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon& addon) override { lines.push_back("addon " + addon._id); }
    void visitBuild(Build& build) override {
        std::string line = "build " + build._config + " in " + build._base_dir;
        for (const std::string& patches : build._patches)
            line += " patches " + patches;
        lines.push_back(line);
    }
    std::vector<std::string> lines;
};

std::vector<std::string> catalogueOf(const std::string& source, const std::string& target) {
    FileFetcher fetcher(source, target);
    BuildManager catalogue(fetcher, locationBaseName(source));
    CatalogueRecord record;
    catalogue.accept(record);
    return record.lines;
}

class MirrorSandboxTest : public downloadtest::DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        ASSERT_EQ(std::system(("cp -a '" + exampleSource + "' '" + source() + "'").c_str()), 0);
    }

    std::string source() const { return work.file("source"); }
    std::string target() const { return work.file("deep/mirror"); }

    void mirror(const testservers::HttpServer& server, const Mirror::requested_t& pairs = bothBuilds) {
        FileFetcher fetcher(server.url(), target());
        BuildManager catalogue(fetcher, "");
        Mirror copier(fetcher, pairs);
        catalogue.accept(copier);
        copier.update();
    }

    // The served copy of a package gets new content; the description names its new checksum and size.
    void changeServedRpm(const std::string& rpm, const std::string& content) {
        const std::string old = readFile(source() + "/" + rpm);
        const std::string description = readFile(source() + "/" + centosDescription);
        std::string changed = replaced(description, "md5=\"" + util::md5_file_string(source() + "/" + rpm),
                                       "md5=\"" + md5Of(content));
        changed = replaced(changed, "size=\"" + std::to_string(old.size()) + "\"",
                           "size=\"" + std::to_string(content.size()) + "\"");
        writeFile(source() + "/" + centosDescription, changed);
        writeFile(source() + "/" + rpm, content);
    }

    std::string md5Of(const std::string& content) const {
        writeFile(work.file("md5"), content);
        return util::md5_file_string(work.file("md5"));
    }

    testsupport::TempDir work;
};

TEST_F(MirrorSandboxTest, MirrorModeCopiesWhatAnInstallationReads) {
    testservers::HttpServer server(source());
    const std::string command = util::shell_quote(std::string(MOXEL_BINARY_DIR) + "/installer/installer") +
                                " --source " + server.url() + " --target " + target() +
                                " --select-release-id " + release +
                                " --mirror-os debian-12-x86_64.build.inf3"
                                " --mirror-os centos-8-x86_64.build.inf3 >" +
                                work.file("out") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(work.file("out"));

    // Everything but the key file (the descriptions carry the key) and the uncompressed package index.
    std::map<std::string, std::string> expected = filesBelow(source());
    expected.erase("keys/moxel-example.asc");
    expected.erase(base + "debian-12/dist/dists/bookworm/main/binary-amd64/Packages");
    const std::map<std::string, std::string> mirrored = filesBelow(target());
    std::vector<std::string> expectedNames, mirroredNames;
    for (const auto& file : expected)
        expectedNames.push_back(file.first);
    for (const auto& file : mirrored)
        mirroredNames.push_back(file.first);
    EXPECT_EQ(mirroredNames, expectedNames);
    EXPECT_TRUE(mirrored == expected);

    // The mirror, read in place, is the same catalogue as the server.
    EXPECT_EQ(catalogueOf(target() + "/", work.file("unused")),
              catalogueOf(server.url(), work.file("other")));
    EXPECT_FALSE(fs::exists(work.file("unused")));
}

TEST_F(MirrorSandboxTest, LocalSourceIsRefused) {
    const std::string command = util::shell_quote(std::string(MOXEL_BINARY_DIR) + "/installer/installer") +
                                " --source " + source() + " --target " + target() + " --select-release-id " +
                                release + " --mirror-os centos-8-x86_64.build.inf3 >" + work.file("out") +
                                " 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_THAT(readFile(work.file("out")), HasSubstr(Messages().getMessage("err_mirr_src")));
    EXPECT_FALSE(fs::exists(target()));
}

TEST_F(MirrorSandboxTest, SecondRunFetchesChangedAndDamagedPackagesOnly) {
    testservers::HttpServer server(source());
    mirror(server);
    const size_t firstDescriptionRequests = requestsFor(server, "/" + centosDescription);

    changeServedRpm(webRpm, readFile(source() + "/" + webRpm) + "changed");
    writeFile(target() + "/" + coreRpm, "damaged");
    writeFile(target() + "/" + coreDeb, "damaged");
    mirror(server);

    // Files that carry no checksum come again; packages only when changed or damaged.
    EXPECT_EQ(requestsFor(server, "/" + centosDescription), 2 * firstDescriptionRequests);
    EXPECT_EQ(requestsFor(server, "/" + webRpm), 2u);
    EXPECT_EQ(requestsFor(server, "/" + coreRpm), 2u);
    EXPECT_EQ(requestsFor(server, "/" + coreDeb), 2u);
    EXPECT_EQ(requestsFor(server, "/" + webDeb), 1u);
    for (const std::string& file : {webRpm, coreRpm, coreDeb, centosDescription})
        EXPECT_EQ(readFile(target() + "/" + file), readFile(source() + "/" + file)) << file;
}

TEST_F(MirrorSandboxTest, ServerStoppingMidwayLeavesTheEarlierCopyWhole) {
    CurlDownloader::setWaitTick([] {});
    // The stalled transfer lasts until the server stops.
    CurlDownloader::setTimeouts({5, 1, 60});
    testservers::HttpServer server(source());
    mirror(server);
    const std::string earlier = readFile(target() + "/" + webRpm);

    changeServedRpm(webRpm, downloadtest::randomBytes(200000, 3));
    server.setRules("{\"/" + webRpm + "\": [{\"stall\": 100000}]}");
    std::exception_ptr failure;
    std::thread run([&] {
        try {
            mirror(server);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    for (int i = 0; i < 600 && requestsFor(server, "/" + webRpm) < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.stop();
    run.join();

    ASSERT_TRUE(failure);
    EXPECT_THROW(std::rethrow_exception(failure), error);
    EXPECT_EQ(readFile(target() + "/" + webRpm), earlier);
    for (const auto& file : filesBelow(target()))
        EXPECT_FALSE(util::ends_with(file.first, ".tmp")) << file.first;
}

// Edits the served copy of the example source.
void edit(const std::string& path, const std::string& from, const std::string& to) {
    writeFile(path, replaced(readFile(path), from, to));
}

TEST_F(MirrorSandboxTest, AddonBuildBestForTwoBuildsIsMirroredOnce) {
    // A second CentOS build for containers, and an add-on with one CentOS build that fits both.
    const std::string addon = source() + "/addon/1";
    ASSERT_EQ(
        std::system(("mkdir -p '" + addon + "' && cp -a '" + source() + "/" + base + "centos-8' '" +
                     source() + "/" + centosDescription + "' '" + addon + "/' && cp '" + source() + "/" +
                     centosDescription + "' '" + source() + "/" + base + "centos-8-vz.build.inf3'")
                        .c_str()),
        0);
    edit(source() + "/moxel-example/product.inf3", "  </release>",
         "    <build os_name=\"Linux\" os_vendor=\"CentOS\" os_version=\"8\" os_arch=\"x86_64\"\n"
         "           environment=\"vz\" config=\"1.0.0/centos-8-vz.build.inf3\"/>\n  </release>");
    edit(source() + "/products.inf3", "    </products>",
         "      <addon id=\"example-addon\" name=\"Example Add-on\" reference=\"addon/addon.inf3\"/>\n"
         "    </products>");
    writeFile(source() + "/addon/addon.inf3",
              "<addon>\n  <release id=\"example-addon-1\" name=\"Example Add-on\" version=\"1.0\">\n"
              "    <compatibility_info>\n"
              "      <compatible product_id=\"moxel-example\" from_version=\"1.0.0\" to_version=\"1.9.9\"/>\n"
              "    </compatibility_info>\n"
              "    <build os_name=\"Linux\" os_vendor=\"CentOS\" os_version=\"8\" os_arch=\"x86_64\"\n"
              "           config=\"1/centos-8-x86_64.build.inf3\"/>\n  </release>\n</addon>\n");
    testservers::HttpServer server(source());
    mirror(server, {{release, "centos-8-x86_64.build.inf3"}, {release, "centos-8-vz.build.inf3"}});

    EXPECT_EQ(requestsFor(server, "/addon/1/centos-8-x86_64.build.inf3"), 1u);
    EXPECT_EQ(requestsFor(server, "/" + base + "centos-8-vz.build.inf3"), 1u);
    EXPECT_EQ(readFile(target() + "/addon/1/centos-8/dist/moxel-example-web-1.0.0-1.el8.noarch.rpm"),
              readFile(addon + "/centos-8/dist/moxel-example-web-1.0.0-1.el8.noarch.rpm"));
    EXPECT_FALSE(fs::exists(target() + "/" + debianDescription));
}

struct VariantCase {
    const char* what;
    std::function<void(const std::string& source)> change;
    // Raised error class, 0 for success.
    int failure;
    std::function<void(const testservers::HttpServer&, const std::string& log)> check;
};

TEST_F(MirrorSandboxTest, DescriptionVariants) {
    const std::string index = "/" + base + "debian-12/dist/dists/bookworm/main/";
    const std::string packages = base + "debian-12/dist/dists/bookworm/main/binary-amd64/Packages";
    // The served index becomes what `text` prints.
    auto gzipIntoIndex = [&](const std::string& s, const std::string& text) {
        const std::string gz = util::shell_quote(s + "/" + packages + ".gz");
        ASSERT_EQ(
            std::system(("(" + text + ") | gzip -1 >" + gz + ".new && mv " + gz + ".new " + gz).c_str()), 0);
    };
    auto poolUntouched = [&](const testservers::HttpServer& server, const std::string&) {
        EXPECT_EQ(requestsFor(server, "/" + coreDeb), 0u);
        EXPECT_FALSE(fs::exists(target() + "/" + coreDeb));
    };
    const std::vector<VariantCase> cases = {
        {"apt source of two words",
         [](const std::string& s) { edit(s + "/" + debianDescription, " bookworm main\"", " bookworm\""); },
         0,
         [&](const testservers::HttpServer& server, const std::string& log) {
             EXPECT_THAT(log, HasSubstr(Messages().getMessage("err_apt_reference")));
             EXPECT_EQ(requestsFor(server, index + "binary-amd64/Packages.gz"), 0u);
         }},
        {"i686 build",
         [](const std::string& s) {
             edit(s + "/" + debianDescription, "os_arch=\"x86_64\"", "os_arch=\"i686\"");
         },
         error::repository,
         [&](const testservers::HttpServer& server, const std::string&) {
             EXPECT_EQ(requestsFor(server, index + "binary-i386/Packages.gz"), 1u);
         }},
        {"no repository metadata",
         [](const std::string& s) { fs::remove(s + "/" + base + "centos-8/dist/repodata/repomd.xml"); }, 0,
         [&](const testservers::HttpServer&, const std::string& log) {
             EXPECT_THAT(log, HasSubstr("Warning: repomd not mirrored: "));
             EXPECT_TRUE(fs::exists(target() + "/" + coreRpm));
         }},
        {"index with a line over 1 MiB",
         [&](const std::string& s) {
             gzipIntoIndex(s, "printf 'Package: x\\nDescription: '; head -c 1100000 /dev/zero | tr '\\0' x");
         },
         error::repository, poolUntouched},
        {"index over 256 MiB",
         [&](const std::string& s) {
             gzipIntoIndex(s, "cat " + s + "/" + packages + "; head -c 270000000 /dev/zero | tr '\\0' '\\n'");
         },
         error::repository, poolUntouched},
        {"patch without package",
         [](const std::string& s) {
             const std::string list = s + "/" + base + "debian-12-patches.xml";
             const std::string text = readFile(list);
             writeFile(list, text.substr(0, text.find("<package>")) + text.substr(text.find("</patch>")));
         },
         error::internal, nullptr},
    };
    for (const VariantCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(std::system(("rm -rf '" + source() + "' '" + work.file("deep") + "' && cp -a '" +
                               exampleSource + "' '" + source() + "'")
                                  .c_str()),
                  0);
        c.change(source());
        testservers::HttpServer server(source());
        const size_t logStart = logText().size();
        if (c.failure == 0)
            EXPECT_NO_THROW(mirror(server));
        else
            EXPECT_EQ(testsupport::caught([&] { mirror(server); }).e_class, c.failure);
        if (c.check)
            c.check(server, logText().substr(logStart));
    }
}

struct RequestCase {
    const char* what;
    std::string fixture;
    Mirror::requested_t pairs;
    std::string key;
    std::vector<std::string> named;
};

TEST_F(MirrorSandboxTest, RequestsTheCatalogueCannotMeetAreUserErrors) {
    const std::string testSource = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source";
    const std::vector<RequestCase> cases = {
        {"unknown release, no add-ons",
         source(),
         {{"moxel-example-9", "x.build.inf3"}, {release, "centos-8-x86_64.build.inf3"}, {"old-1", "y"}},
         "err_rel_notfound",
         {"'moxel-example-9'", "'old-1'"}},
        {"unknown release before an add-on",
         testSource,
         {{"moxel-17", "debian-12-x86_64.build.inf3"}},
         "err_rel_notfound",
         {"'moxel-17'"}},
        {"missing build",
         testSource,
         {{"moxel-18.0.1", "suse-15-x86_64.build.inf3"}},
         "err_build_notfound",
         {}},
        {"same build twice",
         testSource,
         {{"pagewright-2.5.0", "centos-8-x86_64.build.inf3"},
          {"pagewright-2.5.0", "centos-8-x86_64.build.inf3"}},
         "err_build_notfound",
         {}},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        testservers::HttpServer server(c.fixture);
        const testsupport::ErrorFacts facts = testsupport::caught([&] { mirror(server, c.pairs); });
        EXPECT_THAT(facts.text, HasSubstr(Messages().getMessage(c.key)));
        EXPECT_EQ(facts.e_class, error::user);
        for (const std::string& id : c.named)
            EXPECT_THAT(facts.text, HasSubstr(id));
        EXPECT_EQ(requestsFor(server, "/" + centosDescription), 0u);
    }
    EXPECT_THAT(logText(),
                HasSubstr("Unable to find build suse-15-x86_64.build.inf3 in release moxel-18.0.1"));
}

struct HostileCase {
    const char* what;
    std::string file;
    std::string from;
    std::string to;
};

// Names from the server that point outside the target directory: a faithful copy would write
// deep/escape* (next to the target) or a path under /.
TEST_F(MirrorSandboxTest, NamesFromTheServerStayInsideTheTarget) {
    const std::string packages = base + "debian-12/dist/dists/bookworm/main/binary-amd64/Packages";
    const std::vector<HostileCase> cases = {
        {"package file", centosDescription, "file=\"moxel-example-web-", "file=\"../../../../../escape-"},
        {"patch file", base + "debian-12-patches.xml", "name=\"patches/1/PATCHED\"",
         "name=\"../../../escape\""},
        {"absolute patch file", base + "debian-12-patches.xml", "name=\"patches/1/PATCHED\"",
         "name=\"/tmp/escape\""},
        {"headers file", centosDescription, "headers_file=\"headers.gz\"",
         "headers_file=\"../../../../../escape\""},
        {"included description", centosDescription, "<installation_types>",
         "<include config=\"../../../escape.build.inf3\"/><installation_types>"},
        {"pool file", packages, "Filename: pool/main/moxel-example-web", "Filename: ../../../../../escape"},
        {"patch list", "moxel-example/product.inf3", "patches=\"1.0.0/debian-12-patches.xml\"",
         "patches=\"../../escape-patches.xml\""},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(std::system(("rm -rf '" + source() + "' '" + work.file("deep") + "' && cp -a '" +
                               exampleSource + "' '" + source() + "'")
                                  .c_str()),
                  0);
        const std::string path = source() + "/" + c.file;
        writeFile(path, replaced(readFile(path), c.from, c.to));
        if (c.file == packages) {
            ASSERT_EQ(std::system(("gzip -9nf '" + path + "'").c_str()), 0);
        }
        // Whatever a hostile name could reach is there to be served.
        for (const char* name : {"escape", "escape-1.0.0-1.el8.noarch.rpm", "escape_1.0.0-1_all.deb",
                                 "escape.build.inf3", "escape-patches.xml", "tmp/escape"}) {
            fs::create_directories(fs::path(source() + "/" + name).parent_path());
            writeFile(source() + "/" + name, "escaped");
        }
        testservers::HttpServer server(source());
        try {
            mirror(server);
        } catch (const error&) {
        }
        for (const auto& file : filesBelow(work.file("deep")))
            EXPECT_EQ(file.first.compare(0, 7, "mirror/"), 0) << file.first;
        EXPECT_FALSE(fs::exists("/tmp/escape"));
        EXPECT_FALSE(fs::exists("/escape"));
    }
}

} // namespace
