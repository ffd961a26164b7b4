#include "common/runtime/SecureRandom.h"

#include "common/runtime/error.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace secure_random {

namespace {

void fill(unsigned char* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = getrandom(bytes + done, count - done, 0);
        if (got > 0)
            done += static_cast<size_t>(got);
        else if (got == -1 && errno != EINTR)
            throw error(error::system, 1, 1, 2)
                << "Unable to read the kernel's random source: " << std::strerror(errno);
    }
}

} // namespace

std::string letters(size_t count) {
    std::string text;
    unsigned char bytes[64];
    while (text.size() < count) {
        fill(bytes, sizeof bytes);
        // 234 = 9 * 26: larger bytes are dropped so that every letter is equally likely.
        for (size_t i = 0; i < sizeof bytes && text.size() < count; ++i)
            if (bytes[i] < 234)
                text += static_cast<char>('a' + bytes[i] % 26);
    }
    return text;
}

} // namespace secure_random
