#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// NTLMSSP messages with the NTLMv2 response: what an SMB session set-up
// carries (raw, or wrapped in SPNEGO by the caller). Text arguments other
// than the negotiate message's are UTF-16 and are hashed and sent as given:
// the caller chooses their case (our SMB1 client upper-cases user and domain).
class NtlmV2 {
public:
    using Bytes = std::vector<uint8_t>;
    using Key = std::array<uint8_t, 16>;
    using Nonce = std::array<uint8_t, 8>;

    // Unicode, request target, NTLM, extended session security, 128-bit.
    static constexpr uint32_t kNegotiateFlags = 0x20080205;
    // Unicode, request target, NTLM, always sign, extended session security.
    static constexpr uint32_t kAuthenticateFlags = 0x00088205;
    // What our SMB2/3 client asks for, as Windows servers expect of a client
    // that signs: unicode, request target, sign, NTLM, always sign, extended
    // session security, 128-bit, key exchange, 56-bit.
    static constexpr uint32_t kSmb2NegotiateFlags = 0xE0088215;
    static constexpr uint32_t kFlagSign = 0x00000010;
    static constexpr uint32_t kFlagKeyExchange = 0x40000000;
    // The attribute ids of the target information.
    enum AvId : uint16_t {
        kAvEol = 0,
        kAvNbComputerName = 1,
        kAvNbDomainName = 2,
        kAvDnsComputerName = 3,
        kAvDnsDomainName = 4,
        kAvDnsTreeName = 5,
        kAvFlags = 6,
        kAvTimestamp = 7,
        kAvTargetName = 9,
    };

    struct AvPair {
        uint16_t id = 0;
        Bytes value;
    };

    // A server's challenge (type 2) message, every field checked against the
    // message's length before it was read.
    struct Challenge {
        uint32_t flags = 0;
        Nonce serverChallenge{};
        Bytes targetName;
        Bytes targetInfo;  // the attribute/value list as sent
    };

    struct Authenticate {
        Bytes message;
        Bytes ntResponse;     // NTProofStr followed by the blob; empty when anonymous
        Key sessionBaseKey{};  // all zero when anonymous
        // The key the session signs and encrypts with: a fresh random key
        // sent RC4-encrypted under the base key when both sides agreed on
        // key exchange, else the base key.
        Key sessionKey{};
    };

    // Type 1: the signature, type, flags and two security buffers, followed
    // by the domain and workstation bytes as given (no terminators).
    static Bytes negotiateMessage(uint32_t flags, const std::string& domain, const std::string& workstation);

    // Nothing when the bytes are not a challenge message or a field lies
    // outside them.
    static std::optional<Challenge> parseChallenge(const uint8_t* data, size_t length);

    // Type 3 answering `challenge`. An empty user name makes an anonymous
    // message (no responses). `timestamp` is in 100-ns ticks since 1601.
    // With key exchange among `flags` and the challenge's flags (and a
    // user), the message carries an encrypted random session key. A
    // `targetName` (the service's name, "cifs/host") is added to the
    // server's target information in the blob, for servers that check whom
    // the client meant to reach. Nothing when the system's random source
    // fails.
    static std::optional<Authenticate> authenticateMessage(const Challenge& challenge, const std::u16string& domain,
                                                           const std::u16string& user,
                                                           const std::u16string& workstation,
                                                           const std::u16string& password, uint64_t timestamp,
                                                           uint32_t flags = kAuthenticateFlags,
                                                           const std::u16string& targetName = {});

    // The pieces, for callers that build their own messages.
    // MD4 of the password's UTF-16LE bytes.
    static Key ntHash(const std::u16string& password);
    // NTOWFv2: HMAC-MD5 under the NT hash over `identity` (user then domain).
    static Key ntowfv2(const std::u16string& password, const std::u16string& identity);
    // The client blob: 0x0101, time stamp, client challenge, attribute list.
    static Bytes clientBlob(uint64_t timestamp, const Nonce& clientChallenge, const Bytes& avPairs);
    static Key ntProofStr(const Key& responseKey, const Nonce& serverChallenge, const Bytes& blob);
    static Key sessionBaseKey(const Key& responseKey, const Key& ntProof);
    // NTProofStr || blob.
    static Bytes ntlmV2Response(const Key& responseKey, const Nonce& serverChallenge, uint64_t timestamp,
                                const Nonce& clientChallenge, const Bytes& avPairs);
    // Eight bytes from the system's random source; nothing when it fails.
    static std::optional<Nonce> randomClientChallenge();
    // For the fuzz targets: every "random" byte is then its index plus 0xA0,
    // so a scripted server knows the session key a log-on ends with.
    static void setFixedRandomForTesting(bool fixed);
    // RC4, which NTLM's key exchange uses (OpenSSL keeps it out of its
    // default provider): `data` encrypted (or decrypted) under `key`.
    static Bytes rc4(const Key& key, const Bytes& data);

    // Nothing when a pair runs past the end. Stops at the end marker, which
    // is not returned; a list without one ends with the bytes.
    static std::optional<std::vector<AvPair>> parseAvPairs(const Bytes& list);
    // The pairs followed by the end marker.
    static Bytes buildAvPairs(const std::vector<AvPair>& pairs);

    // Seconds since 1970 as 100-ns ticks since 1601.
    static uint64_t timestampFromUnix(int64_t seconds);
    // UTF-16 code units as little-endian bytes.
    static Bytes utf16le(const std::u16string& text);
};
