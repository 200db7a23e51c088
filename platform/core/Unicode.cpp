#include "platform/core/Unicode.h"

#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "platform/core/DeviceProfile.h"

namespace sys {

namespace {

icu::UnicodeString fromUtf8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), int32_t(s.size())));
}

std::string toUtf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

using Getter = const icu::Normalizer2* (*)(UErrorCode&);

std::string normalize(std::string_view utf8, Getter getter) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = getter(status);
    if (U_FAILURE(status) || !n) return std::string(utf8);
    icu::UnicodeString out = n->normalize(fromUtf8(utf8), status);
    if (U_FAILURE(status)) return std::string(utf8);
    return toUtf8(out);
}

}  // namespace

std::string Unicode::nfd(std::string_view utf8) { return normalize(utf8, &icu::Normalizer2::getNFDInstance); }
std::string Unicode::nfc(std::string_view utf8) { return normalize(utf8, &icu::Normalizer2::getNFCInstance); }
std::string Unicode::nfkc(std::string_view utf8) { return normalize(utf8, &icu::Normalizer2::getNFKCInstance); }
std::string Unicode::nfkd(std::string_view utf8) { return normalize(utf8, &icu::Normalizer2::getNFKDInstance); }

Unicode::GeneralCategory Unicode::generalCategory(char32_t cp) {
    switch (u_charType(UChar32(cp))) {
    case U_UPPERCASE_LETTER: return GeneralCategory::Lu;
    case U_LOWERCASE_LETTER: return GeneralCategory::Ll;
    case U_TITLECASE_LETTER: return GeneralCategory::Lt;
    case U_MODIFIER_LETTER: return GeneralCategory::Lm;
    case U_OTHER_LETTER: return GeneralCategory::Lo;
    case U_NON_SPACING_MARK: return GeneralCategory::Mn;
    case U_COMBINING_SPACING_MARK: return GeneralCategory::Mc;
    case U_ENCLOSING_MARK: return GeneralCategory::Me;
    case U_DECIMAL_DIGIT_NUMBER: return GeneralCategory::Nd;
    case U_LETTER_NUMBER: return GeneralCategory::Nl;
    case U_OTHER_NUMBER: return GeneralCategory::No;
    case U_CONNECTOR_PUNCTUATION: return GeneralCategory::Pc;
    case U_DASH_PUNCTUATION: return GeneralCategory::Pd;
    case U_START_PUNCTUATION: return GeneralCategory::Ps;
    case U_END_PUNCTUATION: return GeneralCategory::Pe;
    case U_INITIAL_PUNCTUATION: return GeneralCategory::Pi;
    case U_FINAL_PUNCTUATION: return GeneralCategory::Pf;
    case U_OTHER_PUNCTUATION: return GeneralCategory::Po;
    case U_MATH_SYMBOL: return GeneralCategory::Sm;
    case U_CURRENCY_SYMBOL: return GeneralCategory::Sc;
    case U_MODIFIER_SYMBOL: return GeneralCategory::Sk;
    case U_OTHER_SYMBOL: return GeneralCategory::So;
    case U_SPACE_SEPARATOR: return GeneralCategory::Zs;
    case U_LINE_SEPARATOR: return GeneralCategory::Zl;
    case U_PARAGRAPH_SEPARATOR: return GeneralCategory::Zp;
    case U_CONTROL_CHAR: return GeneralCategory::Cc;
    case U_FORMAT_CHAR: return GeneralCategory::Cf;
    case U_SURROGATE: return GeneralCategory::Cs;
    case U_PRIVATE_USE_CHAR: return GeneralCategory::Co;
    default: return GeneralCategory::Cn;
    }
}

bool Unicode::isSymbol(char32_t cp) {
    switch (generalCategory(cp)) {
    case GeneralCategory::Sm:
    case GeneralCategory::Sc:
    case GeneralCategory::Sk:
    case GeneralCategory::So: return true;
    default: return false;
    }
}

bool Unicode::isDecimalDigit(char32_t cp) { return generalCategory(cp) == GeneralCategory::Nd; }

void Unicode::appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool Unicode::isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int64_t length = int64_t(bytes.size());
    int64_t i = 0;
    while (i < length) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        // U8_NEXT works on int32 offsets; step through in windows of that size.
        int32_t window = int32_t(std::min<int64_t>(length - i, 4));
        int32_t j = 0;
        UChar32 c;
        U8_NEXT(s + i, j, window, c);
        if (c < 0) return false;
        i += j;
    }
    return true;
}

