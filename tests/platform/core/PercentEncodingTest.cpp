#include "platform/core/PercentEncoding.h"

#include <gtest/gtest.h>

using sys::PercentEncoding;

TEST(PercentEncodingTest, HexDigitsBothWays) {
    for (int n = 0; n < 16; ++n) {
        char d = PercentEncoding::hexDigit(n);
        EXPECT_EQ(PercentEncoding::hexValue(d), n);
        EXPECT_EQ(PercentEncoding::hexValue(static_cast<char>(std::tolower(d))), n);
    }
    EXPECT_EQ(PercentEncoding::hexValue('g'), -1);
    EXPECT_EQ(PercentEncoding::hexValue('%'), -1);
    EXPECT_EQ(PercentEncoding::hexDigit(16), '0');
}

TEST(PercentEncodingTest, LenientDecodeKeepsStrayEscapes) {
    EXPECT_EQ(PercentEncoding::decode("a%20b%2Fc%e3%81%82"), "a b/c\xE3\x81\x82");
    EXPECT_EQ(PercentEncoding::decode("100%"), "100%");
    EXPECT_EQ(PercentEncoding::decode("%4"), "%4");
    EXPECT_EQ(PercentEncoding::decode("%zz%41"), "%zzA");
    EXPECT_EQ(PercentEncoding::decode("%00x"), std::string("\0x", 2));
}

TEST(PercentEncodingTest, StrictDecodeRefusesMalformedEscapes) {
    EXPECT_EQ(PercentEncoding::decodeStrict("a%41"), "aA");
    EXPECT_EQ(PercentEncoding::decodeStrict(""), "");
    EXPECT_FALSE(PercentEncoding::decodeStrict("100%"));
    EXPECT_FALSE(PercentEncoding::decodeStrict("%4"));
    EXPECT_FALSE(PercentEncoding::decodeStrict("%g1"));
}
