#include "platform/graphics/ImageDecoder.h"
#include "platform/core/FileManager.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// 68 bytes: a PNG header claiming 16384 x 16384 RGBA pixels, then an IDAT
// that holds eight bytes of one row.
const std::vector<uint8_t> kHugePng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x40, 0x00, 0x00, 0x00, 0x40, 0x00, 0x08, 0x06, 0x00, 0x00, 0x00, 0xa9, 0xc8, 0x10, 0x84, 0x00,
    0x00, 0x00, 0x0b, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x60, 0x80, 0x00, 0x00, 0x00, 0x08, 0x00,
    0x01, 0x24, 0xfc, 0x04, 0x72, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// 30 bytes: a GIF whose screen and frame claim 16384 x 16384 and whose
// image data stops at the code size.
const std::vector<uint8_t> kHugeGif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x00, 0x40, 0x00, 0x40,
                                       0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x2c,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x40, 0x00, 0x02};

// Decodes in a child process and returns how much its peak memory grew, or
// UINT64_MAX when the child failed or an image came back. The decoders turn
// a failed allocation into a failed decode, so the peak is what tells.
uint64_t decodePeakGrowth(const std::vector<uint8_t>& data) {
    return test::inChildProcess<uint64_t>(
        [&] {
            const uint64_t before = test::peakResident();
            std::string error;
            gfx::ImageRef image = gfx::ImageDecoder::decode(data, {}, &error);
            return image ? UINT64_MAX : test::peakResident() - before;
        },
        UINT64_MAX);
}

// A real BMP whose header is made to claim 16384 x 16384, cut to `keep`
// bytes of pixel data.
std::vector<uint8_t> hugeBmp(const std::string& source, size_t keep) {
    auto file = sys::FileManager::contentsOfFile(source);
    if (!file || file->size() < 54) return {};
    std::vector<uint8_t> d(file->begin(), file->end());
    const uint32_t pixelsAt = d[10] | d[11] << 8 | d[12] << 16 | uint32_t(d[13]) << 24;
    for (size_t at : {18, 22}) d[at] = 0x00, d[at + 1] = 0x40, d[at + 2] = 0, d[at + 3] = 0;
    d.resize(std::min(d.size(), size_t(pixelsAt) + keep));
    return d;
}

// A real JPEG whose frame header is made to claim 16384 x 16384 and whose
// data is cut 20 bytes into the scan.
std::vector<uint8_t> hugeJpeg(const std::string& source) {
    auto file = sys::FileManager::contentsOfFile(source);
    if (!file) return {};
    std::vector<uint8_t> d(file->begin(), file->end());
    size_t at = 2;
    while (at + 4 <= d.size() && d[at] == 0xFF) {
        const uint8_t marker = d[at + 1];
        const size_t len = size_t(d[at + 2]) << 8 | d[at + 3];
        if (marker >= 0xC0 && marker <= 0xC2 && at + 9 <= d.size()) {
            d[at + 5] = 0x40, d[at + 6] = 0x00, d[at + 7] = 0x40, d[at + 8] = 0x00;
        }
        if (marker == 0xDA) {
            d.resize(std::min(d.size(), at + 2 + len + 20));
            return d;
        }
        at += 2 + len;
    }
    return {};
}

}  // namespace

// A few bytes claiming a huge image fail at the first row the data does not
// hold, before the claimed size is ever taken.
TEST(DecoderMemoryTest, TinyFilesClaimingHugeImagesCostLittleMemory) {
    ASSERT_EQ(kHugePng.size(), 68u);
    ASSERT_EQ(kHugeGif.size(), 30u);
    gfx::ImageInfo info;
    ASSERT_TRUE(gfx::ImageDecoder::probe(kHugePng, info));
    EXPECT_EQ(info.width, 16384);
    ASSERT_TRUE(gfx::ImageDecoder::probe(kHugeGif, info));
    EXPECT_EQ(info.height, 16384);

    // The claimed size is a gigabyte; the data fills a row at most.
    const uint64_t allowed = uint64_t(16) << 20;
    EXPECT_LT(decodePeakGrowth(kHugePng), allowed) << "PNG";
    EXPECT_LT(decodePeakGrowth(kHugeGif), allowed) << "GIF";

    if (!test::haveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir("decodermem");
    // BMP: plain pixels, and runs that stop before the end of the bitmap.
    const std::string bmp = dir.file("page.bmp"), rle = dir.file("rle.bmp");
    ASSERT_EQ(test::shell("convert-im6.q16 -size 64x48 plasma:fractal -seed 3 BMP3:'" + bmp + "'"), 0);
    ASSERT_EQ(test::shell("convert-im6.q16 -size 64x48 gradient:red-blue -colors 16 -type Palette -compress RLE "
                          "BMP3:'" + rle + "'"), 0);
    EXPECT_LT(decodePeakGrowth(hugeBmp(bmp, 100)), allowed) << "BMP";
    EXPECT_LT(decodePeakGrowth(hugeBmp(rle, 60)), allowed) << "RLE BMP";
    EXPECT_TRUE(gfx::ImageDecoder::decodeFile(bmp));
    EXPECT_TRUE(gfx::ImageDecoder::decodeFile(rle));

    // JPEG: baseline and progressive files made by ImageMagick.
    for (const char* options : {"", "-interlace JPEG"}) {
        const std::string path = dir.file("page.jpg");
        ASSERT_EQ(test::shell(std::string("convert-im6.q16 -size 64x48 plasma:fractal -seed 3 ") + options + " '" +
                              path + "'"), 0);
        std::vector<uint8_t> jpeg = hugeJpeg(path);
        ASSERT_GT(jpeg.size(), 100u) << options;
        ASSERT_TRUE(gfx::ImageDecoder::probe(jpeg, info)) << options;
        EXPECT_EQ(info.width, 16384);
        EXPECT_LT(decodePeakGrowth(jpeg), allowed) << "JPEG " << options;
        // The file as it was still reads.
        EXPECT_TRUE(gfx::ImageDecoder::decodeFile(path)) << options;
    }
}

namespace {

void le16at(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    d[at] = uint8_t(v), d[at + 1] = uint8_t(v >> 8);
}

// A little-endian TIFF of one 8-bit grey strip claiming `width` x `height`
// with `compression`, holding `data` as its strip.
std::vector<uint8_t> greyTiff(uint32_t width, uint32_t height, uint16_t compression, const std::vector<uint8_t>& data) {
    const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t values[] = {width, height, 8, compression, 1, 0, 1, height, uint32_t(data.size())};
    const size_t count = std::size(values);
    const size_t stripAt = 8 + 2 + count * 12 + 4;
    std::vector<uint8_t> d = {'I', 'I', 42, 0, 8, 0, 0, 0};
    d.resize(stripAt);
    le16at(d, 8, uint32_t(count));
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 10 + i * 12;
        le16at(d, e, tags[i][0]);
        le16at(d, e + 2, tags[i][1]);
        d[e + 4] = 1;
        const uint32_t v = tags[i][0] == 273 ? uint32_t(stripAt) : values[i];
        le16at(d, e + 8, v & 0xFFFF);
        le16at(d, e + 10, v >> 16);
    }
    d.insert(d.end(), data.begin(), data.end());
    return d;
}

}  // namespace

