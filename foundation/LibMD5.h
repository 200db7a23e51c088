#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// MD5 (RFC 1321). The upper-case hex form names remote-folder files,
// thumbnails and passcode hashes, so it must never change.
//
// Lengths are 64-bit all the way: a file of several GiB hashed in one call
// or in many gives the same digest as any other MD5.
class LibMD5 {
public:
    LibMD5() { init(); }

    void init();
    void update(const void* bytes, size_t length);
    // Pads, writes the 16-byte digest and leaves the context to be init()ed.
    void final(uint8_t digest[16]);

    // 32 upper-case hexadecimal digits.
    static std::string getMD5StringHexWithBytes(const void* bytes, size_t length);
    // The same over the string's bytes up to its first NUL.
    static std::string getMD5StringHexWithString(const std::string& text);

    // 32 hexadecimal digits of a digest, upper or lower case.
    static std::string hexString(const uint8_t digest[16], bool upperCase);

private:
    void transform(const uint8_t block[64]);

    uint32_t count_[2];  // bits hashed, low word first
    uint32_t state_[4];
    uint8_t buffer_[64];
};
