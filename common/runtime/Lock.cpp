#include "common/runtime/Lock.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

const char* const Lock::file_name = "/tmp/zeq-installer.lock";

namespace {

// Process-wide state. A byte is unlocked only when its last holder in this process goes: record
// locks do not count, so releasing one of two holders would otherwise drop the lock for both.
// Record locks are not inherited by fork: a child starts with no holders of its own.
struct LockState {
    std::mutex guard;
    int lock_fd = -1;
    int holder_count = 0;
    int byte_holders[Lock::byte_count] = {};
    pid_t owner = 0;
    unsigned generation = 0;
};

LockState& state() {
    static LockState* instance = new LockState;
    return *instance;
}

// Called with the guard held, before the state is used.
LockState& ownState(LockState& s) {
    if (s.owner != getpid()) {
        s.owner = getpid();
        s.holder_count = 0;
        for (int& count : s.byte_holders)
            count = 0;
        ++s.generation;
    }
    return s;
}

void checkSemnum(unsigned semnum) {
    if (semnum >= Lock::byte_count)
        throw error(3, 1, 1, 3) << Messages().getMessage("err_bad_semnum");
}

struct flock byteLock(short type, unsigned semnum) {
    struct flock request;
    memset(&request, 0, sizeof request);
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_start = static_cast<off_t>(semnum);
    request.l_len = 1;
    return request;
}

error systemError(int e_class, int repeat, int state, int support, const char* key, int saved_errno) {
    return error(e_class, repeat, state, support)
           << Messages().format(key, Lock::file_name, strerror(saved_errno));
}

} // namespace

Lock::Lock(unsigned semnum, bool wait) : semnum(semnum) {
    LockState& s = state();
    std::lock_guard<std::mutex> hold(s.guard);
    ownState(s);
    generation = s.generation;
    checkSemnum(semnum);
    if (s.lock_fd == -1)
        openFile();
    if (s.byte_holders[semnum] == 0) {
        try {
            if (wait) {
                lockWait(semnum);
            } else if (tryLock(semnum) != 0) {
                throw error(4, 2, 1, 1) << Messages().getMessage("err_lock_locked");
            }
        } catch (...) {
            if (s.holder_count == 0)
                try {
                    closeFile();
                } catch (const error&) {
                    // closeFile has logged it; the first failure is the one to report.
                }
            throw;
        }
    }
    ++s.byte_holders[semnum];
    ++s.holder_count;
}

Lock::~Lock() {
    LockState& s = state();
    std::lock_guard<std::mutex> hold(s.guard);
    ownState(s);
    if (s.lock_fd == -1 || generation != s.generation)
        return;
    try {
        if (--s.byte_holders[semnum] == 0)
            unlock(semnum);
    } catch (const error& e) {
        Log::stream(1, true) << e.getText();
    }
    if (--s.holder_count == 0) {
        try {
            closeFile();
        } catch (const error&) {
            // Already logged; a destructor must not throw.
        }
    }
}

int Lock::test(unsigned semnum) {
    LockState& s = state();
    std::lock_guard<std::mutex> hold(s.guard);
    ownState(s);
    checkSemnum(semnum);
    if (s.lock_fd == -1)
        openFile();
    struct flock request = byteLock(F_WRLCK, semnum);
    if (fcntl(s.lock_fd, F_GETLK, &request) != 0)
        throw systemError(4, 2, 1, 2, "err_lock_test", errno);
    return request.l_type == F_UNLCK ? 0 : static_cast<int>(request.l_pid);
}

namespace {

// Only a file of our own that nobody else may open can carry the locks: another user could hold a
// byte of any other file, or a file he made, for ever.
bool trustworthy(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0 &&
           info.st_nlink == 1;
}

// Removes a squatted lock file, unless the name has meanwhile been given to another file.
bool removeSquatted(const struct stat& opened) {
    struct stat named;
    if (lstat(Lock::file_name, &named) == 0 &&
        (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino))
        return true;
    Log::stream(1, true) << "Warning: " << Lock::file_name << " belongs to user " << opened.st_uid
                         << " with mode " << std::oct << (opened.st_mode & 07777) << std::dec
                         << "; it is removed and made again.";
    return unlink(Lock::file_name) == 0 || errno == ENOENT;
}

} // namespace

void Lock::openFile() {
    LockState& s = state();
    // The second round opens the file made after a squatted one was removed.
    for (int round = 0; round < 2; ++round) {
        // No symbolic links (the directory is world-writable) and no blocking on a FIFO put in its place.
        const int fd = open(file_name, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd == -1)
            throw systemError(4, 1, 1, 2, "err_lock_file", errno);
        struct stat info;
        if (fstat(fd, &info) != 0) {
            const int saved = errno;
            close(fd);
            throw systemError(4, 1, 1, 2, "err_lock_file", saved);
        }
        if (trustworthy(info)) {
            s.lock_fd = fd;
            return;
        }
        close(fd);
        if (!removeSquatted(info))
            throw systemError(4, 1, 1, 2, "err_lock_file", errno);
    }
    throw systemError(4, 1, 1, 2, "err_lock_file", EPERM);
}

void Lock::closeFile() {
    LockState& s = state();
    const int fd = s.lock_fd;
    s.lock_fd = -1;
    for (int& count : s.byte_holders)
        count = 0;
    if (close(fd) != 0) {
        const int saved = errno;
        Log::stream(1, true) << Messages().format("err_lock_shutdown", file_name) << strerror(saved);
        throw error(4, 1, 1, 1) << Messages().format("err_lock_shutdown", file_name);
    }
}

void Lock::lockWait(unsigned semnum) {
    checkSemnum(semnum);
    struct flock request = byteLock(F_WRLCK, semnum);
    while (fcntl(state().lock_fd, F_SETLKW, &request) != 0) {
        if (errno != EINTR)
            throw systemError(4, 2, 1, 2, "err_lock_failed", errno);
        errno = 0;
    }
}

int Lock::tryLock(unsigned semnum) {
    checkSemnum(semnum);
    struct flock request = byteLock(F_WRLCK, semnum);
    while (fcntl(state().lock_fd, F_SETLK, &request) != 0) {
        if (errno == EAGAIN || errno == EACCES)
            return 1;
        if (errno != EINTR)
            throw systemError(4, 2, 1, 2, "err_lock_failed", errno);
    }
    return 0;
}

void Lock::unlock(unsigned semnum) {
    checkSemnum(semnum);
    struct flock request = byteLock(F_UNLCK, semnum);
    while (fcntl(state().lock_fd, F_SETLK, &request) != 0) {
        if (errno != EINTR)
            throw systemError(4, 1, 1, 2, "err_unlock_failed", errno);
    }
}
