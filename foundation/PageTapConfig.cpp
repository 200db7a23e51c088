#include "foundation/PageTapConfig.h"

namespace {

// The fields in file order; `dummy` follows them.
int32_t PageTapConfig::* const kFields[16] = {
    &PageTapConfig::tapTopLeft,        &PageTapConfig::tapTopRight,          &PageTapConfig::tapBottomLeft,
    &PageTapConfig::tapBottomRight,    &PageTapConfig::tapLeftEdge,          &PageTapConfig::tapRightEdge,
    &PageTapConfig::tapTopEdge,        &PageTapConfig::tapBottomEdge,        &PageTapConfig::tapQuarterTopLeft,
    &PageTapConfig::tapQuarterTopRight, &PageTapConfig::tapQuarterBottomLeft, &PageTapConfig::tapQuarterBottomRight,
    &PageTapConfig::tapSingle,         &PageTapConfig::tapDouble,            &PageTapConfig::tapForwardEdge,
    &PageTapConfig::tapBackwardEdge,
};

}  // namespace

PageTapConfig PageTapConfig::defaultTable() {
    PageTapConfig t;
    t.tapTopEdge = 4;
    t.tapSingle = 1;
    t.tapDouble = 15;
    t.tapForwardEdge = 2;
    t.tapBackwardEdge = 3;
    return t;
}

int32_t PageTapConfig::field(size_t i) const {
    if (i < 16) return this->*kFields[i];
    if (i < kFieldCount) return dummy[i - 16];
    return 0;
}

void PageTapConfig::setField(size_t i, int32_t value) {
    if (i < 16)
        this->*kFields[i] = value;
    else if (i < kFieldCount)
        dummy[i - 16] = value;
}

std::optional<PageTapConfig> PageTapConfig::fromBytes(const std::string& bytes) {
    if (bytes.size() != kByteSize) return std::nullopt;
    PageTapConfig t;
    for (size_t i = 0; i < kFieldCount; ++i) {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[i * 4 + static_cast<size_t>(b)]);
        t.setField(i, static_cast<int32_t>(v));
    }
    return t;
}

std::string PageTapConfig::toBytes() const {
    std::string out(kByteSize, '\0');
    for (size_t i = 0; i < kFieldCount; ++i) {
        auto v = static_cast<uint32_t>(field(i));
        for (size_t b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    }
    return out;
}

bool PageTapConfig::ensureMenuReachable() {
    // The forward and backward edges are not looked at: they only exist on
    // some layouts, so they cannot be relied on to reach the menu.
    const int32_t areas[] = {tapTopLeft,        tapTopRight,          tapBottomLeft,        tapBottomRight,
                             tapLeftEdge,       tapRightEdge,         tapTopEdge,           tapBottomEdge,
                             tapQuarterTopLeft, tapQuarterTopRight,   tapQuarterBottomLeft, tapQuarterBottomRight,
                             tapDouble};
    bool menuFree = true;
    for (int32_t a : areas) menuFree = menuFree && a != kMenu;
    const bool quartersSet =
        tapQuarterTopLeft != 0 && tapQuarterTopRight != 0 && tapQuarterBottomLeft != 0 && tapQuarterBottomRight != 0;
    // With the single tap on the menu, the quarters still take the taps that
    // land on them, hiding the menu when all four are set.
    const bool act = tapSingle == kMenu ? (menuFree && quartersSet) : menuFree;
    if (!act) return false;
    tapQuarterTopLeft = tapQuarterTopRight = tapQuarterBottomLeft = tapQuarterBottomRight = 0;
    tapSingle = kMenu;
    return true;
}
