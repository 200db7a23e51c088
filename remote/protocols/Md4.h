#pragma once

#include <cstddef>
#include <cstdint>

// MD4 (RFC 1320). Only NTLM still needs it: the NT hash of a password is the
// MD4 digest of its UTF-16LE bytes. OpenSSL keeps MD4 in its legacy provider,
// which a system may not ship, so the digest is computed here.
class Md4 {
public:
    Md4() { init(); }

    void init();
    void update(const void* bytes, size_t length);
    // Pads, writes the 16-byte digest and leaves the context to be init()ed.
    void final(uint8_t digest[16]);

    static void digest(const void* bytes, size_t length, uint8_t out[16]);

private:
    void transform(const uint8_t block[64]);

    uint64_t bytes_ = 0;
    uint32_t state_[4];
    uint8_t buffer_[64];
};