// Pictures that are nearly all empty, claimed by files whose data is whole:
// a GIF's screen far larger than its one frame, RLE runs that end at once,
// and a TIFF strip of a few bytes for a gigabyte of pixels.
TEST(DecoderMemoryTest, WholeSmallFilesDoNotCostTheirClaimedSize) {
    const uint64_t allowed = uint64_t(16) << 20;

    // A 16384 x 16384 screen holding one 2 x 2 frame: the picture is the frame.
    const std::vector<uint8_t> gif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x00, 0x40, 0x00, 0x40, 0xf0, 0x00, 0x00,
                                      0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x2c, 0x10, 0x00, 0x20, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x02,
                                      0x0c, 0x5e, 0x00, 0x3b};
    gfx::ImageRef frame = gfx::ImageDecoder::decode(gif);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width(), 2);
    EXPECT_EQ(frame->height(), 2);
    // A screen a little larger than its frame keeps its transparent margin.
    std::vector<uint8_t> framed = gif;
    framed[6] = 40, framed[7] = 0, framed[8] = 50, framed[9] = 0;
    gfx::ImageRef screen = gfx::ImageDecoder::decode(framed);
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->width(), 40);
    EXPECT_EQ(screen->height(), 50);

    // 16384 x 16384 in RLE8 whose runs end the bitmap at once.
    std::vector<uint8_t> rle(54 + 8, 0);
    rle[0] = 'B', rle[1] = 'M', rle[10] = 54 + 8, rle[14] = 40;
    le16at(rle, 18, 0x4000);  // width
    le16at(rle, 22, 0x4000);  // height
    rle[26] = 1, rle[28] = 8, rle[30] = 1, rle[46] = 2;
    rle.insert(rle.end(), {0x00, 0x01});
    gfx::ImageInfo info;
    ASSERT_TRUE(gfx::ImageDecoder::probe(rle, info));
    EXPECT_EQ(info.width, 16384);
    EXPECT_LT(decodePeakGrowth(rle), allowed) << "RLE BMP";
    // The same runs on a small bitmap still read (the rest transparent).
    std::vector<uint8_t> small = rle;
    le16at(small, 18, 64), le16at(small, 22, 48);
    EXPECT_TRUE(gfx::ImageDecoder::decode(small));

    // 16384 x 16384 grey pixels from 11 bytes of deflate, and the same
    // strip under a small size, which reads.
    const std::vector<uint8_t> zeros = {0x78, 0x9c, 0x63, 0x60, 0x18, 0x05, 0x00, 0x00, 0x02, 0x00, 0x01};
    const auto hugeTiff = greyTiff(16384, 16384, 8, zeros);
    ASSERT_TRUE(gfx::ImageDecoder::probe(hugeTiff, info));
    EXPECT_EQ(info.height, 16384);
    EXPECT_LT(decodePeakGrowth(hugeTiff), allowed) << "TIFF";
    EXPECT_LT(decodePeakGrowth(greyTiff(16384, 16384, 1, zeros)), allowed) << "TIFF, uncompressed";
    gfx::ImageRef tiny = gfx::ImageDecoder::decode(greyTiff(4, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->width(), 4);

    // Real blank pages, as small as each compression makes them, still read.
    if (!test::haveProgram("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir("decodermem");
    for (const char* compression : {"Group4", "LZW", "Zip", "JPEG", "RLE"}) {
        const std::string path = dir.file(std::string("blank-") + compression + ".tif");
        ASSERT_EQ(test::shell(std::string("convert-im6.q16 -size 1728x6000 xc:white ") +
                              (std::string(compression) == "Group4" ? "-monochrome " : "") + "-compress " +
                              compression + " '" + path + "'"), 0);
        std::string error;
        gfx::ImageRef page = gfx::ImageDecoder::decodeFile(path, {}, &error);
        ASSERT_TRUE(page) << compression << ": " << error;
        EXPECT_EQ(page->height(), 6000) << compression;
    }
}
