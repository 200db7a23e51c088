#include "foundation/EncodeASCIIStringElements.h"

namespace {

// Stored links depend on these two: never change them.
constexpr int kStart = 23;
constexpr int kStep = 7;
constexpr int kSymbols = 65;

// Index of a byte in the alphabet 0-9 A-Z a-z _ - %, with "@" read as "%";
// -1 outside it.
int indexOf(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '_') return 62;
    if (c == '-') return 63;
    if (c == '%' || c == '@') return 64;
    return -1;
}

char symbolOf(int index, char last) {
    if (index < 10) return static_cast<char>('0' + index);
    if (index < 36) return static_cast<char>('A' + index - 10);
    if (index < 62) return static_cast<char>('a' + index - 36);
    if (index == 62) return '_';
    if (index == 63) return '-';
    return last;
}

}  // namespace

std::string EncodeASCIIStringElements::stringEncodeASCIIStringElements(const std::string& text) {
    std::string out = text;
    int s = kStart;
    for (char& c : out) {
        const int i = indexOf(static_cast<unsigned char>(c));
        if (i < 0) continue;
        c = symbolOf((i + s + kStep) % kSymbols, '@');
        s = static_cast<unsigned char>(c);
    }
    return out;
}

std::string EncodeASCIIStringElements::stringDecodeASCIIStringElements(const std::string& text) {
    std::string out = text;
    int s = kStart;
    for (char& c : out) {
        const int i = indexOf(static_cast<unsigned char>(c));
        if (i < 0) continue;
        const int input = static_cast<unsigned char>(c);
        c = symbolOf(((i - s - kStep) % kSymbols + kSymbols) % kSymbols, '%');
        s = input;
    }
    return out;
}
