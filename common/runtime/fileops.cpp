#include "common/runtime/fileops.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <random>

namespace bfs = boost::filesystem;

namespace fileops {

namespace {

bool is_remote(const std::string& path) {
    return path.rfind("http://", 0) == 0 || path.rfind("ftp://", 0) == 0;
}

// stat(2) with "absent" told apart from a real failure; `failure` gets the error text.
bool stat_path(const std::string& path, struct stat& st, std::string& failure) {
    if (::stat(path.c_str(), &st) == 0)
        return true;
    if (errno != ENOENT && errno != ENOTDIR)
        failure = strerror(errno);
    return false;
}

[[noreturn]] void raise(int repeat, const std::string& prefix, const char* key, const std::string& path,
                        int err) {
    throw error(4, repeat, 1, 2) << prefix << Messages().format(key, path, strerror(err));
}

int open_cloexec(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd == -1 && errno == EINTR);
    return fd;
}

// Closes on destruction; release() hands the descriptor back.
class Fd {
public:
    explicit Fd(int fd) : fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd != -1)
            ::close(fd);
    }
    int get() const { return fd; }
    int release() {
        int taken = fd;
        fd = -1;
        return taken;
    }

private:
    int fd;
};

// 0 or the errno of the failed write.
int write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written == -1 && errno == EINTR)
            continue;
        if (written == -1)
            return errno;
        if (written == 0)
            return EIO;
        data += written;
        length -= size_t(written);
    }
    return 0;
}

// A temporary file beside `target`, created with O_EXCL so the umask applies to `mode` as it would to
// the target itself. The name starts with '.' so directory scans by name patterns pass it by.
int create_temp(const std::string& target, mode_t mode, std::string& temp) {
    static std::atomic<unsigned> sequence{0};
    size_t slash = target.rfind('/');
    std::string prefix = target.substr(0, slash + 1) + "." + basename(target) + ".tmp";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = prefix + std::to_string(getpid()) + "." + std::to_string(sequence++) + "." +
               std::to_string(random() % 1000000);
        int fd = open_cloexec(temp, O_WRONLY | O_CREAT | O_EXCL, mode);
        if (fd != -1)
            return fd;
        if (errno != EEXIST)
            break;
    }
    int err = errno;
    temp.clear();
    errno = err;
    return -1;
}

// 0 or the errno of the failed sync. Some file systems cannot sync a directory; that is no failure.
int fsync_directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    Fd fd(open_cloexec(dir, O_RDONLY | O_DIRECTORY));
    if (fd.get() != -1 && ::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

// The steps of a whole-file write shared by AtomicFile and the copies, which classify their errors
// with their own repeat advice.
void write_temp(int fd, const std::string& target, int repeat, const char* data, size_t length) {
    if (int err = write_all(fd, data, length))
        raise(repeat, "", "err_filewrite2", target, err);
}

void commit_temp(int& fd, std::string& temp, const std::string& target, int repeat, bool synced) {
    if (synced && ::fsync(fd) != 0)
        raise(repeat, "[fsync] ", "err_filewrite2", target, errno);
    int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
        raise(repeat, "[close] ", "err_filewrite2", target, errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        raise(repeat, "", "err_filewrite2", target, errno);
    temp.clear();
    if (synced) {
        if (int err = fsync_directory_of(target))
            raise(repeat, "[fsync] ", "err_filewrite2", target, err);
    }
}

void abandon_temp(int& fd, std::string& temp) {
    if (fd != -1)
        ::close(fd);
    fd = -1;
    if (!temp.empty())
        ::unlink(temp.c_str());
    temp.clear();
}

class Replacement {
public:
    Replacement(const std::string& target, mode_t mode, int repeat) : target(target), repeat(repeat) {
        fd = create_temp(target, mode, temp);
        if (fd == -1)
            raise(repeat, "", "err_filewrite1", target, errno);
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement() { abandon_temp(fd, temp); }

    void commit(bool synced) { commit_temp(fd, temp, target, repeat, synced); }
    int descriptor() const { return fd; }

private:
    std::string target;
    std::string temp;
    int fd = -1;
    int repeat;
};

// Copies everything readable from `source` to `out`.
void copy_contents(int source, const std::string& from, int out, const std::string& to, int repeat) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(source, buffer, sizeof buffer);
        if (got == -1 && errno == EINTR)
            continue;
        if (got == -1)
            raise(repeat, "", "err_fileread2", from, errno);
        if (got == 0)
            return;
        write_temp(out, to, repeat, buffer, size_t(got));
    }
}

} // namespace

bool exists(const std::string& path) {
    Log::stream log(3, true);
    log << "fileops::exists: " << path;
    if (is_remote(path)) {
        log << "no (not local)";
        return false;
    }
    struct stat st;
    std::string failure;
    bool found = stat_path(path, st, failure);
    if (!failure.empty())
        log << " -  " << failure;
    else
        log << (found ? " - yes" : " - no");
    return found;
}

