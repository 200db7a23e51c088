#include "remote/protocols/NtlmMessages.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "remote/protocols/NtlmV2.h"

namespace {

NtlmBuffer toBuffer(const NtlmV2::Bytes& bytes) {
    NtlmBuffer b;
    if (bytes.empty() || bytes.size() > UINT32_MAX) return b;
    b.data = static_cast<uint8_t*>(std::malloc(bytes.size()));
    if (!b.data) return b;
    std::memcpy(b.data, bytes.data(), bytes.size());
    b.length = uint32_t(bytes.size());
    return b;
}

std::u16string text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

std::optional<NtlmV2::Bytes> response(const std::u16string& identity, const char16_t* password,
                                      const uint8_t* serverChallenge, const uint64_t* timestamp,
                                      const NtlmV2::Bytes& avPairs) {
    if (!serverChallenge || !timestamp) return std::nullopt;
    auto clientChallenge = NtlmV2::randomClientChallenge();
    if (!clientChallenge) return std::nullopt;
    NtlmV2::Nonce server;
    std::memcpy(server.data(), serverChallenge, server.size());
    NtlmV2::Key key = NtlmV2::ntowfv2(text(password), identity);
    return NtlmV2::ntlmV2Response(key, server, *timestamp, *clientChallenge, avPairs);
}

}  // namespace

NtlmBuffer NtlmBuildNegotiateMessage(uint32_t flags, const char* domain, const char* workstation) {
    return toBuffer(NtlmV2::negotiateMessage(flags, domain ? domain : "", workstation ? workstation : ""));
}

NtlmBuffer NtlmBuildAuthenticateMessage(const NtlmBuffer* challengeMessage, const char16_t* domain,
                                        const char16_t* user, const char16_t* workstation,
                                        const char16_t* password, const uint64_t* timestamp) {
    if (!challengeMessage || !timestamp) return {};
    auto challenge = NtlmV2::parseChallenge(challengeMessage->data, challengeMessage->length);
    if (!challenge) return {};
    auto a = NtlmV2::authenticateMessage(*challenge, text(domain), text(user), text(workstation), text(password),
                                         *timestamp);
    if (!a) return {};
    return toBuffer(a->message);
}

NtlmBuffer NtlmV2Response(const char16_t* domain, const char16_t* user, const char16_t* password,
                          const uint8_t* serverChallenge, const uint8_t* targetInfo, const uint64_t* timestamp,
                          uint32_t targetInfoLength) {
    if (targetInfoLength && !targetInfo) return {};
    NtlmV2::Bytes info(targetInfo, targetInfo + targetInfoLength);
    auto r = response(text(user) + text(domain), password, serverChallenge, timestamp, info);
    return r ? toBuffer(*r) : NtlmBuffer{};
}

NtlmBuffer NtlmV2ResponseWithAvPair(const char16_t* value, uint16_t attributeId, const char16_t* identity,
                                    const char16_t* password, const uint8_t* serverChallenge,
                                    const uint64_t* timestamp) {
    NtlmV2::Bytes v = NtlmV2::utf16le(text(value));
    if (v.size() > 256) return {};
    auto r = response(text(identity), password, serverChallenge, timestamp,
                      NtlmV2::buildAvPairs({{attributeId, v}}));
    return r ? toBuffer(*r) : NtlmBuffer{};
}

void NtlmBufferFree(NtlmBuffer* buffer) {
    if (!buffer) return;
    if (buffer->length != 0) std::free(buffer->data);
    buffer->data = nullptr;
    buffer->length = 0;
}
