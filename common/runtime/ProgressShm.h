#pragma once

#include "common/runtime/Lock.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// The status record that other installer processes read from System V shared memory. Its layout is
// shared with every installer version: integers are 32-bit in machine order, texts NUL-terminated.
struct ProgressStatus {
    uint32_t stage;
    uint32_t stage_n;
    char stage_id[80];
    char stage_title[4096];
    uint32_t step;
    uint32_t step_n;
    char step_id[80];
    char step_title[4096];
    uint8_t finished;
    uint8_t failed;
    char error_text[8096];
    char reserved[4096];
};

static_assert(offsetof(ProgressStatus, stage_title) == 88, "status record layout");
static_assert(offsetof(ProgressStatus, step) == 4184, "status record layout");
static_assert(offsetof(ProgressStatus, step_title) == 4272, "status record layout");
static_assert(offsetof(ProgressStatus, finished) == 8368, "status record layout");
static_assert(offsetof(ProgressStatus, error_text) == 8370, "status record layout");
static_assert(offsetof(ProgressStatus, reserved) == 16466, "status record layout");
static_assert(sizeof(ProgressStatus) == 20564, "status record layout");

// Scoped access to the status record, under byte 2 of the instance lock. When the segment cannot be
// had, a record inside this process stands in for it.
class ProgressShm {
public:
    static const int key = 321456;

    ProgressShm();
    ProgressShm(const ProgressShm&) = delete;
    ProgressShm& operator=(const ProgressShm&) = delete;
    ~ProgressShm();

    ProgressStatus* data() { return record; }

    // Stores text cut to the field size minus one byte, the rest of the field zero.
    template <size_t N> static void setText(char (&field)[N], const std::string& text) {
        setText(field, N, text);
    }
    // The text of a field read from the record; another process may have left it unterminated.
    template <size_t N> static std::string getText(const char (&field)[N]) { return getText(field, N); }

private:
    static void setText(char* field, size_t size, const std::string& text);
    static std::string getText(const char* field, size_t size);
    static std::recursive_mutex& threadMutex();
    // The segment's id, or -1 with errno set.
    static int ownSegment();

    // Byte locks do not exclude the threads of one process; this does.
    std::unique_lock<std::recursive_mutex> thread_guard;
    Lock lock;
    int shm_id = -1;
    ProgressStatus* record = nullptr;
    bool attached = false;
};
