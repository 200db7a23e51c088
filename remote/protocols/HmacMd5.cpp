#include "remote/protocols/HmacMd5.h"

#include <cstring>

#include "foundation/LibMD5.h"

void hmacMd5(const uint8_t* message, size_t messageLength, const uint8_t* key, size_t keyLength, uint8_t out[16]) {
    uint8_t block[64] = {};
    if (keyLength > sizeof block) {
        LibMD5 md;
        md.update(key, keyLength);
        md.final(block);
    } else if (keyLength) {
        std::memcpy(block, key, keyLength);
    }
    uint8_t pad[64];
    for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x36;
    uint8_t inner[16];
    LibMD5 md;
    md.update(pad, sizeof pad);
    if (messageLength) md.update(message, messageLength);
    md.final(inner);
    for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x5c;
    md.update(pad, sizeof pad);
    md.update(inner, sizeof inner);
    md.final(out);
}
