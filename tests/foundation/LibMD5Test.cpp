#include "foundation/BookCommon.h"
#include "foundation/LibMD5.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <string>

TEST(LibMD5Test, RFC1321TestSuite) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [input, digest] : vectors) {
        EXPECT_EQ(LibMD5::getMD5StringHexWithBytes(input.data(), input.size()), digest) << input;
        EXPECT_EQ(LibMD5::getMD5StringHexWithString(input), digest) << input;
    }
}

TEST(LibMD5Test, UpperCaseFromLibMD5LowerCaseFromBookCommon) {
    EXPECT_EQ(LibMD5::getMD5StringHexWithString("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(BookCommon::calcMD5StringFromCstring("abc"), "900150983cd24fb0d6963f7d28e17f72");
    // Both stop at the first NUL of a text.
    EXPECT_EQ(LibMD5::getMD5StringHexWithString(std::string("abc\0def", 7)), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(LibMD5Test, PiecewiseUpdatesMatchOneShotAtEveryBoundary) {
    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7 + 3);
    const std::string whole = LibMD5::getMD5StringHexWithBytes(data.data(), data.size());
    for (size_t cut = 0; cut <= data.size(); ++cut) {
        LibMD5 md5;
        md5.update(data.data(), cut);
        md5.update(nullptr, 5);  // nothing to add
        md5.update(data.data() + cut, data.size() - cut);
        uint8_t digest[16];
        md5.final(digest);
        ASSERT_EQ(LibMD5::hexString(digest, true), whole) << cut;
    }
}

// More than 2 GiB in one call: a 32-bit length would drop or wrap bytes.
// The input is a read-only mapping of zero pages, so nothing is allocated.
// Expected digest from md5sum of the same count of zero bytes.
TEST(LibMD5Test, InputsOverTwoGiBAreHashedWhole) {
    const size_t length = (size_t(1) << 31) + 5;
    void* zeros = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (zeros == MAP_FAILED) GTEST_SKIP() << "no address space for the mapping";
    EXPECT_EQ(LibMD5::getMD5StringHexWithBytes(zeros, length), "27A58AC472069B6055C9EC7C843BE6FF");
    ::munmap(zeros, length);
}
