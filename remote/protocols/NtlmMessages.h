#pragma once

#include <cstdint>

// The NTLM builders as our SMB1 client calls them: each returns a heap block
// and its length; a length of 0 means failure (nothing to free). The caller
// copies the bytes and hands the pair to NtlmBufferFree.
//
// Text arguments other than the negotiate message's are UTF-16 strings ending
// with a 16-bit zero; time stamps are 100-ns ticks since 1601; a server
// challenge is 8 bytes.
struct NtlmBuffer {
    uint32_t length = 0;
    uint8_t* data = nullptr;
};

// Type 1 with the caller's flags, domain and workstation (single-byte text).
NtlmBuffer NtlmBuildNegotiateMessage(uint32_t flags, const char* domain, const char* workstation);

// Type 3 answering the received type 2 message; length 0 when that message is
// malformed. An empty user name gives an anonymous message.
NtlmBuffer NtlmBuildAuthenticateMessage(const NtlmBuffer* challengeMessage, const char16_t* domain,
                                        const char16_t* user, const char16_t* workstation,
                                        const char16_t* password, const uint64_t* timestamp);

// The NTLMv2 response (NTProofStr and blob) with the server's target
// information as the blob's attribute list.
NtlmBuffer NtlmV2Response(const char16_t* domain, const char16_t* user, const char16_t* password,
                          const uint8_t* serverChallenge, const uint8_t* targetInfo, const uint64_t* timestamp,
                          uint32_t targetInfoLength);

// The same for session set-ups without extended security: the key is made
// from `identity` (user followed by domain) and the blob carries one
// attribute. Length 0 when the value is longer than 256 bytes.
NtlmBuffer NtlmV2ResponseWithAvPair(const char16_t* value, uint16_t attributeId, const char16_t* identity,
                                    const char16_t* password, const uint8_t* serverChallenge,
                                    const uint64_t* timestamp);

void NtlmBufferFree(NtlmBuffer* buffer);
