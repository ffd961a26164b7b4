#include "common/packages/DependencyFile.h"

#include "common/runtime/error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Hands out fixed-size slots from blocks taken with malloc (or calloc when zero-filled); nothing
// is ever given back, since packages and their files live until the process ends.
template <size_t SlotSize, bool Zeroed> class SlotPool {
public:
    static SlotPool& instance() {
        static SlotPool* pool = new SlotPool;
        return *pool;
    }

    void* take() {
        std::lock_guard<std::mutex> hold(lock);
        if (free_slots == 0) {
            blocks.reserve(blocks.size() + 1);
            void* block = Zeroed ? calloc(block_slots, SlotSize) : malloc(block_slots * SlotSize);
            if (!block)
                throw std::bad_alloc();
            // Kept so that the blocks stay reachable, not to free them.
            blocks.push_back(block);
            next = static_cast<unsigned char*>(block);
            free_slots = block_slots;
        }
        void* slot = next;
        next += SlotSize;
        --free_slots;
        return slot;
    }

private:
    static constexpr size_t block_slots = 0x4000;
    static_assert(SlotSize % alignof(std::max_align_t) == 0, "slots must stay aligned");

    std::mutex lock;
    std::vector<void*> blocks;
    unsigned char* next = nullptr;
    size_t free_slots = 0;
};

constexpr size_t roundedSize(size_t size) {
    return (size + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
}

// Keeps a file entry and its shared-pointer bookkeeping in one pooled slot.
template <typename T> struct EntryAllocator {
    using value_type = T;

    EntryAllocator() = default;
    template <typename U> EntryAllocator(const EntryAllocator<U>&) {}

    T* allocate(size_t count) {
        static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned entry");
        if (count != 1)
            throw internal_error("common/DependencyFile", 170);
        return static_cast<T*>(SlotPool<roundedSize(sizeof(T)), false>::instance().take());
    }
    void deallocate(T*, size_t) {}

    template <typename U> bool operator==(const EntryAllocator<U>&) const { return true; }
    template <typename U> bool operator!=(const EntryAllocator<U>&) const { return false; }
};

using DigestPool = SlotPool<sizeof(DependencyFile::md5rep_t), true>;
static_assert(sizeof(DependencyFile::md5rep_t) == 16, "digest slots are 16 bytes");

uint64_t rotateRight(uint64_t p, int bits) {
    return (p >> bits) | (p << (64 - bits));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

DependencyFile::DependencyFile(const std::string& path, int mode, const std::string& digestOrLink,
                               const Package* master)
    : Dependency(FILE_ENTRY, master), mode(mode) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        base = PooledString(path);
    } else {
        dir = PooledString(path.substr(0, slash + 1));
        base = PooledString(path.substr(slash + 1));
    }
    if (digestOrLink.empty())
        return;
    if (fileType(mode) == REGULAR) {
        // Parsed before a slot is taken, so a bad digest wastes nothing.
        unsigned char digest[16];
        parseMd5(digestOrLink, digest);
        auto* slot = static_cast<md5rep_t*>(DigestPool::instance().take());
        memcpy(slot->bytes, digest, sizeof digest);
        md5 = slot;
    } else {
        link = PooledString(digestOrLink);
    }
}

DependencyFile::DependencyFile(const DependencyFile& other, clone_tag)
    : Dependency(FILE_ENTRY, other.getMaster()), dir(other.dir), base(other.base), mode(12345) {}

std::shared_ptr<DependencyFile> DependencyFile::create(const std::string& path, int mode,
                                                       const std::string& digestOrLink,
                                                       const Package* master) {
    return std::allocate_shared<DependencyFile>(EntryAllocator<DependencyFile>(), path, mode, digestOrLink,
                                                master);
}

DependencyFile::file_type_t DependencyFile::fileType(int mode) {
    switch (mode & 0170000) {
    case 0040000:
        return DIRECTORY;
    case 0120000:
        return SYMLINK;
    case 0020000:
        return CHAR_DEVICE;
    case 0060000:
        return BLOCK_DEVICE;
    case 0140000:
        return SOCKET;
    case 0010000:
        return PIPE;
    default:
        return REGULAR;
    }
}

void DependencyFile::parseMd5(const std::string& text, unsigned char (&digest)[16]) {
    if (text.empty()) {
        memset(digest, 0, sizeof digest);
        return;
    }
    // A 64-digit text is a SHA-256 digest; its first half serves as well for telling files apart.
    if (text.size() != 32 && text.size() != 64)
        throw error(error::internal, 1, 1, 3)
            << "MD5 string size is not 32- " << static_cast<int>(text.size()) << " " << text;
    for (size_t i = 0; i < 32; ++i) {
        int value = hexValue(text[i]);
        if (value < 0) {
            unsigned code = static_cast<unsigned char>(text[i]);
            fprintf(stderr, "%x\n", code);
            throw error(error::internal, 1, 1, 3)
                << "MD5 string contains non-hex symbol: " << text[i] << " (" << static_cast<int>(code) << ")";
        }
        if (i % 2 == 0)
            digest[i / 2] = static_cast<unsigned char>(value << 4);
        else
            digest[i / 2] |= static_cast<unsigned char>(value);
    }
}

std::string DependencyFile::getDigestText() const {
    if (!md5)
        return link.str();
    static const char digits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (size_t i = 0; i < 16; ++i) {
        text[2 * i] = digits[md5->bytes[i] >> 4];
        text[2 * i + 1] = digits[md5->bytes[i] & 0xf];
    }
    return text;
}

std::string DependencyFile::getName() const {
    return std::string(dir.c_str()) + base.c_str();
}

bool DependencyFile::matches(const Dependency* other) const {
    return sameName(other);
}

uint64_t DependencyFile::hash() const {
    return rotateRight(dir.address(), 11) * 5 + rotateRight(base.address(), 13) * 3;
}

bool DependencyFile::sameName(const Dependency* other) const {
    if (other->getKind() != FILE_ENTRY)
        return false;
    const auto* b = static_cast<const DependencyFile*>(other);
    return b->dir == dir && b->base == base;
}

bool DependencyFile::equals(const Dependency* other) const {
    return sameName(other);
}

std::shared_ptr<Dependency> DependencyFile::clone() const {
    return std::allocate_shared<DependencyFile>(EntryAllocator<DependencyFile>(), *this, clone_tag());
}

std::ostream& DependencyFile::print(std::ostream& out) const {
    return out << dir << base;
}
