#include "foundation/ArraySort.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <utility>

namespace {

std::atomic<int> gSortMode{ArraySort::kOld};

using Byte = unsigned char;

inline bool isDigit(Byte c) { return c >= '0' && c <= '9'; }

// Length of the digit run at p, counting no further than `limit` (so a run
// that reaches the limit is at least that long). Stops at NUL.
inline size_t digitRun(const Byte* p, size_t limit) {
    size_t n = 0;
    while (n < limit && isDigit(p[n])) ++n;
    return n;
}

// ---- Mode 0: "old" ----

// Next token value; 0 at the end of the name.
int64_t tokenOld(const Byte*& p) {
    const Byte c = *p;
    if (c == 0) return 0;
    if (isDigit(c)) {
        const size_t run = digitRun(p, 9);
        if (run <= 8) {
            int64_t v = 0;
            for (size_t k = 0; k < run; ++k) v = v * 10 + (p[k] - '0');
            p += run;
            return v + 1;
        }
    }
    ++p;
    return int64_t(c) + 0x7FFFFEFF;
}

int compareOld(const Byte* a, const Byte* b) {
    for (;;) {
        const int64_t va = tokenOld(a);
        const int64_t vb = tokenOld(b);
        if (va == 0 && vb == 0) return 0;
        if (va == 0) return -1;
        if (vb == 0) return 1;
        if (va != vb) return va < vb ? -1 : 1;
    }
}

// ---- Mode 2: "naturalFast" (and mode 1 on bytes) ----

// Next token value; 0 at the end of the name (no token has value 0).
uint64_t tokenFast(const Byte*& p) {
    const Byte c = *p;
    if (c == 0) return 0;
    if (c <= 47 || (c >= 58 && c <= 64)) {
        ++p;
        return c;
    }
    if (isDigit(c)) {
        const size_t run = digitRun(p, 20);
        if (run <= 19) {
            uint64_t v = 0;
            for (size_t k = 0; k < run; ++k) v = v * 10 + uint64_t(p[k] - '0');
            if (v > uint64_t(INT64_MAX)) v = uint64_t(INT64_MAX);
            p += run;
            return v + 256;
        }
    }
    ++p;
    return uint64_t(c) - 257;  // wraps: letters rank above every number
}

int compareFast(const Byte* a, const Byte* b) {
    for (;;) {
        const uint64_t va = tokenFast(a);
        const uint64_t vb = tokenFast(b);
        if (va == 0 && vb == 0) return 0;
        if (va == 0) return -1;
        if (vb == 0) return 1;
        if (va != vb) return va < vb ? -1 : 1;
    }
}

// ---- Mode 1: "natural" on strings ----

// One code point of UTF-8; 0 when decoding fails (which ends the name).
// Continuation bytes are checked, so a NUL inside a sequence fails too;
// overlong forms and surrogates are not looked for.
size_t decodeUTF8(const Byte* p, UChar32& cp) {
    const Byte c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t extra;
    if (c > 0xFD || (c & 0xC0) == 0x80) return 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    return extra + 1;
}

bool isSymbolCategory(UChar32 cp) {
    switch (u_charType(cp)) {
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL:
        return true;
    default:
        return false;
    }
}

struct NaturalToken {
    uint64_t value = 0;
    bool symbol = false;
    bool number = false;
    bool ended = true;
};

NaturalToken tokenNatural(const Byte*& p) {
    NaturalToken t;
    if (*p == 0) return t;
    if (isDigit(*p)) {
        const size_t run = digitRun(p, 20);
        t.ended = false;
        if (run <= 19) {
            uint64_t v = 0;
            for (size_t k = 0; k < run; ++k) v = v * 10 + uint64_t(p[k] - '0');
            p += run;
            t.value = v + 1;
            t.number = true;
        } else {
            t.value = *p++;
        }
        return t;
    }
    UChar32 cp = 0;
    const size_t len = decodeUTF8(p, cp);
    if (len == 0) return t;
    p += len;
    t.ended = false;
    t.value = uint64_t(cp);
    if (cp < 48 || (cp >= 58 && cp <= 64) || isSymbolCategory(cp)) {
        t.symbol = true;
    } else {
        t.number = u_charType(cp) == U_DECIMAL_DIGIT_NUMBER;
    }
    return t;
}

int compareNatural(const Byte* a, const Byte* b) {
    // A name that has ended keeps the flags of its last token; an empty name
    // has neither flag.
    bool symA = false, numA = false, symB = false, numB = false;
    for (;;) {
        const NaturalToken ta = tokenNatural(a);
        const NaturalToken tb = tokenNatural(b);
        if (!ta.ended) {
            symA = ta.symbol;
            numA = ta.number;
        }
        if (!tb.ended) {
            symB = tb.symbol;
            numB = tb.number;
        }
        if (symA != symB) return symA ? -1 : 1;
        if (numA != numB) return numA ? -1 : 1;
        if (ta.ended && tb.ended) return 0;
        if (ta.ended) return -1;
        if (tb.ended) return 1;
        if (ta.value != tb.value) return ta.value < tb.value ? -1 : 1;
    }
}

// ---- The sort ----

// In-place quick sort with an explicit stack; `Ops` gives setPivot(m) (the
// pivot is a copy, taken once per partition), comparePivot(i) and swap(i, j).
// The scans are bounded by the range, so a comparator that is not a strict
// weak order can misorder but never run off the array; the smaller part is
// always sorted first, which keeps the stack within log2(count) entries.
template <class Ops>
void stackQuickSort(size_t count, Ops& ops) {
    if (count < 2) return;
    constexpr int kStack = 64;
    int64_t lows[kStack];
    int64_t highs[kStack];
    int sp = 0;
    lows[sp] = 0;
    highs[sp] = int64_t(count) - 1;
    ++sp;
    while (sp > 0) {
        --sp;
        const int64_t low = lows[sp];
        const int64_t high = highs[sp];
        if (low >= high) continue;

        ops.setPivot(size_t((low + high) / 2));
        int64_t i = low;
        int64_t j = high;
        for (;;) {
            while (i < high && ops.comparePivot(size_t(i)) < 0) ++i;
            while (j > low && ops.comparePivot(size_t(j)) > 0) --j;
            if (i >= j) break;
            ops.swap(size_t(i), size_t(j));
            ++i;
            --j;
        }

        int64_t bigLow = low, bigHigh = i - 1, smallLow = j + 1, smallHigh = high;
        if (smallHigh - smallLow > bigHigh - bigLow) {
            std::swap(bigLow, smallLow);
            std::swap(bigHigh, smallHigh);
        }
        lows[sp] = bigLow;
        highs[sp] = bigHigh;
        ++sp;
        if (sp < kStack) {
            lows[sp] = smallLow;
            highs[sp] = smallHigh;
            ++sp;
        } else {
            // Cannot happen while the smaller part is at most half; sort it
            // in place rather than drop it should a comparator misbehave.
            for (int64_t k = smallLow + 1; k <= smallHigh; ++k) {
                for (int64_t m = k; m > smallLow; --m) {
                    ops.setPivot(size_t(m - 1));
                    if (ops.comparePivot(size_t(m)) >= 0) break;
                    ops.swap(size_t(m), size_t(m - 1));
                }
            }
        }
    }
}

struct NameOps {
    std::vector<std::string>& keys;
    const ParallelArrays& carried;
    int mode;
    bool isNSData;
    std::string pivot;

