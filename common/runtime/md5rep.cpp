#include "common/runtime/md5rep.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace util {

namespace {

const unsigned char padding[64] = {0x80};

inline uint32_t rotate_left(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (~x & z);
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
    return (x & z) | (y & ~z);
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

template <uint32_t (*Round)(uint32_t, uint32_t, uint32_t)>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = b + rotate_left(a + Round(b, c, d) + x + t, s);
}

void encode(unsigned char* out, const uint32_t* in, unsigned length) {
    for (unsigned i = 0, j = 0; j < length; ++i, j += 4) {
        out[j] = static_cast<unsigned char>(in[i]);
        out[j + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[j + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[j + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

} // namespace

void md5_init(md5_context& context) {
    context.count[0] = context.count[1] = 0;
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
}

void md5_transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;

    step<F>(a, b, c, d, x[0], 7, 0xd76aa478);
    step<F>(d, a, b, c, x[1], 12, 0xe8c7b756);
    step<F>(c, d, a, b, x[2], 17, 0x242070db);
    step<F>(b, c, d, a, x[3], 22, 0xc1bdceee);
    step<F>(a, b, c, d, x[4], 7, 0xf57c0faf);
    step<F>(d, a, b, c, x[5], 12, 0x4787c62a);
    step<F>(c, d, a, b, x[6], 17, 0xa8304613);
    step<F>(b, c, d, a, x[7], 22, 0xfd469501);
    step<F>(a, b, c, d, x[8], 7, 0x698098d8);
    step<F>(d, a, b, c, x[9], 12, 0x8b44f7af);
    step<F>(c, d, a, b, x[10], 17, 0xffff5bb1);
    step<F>(b, c, d, a, x[11], 22, 0x895cd7be);
    step<F>(a, b, c, d, x[12], 7, 0x6b901122);
    step<F>(d, a, b, c, x[13], 12, 0xfd987193);
    step<F>(c, d, a, b, x[14], 17, 0xa679438e);
    step<F>(b, c, d, a, x[15], 22, 0x49b40821);

    step<G>(a, b, c, d, x[1], 5, 0xf61e2562);
    step<G>(d, a, b, c, x[6], 9, 0xc040b340);
    step<G>(c, d, a, b, x[11], 14, 0x265e5a51);
    step<G>(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    step<G>(a, b, c, d, x[5], 5, 0xd62f105d);
    step<G>(d, a, b, c, x[10], 9, 0x02441453);
    step<G>(c, d, a, b, x[15], 14, 0xd8a1e681);
    step<G>(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    step<G>(a, b, c, d, x[9], 5, 0x21e1cde6);
    step<G>(d, a, b, c, x[14], 9, 0xc33707d6);
    step<G>(c, d, a, b, x[3], 14, 0xf4d50d87);
    step<G>(b, c, d, a, x[8], 20, 0x455a14ed);
    step<G>(a, b, c, d, x[13], 5, 0xa9e3e905);
    step<G>(d, a, b, c, x[2], 9, 0xfcefa3f8);
    step<G>(c, d, a, b, x[7], 14, 0x676f02d9);
    step<G>(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    step<H>(a, b, c, d, x[5], 4, 0xfffa3942);
    step<H>(d, a, b, c, x[8], 11, 0x8771f681);
    step<H>(c, d, a, b, x[11], 16, 0x6d9d6122);
    step<H>(b, c, d, a, x[14], 23, 0xfde5380c);
    step<H>(a, b, c, d, x[1], 4, 0xa4beea44);
    step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9);
    step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60);
    step<H>(b, c, d, a, x[10], 23, 0xbebfbc70);
    step<H>(a, b, c, d, x[13], 4, 0x289b7ec6);
    step<H>(d, a, b, c, x[0], 11, 0xeaa127fa);
    step<H>(c, d, a, b, x[3], 16, 0xd4ef3085);
    step<H>(b, c, d, a, x[6], 23, 0x04881d05);
    step<H>(a, b, c, d, x[9], 4, 0xd9d4d039);
    step<H>(d, a, b, c, x[12], 11, 0xe6db99e5);
    step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8);
    step<H>(b, c, d, a, x[2], 23, 0xc4ac5665);

    step<I>(a, b, c, d, x[0], 6, 0xf4292244);
    step<I>(d, a, b, c, x[7], 10, 0x432aff97);
    step<I>(c, d, a, b, x[14], 15, 0xab9423a7);
    step<I>(b, c, d, a, x[5], 21, 0xfc93a039);
    step<I>(a, b, c, d, x[12], 6, 0x655b59c3);
    step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92);
    step<I>(c, d, a, b, x[10], 15, 0xffeff47d);
    step<I>(b, c, d, a, x[1], 21, 0x85845dd1);
    step<I>(a, b, c, d, x[8], 6, 0x6fa87e4f);
    step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    step<I>(c, d, a, b, x[6], 15, 0xa3014314);
    step<I>(b, c, d, a, x[13], 21, 0x4e0811a1);
    step<I>(a, b, c, d, x[4], 6, 0xf7537e82);
    step<I>(d, a, b, c, x[11], 10, 0xbd3af235);
    step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    step<I>(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void md5_update(md5_context& context, const char* data, unsigned length) {
    const unsigned char* input = reinterpret_cast<const unsigned char*>(data);
    unsigned index = (context.count[0] >> 3) & 0x3f;
    uint32_t added_bits = uint32_t(length) << 3;
    context.count[0] += added_bits;
    if (context.count[0] < added_bits)
        ++context.count[1];
    context.count[1] += uint32_t(length) >> 29;

    unsigned part = 64 - index;
    unsigned i = 0;
    if (length >= part) {
        memcpy(&context.buffer[index], input, part);
        md5_transform(context.state, context.buffer);
        for (i = part; i + 63 < length; i += 64)
            md5_transform(context.state, &input[i]);
        index = 0;
    }
    if (length > i)
        memcpy(&context.buffer[index], &input[i], length - i);
}

void md5_final(unsigned char digest[16], md5_context& context) {
    unsigned char bits[8];
    encode(bits, context.count, 8);
    unsigned index = (context.count[0] >> 3) & 0x3f;
    unsigned pad_length = index < 56 ? 56 - index : 120 - index;
    md5_update(context, reinterpret_cast<const char*>(padding), pad_length);
    md5_update(context, reinterpret_cast<const char*>(bits), 8);
    encode(digest, context.state, 16);
    memset(&context, 0, sizeof context);
}

namespace {

void write_hex(const unsigned char digest[16], char* buffer) {
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        buffer[2 * i] = hex[digest[i] >> 4];
        buffer[2 * i + 1] = hex[digest[i] & 0x0f];
    }
}

// The digest text into `buffer`, or into a new malloc(3) block when it is null.
char* hex_text(const unsigned char digest[16], char* buffer) {
    if (!buffer) {
        buffer = static_cast<char*>(malloc(33));
        if (!buffer)
            return nullptr;
    }
    write_hex(digest, buffer);
    buffer[32] = '\0';
    return buffer;
}

} // namespace

char* md5_hex(md5_context& context, char* buffer) {
    unsigned char digest[16];
    md5_final(digest, context);
    return hex_text(digest, buffer);
}

std::string md5ToHex(const unsigned char digest[16]) {
    std::string text(32, '0');
    write_hex(digest, &text[0]);
    return text;
}

char* md5_file(const char* path, char* buffer) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return nullptr;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // OpenSSL's digest is hand-tuned for the processor; files are where the bulk of hashing happens.
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    bool failed = !context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1;
    std::vector<char> block(256 * 1024);
    while (!failed) {
        const ssize_t got = read(fd, block.data(), block.size());
        if (got == 0)
            break;
        if (got < 0) {
            // A digest of part of the file would pass for the digest of all of it.
            failed = errno != EINTR;
            continue;
        }
        failed = EVP_DigestUpdate(context.get(), block.data(), size_t(got)) != 1;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    failed = failed || EVP_DigestFinal_ex(context.get(), digest, nullptr) != 1;
    const int saved = errno;
    close(fd);
    errno = saved;
    if (failed)
        return nullptr;
    return hex_text(digest, buffer);
}

std::string md5_file_string(const std::string& path) {
    char buffer[33];
    return md5_file(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

} // namespace util
