#include <gtest/gtest.h>

#include "platform/core/Unicode.h"

using sys::Unicode;
using Cat = sys::Unicode::GeneralCategory;

TEST(UnicodeTest, Normalisation) {
    // Full-width digits and half-width katakana fold to their plain forms.
    EXPECT_EQ(Unicode::nfkc("\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93"), "123");  // １２３
    EXPECT_EQ(Unicode::nfkc("\xEF\xBD\xB6"), "\xE3\x82\xAB");                // ｶ -> カ
    EXPECT_EQ(Unicode::nfkc("\xE2\x91\xA0"), "1");                           // ① -> 1
    EXPECT_EQ(Unicode::nfd("\xC3\xA9"), "e\xCC\x81");                        // é -> e + acute
    EXPECT_EQ(Unicode::nfc("e\xCC\x81"), "\xC3\xA9");
    EXPECT_EQ(Unicode::nfd("\xE3\x82\xAC"), "\xE3\x82\xAB\xE3\x82\x99");     // ガ -> カ + dakuten
    EXPECT_EQ(Unicode::nfkd("\xEF\xBC\xA1"), "A");                           // Ａ
    EXPECT_EQ(Unicode::nfc("plain ascii"), "plain ascii");
    EXPECT_EQ(Unicode::nfc(""), "");
    // Bad bytes do not stop the rest from being normalised.
    EXPECT_EQ(Unicode::nfkc("\xFF\xEF\xBC\x91"), "\xEF\xBF\xBD" "1");
}

TEST(UnicodeTest, GeneralCategories) {
    EXPECT_EQ(Unicode::generalCategory(U'5'), Cat::Nd);
    EXPECT_EQ(Unicode::generalCategory(U'\u0663'), Cat::Nd);  // Arabic-Indic three
    EXPECT_EQ(Unicode::generalCategory(U'\uFF11'), Cat::Nd);  // full-width one
    EXPECT_EQ(Unicode::generalCategory(U'\u2460'), Cat::No);  // circled one
    EXPECT_EQ(Unicode::generalCategory(U'A'), Cat::Lu);
    EXPECT_EQ(Unicode::generalCategory(U'\u6F2B'), Cat::Lo);  // 漫
    EXPECT_EQ(Unicode::generalCategory(U'-'), Cat::Pd);
    EXPECT_EQ(Unicode::generalCategory(U' '), Cat::Zs);
    EXPECT_EQ(Unicode::generalCategory(U'\u0378'), Cat::Cn);
    EXPECT_TRUE(Unicode::isSymbol(U'+'));
    EXPECT_TRUE(Unicode::isSymbol(U'$'));
    EXPECT_TRUE(Unicode::isSymbol(U'^'));
    EXPECT_TRUE(Unicode::isSymbol(U'\u00A9'));
    EXPECT_FALSE(Unicode::isSymbol(U'!'));
    EXPECT_TRUE(Unicode::isDecimalDigit(U'\u0663'));
    EXPECT_FALSE(Unicode::isDecimalDigit(U'\u2460'));
}

