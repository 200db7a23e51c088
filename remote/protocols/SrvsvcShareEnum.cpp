#include "remote/protocols/SrvsvcShareEnum.h"

#include "remote/protocols/SmbWire.h"

namespace {

using Bytes = SrvsvcShareEnum::Bytes;
using W = SmbWire;

constexpr uint16_t kMaxFragment = 4280;
constexpr uint8_t kFirstFrag = 1;
constexpr uint8_t kLastFrag = 2;
constexpr uint16_t kOpNetrShareEnum = 15;

// srvsvc 4b324fc8-1670-01d3-1278-5a47bf6ee188 v3.0 and NDR 8a885d04-1ceb-11c9-9fe8-08002b104860 v2.
const uint8_t kSrvsvc[20] = {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01, 0x12, 0x78,
                             0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88, 3,    0,    0,    0};
const uint8_t kNdr[20] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11, 0x9f, 0xe8,
                          0x08, 0x00, 0x2b, 0x10, 0x48, 0x60, 2,    0,    0,    0};

Bytes header(uint8_t type, uint32_t callId) {
    Bytes h = {5, 0, type, kFirstFrag | kLastFrag, 0x10, 0, 0, 0};
    h.resize(16, 0);
    W::put32(h, 12, callId);
    return h;
}

void finish(Bytes& pdu) { W::put16(pdu, 8, uint16_t(pdu.size())); }

// An NDR reader over the stub: 4-byte alignment is counted from its start.
struct Ndr {
    const Bytes& b;
    size_t at = 0;
    bool ok = true;
    uint32_t u32() {
        align();
        uint32_t v = 0;
        if (!W::read32(b, at, v)) ok = false;
        at += 4;
        return v;
    }
    void align() { at = (at + 3) & ~size_t(3); }
    // A conformant varying UTF-16 string.
    std::string string() {
        const uint32_t max = u32(), offset = u32(), actual = u32();
        if (!ok || offset != 0 || actual > max || !W::has(b, at, size_t(actual) * 2)) {
            ok = false;
            return {};
        }
        size_t chars = actual;
        while (chars > 0 && b[at + (chars - 1) * 2] == 0 && b[at + (chars - 1) * 2 + 1] == 0) --chars;
        std::string s = W::fromUtf16le(b.data() + at, chars * 2);
        at += size_t(actual) * 2;
        return s;
    }
};

}  // namespace

Bytes SrvsvcShareEnum::bindRequest(uint32_t callId) {
    Bytes p = header(kBind, callId);
    W::put16(p, 16, kMaxFragment);
    W::put16(p, 18, kMaxFragment);
    W::put32(p, 20, 0);      // new association group
    W::put32(p, 24, 1);      // one context, reserved bytes
    W::put16(p, 28, 0);      // context id
    W::put16(p, 30, 1);      // one transfer syntax
    p.insert(p.end(), kSrvsvc, kSrvsvc + 20);
    p.insert(p.end(), kNdr, kNdr + 20);
    finish(p);
    return p;
}

Bytes SrvsvcShareEnum::shareEnumRequest(uint32_t callId, const std::string& server) {
    Bytes stub;
    // ServerName: a unique pointer to a conformant varying string.
    Bytes name = W::utf16le("\\\\" + server);
    name.insert(name.end(), {0, 0});
    const uint32_t chars = uint32_t(name.size() / 2);
    W::put32(stub, 0, 0x00020000);
    W::put32(stub, 4, chars);
    W::put32(stub, 8, 0);
    W::put32(stub, 12, chars);
    W::append(stub, name);
    W::pad(stub, 4);
    // InfoStruct: level 1, its union arm a pointer to an empty container.
    size_t at = stub.size();
    W::put32(stub, at, 1);
    W::put32(stub, at + 4, 1);
    W::put32(stub, at + 8, 0x00020004);
    W::put32(stub, at + 12, 0);  // entries read
    W::put32(stub, at + 16, 0);  // no buffer
    W::put32(stub, at + 20, 0xFFFFFFFF);  // preferred maximum length
    W::put32(stub, at + 24, 0x00020008);  // resume handle pointer
    W::put32(stub, at + 28, 0);

    Bytes p = header(kRequest, callId);
    W::put32(p, 16, uint32_t(stub.size()));  // allocation hint
    W::put16(p, 20, 0);
    W::put16(p, 22, kOpNetrShareEnum);
    W::append(p, stub);
    finish(p);
    return p;
}

