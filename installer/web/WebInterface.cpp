#include "installer/web/WebInterface.h"

#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

const char* const WebInterface::secretVariable = "WEB_SECRET";

namespace {

// 28 letters carry more than 128 bits.
const size_t secret_length = 28;

unsigned char randomByte() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t got = getrandom(&byte, 1, 0);
        if (got == 1)
            return byte;
        if (got == -1 && errno != EINTR)
            throw error(error::system, 1, 1, 2)
                << "Unable to read the kernel's random source: " << std::strerror(errno);
    }
}

} // namespace

std::string WebInterface::generateSecret() {
    std::string secret;
    while (secret.size() < secret_length) {
        // 234 = 9 * 26: larger bytes are dropped so that every letter is equally likely.
        const unsigned char byte = randomByte();
        if (byte < 234)
            secret += static_cast<char>('a' + byte % 26);
    }
    util::set_env(secretVariable, secret);
    return secret;
}