bool is_directory(const std::string& path) {
    struct stat st;
    std::string failure;
    if (stat_path(path, st, failure))
        return S_ISDIR(st.st_mode);
    if (!failure.empty())
        Log::stream(3, true) << failure;
    return false;
}

bool is_file(const std::string& path) {
    struct stat st;
    std::string failure;
    if (stat_path(path, st, failure))
        return !S_ISDIR(st.st_mode);
    if (!failure.empty())
        Log::stream(3, true) << failure;
    return false;
}

uintmax_t file_size(const std::string& path) {
    return bfs::file_size(path);
}

std::time_t last_write_time(const std::string& path) {
    return bfs::last_write_time(path);
}

std::string basename(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string dirname(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string filename(const std::string& path) {
    return basename(path);
}

std::string parent_path(const std::string& path) {
    return dirname(path);
}

std::string normalize_path(const std::string& path) {
    return path;
}

void add_trailing(std::string& path, char c) {
    if (path.empty() || path.back() != c)
        path += c;
}

void strip_trailing(std::string& path, char c) {
    while (!path.empty() && path.back() == c)
        path.pop_back();
}

namespace {

std::string& cached_home_dir() {
    static std::string home;
    return home;
}

} // namespace

void forget_home_dir() {
    cached_home_dir().clear();
}

std::string get_home_dir() {
    std::string& home = cached_home_dir();
    if (!home.empty())
        return home;

    uid_t uid = geteuid();
    Log::stream(3, true) << "DEBUG: get_home_dir: myUID=" << uid;
    errno = 0;
    const void* record = getpwuid(uid);
    Log::stream(3, true) << "DEBUG: get_home_dir: myPWD=" << record;
    if (!record)
        Log::stream(3, true) << "DEBUG: get_home_dir: Can't get getpwuid: " << strerror(errno);

    std::string found;
    bool listed = false;
    setpwent();
    while (struct passwd* entry = getpwent()) {
        Log::stream(3, true) << "DEBUG: get_home_dir: passwdLine=" << static_cast<const void*>(entry);
        if (entry->pw_uid == uid) {
            Log::stream(3, true) << "DEBUG: get_home_dir: passwdLine not NULL, get value " << entry->pw_dir;
            found = std::string(entry->pw_dir ? entry->pw_dir : "").substr(0, 4095);
            listed = true;
            break;
        }
    }
    if (!listed) {
        if (exists("/root")) {
            found = "/root";
            Log::stream(3, true) << "DEBUG: get_home_dir: passwdLine is NULL, return /root";
        } else {
            found = "/";
            Log::stream(3, true) << "DEBUG: get_home_dir: passwdLine is NULL, return /";
        }
    }
    endpwent();
    Log::stream(3, true) << "DEBUG: get_home_dir: return " << found;
    home = found;
    return home;
}

void rename(const std::string& from, const std::string& to) {
    Log::stream(3, true) << "fileops::rename(" << from << ", " << to << ")";
    bfs::rename(from, to);
}

void remove(const std::string& path) {
    Log::stream(3, true) << "fileops::remove(" << path << ")";
    // A dangling symbolic link is there to be removed too.
    if (!bfs::exists(bfs::symlink_status(path)))
        return;
    boost::system::error_code failure;
    bfs::remove(path, failure);
    if (failure)
        throw error(4, 1, 1, 2) << Messages().format("err_rmfile2", path, failure.message());
}

uintmax_t remove_all(const std::string& path) {
    Log::stream(3, true) << "fileops::remove_all(" << path << ")";
    return bfs::remove_all(path);
}

bool create_directory(const std::string& path) {
    Log::stream(3, true) << "fileops::create_directory(" << path << ")";
    if (exists(path))
        return false;
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end != path.size() && path[end] != '/')
            continue;
        std::string prefix = path.substr(0, end);
        struct stat st;
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (::mkdir(prefix.c_str(), 0755) == 0)
            continue;
        int err = errno;
        // Someone else made it in the meantime.
        if (err == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        Log::stream(1, true) << "Can't create directory " << path << ": error in create " << prefix << ": "
                             << strerror(err);
        raise(1, "", "err_mkdir", path, err);
    }
    return true;
}

void copy_file(const std::string& from, const std::string& to) {
    Log::stream(3, true) << "fileops::copy_file(" << from << ", " << to << ")";
    if (!exists(from))
        throw error(4, 1, 1, 2) << Messages().format("err_copy1", from);
    if (is_directory(from))
        throw error(4, 1, 1, 2) << Messages().format("err_copy2", from, from);

    // A file cannot be renamed over a directory: an empty one makes way, any other stays and refuses.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        remove(to);
        if (exists(to))
            throw error(4, 1, 1, 2) << Messages().format("err_copy3", from, to);
    }

    Fd source(open_cloexec(from, O_RDONLY));
    if (source.get() == -1)
        raise(1, "", "err_fileread1", from, errno);
    Replacement target(to, 0666, 1);
    copy_contents(source.get(), from, target.descriptor(), to, 1);
    target.commit(false);
}