TEST(UnicodeTest, Utf8Validity) {
    EXPECT_TRUE(Unicode::isValidUtf8(""));
    EXPECT_TRUE(Unicode::isValidUtf8("abc \xC3\xA9 \xE6\xBC\xAB \xF0\x9F\x98\x80"));
    EXPECT_FALSE(Unicode::isValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(Unicode::isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(Unicode::isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(Unicode::isValidUtf8("ok\xE6\xBC"));        // cut short
    EXPECT_FALSE(Unicode::isValidUtf8("\x80"));
    EXPECT_FALSE(Unicode::isValidUtf8("caf\xE9"));           // Latin-1
    EXPECT_TRUE(Unicode::isValidUtf8(std::string("a\0b", 3)));
}

TEST(UnicodeTest, Utf16LengthAndConversion) {
    EXPECT_EQ(Unicode::utf16Length(""), 0u);
    EXPECT_EQ(Unicode::utf16Length("abc"), 3u);
    EXPECT_EQ(Unicode::utf16Length("a\xE2\x82\xAC\xF0\x9F\x98\x80"), 4u);  // a € 😀
    EXPECT_EQ(Unicode::utf16Length("\xFF\xFE"), 2u);                      // each bad byte counts once

    std::u16string u = Unicode::toUtf16("a\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(u, (std::u16string{u'a', u'\u20AC', char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(Unicode::fromUtf16(u), "a\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Unicode::fromUtf16(std::u16string{u'x', char16_t(0xD800), u'y'}), "x\xEF\xBF\xBDy");
    EXPECT_EQ(Unicode::fromUtf16(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(UnicodeTest, CaseMappingAndComparison) {
    EXPECT_EQ(Unicode::lowercase("\xC3\x80" "BC"), "\xC3\xA0" "bc");  // ÀBC
    EXPECT_EQ(Unicode::uppercase("stra\xC3\x9F" "e"), "STRASSE");
    EXPECT_EQ(Unicode::lowercase("I"), "i");  // no Turkish dotless i

    EXPECT_EQ(Unicode::caseInsensitiveCompare("abc", "ABC"), 0);
    EXPECT_EQ(Unicode::caseInsensitiveCompare("abc", "ABD"), -1);
    EXPECT_EQ(Unicode::caseInsensitiveCompare("b", "A"), 1);
    EXPECT_EQ(Unicode::caseInsensitiveCompare("Stra\xC3\x9F" "e", "STRASSE"), 0);
    EXPECT_NE(Unicode::caseInsensitiveCompare("\xC3\xA9", "E"), 0);

    EXPECT_EQ(Unicode::localizedCaseInsensitiveCompare("a", "B", "en_US"), -1);
    EXPECT_EQ(Unicode::localizedCaseInsensitiveCompare("Book", "book", "en_US"), 0);
    EXPECT_NE(Unicode::localizedCaseInsensitiveCompare("\xC3\xA9", "E", "en_US"), 0);
    EXPECT_EQ(Unicode::localizedCaseInsensitiveCompare("\xC3\xA9", "f", "en_US"), -1);  // é sorts with e
    EXPECT_EQ(Unicode::caseInsensitiveCompare("\xC3\xA9", "f"), 1);                    // by code point
}

TEST(UnicodeTest, DisplaySafeTextEscapesControlsAndClosesDirectionChanges) {
    // A name that would set a terminal's title, clear its screen and forge a line.
    EXPECT_EQ(Unicode::displaySafe("bad\x1b]0;PWNED\a\x1b[2J\nFAKE: line\x01.cbz"),
              "bad\\e]0;PWNED\\a\\e[2J\\nFAKE: line\\x01.cbz");
    EXPECT_EQ(Unicode::displaySafe(std::string("a\0b\x7f\r\t", 6)), "a\\x00b\\x7f\\r\\t");
    // C1 controls (CSI, NEL), separators and bytes that are no UTF-8.
    EXPECT_EQ(Unicode::displaySafe("\xC2\x9B" "31m\xC2\x85x\xE2\x80\xA8y"), "\\u009b31m\\u0085x\\u2028y");
    EXPECT_EQ(Unicode::displaySafe("caf\xE9 \x9b" "1m \xE6\xBC"), "caf\\xe9 \\x9b1m \\xe6\\xbc");
    // Names as they are otherwise.
    EXPECT_EQ(Unicode::displaySafe("Caf\xC3\xA9 \xE6\xBC\xAB\xE7\x94\xBB \\ \xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8 %41.cbz"),
              "Caf\xC3\xA9 \xE6\xBC\xAB\xE7\x94\xBB \\ \xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8 %41.cbz");
    // A right-to-left override is closed before what follows; one the name
    // closes itself is not closed again; an isolate's end closes what is in it.
    const std::string rlo = "\xE2\x80\xAE", pdf = "\xE2\x80\xAC", rli = "\xE2\x81\xA7", pdi = "\xE2\x81\xA9";
    EXPECT_EQ(Unicode::displaySafe("x" + rlo + "fdp.cbz"), "x" + rlo + "fdp.cbz" + pdf);
    EXPECT_EQ(Unicode::displaySafe(rlo + "a" + pdf + "b"), rlo + "a" + pdf + "b");
    EXPECT_EQ(Unicode::displaySafe(rli + rlo + "a" + pdi + rlo), rli + rlo + "a" + pdi + rlo + pdf);
    EXPECT_EQ(Unicode::displaySafe(rli + rlo + pdf + pdf + "a"), rli + rlo + pdf + pdf + "a" + pdi);
    EXPECT_EQ(Unicode::displaySafe(pdi + pdf + "a"), pdi + pdf + "a");
}
