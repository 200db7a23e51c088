// LIST lines found by fuzzing, kept with what they must read as.
#include "remote/protocols/FtpListParser.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Parsed {
    int kind = -2;
    char name[64] = {};
    int64_t size = -1, time = -1;
    int flags = 0;
};

Parsed parse(const char* line, int style) {
    Parsed p;
    p.kind = ftpListParseLine(line, style, p.name, sizeof p.name, &p.size, &p.time, &p.flags);
    return p;
}

}  // namespace

// EPLF gives seconds since 1970; so many that their ticks overflow are no
// time at all, while the last second of the year 9999 still reads.
TEST(FtpListParserLimitsTest, EplfTimesPastTheYear9999AreNoTimes) {
    const char* found = "+i8388622.485988650690,m82421803055907,/,\tBmoks";
    ASSERT_EQ(ftpListDetectStyle(found), kFtpListStyleEplf);
    Parsed huge = parse(found, kFtpListStyleEplf);
    Parsed timeless = parse("+i8388622.485988650690,/,\tBmoks", kFtpListStyleEplf);
    EXPECT_EQ(huge.kind, 0);
    EXPECT_STREQ(huge.name, "Bmoks");
    EXPECT_EQ(huge.time, timeless.time);

    Parsed last = parse("+m253402300799,r,s5,\tlast.cbz", kFtpListStyleEplf);
    EXPECT_EQ(last.kind, 1);
    EXPECT_EQ(last.size, 5);
    EXPECT_EQ(last.time, 253402300799LL * 10'000'000 + kFtpListTicksTo1970);
    Parsed past = parse("+m253402300800,r,\tpast.cbz", kFtpListStyleEplf);
    EXPECT_EQ(past.time, timeless.time);
}
