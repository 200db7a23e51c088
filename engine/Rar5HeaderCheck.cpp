#include "engine/Rar5HeaderCheck.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

constexpr std::string_view kSignature("Rar!\x1A\x07\x01\x00", 8);
constexpr size_t kCrcBytes = 4;
constexpr uint64_t kMainHeader = 1;
constexpr uint64_t kHeaderHasExtra = 0x1;
constexpr uint64_t kHeaderHasData = 0x2;
constexpr uint64_t kArchiveHasVolumeNumber = 0x2;
constexpr uint64_t kLocatorRecord = 1;
constexpr uint64_t kLocatorQuickOpen = 0x1;
constexpr uint64_t kLocatorRecovery = 0x2;

// Reads the variable-length numbers of the format (7 bits a byte, low
// first, high bit set on all but the last) from [pos, end), never past end.
class Reader {
public:
    Reader(std::string_view bytes, size_t pos, size_t end) : bytes_(bytes), pos_(pos), end_(end) {}

    std::optional<uint64_t> vint() {
        uint64_t value = 0;
        for (unsigned shift = 0; shift < 64; shift += 7) {
            if (pos_ >= end_) return std::nullopt;
            const auto b = uint8_t(bytes_[pos_++]);
            const uint64_t bits = b & 0x7F;
            if (shift == 63 && bits > 1) return std::nullopt;  // past 64 bits
            value |= bits << shift;
            if (!(b & 0x80)) return value;
        }
        return std::nullopt;  // a continuation bit on the tenth byte
    }
    size_t pos() const { return pos_; }

private:
    std::string_view bytes_;
    size_t pos_;
    size_t end_;
};

// Where the first block's header size field puts the header: its size and
// where it starts; nullopt while the field itself is cut off or unreadable.
struct SizeField {
    uint64_t size = 0;
    size_t headerStart = 0;
    bool complete = false;  // the field ended inside `head`
};

SizeField sizeField(std::string_view head) {
    SizeField f;
    const size_t at = kSignature.size() + kCrcBytes;
    Reader r(head, at, head.size());
    const auto size = r.vint();
    if (!size) return f;
    f.size = *size;
    f.headerStart = r.pos();
    f.complete = true;
    return f;
}

bool extraAreaSound(std::string_view head, size_t start, size_t end) {
    size_t pos = start;
    while (pos < end) {
        Reader r(head, pos, end);
        const auto recordSize = r.vint();
        if (!recordSize || *recordSize == 0 || *recordSize > end - r.pos()) return false;
        const size_t recordEnd = r.pos() + size_t(*recordSize);
        Reader record(head, r.pos(), recordEnd);
        const auto type = record.vint();
        if (!type) return false;
        if (*type == kLocatorRecord) {
            const auto flags = record.vint();
            if (!flags) return false;
            if ((*flags & kLocatorQuickOpen) && !record.vint()) return false;
            if ((*flags & kLocatorRecovery) && !record.vint()) return false;
        }
        pos = recordEnd;
    }
    return true;
}

}  // namespace

std::vector<size_t> Rar5HeaderCheck::archiveStarts(std::string_view head) {
    // "Rar!" 1A 07 and a version byte (RAR 1.5 to 5 and later), or RAR 1.4's "RE~^".
    auto signatureAt = [&](size_t i) {
        if (head.substr(i, 4) == "RE~^") return i == 0;
        return head.size() - i >= 7 && head.substr(i, 6) == std::string_view("Rar!\x1A\x07", 6) &&
               uint8_t(head[i + 6]) < 5;
    };
    std::vector<size_t> starts;
    const size_t end = std::min(head.size(), kSfxSearch);
    for (size_t i = 0; i < end; ++i) {
        if (head[i] != 'R' || !signatureAt(i)) continue;
        starts.push_back(i);
        if (i == 0 || i >= kSfxSkip) break;
    }
    return starts;
}

size_t Rar5HeaderCheck::bytesWanted(std::string_view head) {
    const SizeField f = sizeField(head);
    if (!f.complete) return 64;
    return size_t(std::min<uint64_t>(f.headerStart + std::min<uint64_t>(f.size, kMaxHeaderSize), kMaxBlockBytes));
}

Rar5HeaderCheck::Verdict Rar5HeaderCheck::check(std::string_view head, bool atEnd) {
    if (head.substr(0, kSignature.size()) != kSignature) {
        // A file cut inside the signature is no RAR 5 archive either way.
        return Verdict::NotRar5;
    }
    const SizeField f = sizeField(head);
    if (!f.complete) {
        // Cut off inside the size field, or a field running past 10 bytes.
        const bool fieldTooLong = head.size() >= kSignature.size() + kCrcBytes + 10;
        return atEnd || fieldTooLong ? Verdict::Malformed : Verdict::NeedMore;
    }
    if (f.size == 0 || f.size > kMaxHeaderSize) return Verdict::Malformed;
    const size_t end = f.headerStart + size_t(f.size);
    if (head.size() < end) return atEnd ? Verdict::Malformed : Verdict::NeedMore;

    const size_t crcAt = kSignature.size();
    uint32_t stored = 0;
    for (size_t i = 0; i < kCrcBytes; ++i) stored |= uint32_t(uint8_t(head[crcAt + i])) << (8 * i);
    const auto* covered = reinterpret_cast<const Bytef*>(head.data() + crcAt + kCrcBytes);
    const auto computed = uint32_t(crc32(crc32(0L, Z_NULL, 0), covered, uInt(end - crcAt - kCrcBytes)));
    if (stored != computed) return Verdict::Malformed;

    Reader r(head, f.headerStart, end);
    const auto type = r.vint();
    const auto flags = type ? r.vint() : std::nullopt;
    if (!flags) return Verdict::Malformed;
    uint64_t extraSize = 0;
    if (*flags & kHeaderHasExtra) {
        const auto v = r.vint();
        if (!v) return Verdict::Malformed;
        extraSize = *v;
    }
    if ((*flags & kHeaderHasData) && !r.vint()) return Verdict::Malformed;
    if (*type == kMainHeader) {
        const auto archiveFlags = r.vint();
        if (!archiveFlags) return Verdict::Malformed;
        if ((*archiveFlags & kArchiveHasVolumeNumber) && !r.vint()) return Verdict::Malformed;
    }
    // The extra area closes the header, after the fields read so far.
    if (extraSize > end - r.pos()) return Verdict::Malformed;
    if (*type == kMainHeader && !extraAreaSound(head, end - size_t(extraSize), end)) return Verdict::Malformed;
    return Verdict::Sound;
}