    void setPivot(size_t m) { pivot = keys[m]; }
    int comparePivot(size_t i) const { return ArraySort::compare(keys[i].c_str(), pivot.c_str(), mode, isNSData); }
    void swap(size_t i, size_t j) {
        keys[i].swap(keys[j]);
        carried.swap(i, j);
    }
};

template <class T>
struct NumberOps {
    std::vector<T>& values;
    const ParallelArrays& carried;
    bool descending;
    T pivot{};

    void setPivot(size_t m) { pivot = values[m]; }
    int comparePivot(size_t i) const {
        const T v = values[i];
        const bool before = descending ? v > pivot : v < pivot;
        const bool after = descending ? v < pivot : v > pivot;
        return before ? -1 : after ? 1 : 0;
    }
    void swap(size_t i, size_t j) {
        std::swap(values[i], values[j]);
        carried.swap(i, j);
    }
};

template <class T>
bool sortNumbers(std::vector<T>& values, const ParallelArrays& carried, bool descending) {
    if (!carried.hasRows(values.size())) return false;
    NumberOps<T> ops{values, carried, descending};
    stackQuickSort(values.size(), ops);
    return true;
}

// Strict percent decoding as text: nothing when an escape is malformed or
// the bytes are not UTF-8.
std::optional<std::string> percentDecodedUTF8(const std::string& name) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            out += name[i];
            continue;
        }
        if (i + 2 >= name.size() || hex(name[i + 1]) < 0 || hex(name[i + 2]) < 0) return std::nullopt;
        out += static_cast<char>(hex(name[i + 1]) << 4 | hex(name[i + 2]));
        i += 2;
    }
    const uint8_t* s = reinterpret_cast<const uint8_t*>(out.data());
    const int32_t length = static_cast<int32_t>(out.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return std::nullopt;
    }
    return out;
}

}  // namespace

