#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

using runtimetest::raised;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// A 64 KiB file system that a 1 MiB copy cannot fit into.
class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        small = dir.file("small");
        ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
        ASSERT_EQ(mount("moxel-small", small.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);
        writeFile(dir.file("big"), std::string(1 << 20, 'b'));
        target = small + "/target";
        writeFile(target, "old");
    }
    void TearDown() override { umount2(small.c_str(), MNT_DETACH); }

    void expectFullDiskError(const error& e, int repeat) {
        EXPECT_EQ(e.getClass(), 4);
        EXPECT_EQ(e.getRepeat(), repeat);
        EXPECT_EQ(e.getText(), Messages().format("err_filewrite2", target, strerror(ENOSPC)) + "\n");
        EXPECT_EQ(readFile(target), "old");
        EXPECT_EQ(runtimetest::entriesOf(small), std::set<std::string>{"target"});
    }

    TempDir dir;
    std::string small;
    std::string target;
};

TEST_F(FullDiskTest, CopyFailsAndKeepsTheOldTarget) {
    expectFullDiskError(raised([&] { fileops::copy_file(dir.file("big"), target); }), 1);
}

TEST_F(FullDiskTest, SyncedCopyFailsAndKeepsTheOldTarget) {
    expectFullDiskError(raised([&] { fileops::copy_file_synced(dir.file("big"), target); }), 2);
}

TEST_F(FullDiskTest, WholeFileWriteFailsAndKeepsTheOldTarget) {
    expectFullDiskError(raised([&] { fileops::write_file(target, std::string(1 << 20, 'w')); }), 1);
}

} // namespace
