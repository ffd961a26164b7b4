#include "common/packages/DebPackage.h"
#include "common/packages/DebVersion.h"
#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

using ::testing::HasSubstr;

namespace {

std::string text(const char* key) {
    return Messages().getMessage(key);
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

class PackageCacheReaderTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }

    FILE* open(const std::string& content) {
        testsupport::writeFile(dir.file("cache"), content);
        file.reset(fopen(dir.file("cache").c_str(), "re"));
        return file.get();
    }
    std::unique_ptr<Package> read(const std::string& content) {
        return Package::createFromCache(open(content), &lines);
    }
    // The error of reading the content as one record.
    error failure(const std::string& content) {
        try {
            read(content);
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << "record accepted:\n" << content;
        return error();
    }
    void openLog() {
        Log::setFileThreshold(2);
        Log::open_file(dir.file("log"), true);
    }
    std::string log() const { return testsupport::readFile(dir.file("log")); }

    testsupport::TempDir dir;
    std::unique_ptr<FILE, FileCloser> file;
    int lines = 0;
};

TEST_F(PackageCacheReaderTest, ReadsAnInstalledRpmRecord) {
    auto p = read("F:x-1.0-1.noarch.rpm\nN:x\nE:(none)\nV:1.0\nL:1\nA:noarch\nX:\nF:next\n");
    ASSERT_NE(dynamic_cast<RPMPackage*>(p.get()), nullptr);
    EXPECT_STREQ(p->getName().c_str(), "x");
    EXPECT_EQ(p->getVersion().toString(), "1.0-1");
    EXPECT_FALSE(p->getVersion().hasEpoch);
    EXPECT_STREQ(p->getArch().c_str(), "noarch");
    EXPECT_EQ(p->getFileName(), "x-1.0-1.noarch.rpm");
    EXPECT_EQ(p->getType(), 'n');
    EXPECT_EQ(p->getSource(), nullptr);
    EXPECT_EQ(lines, 7);
    // The file is left just after the 'X' line.
    EXPECT_EQ(fgetc(file.get()), 'F');
}

TEST_F(PackageCacheReaderTest, DefaultsForMissingTags) {
    auto p = read("V:1.0\nL:1\nX:\n");
    EXPECT_STREQ(p->getName().c_str(), "nameless");
    EXPECT_STREQ(p->getArch().c_str(), "all");
    EXPECT_EQ(p->getFileName(), "dummy_filename_nameless-1.0-1.rpm");

    auto q = read("N:x\nV:1.0\nL:1\nX:\n");
    EXPECT_EQ(q->getFileName(), "dummy_filename_x-1.0-1.rpm");
}

TEST_F(PackageCacheReaderTest, DebFileNameGivesDebianVersion) {
    auto p = read("F:x_installed.deb\nN:x\nE:1\nV:2.0~rc1\nL:3\nA:amd64\nX:\n");
    ASSERT_NE(dynamic_cast<DebPackage*>(p.get()), nullptr);
    EXPECT_EQ(typeid(p->getVersion()), typeid(DebVersion));
    EXPECT_EQ(p->getVersion().toString(), "1:2.0~rc1-3");
}

TEST_F(PackageCacheReaderTest, FileFactsAndWhiteSpace) {
    auto p = read("  # produced by a query\n"
                  "N:   x  \n"
                  "V:1.0\n"
                  "f:1700000001\nB:1700000000\ns:4096\nS:ignored\n"
                  "M:00112233445566778899aabbccddeeff\n"
                  "X:\n");
    EXPECT_STREQ(p->getName().c_str(), "x");
    EXPECT_EQ(p->getInstallTime(), 1700000001);
    EXPECT_EQ(p->getBuildTime(), 1700000000);
    EXPECT_EQ(p->getSize(), 4096);
    EXPECT_EQ(p->getMd5()[15], 0xff);
    EXPECT_EQ(lines, 9);
}

TEST_F(PackageCacheReaderTest, DependencyLines) {
    auto p = read("N:x\nV:1\n"
                  "R:rpmlib(CompressedFileNames) <= 3.0.4-1\nR:libc.so.6()(64bit)\nR:/bin/sh\n"
                  "P:x = 1\n"
                  "P:/usr/bin/x\nm:33261\n5:0123456789abcdef0123456789abcdef\n"
                  "P:/usr/bin/y\nm:41471\n5:x\n"
                  "C:x-old < 1\nO:x-older\nX:\n");
    ASSERT_EQ(p->getRequires().size(), 2u);
    EXPECT_EQ(p->getRequire(1)->getKind(), Dependency::FILE_ENTRY);
    ASSERT_EQ(p->getProvides().size(), 3u);
    EXPECT_EQ(p->getProvide(0)->getKind(), Dependency::LOGICAL_ENTRY);
    EXPECT_EQ(p->getProvide(0)->getMaster(), p.get());

    auto file = std::static_pointer_cast<DependencyFile>(p->getProvide(1));
    EXPECT_EQ(file->getMode(), 33261);
    EXPECT_EQ(DependencyFile::fileType(file->getMode()), DependencyFile::REGULAR);
    EXPECT_EQ(file->getDigestText(), "0123456789abcdef0123456789abcdef");

    auto link = std::static_pointer_cast<DependencyFile>(p->getProvide(2));
    EXPECT_EQ(DependencyFile::fileType(link->getMode()), DependencyFile::SYMLINK);
    EXPECT_STREQ(link->getLink().c_str(), "x");
    EXPECT_EQ(p->getConflict(0)->getName(), "x-old");
    EXPECT_EQ(p->getObsolete(0)->getName(), "x-older");
}

TEST_F(PackageCacheReaderTest, DigestLineAloneMakesAFileEntryWhateverTheText) {
    auto p = read("N:x\nV:1\nP:not-a-path\n5:0123456789abcdef0123456789abcdef\nX:\n");
    auto entry = p->getProvide(0);
    ASSERT_EQ(entry->getKind(), Dependency::FILE_ENTRY);
    EXPECT_EQ(std::static_pointer_cast<DependencyFile>(entry)->getMode(), 0);
}

TEST_F(PackageCacheReaderTest, CommentEndsAProvideAndAStrayModeLineIsOnlyWarnedAbout) {
    openLog();
    auto p = read("N:x\nV:1\nP:/usr/bin/x\n# note\nm:33261\nQ:1\nX:\n");
    ASSERT_EQ(p->getProvides().size(), 1u);
    EXPECT_EQ(p->getProvide(0)->getKind(), Dependency::LOGICAL_ENTRY);
    EXPECT_THAT(log(), HasSubstr("Warning: unknow tag in cache, whole line is: m:33261'"));
    EXPECT_THAT(log(), HasSubstr("Warning: unknow tag in cache, whole line is: Q:1'"));
}

TEST_F(PackageCacheReaderTest, EmptyValueMayBeGivenAgain) {
    auto p = read("N:\nN:x\nV:1\nX:\n");
    EXPECT_STREQ(p->getName().c_str(), "x");
}

struct BadRecord {
    const char* name;
    const char* content;
    const char* key; // message key, or the literal first line of the error when it has no key
};

class PackageCacheReaderErrorTest : public PackageCacheReaderTest,
                                    public ::testing::WithParamInterface<BadRecord> {};

TEST_P(PackageCacheReaderErrorTest, FailsWithTheExpectedText) {
    const BadRecord& c = GetParam();
    error e = failure(c.content);
    ASSERT_GE(e.getLines().size(), 2u);
    std::string expected = c.key[0] == '!' ? std::string(c.key + 1) : text(c.key);
    EXPECT_EQ(e.getLines().front(), expected);
    EXPECT_THAT(e.getLines().back(), HasSubstr("Error in Package::createFromCache: input line  "));
    EXPECT_NE(e.getClass(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PackageCacheReaderErrorTest,
    ::testing::Values(BadRecord{"DoubleName", "N:x\nN:y\nV:1\nX:\n", "err_cache_multitag"},
                      BadRecord{"SingleAfterMulti", "N:x\nV:1\nR:y\nL:1\nX:\n", "err_cache_semicolon"},
                      BadRecord{"NoColon", "N:x\nV1\nX:\n", "err_cache_semicolon"},
                      BadRecord{"EmptyLineInside", "N:x\n\nV:1\nX:\n", "err_cache_shortline"},
                      BadRecord{"OnlyNone", "N:x\n(none)\nV:1\nX:\n", "err_cache_shortline"},
                      BadRecord{"NoVersion", "N:x\nE:1\nR:y\nX:\n", "err_cache_pkgvers"},
                      BadRecord{"NoEnd", "N:x\nV:1\nR:y\n", "err_cache_unexpend"},
                      BadRecord{"EndAfterProvide", "N:x\nV:1\nP:y", "err_cache_descend"},
                      BadRecord{"EndAfterMode", "N:x\nV:1\nP:/y\nm:33188\n", "err_cache_descend"},
                      BadRecord{"BadNumber", "N:x\nV:1\ns:12k\nX:\n", "err_non_digit"},
                      BadRecord{"BadMode", "N:x\nV:1\nP:/y\nm:0x1\nX:\n", "err_non_digit"},
                      BadRecord{"BadDigest", "N:x\nV:1\nM:abc\nX:\n", "!MD5 string size is not 32- 3 abc"},
                      BadRecord{"UnknownFileKind", "F:x.tgz\nN:x\nV:1\nX:\n",
                                "!Unable to create package object from file x.tgz"}),
    [](const ::testing::TestParamInfo<BadRecord>& info) { return info.param.name; });

TEST_F(PackageCacheReaderTest, ErrorNamesTheLineItStoppedAt) {
    error e = failure("N:x\nV:1\nR:y\nL:1\nX:\n");
    EXPECT_EQ(e.getLines().back(), "Error in Package::createFromCache: input line  4: L:1");
    EXPECT_EQ(e.getClass(), error::repository);
    EXPECT_EQ(e.getRepeat(), 1);
    EXPECT_EQ(e.getSystemState(), 1);
    EXPECT_EQ(e.getSupport(), 3);
}

TEST_F(PackageCacheReaderTest, FailuresAreLoggedAsTheFormatSays) {
    openLog();
    failure("N:x\nN:y\nV:1\nX:\n");
    failure("N:x\nV:1\nR:y\nL:1\nX:\n");
    failure("N:x\nE:1\nR:y\nX:\n");
    failure("N:x\nV:1\n");
    std::string written = log();
    EXPECT_THAT(written, HasSubstr("Invalid cache format: tag 'N' occured twice, second in 'N:y'"));
    EXPECT_THAT(written,
                HasSubstr("Invalid cache format: multi-occured fields mixed with single-occured fields"));
    EXPECT_THAT(written, HasSubstr("Error in Package::createFromCache: input line  6:L:1"));
    EXPECT_THAT(written, HasSubstr(" 'E=1' 'N=x'"));
    EXPECT_THAT(written, HasSubstr("createFromCache(): package must terminated with 'X'"));
}

TEST_F(PackageCacheReaderTest, EmptyProvideIsAnInternalError) {
    error e = failure("N:x\nV:1\nP:\nX:\n");
    EXPECT_THAT(e.getText(), HasSubstr("common/DependencyLogical, line 30."));
    EXPECT_EQ(e.getClass(), error::internal);
}

TEST_F(PackageCacheReaderTest, OverlongLinesAreReadInPieces) {
    std::string longRequire = "R:" + std::string(1100, 'a') + "\n";
    error e = failure("N:x\nV:1\n" + longRequire + "X:\n");
    EXPECT_EQ(e.getLines().front(), text("err_cache_semicolon"));
    EXPECT_EQ(lines, 4);

    // A piece that happens to look like a tag line is taken as one.
    std::string cut = "R:" + std::string(1020, 'b') + "C:late\n";
    auto p = read("N:x\nV:1\n" + cut + "X:\n");
    ASSERT_EQ(p->getRequires().size(), 1u);
    EXPECT_EQ(p->getRequire(0)->getName().size(), 1020u);
    EXPECT_EQ(p->getConflict(0)->getName(), "late");
}

TEST_F(PackageCacheReaderTest, ConsecutiveRecordsShareTheLineCounter) {
    FILE* f = open("N:a\nV:1\nX:\nN:b\nV:2\nX:\n");
    auto a = Package::createFromCache(f, &lines);
    auto b = Package::createFromCache(f, &lines);
    EXPECT_STREQ(a->getName().c_str(), "a");
    EXPECT_STREQ(b->getName().c_str(), "b");
    EXPECT_EQ(lines, 6);
}

} // namespace
