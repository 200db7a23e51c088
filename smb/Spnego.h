#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// SPNEGO tokens around NTLMSSP messages, as a session set-up carries them:
// the first (NegTokenInit offering NTLMSSP), the following ones (NegTokenResp)
// and the server's answers, read with every DER length checked.
class Spnego {
public:
    using Bytes = std::vector<uint8_t>;

    enum NegState { kAcceptCompleted = 0, kAcceptIncomplete = 1, kReject = 2, kRequestMic = 3, kNone = -1 };

    struct Reply {
        int negState = kNone;
        Bytes responseToken;  // empty when the server sent none
    };

    static Bytes initToken(const Bytes& ntlmNegotiate);
    static Bytes responseToken(const Bytes& ntlmAuthenticate);
    // The server's NegTokenResp (or a NegTokenInit2 of the negotiate reply,
    // which carries no token). Nothing when the bytes are not well formed.
    static std::optional<Reply> parseReply(const Bytes& token);

    // DER helpers, also for the tests.
    static Bytes der(uint8_t tag, const Bytes& content);
};
