#include "installer/patches/MUEntityFile.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/sources/FileFetcher.h"

#include <boost/filesystem/operations.hpp>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

namespace {

const char* const unit = "installer/MUEntityFile";

// The directory a file of that absolute path lies in.
std::string directoryOf(const std::string& path) {
    const std::string dir = fileops::dirname(path);
    return dir.empty() ? "/" : dir;
}

// Looks an entry up with getpwnam_r or getgrnam_r, growing the buffer while it is too small.
// False when there is no such entry.
// Only the ids of the entry are used afterwards: its strings live in the buffer.
template <typename Entry, typename Lookup>
bool lookUp(Lookup lookup, const std::string& name, Entry& entry, int internalLine) {
    std::vector<char> buffer(4096);
    for (;;) {
        Entry* found = nullptr;
        const int result = lookup(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (result == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != 0)
            throw internal_error(unit, internalLine);
        if (!found)
            return false;
        return true;
    }
}

// Removes the temporary file unless it was renamed over the target.
class TempFile {
public:
    explicit TempFile(const std::string& path) : path(path) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!kept)
            ::unlink(path.c_str());
    }
    void keep() { kept = true; }

    const std::string path;

private:
    bool kept = false;
};

// Raises the text followed by the system's text for the current errno.
[[noreturn]] void raiseSystemError(const std::string& text) {
    const int cause = errno;
    throw error(4, 2, 2, 2) << text << strerror(cause);
}

std::string octal(int value) {
    std::ostringstream text;
    text << '0' << std::oct << value;
    return text.str();
}

} // namespace

MUEntityFile::MUEntityFile(FileFetcher* fetcher, const std::string& name, const std::string& target,
                           const std::string& md5, bool createNew, const counter_ptr& steps,
                           const counter_ptr& files)
    : MUEntity(steps), fetcher(fetcher), name(name), target(target), md5(md5), createNew(createNew),
      files(files) {}

std::vector<std::string>& MUEntityFile::patchedFiles() {
    static std::vector<std::string> written;
    return written;
}

void MUEntityFile::setPermissions(const std::string& newOwner, const std::string& newGroup, int set,
                                  int clear) {
    owner = newOwner;
    group = newGroup;
    setBits = set;
    clearBits = clear;
}

void MUEntityFile::check() {
    files->incTotal();
    state = state_checked;
}

void MUEntityFile::prepare() {
    localPath = fetcher->getFile(name, md5, "");
    steps->incTotal();
    state = state_prepared;
}

void MUEntityFile::apply() {
    if (shouldApply()) {
        steps->step(stepText("mu_patching_file", target));
        state = state_failed;
        replaceTarget();
        state = state_applied;
    } else {
        state = state_skipped;
        steps->step(stepText("mu_skipping_file", target));
    }
}

bool MUEntityFile::shouldApply() {
    namespace bfs = boost::filesystem;
    try {
        if (createNew) {
            if (!bfs::is_directory(directoryOf(target))) {
                Log::stream(2, true) << "Skip '" << target << "' creation, directory does not exist";
                return false;
            }
        } else if (!bfs::exists(target)) {
            Log::stream(2, true) << "Skip '" << target << "' replacement, it does not exist";
            return false;
        }
    } catch (const bfs::filesystem_error& e) {
        Log::stream(1, true) << e.what();
        return false;
    }
    parseUnixPermissions();
    return true;
}

void MUEntityFile::parseUnixPermissions() {
    mode = 0644;
    uid = -1;
    gid = -1;
    destination = target;
    struct stat st;
    bool existing = ::lstat(target.c_str(), &st) == 0;
    if (existing && S_ISLNK(st.st_mode)) {
        // The file the link points to is replaced, with its own mode and owner; a dangling link
        // is replaced by a new file.
        std::unique_ptr<char, decltype(&free)> resolved(realpath(target.c_str(), nullptr), &free);
        existing = resolved && ::stat(resolved.get(), &st) == 0;
        if (existing)
            destination = resolved.get();
    }
    if (existing) {
        mode = st.st_mode & 07777;
        uid = static_cast<int>(st.st_uid);
        gid = static_cast<int>(st.st_gid);
    }

    if (setBits & clearBits)
        throw internal_error(unit, 138);
    mode = (mode | setBits) & ~clearBits;

    if (!owner.empty()) {
        struct passwd user;
        if (!lookUp(getpwnam_r, owner, user, 79))
            throw error(4, 2, 2, 2) << "User named '" << owner << "' does not exist on this system.";
        uid = static_cast<int>(user.pw_uid);
    }
    if (!group.empty()) {
        struct group entry;
        if (!lookUp(getgrnam_r, group, entry, 112))
            throw error(4, 2, 2, 2) << "Group named '" << group << "' does not exist on this system.";
        gid = static_cast<int>(entry.gr_gid);
    }
    Log::stream(3, true) << "DEBUG: parseUnixPermissions: mode=" << octal(mode)
                         << ", uid=" << static_cast<unsigned>(uid) << ", gid=" << static_cast<unsigned>(gid);
}

void MUEntityFile::replaceTarget() {
    std::string pattern = directoryOf(destination) + "/updateXXXXXX";
    const int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd == -1)
        raiseSystemError("Can't generate unique file name with mkstemp: ");
    TempFile temp(pattern);
    ::close(fd);

    fileops::copy_file_synced(localPath, temp.path);
    if ((uid != -1 || gid != -1) && ::chown(temp.path.c_str(), uid, gid) != 0)
        raiseSystemError("Can't change file ownership for " + temp.path + ": ");
    if (::chmod(temp.path.c_str(), static_cast<mode_t>(mode)) != 0)
        raiseSystemError("Can't change file mode for " + temp.path + ": ");
    if (::rename(temp.path.c_str(), destination.c_str()) != 0)
        raiseSystemError("Can't overwrite " + target + ": ");
    temp.keep();
    patchedFiles().push_back(destination);
}
