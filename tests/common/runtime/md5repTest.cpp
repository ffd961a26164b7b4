#include "common/runtime/md5rep.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string md5_of(const std::string& data) {
    util::md5_context context;
    util::md5_init(context);
    util::md5_update(context, data.data(), unsigned(data.size()));
    char text[33];
    util::md5_hex(context, text);
    return text;
}

std::string reference_md5(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0f];
    }
    return text;
}

std::string pseudo_random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = char(generator());
    return data;
}

TEST(Md5Test, TestSuiteOfTheStandard) {
    struct Case {
        const char* message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(md5_of(c.message), c.digest) << '"' << c.message << '"';
}

// Every length around the padding and block boundaries, fed whole and in uneven chunks.
TEST(Md5Test, PaddingAndChunksAtEveryBoundary) {
    const std::string data = pseudo_random_bytes(300, 1);
    for (size_t length = 0; length <= data.size(); ++length) {
        std::string message = data.substr(0, length);
        std::string expected = reference_md5(message);
        ASSERT_EQ(md5_of(message), expected) << "length " << length;

        util::md5_context context;
        util::md5_init(context);
        for (size_t at = 0, chunk = 1; at < length; at += chunk, chunk = chunk % 70 + 13)
            util::md5_update(context, message.data() + at, unsigned(std::min(chunk, length - at)));
        char text[33];
        util::md5_hex(context, text);
        ASSERT_EQ(text, expected) << "chunks, length " << length;
    }
}

TEST(Md5Test, FinalClearsTheContext) {
    util::md5_context context;
    util::md5_init(context);
    util::md5_update(context, "abc", 3);
    unsigned char digest[16];
    util::md5_final(digest, context);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&context);
    for (size_t i = 0; i < sizeof context; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(Md5Test, HexIntoANewBuffer) {
    util::md5_context context;
    util::md5_init(context);
    util::md5_update(context, "abc", 3);
    char* text = util::md5_hex(context, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "900150983cd24fb0d6963f7d28e17f72");
    free(text);
}

TEST(Md5Test, FilesAcrossReadBlockBoundaries) {
    TempDir dir;
    const std::string data = pseudo_random_bytes(3 * 8192 + 1, 2);
    for (size_t size :
         {size_t(0), size_t(3), size_t(8191), size_t(8192), size_t(8193), 3 * size_t(8192) + 1}) {
        std::string path = dir.file("f" + std::to_string(size));
        writeFile(path, data.substr(0, size));
        EXPECT_EQ(util::md5_file_string(path), reference_md5(data.substr(0, size))) << size;
    }
    writeFile(dir.file("abc"), "abc");
    char buffer[33];
    EXPECT_EQ(util::md5_file(dir.file("abc").c_str(), buffer), buffer);
    EXPECT_STREQ(buffer, "900150983cd24fb0d6963f7d28e17f72");
    char* fresh = util::md5_file(dir.file("abc").c_str(), nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_STREQ(fresh, "900150983cd24fb0d6963f7d28e17f72");
    free(fresh);
}

TEST(Md5Test, MissingOrUnreadableFiles) {
    TempDir dir;
    char buffer[33];
    EXPECT_EQ(util::md5_file(dir.file("none").c_str(), buffer), nullptr);
    EXPECT_EQ(util::md5_file_string(dir.file("none")), "");
    // A directory opens but cannot be read: no digest of "nothing read" may come back.
    EXPECT_EQ(util::md5_file(dir.path().c_str(), buffer), nullptr);
    EXPECT_EQ(util::md5_file_string(dir.path()), "");
}

TEST(Md5Test, LargeFileAgreesWithMd5sum) {
    TempDir dir;
    std::string path = dir.file("large");
    writeFile(path, pseudo_random_bytes(5 * 1024 * 1024 + 777, 3));
    FILE* pipe = popen(("md5sum '" + path + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(util::md5_file_string(path), std::string(line, 32));
}

TEST(Md5Test, DigestBytesAsText) {
    const unsigned char digest[16] = {0x00, 0x0f, 0xf0, 0xff, 0x01, 0x10, 0xab, 0xcd,
                                      0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xe9};
    EXPECT_EQ(util::md5ToHex(digest), "000ff0ff0110abcd123456789abcdee9");
}

} // namespace
