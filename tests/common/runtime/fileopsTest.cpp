#include "common/runtime/fileops.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

using runtimetest::raised;
using ::testing::HasSubstr;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class FileopsTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LC_ALL", "C", 1); }

    std::set<std::string> entries() const { return runtimetest::entriesOf(dir.path()); }
    static mode_t modeOf(const std::string& path) {
        struct stat st;
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }
    static void expectNumbers(const error& e, int e_class, int repeat, int system_state, int support) {
        EXPECT_EQ(e.getClass(), e_class);
        EXPECT_EQ(e.getRepeat(), repeat);
        EXPECT_EQ(e.getSystemState(), system_state);
        EXPECT_EQ(e.getSupport(), support);
    }

    TempDir dir;
};

TEST_F(FileopsTest, PathTextFunctions) {
    struct Case {
        const char* path;
        const char* base;
        const char* dir;
    };
    const Case cases[] = {
        {"/usr/lib/x.rpm", "x.rpm", "/usr/lib"},
        {"/a/", "", "/a"},
        {"name", "name", ""},
        {"/usr", "usr", ""},
        {"", "", ""},
        {"a//b", "b", "a/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileops::basename(c.path), c.base) << c.path;
        EXPECT_EQ(fileops::filename(c.path), c.base) << c.path;
        EXPECT_EQ(fileops::dirname(c.path), c.dir) << c.path;
        EXPECT_EQ(fileops::parent_path(c.path), c.dir) << c.path;
    }
}

TEST_F(FileopsTest, TrailingCharacters) {
    struct Case {
        const char* before;
        const char* added;
        const char* stripped;
    };
    const Case cases[] = {{"", "/", ""},
                          {"/a/", "/a/", "/a"},
                          {"/a///", "/a///", "/a"},
                          {"/a", "/a/", "/a"},
                          {"///", "///", ""}};
    for (const Case& c : cases) {
        std::string added = c.before, stripped = c.before;
        fileops::add_trailing(added, '/');
        fileops::strip_trailing(stripped, '/');
        EXPECT_EQ(added, c.added) << c.before;
        EXPECT_EQ(stripped, c.stripped) << c.before;
    }
}

TEST_F(FileopsTest, TestsOfExistenceAndType) {
    writeFile(dir.file("f"), "x");
    symlink("missing", dir.file("dangling").c_str());
    EXPECT_TRUE(fileops::exists(dir.file("f")));
    EXPECT_TRUE(fileops::exists(dir.path()));
    EXPECT_FALSE(fileops::exists(dir.file("nothing")));
    EXPECT_FALSE(fileops::exists(dir.file("f/below")));
    EXPECT_FALSE(fileops::exists(dir.file("dangling")));
    EXPECT_TRUE(fileops::is_file(dir.file("f")));
    EXPECT_FALSE(fileops::is_file(dir.path()));
    EXPECT_FALSE(fileops::is_file(dir.file("nothing")));
    EXPECT_TRUE(fileops::is_directory(dir.path()));
    EXPECT_FALSE(fileops::is_directory(dir.file("f")));
    EXPECT_EQ(fileops::file_size(dir.file("f")), 1u);
}

TEST_F(FileopsTest, RemoteLocationsAreNeverLocalFiles) {
    // Even a local directory named like a location does not count.
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(mkdir("http:", 0755), 0);
    EXPECT_TRUE(fileops::exists("http:/"));
    EXPECT_FALSE(fileops::exists("http://"));
    EXPECT_FALSE(fileops::exists("ftp://"));
    EXPECT_FALSE(fileops::exists("http://example.com/products.inf3"));
}

TEST_F(FileopsTest, CreateDirectoryMakesEveryMissingParent) {
    std::string deep = dir.file("x/y/z");
    EXPECT_TRUE(fileops::create_directory(deep));
    EXPECT_TRUE(fileops::is_directory(dir.file("x/y/z")));
    EXPECT_FALSE(fileops::create_directory(deep));
    EXPECT_FALSE(fileops::create_directory(dir.path()));

    EXPECT_TRUE(fileops::create_directory(dir.path() + "/p//q/"));
    EXPECT_TRUE(fileops::is_directory(dir.file("p/q")));
    EXPECT_EQ(entries(), (std::set<std::string>{"x", "p"}));
}

TEST_F(FileopsTest, CreateDirectoryThroughAFileRaisesNamingTheWholePath) {
    writeFile(dir.file("plain"), "");
    std::string wanted = dir.file("plain/sub/dir");
    error e = raised([&] { fileops::create_directory(wanted); });
    expectNumbers(e, 4, 1, 1, 2);
    EXPECT_EQ(e.getText(), Messages().format("err_mkdir", wanted, strerror(EEXIST)) + "\n");
}

TEST_F(FileopsTest, RemoveTakesFilesLinksAndEmptyDirectories) {
    writeFile(dir.file("f"), "x");
    symlink("missing", dir.file("dangling").c_str());
    mkdir(dir.file("empty").c_str(), 0755);
    fileops::remove(dir.file("f"));
    fileops::remove(dir.file("dangling"));
    fileops::remove(dir.file("empty"));
    fileops::remove(dir.file("never-there"));
    EXPECT_TRUE(entries().empty());

    fileops::create_directory(dir.file("full/sub"));
    error e = raised([&] { fileops::remove(dir.file("full")); });
    expectNumbers(e, 4, 1, 1, 2);
    EXPECT_THAT(e.getText(), HasSubstr(dir.file("full")));
    EXPECT_EQ(fileops::remove_all(dir.file("full")), 2u);
    EXPECT_TRUE(entries().empty());
}

TEST_F(FileopsTest, CopyReplacesTheTargetAndLeavesNoTemporaryFile) {
    writeFile(dir.file("from"), "new content");
    writeFile(dir.file("to"), "old content that is longer");
    fileops::copy_file(dir.file("from"), dir.file("to"));
    EXPECT_EQ(readFile(dir.file("to")), "new content");

    fileops::copy_file_synced(dir.file("from"), dir.file("synced"));
    EXPECT_EQ(readFile(dir.file("synced")), "new content");
    EXPECT_EQ(entries(), (std::set<std::string>{"from", "to", "synced"}));
}

TEST_F(FileopsTest, CopyOfAFileOntoItselfKeepsItsContent) {
    writeFile(dir.file("f"), "keep me");
    fileops::copy_file(dir.file("f"), dir.file("f"));
    EXPECT_EQ(readFile(dir.file("f")), "keep me");
}

TEST_F(FileopsTest, CopyRefusesMissingOrDirectorySources) {
    error missing = raised([&] { fileops::copy_file(dir.file("none"), dir.file("to")); });
    expectNumbers(missing, 4, 1, 1, 2);
    EXPECT_EQ(missing.getText(), Messages().format("err_copy1", dir.file("none")) + "\n");

    error directory = raised([&] { fileops::copy_file(dir.path(), dir.file("to")); });
    expectNumbers(directory, 4, 1, 1, 2);
    EXPECT_EQ(directory.getText(), Messages().format("err_copy2", dir.path(), dir.path()) + "\n");

    error synced = raised([&] { fileops::copy_file_synced(dir.file("none"), dir.file("to")); });
    expectNumbers(synced, 4, 2, 1, 2);
    EXPECT_EQ(synced.getText(),
              Messages().format("err_fileread1", dir.file("none"), strerror(ENOENT)) + "\n");
    EXPECT_TRUE(entries().empty());
}

TEST_F(FileopsTest, CopyIntoAMissingDirectoryIsAnError) {
    writeFile(dir.file("from"), "x");
    std::string target = dir.file("no/such/file");
    error e = raised([&] { fileops::copy_file(dir.file("from"), target); });
    expectNumbers(e, 4, 1, 1, 2);
    EXPECT_EQ(e.getText(), Messages().format("err_filewrite1", target, strerror(ENOENT)) + "\n");
}

TEST_F(FileopsTest, CopyReplacesAnEmptyDirectoryButNotAFullOne) {
    writeFile(dir.file("from"), "x");
    mkdir(dir.file("empty").c_str(), 0755);
    fileops::copy_file(dir.file("from"), dir.file("empty"));
    EXPECT_EQ(readFile(dir.file("empty")), "x");

    fileops::create_directory(dir.file("full/sub"));
    EXPECT_THROW(fileops::copy_file(dir.file("from"), dir.file("full")), error);
    EXPECT_TRUE(fileops::is_directory(dir.file("full/sub")));
}

// The reader's descriptor is close-on-exec while it is open: seen from here while it waits on a FIFO.
TEST_F(FileopsTest, ReadLinesReadsCloseOnExec) {
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> lines;
    bool opened = false;
    std::thread reader([&] { opened = fileops::read_lines(fifo, lines); });
    const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_NE(writer, -1);
    // The reader's descriptor is installed just after its open has let ours go on.
    int readers = 0;
    for (int attempt = 0; attempt < 500 && readers == 0; ++attempt) {
        for (int fd = 0; fd < 1024; ++fd) {
            char target[4096] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (fd == writer || readlink(link.c_str(), target, sizeof target - 1) <= 0 || fifo != target)
                continue;
            ++readers;
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
        }
        if (readers == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(write(writer, "one\ntwo", 7), 7);
    close(writer);
    reader.join();
    EXPECT_EQ(readers, 1);
    EXPECT_TRUE(opened);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(fileops::read_lines(dir.file("missing"), lines));
}

TEST_F(FileopsTest, SyncedCopyKeepsTheModeOfAnExistingTarget) {
    writeFile(dir.file("from"), "#!/bin/sh\n");
    writeFile(dir.file("script"), "old");
    chmod(dir.file("script").c_str(), 0750);
    fileops::copy_file_synced(dir.file("from"), dir.file("script"));
    EXPECT_EQ(modeOf(dir.file("script")), 0750u);
    EXPECT_EQ(readFile(dir.file("script")), "#!/bin/sh\n");
}

TEST_F(FileopsTest, SyncedCopyWritesThroughASymbolicLink) {
    writeFile(dir.file("from"), "new");
    writeFile(dir.file("real"), "old");
    symlink("real", dir.file("link").c_str());
    fileops::copy_file_synced(dir.file("from"), dir.file("link"));
    EXPECT_EQ(readFile(dir.file("real")), "new");
    char target[64] = {};
    EXPECT_GT(readlink(dir.file("link").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "real");
}

TEST_F(FileopsTest, SyncedCopyOfAnEmptyFile) {
    writeFile(dir.file("empty"), "");
    fileops::copy_file_synced(dir.file("empty"), dir.file("copy"));
    EXPECT_TRUE(fileops::is_file(dir.file("copy")));
    EXPECT_EQ(fileops::file_size(dir.file("copy")), 0u);
}

TEST_F(FileopsTest, SyncedCopyToAFullDeviceIsAnError) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    writeFile(dir.file("from"), "data");
    error e = raised([&] { fileops::copy_file_synced(dir.file("from"), "/dev/full"); });
    expectNumbers(e, 4, 2, 1, 2);
    EXPECT_EQ(e.getText(), Messages().format("err_filewrite2", "/dev/full", strerror(ENOSPC)) + "\n");
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(FileopsTest, TouchEmptiesOrCreatesPrivately) {
    writeFile(dir.file("marker"), "content");
    chmod(dir.file("marker").c_str(), 0644);
    fileops::touch(dir.file("marker"));
    EXPECT_EQ(readFile(dir.file("marker")), "");
    EXPECT_EQ(modeOf(dir.file("marker")), 0644u);

    fileops::touch(dir.file("new"));
    EXPECT_EQ(modeOf(dir.file("new")), 0600u);

    error e = raised([&] { fileops::touch(dir.file("no/dir")); });
    expectNumbers(e, 4, 2, 1, 2);
}

TEST_F(FileopsTest, AtomicFileReplacesOnlyOnCommit) {
    writeFile(dir.file("settings"), "old");
    {
        fileops::AtomicFile file(dir.file("settings"));
        file.write("half");
    }
    EXPECT_EQ(readFile(dir.file("settings")), "old");
    EXPECT_EQ(entries(), (std::set<std::string>{"settings"}));

    fileops::write_file(dir.file("settings"), "new", 0640, true);
    EXPECT_EQ(readFile(dir.file("settings")), "new");
    EXPECT_EQ(modeOf(dir.file("settings")), 0640u & ~0022u);
    EXPECT_EQ(entries(), (std::set<std::string>{"settings"}));
}

TEST_F(FileopsTest, FileDescriptorsAreCloseOnExec) {
    writeFile(dir.file("f"), "x");
    fileops::File by_path(dir.file("f"), "r");
    EXPECT_TRUE(fcntl(fileno(by_path.file), F_GETFD) & FD_CLOEXEC);
    int fd = open(dir.file("f").c_str(), O_RDONLY);
    fileops::File by_fd(fd, dir.file("f"), "r");
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
}

TEST_F(FileopsTest, FileOpenFailuresNameThePath) {
    error reading = raised([&] { fileops::File file(dir.file("none"), "r"); });
    expectNumbers(reading, 4, 1, 1, 2);
    EXPECT_EQ(reading.getText(),
              Messages().format("err_fileread1", dir.file("none"), strerror(ENOENT)) + "\n");

    error writing = raised([&] { fileops::File file(dir.file("no/such"), "w"); });
    EXPECT_EQ(writing.getText(),
              Messages().format("err_filewrite1", dir.file("no/such"), strerror(ENOENT)) + "\n");
}

TEST_F(FileopsTest, FileRaisesAFailedWriteWhenClosed) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    error e = raised([&] {
        fileops::File full("/dev/full", "w");
        fputs("lost", full.file);
    });
    expectNumbers(e, 4, 1, 1, 2);
    EXPECT_EQ(e.getText(), Messages().format("err_filewrite2", "/dev/full", strerror(ENOSPC)) + "\n");
}

TEST_F(FileopsTest, FileCloseFailureDoesNotReplaceAnErrorOnItsWay) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    try {
        fileops::File full("/dev/full", "w");
        fputs("lost", full.file);
        throw error(2, 1, 1, 1) << "first";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "first\n");
    }
}

TEST_F(FileopsTest, HomeDirectoryOfTheEffectiveUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    EXPECT_EQ(fileops::get_home_dir(), "/root");
}

TEST_F(FileopsTest, HomeDirectoryOfAnUnlistedUserIsRoots) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    ASSERT_EQ(seteuid(54321), 0);
    std::string home = fileops::get_home_dir();
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(home, "/root");
}

TEST_F(FileopsTest, HomeDirectoryIsLookedUpOnce) {
    struct passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    std::string expected = nobody->pw_dir;
    ASSERT_EQ(seteuid(nobody->pw_uid), 0);
    std::string first = fileops::get_home_dir();
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(first, expected);
    EXPECT_EQ(fileops::get_home_dir(), expected);
}

} // namespace
