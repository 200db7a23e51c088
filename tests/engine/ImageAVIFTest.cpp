#include "engine/ImageAVIF.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

using namespace gfx;
using namespace pixeltest;

namespace {

class ImageAVIFTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram(kConvert) || !test::haveProgram("avifenc")) {
            GTEST_SKIP() << "ImageMagick or avifenc is not installed";
        }
        src_ = dir_.file("src.png");
        run(std::string(kConvert) + " -size 64x48 xc:white -fill red -draw 'rectangle 0,0 31,23'"
            " -fill lime -draw 'rectangle 32,0 63,23' -fill blue -draw 'rectangle 0,24 31,47' " + src_);
    }
    std::string avifenc(const std::string& options, const std::string& input, const std::string& name) {
        std::string out = dir_.file(name);
        run("avifenc -s 10 --min 0 --max 8 " + options + " " + input + " " + out + " >/dev/null");
        return out;
    }
    test::TempDir dir_{"avif"};
    std::string src_;
};

}  // namespace

TEST_F(ImageAVIFTest, Gav1IsThere) { EXPECT_TRUE(ImageAVIF::decoderAvailable()); }

TEST_F(ImageAVIFTest, EightTenAndTwelveBitImagesDecode) {
    for (int depth : {8, 10, 12}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        std::string err;
        ImageRef img = ImageAVIF::imageWithContentsOfFile(
            avifenc("-d " + std::to_string(depth), src_, "d" + std::to_string(depth) + ".avif"), &err);
        ASSERT_TRUE(img) << err;
        EXPECT_EQ(img->width(), 64);
        EXPECT_EQ(img->height(), 48);
        EXPECT_TRUE(near(img->pixel(10, 10), argb(255, 255, 0, 0), 24));
        EXPECT_TRUE(near(img->pixel(50, 10), argb(255, 0, 255, 0), 24));
        EXPECT_TRUE(near(img->pixel(10, 40), argb(255, 0, 0, 255), 24));
        EXPECT_TRUE(near(img->pixel(50, 40), argb(255, 255, 255, 255), 24));
    }
}

TEST_F(ImageAVIFTest, AlphaIsPremultiplied) {
    std::string half = dir_.file("half.png");
    run(std::string(kConvert) + " " + src_ + " -alpha on -channel A -evaluate set 50% +channel " + half);
    ImageRef img = ImageAVIF::imageWithContentsOfFile(avifenc("", half, "half.avif"));
    ASSERT_TRUE(img);
    EXPECT_TRUE(validPremultiplied(*img));
    EXPECT_NEAR(int(alphaOf(img->pixel(10, 10))), 128, 3);
    EXPECT_NEAR(int(redOf(img->pixel(10, 10))), 128, 16);
}

TEST_F(ImageAVIFTest, DamagedDataGivesNoImage) {
    auto bytes = readBytes(avifenc("", src_, "cut.avif"));
    ASSERT_GT(bytes.size(), 100u);
    for (double keep : {0.9, 0.5, 0.1}) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(bytes.size() * keep));
        std::string err;
        EXPECT_FALSE(ImageAVIF::imageWithData(cut, &err)) << keep;
        EXPECT_FALSE(err.empty());
        // Cut inside the coded picture: the container parses, the frame does
        // not decode, and that is noticed rather than converting nothing.
        if (keep == 0.9) {
            EXPECT_NE(err.find("decoding"), std::string::npos) << err;
        }
    }
    // Flipped bits in the coded picture: an image or a clean refusal.
    std::vector<uint8_t> scrambled = bytes;
    for (size_t i = scrambled.size() - 40; i < scrambled.size(); ++i) scrambled[i] ^= 0x5A;
    std::string err;
    ImageRef img = ImageAVIF::imageWithData(scrambled, &err);
    EXPECT_TRUE(img || !err.empty());
    EXPECT_FALSE(ImageAVIF::imageWithData({}));
    EXPECT_FALSE(ImageAVIF::imageWithContentsOfFile(dir_.file("missing.avif")));
    EXPECT_FALSE(ImageAVIF::imageWithData(readBytes(src_)));  // a PNG
}
