#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sys {

// Unicode work on UTF-8 text through ICU. Invalid UTF-8 is read as U+FFFD
// per bad sequence, so nothing here fails on raw bytes.
class Unicode {
public:
    enum class GeneralCategory {
        Lu, Ll, Lt, Lm, Lo,
        Mn, Mc, Me,
        Nd, Nl, No,
        Pc, Pd, Ps, Pe, Pi, Pf, Po,
        Sm, Sc, Sk, So,
        Zs, Zl, Zp,
        Cc, Cf, Cs, Co, Cn,
    };

    static std::string nfd(std::string_view utf8);
    static std::string nfc(std::string_view utf8);
    static std::string nfkc(std::string_view utf8);
    static std::string nfkd(std::string_view utf8);

    static GeneralCategory generalCategory(char32_t codePoint);
    static bool isSymbol(char32_t codePoint);        // S*
    static bool isDecimalDigit(char32_t codePoint);  // Nd

    // Strict: no overlong forms, surrogates or values above U+10FFFF.
    static bool isValidUtf8(std::string_view bytes);
    // Appends one code point as UTF-8; a surrogate or a value above
    // U+10FFFF is appended as U+FFFD.
    static void appendUtf8(std::string& out, char32_t codePoint);
    // Length in UTF-16 code units (what the platform counts as characters).
    static std::size_t utf16Length(std::string_view utf8);
    static std::u16string toUtf16(std::string_view utf8);
    static std::string fromUtf16(std::u16string_view utf16);  // lone surrogates become U+FFFD

    // Text from outside (a file or site name) made safe to show on a
    // terminal or in a window title: control characters (C0, DEL, C1, line
    // and paragraph separators) and bytes that are no UTF-8 are written as
    // escapes (\e, \n, \x01, \u0085…), and every direction embedding,
    // override or isolate it opens is closed at its end, so the text after
    // it reads as written. Everything else is kept as it is.
    static std::string displaySafe(std::string_view text);

    // Locale-independent case mapping.
    static std::string lowercase(std::string_view utf8);
    static std::string uppercase(std::string_view utf8);

    // -1, 0 or 1. By case-folded code points, no locale.
    static int caseInsensitiveCompare(std::string_view a, std::string_view b);
    // -1, 0 or 1. By the collation of `locale` (the device's when empty),
    // ignoring case but not accents.
    static int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b, const std::string& locale = {});
};

}  // namespace sys
