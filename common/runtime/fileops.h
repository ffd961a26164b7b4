#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The installer's file-system functions. Tests never raise for file-system errors (they log at debug
// level and answer false); the changing operations raise classified `error` values.
namespace fileops {

// False at once for "http://" and "ftp://" locations: installation sources are never local files.
bool exists(const std::string& path);
bool is_directory(const std::string& path);
// Exists and is not a directory.
bool is_file(const std::string& path);
// These two let boost::filesystem::filesystem_error through.
uintmax_t file_size(const std::string& path);
std::time_t last_write_time(const std::string& path);

// Plain text operations on '/': basename("a/") is "", dirname("usr") is "".
std::string basename(const std::string& path);
std::string dirname(const std::string& path);
std::string filename(const std::string& path);
std::string parent_path(const std::string& path);
std::string normalize_path(const std::string& path);
void add_trailing(std::string& path, char c);
void strip_trailing(std::string& path, char c);

// The effective user's home directory; looked up once per process.
std::string get_home_dir();
// The next get_home_dir looks it up again. For tests, which run many cases in one process.
void forget_home_dir();

// Lets boost::filesystem::filesystem_error through.
void rename(const std::string& from, const std::string& to);
// Removes a file, a symbolic link or an empty directory; nothing when the path is absent.
void remove(const std::string& path);
// Lets boost::filesystem::filesystem_error through.
uintmax_t remove_all(const std::string& path);
// False when the path already exists; else creates it with its missing parents (mode 0755).
bool create_directory(const std::string& path);
// Both copies write a temporary file beside the target and rename it over the target, so a failed
// copy leaves the old target as it was. copy_file makes a new file with the default permissions;
// copy_file_synced keeps the mode and owner of an existing target and forces the data to disk.
void copy_file(const std::string& from, const std::string& to);
void copy_file_synced(const std::string& from, const std::string& to);
// The lines of a text file without their newlines, read close-on-exec; false when it cannot be opened.
bool read_lines(const std::string& path, std::vector<std::string>& lines);

// Creates an empty file (mode 0600) or empties an existing one.
void touch(const std::string& path);

// Writes a whole file the safe way: into a temporary file in the target's directory that commit()
// checks, optionally forces to disk and renames over the target. Destroyed without commit(), the
// temporary file is removed and the target stays as it was. Errors raise err_filewrite1/2 (4, 1, 1, 2).
class AtomicFile {
public:
    // `mode` is subject to the umask, as for open(2).
    explicit AtomicFile(const std::string& path, mode_t mode = 0666);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    void write(const char* data, size_t length);
    void write(const std::string& data) { write(data.data(), data.size()); }
    // With `synced`, the data and the rename reach the disk before commit() returns.
    void commit(bool synced);

    int fd() const { return temp_fd; }
    const std::string& path() const { return target; }
    const std::string& tempPath() const { return temp; }

private:
    std::string target;
    std::string temp;
    int temp_fd = -1;
};

// `content` replaces the file at `path` through an AtomicFile.
void write_file(const std::string& path, const std::string& content, mode_t mode = 0666, bool synced = false);

// Owner of one stdio stream. Opening failures raise err_fileread1 / err_filewrite1 (4, 1, 1, 2).
// The destructor raises err_fileread2 / err_filewrite2 when closing (or an earlier buffered write)
// failed, unless another exception is already on its way; then it only logs.
class File {
public:
    // The stream is opened close-on-exec whatever the mode says.
    File(const std::string& path, const char* mode);
    // Takes over a descriptor the caller opened; it is made close-on-exec.
    File(int fd, const std::string& path, const char* mode);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() noexcept(false);

    FILE* file;
    std::string path;
    bool writing;
};

} // namespace fileops
