#pragma once

#include <string>

// A scoped write lock on one byte of the instance lock file, shared by every installer process on the
// machine. Byte 0 keeps the installer a single instance, byte 2 guards the shared status record, byte 1
// is reserved. The locks exclude other processes only.
class Lock {
public:
    static const char* const file_name;
    static const unsigned byte_count = 3;

    // Without `wait`, a byte held by another process raises err_lock_locked (4, 2, 1, 1) at once.
    Lock(unsigned semnum, bool wait);
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock();

    // The id of the process that holds the byte, or 0 when no other process holds it.
    static int test(unsigned semnum);

private:
    // The steps of the operations above; the caller holds the process-wide state lock.
    static void openFile();
    static void closeFile();
    static void lockWait(unsigned semnum);
    // 0 taken, 1 held by another process.
    static int tryLock(unsigned semnum);
    static void unlock(unsigned semnum);

    unsigned semnum;
    // Which process's holders this object counts among; a copy inherited by a forked child holds nothing.
    unsigned generation = 0;
};
