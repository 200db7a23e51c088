#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The share list of a server through its srvsvc pipe: a DCE/RPC bind and a
// NetrShareEnum call at level 1, encoded and decoded in NDR here. Replies
// are read with every count, pointer and length checked against the bytes.
class SrvsvcShareEnum {
public:
    using Bytes = std::vector<uint8_t>;
    using ShareInfo = SmbStackClient::ShareInfo;

    enum PduType : uint8_t { kRequest = 0, kResponse = 2, kFault = 3, kBind = 11, kBindAck = 12, kBindNak = 13 };

    // A list longer than this is refused.
    static constexpr uint32_t kMaxShares = 100'000;

    struct Pdu {
        uint8_t type = 0;
        bool last = false;
        uint32_t callId = 0;
        Bytes body;        // after the 16-byte common header
        size_t length = 0;  // of the whole PDU
    };

    static Bytes bindRequest(uint32_t callId);
    static Bytes shareEnumRequest(uint32_t callId, const std::string& server);

    // The first PDU at the start of `data`; nothing when it is not whole yet
    // or malformed (`malformed` tells the two apart).
    static std::optional<Pdu> parsePdu(const Bytes& data, bool* malformed);
    // True when the bind was accepted for NDR.
    static bool bindAccepted(const Pdu& ack);
    // The stub data of a response PDU (after alloc hint, context and cancel count).
    static std::optional<Bytes> responseStub(const Pdu& response);
    // The shares of a NetrShareEnum reply's stub; nothing when it is
    // malformed or the call failed (`werror` gets the call's result).
    static std::optional<std::vector<ShareInfo>> parseShareEnum(const Bytes& stub, uint32_t* werror);
};
