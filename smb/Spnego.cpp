#include "smb/Spnego.h"

namespace {

using Bytes = Spnego::Bytes;

const Bytes kSpnegoOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x02};
const Bytes kNtlmsspOid = {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0a};

// One DER element inside [begin, end): its tag and content range.
struct Element {
    uint8_t tag = 0;
    size_t content = 0, length = 0, next = 0;
};

bool readElement(const Bytes& b, size_t at, size_t end, Element& e) {
    if (at >= end || end > b.size() || end - at < 2) return false;
    e.tag = b[at];
    size_t p = at + 1;
    size_t len = b[p++];
    if (len & 0x80) {
        const size_t n = len & 0x7f;
        if (n == 0 || n > 4 || end - p < n) return false;
        len = 0;
        for (size_t i = 0; i < n; ++i) len = len << 8 | b[p++];
    }
    if (len > end - p) return false;
    e.content = p;
    e.length = len;
    e.next = p + len;
    return true;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

Bytes Spnego::der(uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(uint8_t(n));
    } else if (n <= 0xff) {
        out.insert(out.end(), {0x81, uint8_t(n)});
    } else if (n <= 0xffff) {
        out.insert(out.end(), {0x82, uint8_t(n >> 8), uint8_t(n)});
    } else {
        out.insert(out.end(), {0x83, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Spnego::initToken(const Bytes& ntlmNegotiate) {
    const Bytes mechTypes = der(0xa0, der(0x30, der(0x06, kNtlmsspOid)));
    const Bytes mechToken = der(0xa2, der(0x04, ntlmNegotiate));
    const Bytes negTokenInit = der(0xa0, der(0x30, concat({mechTypes, mechToken})));
    return der(0x60, concat({der(0x06, kSpnegoOid), negTokenInit}));
}

Bytes Spnego::responseToken(const Bytes& ntlmAuthenticate) {
    return der(0xa1, der(0x30, der(0xa2, der(0x04, ntlmAuthenticate))));
}

std::optional<Spnego::Reply> Spnego::parseReply(const Bytes& token) {
    Element outer;
    if (!readElement(token, 0, token.size(), outer)) return std::nullopt;
    Reply r;
    if (outer.tag == 0x60) return r;  // a NegTokenInit (hint): no state, no token
    if (outer.tag != 0xa1) return std::nullopt;
    Element seq;
    if (!readElement(token, outer.content, outer.next, seq) || seq.tag != 0x30) return std::nullopt;
    for (size_t at = seq.content; at < seq.next;) {
        Element field;
        if (!readElement(token, at, seq.next, field)) return std::nullopt;
        Element inner;
        if (!readElement(token, field.content, field.next, inner)) return std::nullopt;
        if (field.tag == 0xa0) {
            if (inner.tag != 0x0a || inner.length != 1) return std::nullopt;
            r.negState = token[inner.content];
        } else if (field.tag == 0xa2) {
            if (inner.tag != 0x04) return std::nullopt;
            r.responseToken.assign(token.begin() + long(inner.content), token.begin() + long(inner.next));
        }
        at = field.next;
    }
    return r;
}
