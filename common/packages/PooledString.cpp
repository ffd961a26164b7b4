#include "common/packages/PooledString.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_set>

namespace {

// Interned texts live in chunks that are never given back; a text that does not fit in a chunk
// of its own gets a block of its own.
class StringArena {
public:
    const char* copy(const char* text, size_t length) {
        size_t needed = (length + 1 + 3) & ~size_t(3);
        char* target;
        if (needed > chunk_size) {
            target = take(needed);
        } else {
            if (left < needed) {
                current = take(chunk_size);
                left = chunk_size;
            }
            target = current;
            current += needed;
            left -= needed;
        }
        memcpy(target, text, length);
        target[length] = '\0';
        return target;
    }

private:
    static constexpr size_t chunk_size = 0x10000;

    static char* take(size_t size) {
        void* block = malloc(size);
        if (!block)
            throw std::bad_alloc();
        return static_cast<char*>(block);
    }

    char* current = nullptr;
    size_t left = 0;
};

struct Pool {
    std::mutex lock;
    StringArena arena;
    std::unordered_set<std::string_view> texts;
};

// Never destroyed: handles stay valid while static objects are torn down at exit.
Pool& pool() {
    static Pool* instance = new Pool;
    return *instance;
}

} // namespace

PooledString::PooledString() {
    static const char* const empty = intern("", 0);
    text = empty;
}

PooledString::PooledString(const char* text) : text(intern(text ? text : "", text ? strlen(text) : 0)) {}

PooledString::PooledString(const std::string& text) : text(intern(text.data(), text.size())) {}

const char* PooledString::intern(const char* text, size_t length) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    std::string_view key(text, length);
    auto found = p.texts.find(key);
    if (found != p.texts.end())
        return found->data();
    const char* stored = p.arena.copy(text, length);
    p.texts.insert(std::string_view(stored, length));
    return stored;
}

std::ostream& operator<<(std::ostream& out, const PooledString& text) {
    return out << text.c_str();
}
