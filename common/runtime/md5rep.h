#pragma once

#include <cstdint>
#include <string>

// MD5 message digest (RFC 1321). Digest texts are 32 lower-case hexadecimal digits and a zero byte.
namespace util {

struct md5_context {
    uint32_t state[4]; // A, B, C, D
    uint32_t count[2]; // bits hashed so far, modulo 2^64, low word first
    unsigned char buffer[64];
};

void md5_init(md5_context& context);
void md5_update(md5_context& context, const char* data, unsigned length);
// Writes the digest and clears the context.
void md5_final(unsigned char digest[16], md5_context& context);
void md5_transform(uint32_t state[4], const unsigned char block[64]);

// Finalises the context and writes its 33-byte text into `buffer`, or into a new malloc(3) block
// that the caller frees when `buffer` is null (null when that allocation fails).
char* md5_hex(md5_context& context, char* buffer);
// The digest text of a file's contents, written as md5_hex does; null when the file cannot be opened.
char* md5_file(const char* path, char* buffer);
// "" when the file cannot be opened.
std::string md5_file_string(const std::string& path);
// The digest as a digest text, without the zero byte.
std::string md5ToHex(const unsigned char digest[16]);

} // namespace util