void copy_file_synced(const std::string& from, const std::string& to) {
    Fd source(open_cloexec(from, O_RDONLY));
    if (source.get() == -1)
        raise(2, "", "err_fileread1", from, errno);

    // Replace the file a symbolic link points to, not the link, as writing in place would.
    std::string target_path = to;
    boost::system::error_code failure;
    if (bfs::is_symlink(bfs::symlink_status(to, failure))) {
        bfs::path resolved = bfs::canonical(to, failure);
        if (!failure)
            target_path = resolved.string();
    }
    struct stat existing;
    bool replacing = ::stat(target_path.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode))
        raise(2, "", "err_filewrite1", to, EISDIR);

    if (replacing && !S_ISREG(existing.st_mode)) {
        // A device or a pipe is written in place; renaming over it would replace the node itself.
        Fd out(open_cloexec(target_path, O_WRONLY | O_TRUNC));
        if (out.get() == -1)
            raise(2, "", "err_filewrite1", to, errno);
        copy_contents(source.get(), from, out.get(), to, 2);
        if (::fsync(out.get()) != 0 && errno != EINVAL)
            raise(2, "[fsync] ", "err_filewrite2", to, errno);
        if (::close(out.release()) != 0)
            raise(2, "[close] ", "err_filewrite2", to, errno);
    } else {
        Replacement target(target_path, 0666, 2);
        if (replacing) {
            // Keep what the old file had; changing the owner needs the privileges the installer has as root.
            if (::fchown(target.descriptor(), existing.st_uid, existing.st_gid) != 0 && errno != EPERM)
                raise(2, "", "err_filewrite2", to, errno);
            if (::fchmod(target.descriptor(), existing.st_mode & 07777) != 0)
                raise(2, "", "err_filewrite2", to, errno);
        }
        copy_contents(source.get(), from, target.descriptor(), to, 2);
        target.commit(true);
    }
    if (::close(source.release()) != 0)
        raise(2, "[close] ", "err_fileread2", from, errno);
}

void touch(const std::string& path) {
    int fd = open_cloexec(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd == -1)
        raise(2, "", "err_filewrite1", path, errno);
    if (::close(fd) != 0)
        raise(2, "[close] ", "err_filewrite2", path, errno);
}

AtomicFile::AtomicFile(const std::string& path, mode_t mode) : target(path) {
    temp_fd = create_temp(target, mode, temp);
    if (temp_fd == -1)
        raise(1, "", "err_filewrite1", target, errno);
}

AtomicFile::~AtomicFile() {
    abandon_temp(temp_fd, temp);
}

void AtomicFile::write(const char* data, size_t length) {
    if (temp_fd == -1)
        throw internal_error("common/runtime/fileops", __LINE__);
    write_temp(temp_fd, target, 1, data, length);
}

void AtomicFile::commit(bool synced) {
    if (temp_fd == -1)
        throw internal_error("common/runtime/fileops", __LINE__);
    commit_temp(temp_fd, temp, target, 1, synced);
}

void write_file(const std::string& path, const std::string& content, mode_t mode, bool synced) {
    AtomicFile file(path, mode);
    file.write(content);
    file.commit(synced);
}

namespace {

bool opens_for_writing(const char* mode) {
    return std::strchr(mode, 'w') || std::strchr(mode, 'a');
}

} // namespace

bool read_lines(const std::string& path, std::vector<std::string>& lines) {
    FILE* file = fopen(path.c_str(), "re");
    if (!file)
        return false;
    char* buffer = nullptr;
    size_t capacity = 0;
    for (ssize_t length; (length = getline(&buffer, &capacity, file)) != -1;) {
        if (length > 0 && buffer[length - 1] == '\n')
            --length;
        lines.emplace_back(buffer, static_cast<size_t>(length));
    }
    free(buffer);
    fclose(file);
    return true;
}

File::File(const std::string& path, const char* mode)
    : file(nullptr), path(path), writing(opens_for_writing(mode)) {
    std::string flags = mode;
    if (flags.find('e') == std::string::npos)
        flags += 'e';
    file = fopen(path.c_str(), flags.c_str());
    if (!file)
        raise(1, "", writing ? "err_filewrite1" : "err_fileread1", path, errno);
}

File::File(int fd, const std::string& path, const char* mode)
    : file(nullptr), path(path), writing(opens_for_writing(mode)) {
    int flags = fcntl(fd, F_GETFD);
    if (flags == -1 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == -1 || !(file = fdopen(fd, mode)))
        raise(1, "", writing ? "err_filewrite1" : "err_fileread1", path, errno);
}

File::~File() noexcept(false) {
    // A buffered write or a read that failed earlier only shows in the stream's error flag.
    bool failed_before = ferror(file) != 0;
    int err = 0;
    if (fclose(file) != 0)
        err = errno;
    else if (failed_before)
        err = EIO;
    if (err == 0)
        return;
    error e(4, 1, 1, 2);
    e << Messages().format(writing ? "err_filewrite2" : "err_fileread2", path, strerror(err));
    if (std::uncaught_exceptions() > 0) {
        Log::stream(1, true) << e.getReport();
        return;
    }
    throw e;
}

} // namespace fileops
