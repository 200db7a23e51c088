#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/LibMD5.h"
#include "remote/protocols/HmacMd5.h"
#include "remote/protocols/Md4.h"

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string hex(const uint8_t* d, size_t n = 16) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[d[i] >> 4];
        out += digits[d[i] & 15];
    }
    return out;
}

}  // namespace

// RFC 2202's test cases for HMAC-MD5, including keys longer than a block.
TEST(HmacMd5Test, Rfc2202Vectors) {
    struct Case {
        std::vector<uint8_t> key, data;
        const char* digest;
    };
    const std::vector<Case> cases = {
        {std::vector<uint8_t>(16, 0x0b), bytes("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {bytes("Jefe"), bytes("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {std::vector<uint8_t>(16, 0xaa), std::vector<uint8_t>(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6"},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d,
          0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19},
         std::vector<uint8_t>(50, 0xcd),
         "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::vector<uint8_t>(16, 0x0c), bytes("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        {std::vector<uint8_t>(80, 0xaa), bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::vector<uint8_t>(80, 0xaa),
         bytes("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        uint8_t out[16];
        hmacMd5(cases[i].data.data(), cases[i].data.size(), cases[i].key.data(), cases[i].key.size(), out);
        EXPECT_EQ(hex(out), cases[i].digest) << "case " << i + 1;
    }
}

// RFC 1320's test suite, and the same digest whether the bytes come in one
// piece or in pieces that straddle the 64-byte blocks.
TEST(HmacMd5Test, Md4Rfc1320VectorsAndPiecewiseInput) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& [text, digest] : cases) {
        uint8_t out[16];
        Md4::digest(text.data(), text.size(), out);
        EXPECT_EQ(hex(out), digest) << "\"" << text << "\"";
    }

    std::string long1000(1000, 'x');
    for (size_t i = 0; i < long1000.size(); ++i) long1000[i] = char('a' + i * 7 % 26);
    uint8_t whole[16], pieces[16];
    Md4::digest(long1000.data(), long1000.size(), whole);
    Md4 md;
    for (size_t at = 0, step = 1; at < long1000.size(); at += step, step = step * 3 % 97 + 1) {
        md.update(long1000.data() + at, std::min(step, long1000.size() - at));
    }
    md.final(pieces);
    EXPECT_EQ(hex(whole), hex(pieces));
    // The context is ready for another message after final().
    md.update("abc", 3);
    md.final(pieces);
    EXPECT_EQ(hex(pieces), "a448017aaf21d8525fc10ae87aa6729d");
}