void ArraySort::setSortMode(int mode) { gSortMode.store(mode, std::memory_order_relaxed); }

int ArraySort::sortMode() { return gSortMode.load(std::memory_order_relaxed); }

int ArraySort::compare(const char* a, const char* b, int mode, bool isNSData) {
    const Byte* pa = reinterpret_cast<const Byte*>(a ? a : "");
    const Byte* pb = reinterpret_cast<const Byte*>(b ? b : "");
    switch (mode) {
    case kOld:
        return compareOld(pa, pb);
    case kNatural:
        return isNSData ? compareFast(pa, pb) : compareNatural(pa, pb);
    case kNaturalFast:
        return compareFast(pa, pb);
    default: {
        const int r = std::strcmp(reinterpret_cast<const char*>(pa), reinterpret_cast<const char*>(pb));
        return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    }
}

std::string ArraySort::normalizeForNaturalSort(const std::string& key) {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(err);
    if (U_FAILURE(err)) return key;
    icu::UnicodeString out = nfkc->normalize(icu::UnicodeString::fromUTF8(key), err);
    if (U_FAILURE(err)) return key;
    std::string result;
    out.toUTF8String(result);
    return result;
}

bool ArraySort::quickSortArray(std::vector<std::string>& keys, const ParallelArrays& carried, bool isNSData) {
    if (!carried.hasRows(keys.size())) return false;
    if (keys.size() < 2) return true;
    const int mode = sortMode();
    if (mode == kNatural && !isNSData) {
        // Sort normalised copies, carrying the originals along.
        std::vector<std::string> normalized;
        normalized.reserve(keys.size());
        for (const std::string& k : keys) normalized.push_back(normalizeForNaturalSort(k));
        ParallelArrays withOriginals = carried;
        withOriginals.add(&keys);
        if (withOriginals.count() != carried.count() + 1) return false;
        NameOps ops{normalized, withOriginals, mode, isNSData, {}};
        stackQuickSort(normalized.size(), ops);
        return true;
    }
    NameOps ops{keys, carried, mode, isNSData, {}};
    stackQuickSort(keys.size(), ops);
    return true;
}

bool ArraySort::sortEncoded(std::vector<std::string>& names, const ParallelArrays& carried) {
    std::vector<std::string> keys;
    keys.reserve(names.size());
    for (const std::string& n : names) keys.push_back(percentDecodedUTF8(n).value_or(n));
    return quickSortArray(keys, carried, false);
}

bool ArraySort::sortIntegers(std::vector<int64_t>& values, const ParallelArrays& carried, bool descending) {
    return sortNumbers(values, carried, descending);
}

bool ArraySort::sortDoubles(std::vector<double>& values, const ParallelArrays& carried, bool descending) {
    return sortNumbers(values, carried, descending);
}
