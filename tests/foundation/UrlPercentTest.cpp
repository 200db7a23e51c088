#include "foundation/UrlPercent.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string decodeInto(const char* src, size_t capacity) {
    std::string buf(capacity + 4, '#');
    const size_t n = UrlPercentDecode(src, buf.data(), capacity);
    EXPECT_EQ(buf[capacity], '#') << "wrote past the capacity";
    if (capacity > 0) {
        EXPECT_EQ(buf[n], '\0');
    }
    return capacity > 0 ? std::string(buf.data(), n) : std::string();
}

}  // namespace

TEST(UrlPercentTest, DecodesEitherCaseAndStopsAtCutEscapes) {
    EXPECT_EQ(UrlPercent::decoded("a%41%4a%4A%2f"), "aAJJ/");
    EXPECT_EQ(UrlPercent::decoded("%E6%97%A5"), "日");
    EXPECT_EQ(UrlPercent::decoded("name%"), "name");
    EXPECT_EQ(UrlPercent::decoded("name%4"), "name");
    EXPECT_EQ(UrlPercent::decoded("a+b c"), "a+b c");
    // A non-hex digit counts as 0.
    EXPECT_EQ(UrlPercent::decoded("%G1x"), "\x01x");
    EXPECT_EQ(UrlPercent::decoded("%4Gx"), "@x");
    // A decoded NUL ends the name.
    EXPECT_EQ(UrlPercent::decoded("ab%zzcd"), "ab");
    EXPECT_EQ(UrlPercent::decoded(""), "");
}

TEST(UrlPercentTest, BufferFormsNeverWritePastTheCapacity) {
    EXPECT_EQ(decodeInto("abcdef", 4), "abc");
    EXPECT_EQ(decodeInto("%41%42%43", 3), "AB");
    EXPECT_EQ(decodeInto("abc", 1), "");
    EXPECT_EQ(decodeInto("abc", 0), "");
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(UrlPercent::decode(nullptr, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");

    // An escape is cut in the middle when the room ends there.
    char out[4];
    EXPECT_EQ(UrlPercent::encode("a b", out, sizeof out), 3u);
    EXPECT_STREQ(out, "a%2");
    EXPECT_EQ(UrlPercent::encodePath("/a b", out, sizeof out), 3u);
    EXPECT_STREQ(out, "/a%");
}

TEST(UrlPercentTest, EscapeSets) {
    EXPECT_EQ(UrlPercent::encoded("Az09-._~ /:?#%@\xC3\xA9"), "Az09-._~%20%2F%3A%3F%23%25%40%C3%A9");
    EXPECT_EQ(UrlPercent::encodedPath("/dir/a b;c=d?e&f$g+h,i:j@k~l_m#n%o\"p"),
              "/dir/a%20b;c=d?e&f$g+h,i:j@k~l_m%23n%25o%22p");
    // Round trip of every byte.
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(UrlPercent::decoded(UrlPercent::encoded(all)), all);
    EXPECT_EQ(UrlPercent::decoded(UrlPercent::encodedPath(all)), all);
}

TEST(UrlPercentTest, HexDigitOfNibble) {
    EXPECT_EQ(UrlPercent::hexDigit(0), '0');
    EXPECT_EQ(UrlPercent::hexDigit(10), 'A');
    EXPECT_EQ(UrlPercent::hexDigit(15), 'F');
    EXPECT_EQ(UrlPercent::hexDigit(16), '0');
    EXPECT_EQ(UrlPercent::hexDigit(-1), '0');
}
