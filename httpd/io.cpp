// Linear byte buffers that grow on demand up to IO_LIMIT, and the rings that hold the server's lists.

#include "httpd/internal.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Released buffers of the two common sizes wait here for the next request, so that a busy server does
// not map and fault in fresh pages for every reply, while an idle connection holds no buffer.
struct buffer_pool {
    size_t size;
    int limit;
    int count;
    char* buffers[32];
};

std::mutex pool_lock;
buffer_pool pools[] = {{IO_FIRST_CHUNK, 32, 0, {}}, {IO_LIMIT, 4, 0, {}}};

buffer_pool* pool_of(size_t size) {
    for (buffer_pool& pool : pools)
        if (pool.size == size)
            return &pool;
    return nullptr;
}

char* take_buffer(size_t size) {
    buffer_pool* pool = pool_of(size);
    {
        std::lock_guard<std::mutex> guard(pool_lock);
        if (pool && pool->count > 0)
            return pool->buffers[--pool->count];
    }
    return static_cast<char*>(malloc(size));
}

void give_buffer(char* buffer, size_t size) {
    buffer_pool* pool = pool_of(size);
    {
        std::lock_guard<std::mutex> guard(pool_lock);
        if (pool && pool->count < pool->limit) {
            pool->buffers[pool->count++] = buffer;
            return;
        }
    }
    free(buffer);
}

} // namespace

void list_init(httpd_list* head) {
    head->prev = head->next = head;
}

void list_append(httpd_list* head, httpd_list* entry) {
    entry->prev = head->prev;
    entry->next = head;
    head->prev->next = entry;
    head->prev = entry;
}

void list_remove(httpd_list* entry) {
    entry->prev->next = entry->next;
    entry->next->prev = entry->prev;
    entry->prev = entry->next = entry;
}

size_t io_space_len(const httpd_io* io) {
    return io->size - io->head;
}

size_t io_data_len(const httpd_io* io) {
    return io->head - io->tail;
}

char* io_space(httpd_io* io) {
    return io->buf + io->head;
}

char* io_data(httpd_io* io) {
    return io->buf + io->tail;
}

int io_reserve(httpd_io* io, size_t wanted) {
    if (io->size - io->head >= wanted || io->size >= IO_LIMIT)
        return io->size > io->head ? 0 : -1;
    size_t size = io->size ? io->size : IO_FIRST_CHUNK;
    while (size - io->head < wanted && size < IO_LIMIT)
        size *= 2;
    if (size > IO_LIMIT)
        size = IO_LIMIT;
    // An empty buffer is exchanged, not copied.
    if (io->head == 0 && (size == IO_FIRST_CHUNK || size == IO_LIMIT)) {
        char* fresh = take_buffer(size);
        if (!fresh)
            return io->size > io->head ? 0 : -1;
        if (io->buf)
            give_buffer(io->buf, io->size);
        io->buf = fresh;
        io->size = size;
        return 0;
    }
    char* grown = static_cast<char*>(realloc(io->buf, size));
    if (!grown)
        return io->size > io->head ? 0 : -1;
    io->buf = grown;
    io->size = size;
    return 0;
}

void io_inc_head(httpd_io* io, size_t n) {
    io->head += n;
    io->total += n;
}

void io_inc_tail(httpd_io* io, size_t n) {
    io->tail += n;
    if (io->tail >= io->head)
        io->head = io->tail = 0;
}

void io_clear(httpd_io* io) {
    io->head = io->tail = io->total = 0;
}

void io_release(httpd_io* io) {
    if (io->buf)
        give_buffer(io->buf, io->size);
    io->buf = nullptr;
    io->size = io->head = io->tail = 0;
}

int io_printf(httpd_io* io, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0 || io_reserve(io, static_cast<size_t>(n) + 1) != 0) {
        va_end(args);
        return 0;
    }
    size_t room = io_space_len(io);
    vsnprintf(io_space(io), room, format, args);
    va_end(args);
    size_t added = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
    io_inc_head(io, added);
    return static_cast<int>(added);
}
