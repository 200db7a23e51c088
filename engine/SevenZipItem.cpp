#include "engine/SevenZipItem.h"

namespace {

std::optional<sys::Date> dateFromSeconds(int64_t seconds) {
    if (seconds == 0) return std::nullopt;
    return sys::Date(double(seconds));
}

}  // namespace

std::optional<std::string> SevenZipItem::fileName() const {
    if (isDirectory() || path.empty()) return std::nullopt;
    const size_t slash = path.rfind('/');
    std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (leaf.empty()) return std::nullopt;
    return leaf;
}

std::optional<std::string> SevenZipItem::directoryPath() const {
    std::string dir;
    if (isDirectory()) {
        dir = path;
    } else {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) dir = path.substr(0, slash);
    }
    if (dir.empty()) return std::nullopt;
    return dir;
}

std::optional<sys::Date> SevenZipItem::creationDate() const { return dateFromSeconds(cDate); }
std::optional<sys::Date> SevenZipItem::accessDate() const { return dateFromSeconds(aDate); }
std::optional<sys::Date> SevenZipItem::modificationDate() const { return dateFromSeconds(mDate); }

int64_t SevenZipItem::unixSecondsFromFileTime(uint64_t ticks) {
    // Ticks of 100 ns since 1601, whole seconds toward zero either side of
    // 1970; any 64-bit count an archive names stays in range.
    constexpr uint64_t kUnixEpoch = 116'444'736'000'000'000ULL;
    if (ticks >= kUnixEpoch) return int64_t((ticks - kUnixEpoch) / 10'000'000ULL);
    return -int64_t((kUnixEpoch - ticks) / 10'000'000ULL);
}