std::string Unicode::displaySafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // The direction controls the text opened and has not closed, innermost
    // last: 'e' an embedding or override (closed by PDF), 'i' an isolate
    // (closed by PDI, which also closes the embeddings opened inside it).
    std::string open;
    char hex[12];
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c;
        std::size_t length = 1;
        if (s[i] < 0x80) {
            c = s[i];
        } else {
            int32_t window = int32_t(std::min<std::size_t>(text.size() - i, 4));
            int32_t j = 0;
            UChar32 u;
            U8_NEXT(s + i, j, window, u);
            if (u < 0) {
                // Not UTF-8: each byte of the bad sequence shown as itself.
                for (int32_t k = 0; k < j; ++k) {
                    std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(s[i + std::size_t(k)]));
                    out += hex;
                }
                i += std::size_t(j);
                continue;
            }
            c = char32_t(u);
            length = std::size_t(j);
        }
        const std::string_view raw = text.substr(i, length);
        i += length;
        if (c < 0x20 || c == 0x7F) {
            switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\a': out += "\\a"; break;
            case '\b': out += "\\b"; break;
            case 0x1B: out += "\\e"; break;
            default:
                std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(c));
                out += hex;
            }
            continue;
        }
        if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            std::snprintf(hex, sizeof hex, "\\u%04x", unsigned(c));
            out += hex;
            continue;
        }
        switch (c) {
        case 0x202A: case 0x202B: case 0x202D: case 0x202E:  // LRE RLE LRO RLO
            open += 'e';
            break;
        case 0x2066: case 0x2067: case 0x2068:  // LRI RLI FSI
            open += 'i';
            break;
        case 0x202C:  // PDF: closes an embedding, never an isolate
            if (!open.empty() && open.back() == 'e') open.pop_back();
            break;
        case 0x2069:  // PDI: closes the innermost isolate and all inside it
            if (auto at = open.rfind('i'); at != std::string::npos) open.erase(at);
            break;
        default:
            break;
        }
        out += raw;
    }
    for (auto it = open.rbegin(); it != open.rend(); ++it) appendUtf8(out, *it == 'e' ? 0x202C : 0x2069);
    return out;
}

std::size_t Unicode::utf16Length(std::string_view utf8) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        if (s[i] < 0x80) {
            ++i;
            ++units;
            continue;
        }
        int32_t window = int32_t(std::min<std::size_t>(utf8.size() - i, 4));
        int32_t j = 0;
        UChar32 c;
        U8_NEXT(s + i, j, window, c);
        units += (c > 0xFFFF) ? 2 : 1;
        i += std::size_t(j);
    }
    return units;
}

std::u16string Unicode::toUtf16(std::string_view utf8) {
    icu::UnicodeString u = fromUtf8(utf8);
    return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), std::size_t(u.length()));
}

std::string Unicode::fromUtf16(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    std::size_t i = 0;
    while (i < utf16.size()) {
        char32_t c = utf16[i++];
        if (c >= 0xD800 && c <= 0xDBFF && i < utf16.size() && utf16[i] >= 0xDC00 && utf16[i] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(utf16[i++]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        uint8_t buf[4];
        int32_t n = 0;
        U8_APPEND_UNSAFE(buf, n, UChar32(c));
        out.append(reinterpret_cast<const char*>(buf), std::size_t(n));
    }
    return out;
}

std::string Unicode::lowercase(std::string_view utf8) {
    icu::UnicodeString u = fromUtf8(utf8);
    u.toLower(icu::Locale::getRoot());
    return toUtf8(u);
}

std::string Unicode::uppercase(std::string_view utf8) {
    icu::UnicodeString u = fromUtf8(utf8);
    u.toUpper(icu::Locale::getRoot());
    return toUtf8(u);
}

int Unicode::caseInsensitiveCompare(std::string_view a, std::string_view b) {
    int r = fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER);
    return (r > 0) - (r < 0);
}

int Unicode::localizedCaseInsensitiveCompare(std::string_view a, std::string_view b, const std::string& locale) {
    std::string id = locale.empty() ? DeviceProfile::current().localeIdentifier : locale;
    // Collators are costly to make and not to be shared between threads:
    // keep one per locale and thread (file lists sort with this).
    thread_local std::map<std::string, std::unique_ptr<icu::Collator>> cache;
    auto& coll = cache[id];
    UErrorCode status = U_ZERO_ERROR;
    if (!coll) {
        coll.reset(icu::Collator::createInstance(icu::Locale(id.c_str()), status));
        if (U_FAILURE(status) || !coll) {
            coll.reset();
            return caseInsensitiveCompare(a, b);
        }
        coll->setStrength(icu::Collator::SECONDARY);
    }
    UCollationResult r = coll->compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                           icu::StringPiece(b.data(), int32_t(b.size())), status);
    if (U_FAILURE(status)) return caseInsensitiveCompare(a, b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace sys
