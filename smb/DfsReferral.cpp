#include "smb/DfsReferral.h"

#include "remote/protocols/SmbWire.h"

namespace {

using W = SmbWire;
constexpr uint16_t kNameListReferral = 0x0002;

// The zero-terminated UTF-16 string at `at`, which must end within `b`.
std::optional<std::string> stringAt(const DfsReferral::Bytes& b, size_t at) {
    for (size_t end = at; W::has(b, end, 2); end += 2) {
        if (b[end] == 0 && b[end + 1] == 0) return W::fromUtf16le(b.data() + at, end - at);
    }
    return std::nullopt;
}

}  // namespace

std::optional<DfsReferral> DfsReferral::parse(const Bytes& b) {
    uint16_t consumed = 0, count = 0;
    if (!W::read16(b, 0, consumed) || !W::read16(b, 2, count) || !W::has(b, 0, 8)) return std::nullopt;
    DfsReferral r;
    r.pathConsumed = consumed;
    size_t at = 8;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t version = 0, size = 0, flags = 0;
        if (!W::read16(b, at, version) || !W::read16(b, at + 2, size) || size < 8 || !W::has(b, at, size)) {
            return std::nullopt;
        }
        W::read16(b, at + 6, flags);
        std::optional<std::string> address;
        switch (version) {
        case 1:
            address = stringAt(b, at + 8);
            if (!address) return std::nullopt;
            break;
        case 2:
        case 3:
        case 4: {
            // Versions 3 and 4 may name domains instead of shares.
            if (version != 2 && (flags & kNameListReferral)) break;
            const size_t field = version == 2 ? 20 : 16;
            uint16_t offset = 0;
            if (size < field + 2 || !W::read16(b, at + field, offset)) return std::nullopt;
            address = stringAt(b, at + offset);
            if (!address) return std::nullopt;
            break;
        }
        default:
            return std::nullopt;
        }
        if (address) {
            if (auto t = splitTarget(*address)) r.targets.push_back(std::move(*t));
        }
        at += size;
    }
    return r;
}

std::optional<DfsReferral::Target> DfsReferral::splitTarget(const std::string& address) {
    size_t start = 0;
    while (start < address.size() && start < 2 && address[start] == '\\') ++start;
    if (start == 0) return std::nullopt;
    const size_t serverEnd = address.find('\\', start);
    if (serverEnd == std::string::npos || serverEnd == start) return std::nullopt;
    const size_t shareEnd = address.find('\\', serverEnd + 1);
    Target t;
    t.server = address.substr(start, serverEnd - start);
    t.share = address.substr(serverEnd + 1, shareEnd == std::string::npos ? std::string::npos : shareEnd - serverEnd - 1);
    if (t.share.empty()) return std::nullopt;
    if (shareEnd != std::string::npos) {
        t.path = address.substr(shareEnd + 1);
        while (!t.path.empty() && t.path.back() == '\\') t.path.pop_back();
    }
    return t;
}

std::optional<std::string> DfsReferral::remainder(const std::string& askedPath, size_t consumed) {
    const Bytes utf16 = W::utf16le(askedPath);
    if (consumed % 2 || consumed > utf16.size()) return std::nullopt;
    // A surrogate pair is one character: the cut may not fall inside it.
    if (consumed < utf16.size()) {
        const uint16_t next = W::get16(utf16.data() + consumed);
        if (next >= 0xDC00 && next <= 0xDFFF) return std::nullopt;
    }
    std::string rest = W::fromUtf16le(utf16.data() + consumed, utf16.size() - consumed);
    // The covered part ends with a whole name.
    if (!rest.empty() && rest[0] != '\\') return std::nullopt;
    const size_t first = rest.find_first_not_of('\\');
    return first == std::string::npos ? std::string() : rest.substr(first);
}
