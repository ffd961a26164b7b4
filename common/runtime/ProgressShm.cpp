#include "common/runtime/ProgressShm.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

ProgressStatus* fallbackRecord() {
    static std::unique_ptr<ProgressStatus> record;
    if (!record)
        record = std::make_unique<ProgressStatus>();
    return record.get();
}

} // namespace

// Only a segment that we made and that nobody else may attach holds the record: another user could
// read it and forge what status queries show. Any other segment under the key is removed (only its
// present users keep it) and a new one made.
int ProgressShm::ownSegment() {
    const int id = shmget(key, sizeof(ProgressStatus), IPC_CREAT | 0600);
    if (id == -1)
        return id;
    shmid_ds info;
    if (shmctl(id, IPC_STAT, &info) != 0)
        return -1;
    if (info.shm_perm.uid == geteuid() && info.shm_perm.cuid == geteuid() && (info.shm_perm.mode & 077) == 0)
        return id;
    Log::stream(1, true) << "Warning: the shared status segment belongs to user " << info.shm_perm.uid
                         << " with mode " << std::oct << (info.shm_perm.mode & 0777) << std::dec
                         << "; it is removed and made again.";
    if (shmctl(id, IPC_RMID, nullptr) != 0)
        return -1;
    return shmget(key, sizeof(ProgressStatus), IPC_CREAT | IPC_EXCL | 0600);
}

std::recursive_mutex& ProgressShm::threadMutex() {
    static std::recursive_mutex* mutex = new std::recursive_mutex;
    return *mutex;
}

ProgressShm::ProgressShm() : thread_guard(threadMutex()), lock(2, true) {
    shm_id = ownSegment();
    if (shm_id == -1) {
        const int saved = errno;
        Log::stream(0, true) << "Error: Can't create/access to shm segment: " << strerror(saved);
        Log::stream(0, true) << "Remove status reporter feature will unavailable.";
        record = fallbackRecord();
        return;
    }
    void* address = shmat(shm_id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        const int saved = errno;
        throw error(4, 1, 1, 2) << "Can't access to shm segment: " << strerror(saved);
    }
    record = static_cast<ProgressStatus*>(address);
    attached = true;
}

ProgressShm::~ProgressShm() {
    if (attached && shmdt(record) != 0) {
        const int saved = errno;
        Log::stream(0, true) << "Warning: shmdt error: " << strerror(saved);
    }
}

void ProgressShm::setText(char* field, size_t size, const std::string& text) {
    const size_t length = std::min(text.size(), size - 1);
    memcpy(field, text.data(), length);
    memset(field + length, 0, size - length);
}

std::string ProgressShm::getText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}