std::optional<SrvsvcShareEnum::Pdu> SrvsvcShareEnum::parsePdu(const Bytes& data, bool* malformed) {
    if (malformed) *malformed = false;
    if (data.size() < 16) return std::nullopt;
    const uint16_t length = W::get16(&data[8]);
    if (data[0] != 5 || data[4] != 0x10 || length < 16) {
        if (malformed) *malformed = true;
        return std::nullopt;
    }
    if (data.size() < length) return std::nullopt;
    Pdu p;
    p.type = data[2];
    p.last = data[3] & kLastFrag;
    p.callId = W::get32(&data[12]);
    p.length = length;
    const uint16_t authLength = W::get16(&data[10]);
    if (authLength > length - 16) {
        if (malformed) *malformed = true;
        return std::nullopt;
    }
    p.body.assign(data.begin() + 16, data.begin() + (length - authLength));
    return p;
}

bool SrvsvcShareEnum::bindAccepted(const Pdu& ack) {
    if (ack.type != kBindAck) return false;
    const Bytes& b = ack.body;
    uint16_t addrLength = 0;
    if (!W::read16(b, 8, addrLength)) return false;
    size_t at = (10 + size_t(addrLength) + 3) & ~size_t(3);
    uint8_t results = 0;
    uint16_t result = 0;
    if (!W::read8(b, at, results) || results < 1 || !W::read16(b, at + 4, result)) return false;
    return result == 0;
}

std::optional<Bytes> SrvsvcShareEnum::responseStub(const Pdu& response) {
    if (response.type != kResponse || response.body.size() < 8) return std::nullopt;
    return Bytes(response.body.begin() + 8, response.body.end());
}

std::optional<std::vector<SrvsvcShareEnum::ShareInfo>> SrvsvcShareEnum::parseShareEnum(const Bytes& stub,
                                                                                       uint32_t* werror) {
    if (werror) *werror = 0;
    Ndr r{stub};
    const uint32_t level = r.u32();
    const uint32_t arm = r.u32();
    const uint32_t containerPtr = r.u32();
    if (!r.ok || level != 1 || arm != 1) return std::nullopt;
    std::vector<ShareInfo> shares;
    if (containerPtr != 0) {
        const uint32_t count = r.u32();
        const uint32_t bufferPtr = r.u32();
        if (!r.ok || count > kMaxShares) return std::nullopt;
        if (bufferPtr != 0) {
            const uint32_t max = r.u32();
            if (!r.ok || max < count || !W::has(stub, r.at, size_t(count) * 12)) return std::nullopt;
            struct Fixed {
                uint32_t namePtr, type, remarkPtr;
            };
            std::vector<Fixed> fixed(count);
            for (auto& f : fixed) {
                f.namePtr = r.u32();
                f.type = r.u32();
                f.remarkPtr = r.u32();
            }
            for (const auto& f : fixed) {
                ShareInfo s;
                if (f.namePtr) s.name = r.string();
                s.type = f.type;
                if (f.remarkPtr) s.comment = r.string();
                if (!r.ok) return std::nullopt;
                shares.push_back(std::move(s));
            }
        } else if (count != 0) {
            return std::nullopt;
        }
    }
    r.u32();  // total entries
    if (r.u32() != 0) r.u32();  // the resume handle, when its pointer is set
    const uint32_t result = r.u32();
    if (!r.ok) return std::nullopt;
    if (werror) *werror = result;
    if (result != 0) return std::nullopt;
    return shares;
}
