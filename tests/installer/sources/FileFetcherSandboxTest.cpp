#include "installer/sources/FileFetcher.h"

#include "common/runtime/md5rep.h"
#include "tests/installer/sources/DownloadTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

using ::testing::HasSubstr;
using testservers::FtpServer;
using testservers::HttpServer;
using testsupport::readFile;

namespace {

class FileFetcherSandboxTest : public downloadtest::DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        mkdir(files.file("pool").c_str(), 0755);
        testsupport::writeFile(files.file("pool/blob.bin"), blob);
        blob_md5 = util::md5_file_string(files.file("pool/blob.bin"));
    }

    std::string blob_md5;
};

TEST_F(FileFetcherSandboxTest, EverySourceKindGivesTheSameFile) {
    // The test certificate becomes the only trusted one, for this test's mount namespace only.
    testsupport::TempDir tls;
    testservers::makeCertificate(tls.path());
    ASSERT_EQ(
        mount(tls.file("cert.pem").c_str(), "/etc/ssl/certs/ca-certificates.crt", nullptr, MS_BIND, nullptr),
        0)
        << strerror(errno);

    HttpServer http(files.path());
    HttpServer https(files.path(), tls.file("cert.pem"), tls.file("key.pem"));
    FtpServer ftp(files.path());
    for (const std::string& source : {http.url(), https.url(), ftp.url(), files.path() + "/"}) {
        SCOPED_TRACE(source);
        testsupport::TempDir target;
        FileFetcher fetcher(source, target.path());
        const std::string path = fetcher.getFile("pool/blob.bin", blob_md5);
        EXPECT_EQ(readFile(path), blob);
        EXPECT_EQ(util::md5_file_string(path), blob_md5);
    }
    EXPECT_EQ(https.requests().size(), 1u);
}

TEST_F(FileFetcherSandboxTest, FullDiskKeepsTheEarlierCopy) {
    testsupport::writeFile(files.file("pool/big.bin"), downloadtest::randomBytes(1024 * 1024, 5));
    HttpServer http(files.path());
    testsupport::TempDir target;
    ASSERT_EQ(mount("tmpfs", target.path().c_str(), "tmpfs", 0, "size=64k,mode=0755"), 0) << strerror(errno);
    mkdir(target.file("pool").c_str(), 0755);
    testsupport::writeFile(target.file("pool/big.bin"), "earlier copy");

    FileFetcher fetcher(http.url(), target.path());
    try {
        fetcher.getFile("pool/big.bin");
        ADD_FAILURE() << "a fetch to a full disk succeeded";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr(Messages().getMessage("err_no_space2")));
    }
    EXPECT_EQ(readFile(target.file("pool/big.bin")), "earlier copy");
    umount(target.path().c_str());
}

} // namespace
