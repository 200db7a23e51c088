#include "foundation/OptimizeFilename.h"

#include <string_view>

namespace {

struct Pair {
    std::string_view open;
    std::string_view close;
};

constexpr Pair kPairs[] = {
    {"(", ")"}, {"\xEF\xBC\x88", "\xEF\xBC\x89"}, {"[", "]"}, {"\xE3\x80\x90", "\xE3\x80\x91"}, {"\xEF\xBC\xBB", "\xEF\xBC\xBD"},
};

// Byte offset of code point `index` in UTF-8 text (text.size() past the end).
size_t offsetOfCodePoint(const std::string& text, size_t index) {
    size_t i = 0;
    for (size_t cp = 0; i < text.size() && cp < index; ++cp) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return i;
}

}  // namespace

std::string OptimizeFilename::getOptimizedString(const std::string& title, std::optional<std::string>* lastElement) {
    std::optional<std::string> element;
    std::string rest = title;
    for (;;) {
        const size_t first = rest.find_first_not_of(' ');
        rest.erase(0, first == std::string::npos ? rest.size() : first);
        bool removed = false;
        for (const Pair& p : kPairs) {
            if (rest.compare(0, p.open.size(), p.open) != 0) continue;
            const size_t close = rest.find(p.close, p.open.size());
            if (close == std::string::npos) continue;
            std::string inner = rest.substr(p.open.size(), close - p.open.size());
            if (!inner.empty()) element = std::move(inner);
            rest.erase(0, close + p.close.size());
            removed = true;
            break;
        }
        if (!removed) break;
    }
    if (lastElement) *lastElement = element;
    return rest.empty() ? title : rest;
}

std::string OptimizeFilename::subStringWithExcludeRange(const std::string& text, size_t location, size_t length) {
    const size_t from = offsetOfCodePoint(text, location);
    const size_t to = offsetOfCodePoint(text, location + length + 1);
    std::string result = text;
    result.erase(from, to - from);
    return result;
}
