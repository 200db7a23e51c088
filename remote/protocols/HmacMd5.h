#pragma once

#include <cstddef>
#include <cstdint>

// HMAC-MD5 (RFC 2104) of `message` under `key`, written to `out` (16 bytes).
// Keys longer than the 64-byte block are hashed first, as the RFC says.
void hmacMd5(const uint8_t* message, size_t messageLength, const uint8_t* key, size_t keyLength, uint8_t out[16]);
