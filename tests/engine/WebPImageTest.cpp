#include "engine/WebPImage.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "tests/platform/graphics/PixelChecks.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace gfx;
using namespace pixeltest;

namespace {

const uint32_t kRed = argb(255, 255, 0, 0);

class WebPImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram(kConvert) || !test::haveProgram("cwebp")) {
            GTEST_SKIP() << "ImageMagick or cwebp is not installed";
        }
        src_ = dir_.file("src.png");
        makeQuadrantsPicture(src_);
        half_ = dir_.file("half.png");
        run(std::string(kConvert) + " " + src_ + " -alpha on -channel A -evaluate set 50% +channel " + half_);
    }
    std::string cwebp(const std::string& options, const std::string& input, const std::string& name) {
        std::string out = dir_.file(name);
        run("cwebp -quiet " + options + " " + input + " -o " + out);
        return out;
    }

    test::TempDir dir_{"webp"};
    std::string src_, half_;
};

}  // namespace

TEST_F(WebPImageTest, DecodesFilesFromCwebp) {
    expectQuadrants(WebPImage::imageWithWebP(cwebp("-q 95", src_, "lossy.webp")), 16);
    expectQuadrants(WebPImage::imageWithWebP(cwebp("-lossless", src_, "lossless.webp")), 0);
    // Straight alpha in the file, premultiplied in memory.
    ImageRef half = WebPImage::imageWithWebP(cwebp("-lossless -exact", half_, "half.webp"));
    ASSERT_TRUE(half);
    EXPECT_TRUE(near(half->pixel(10, 10), argb(128, 128, 0, 0), 1));
    EXPECT_TRUE(validPremultiplied(*half));
    ImageRef lossyAlpha = WebPImage::imageWithWebP(cwebp("-q 90", half_, "half-lossy.webp"));
    ASSERT_TRUE(lossyAlpha);
    EXPECT_TRUE(validPremultiplied(*lossyAlpha));
    EXPECT_NEAR(int(alphaOf(lossyAlpha->pixel(50, 40))), 128, 3);
}

TEST_F(WebPImageTest, ErrorsCarryTheDomainCodeAndStatusName) {
    auto bytes = readBytes(cwebp("-q 80", src_, "cut.webp"));
    ASSERT_GT(bytes.size(), 60u);
    WebPImage::Error err;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(bytes.size() * 2 / 3));
    EXPECT_FALSE(WebPImage::imageWithWebPDataError(cut, &err));
    EXPECT_TRUE(err.message == "NOT_ENOUGH_DATA" || err.message == "BITSTREAM_ERROR") << err.message;
    EXPECT_EQ(err.code, -101);
    EXPECT_EQ(err.domain, "org.leafbright.Leafbright.errorDomain");
    EXPECT_EQ(WebPImage::errorDomain(), err.domain);

    std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 10);
    EXPECT_FALSE(WebPImage::imageWithWebPDataError(header, &err));
    EXPECT_EQ(err.message, "Header formatting error.");
    EXPECT_FALSE(WebPImage::imageWithWebPDataError({}, &err));
    EXPECT_EQ(err.message, "Header formatting error.");
    EXPECT_FALSE(WebPImage::imageWithWebPData(readBytes(src_)));  // a PNG

    // A file that cannot be read hands its read error back.
    EXPECT_FALSE(WebPImage::imageWithWebPError(dir_.file("missing.webp"), &err));
    EXPECT_NE(err.message.find("missing.webp"), std::string::npos);

    // An empty path is a programming error.
    EXPECT_THROW(WebPImage::imageWithWebP(""), std::invalid_argument);

    EXPECT_EQ(WebPImage::statusForVP8Code(1), "OUT_OF_MEMORY");
    EXPECT_EQ(WebPImage::statusForVP8Code(3), "BITSTREAM_ERROR");
    EXPECT_EQ(WebPImage::statusForVP8Code(7), "NOT_ENOUGH_DATA");
    EXPECT_EQ(WebPImage::statusForVP8Code(0), "UNEXPECTED_ERROR");
    EXPECT_EQ(WebPImage::statusForVP8Code(8), "UNEXPECTED_ERROR");
}

TEST_F(WebPImageTest, EncodingRoundTrip) {
    ImageRef src = quadrants(64, 48);
    auto data = WebPImage::imageToWebP(src, 90);
    ASSERT_FALSE(data.empty());
    expectQuadrants(WebPImage::imageWithWebPData(data), 16);

    // Lossless through the configuration block gives the pixels back exactly.
    WebPImage::Error err;
    auto exact = WebPImage::convertToWebP(src, 100, 1.0, WEBP_PRESET_DRAWING,
                                          [](WebPConfig& c) { c.lossless = 1; }, &err);
    ASSERT_FALSE(exact.empty()) << err.message;
    expectQuadrants(WebPImage::imageWithWebPData(exact), 0);

    // Half alpha on the way in.
    auto faded = WebPImage::convertToWebP(src, 100, 0.5, WEBP_PRESET_DEFAULT,
                                          [](WebPConfig& c) { c.lossless = 1; }, &err);
    ImageRef back = WebPImage::imageWithWebPData(faded);
    ASSERT_TRUE(back);
    EXPECT_TRUE(near(back->pixel(10, 10), argb(127, 127, 0, 0), 2));

    // A configuration pushed out of range is caught before encoding.
    auto bad = WebPImage::convertToWebP(src, 80, 1.0, WEBP_PRESET_DEFAULT,
                                        [](WebPConfig& c) { c.method = 42; }, &err);
    EXPECT_TRUE(bad.empty());
    EXPECT_EQ(err.message, "One or more configuration parameters are beyond their valid ranges.");
    EXPECT_EQ(err.code, -101);

    EXPECT_THROW(WebPImage::imageToWebP(nullptr, 50), std::invalid_argument);
    EXPECT_THROW(WebPImage::imageToWebP(src, 101), std::invalid_argument);
    EXPECT_THROW(WebPImage::imageToWebP(src, -1), std::invalid_argument);
}

TEST_F(WebPImageTest, AlphaHelpers) {
    ImageRef src = Image::make(2, 1, {kRed, argb(128, 128, 0, 0)});
    ImageRef faded = WebPImage::webPImage(src, 0.5);
    ASSERT_TRUE(faded);
    EXPECT_TRUE(near(faded->pixel(0, 0), argb(127, 127, 0, 0), 1));
    EXPECT_TRUE(near(faded->pixel(1, 0), argb(64, 64, 0, 0), 1));
    EXPECT_TRUE(validPremultiplied(*faded));

    EXPECT_EQ(WebPImage::imageByApplyingAlpha(src, 1.0), src);
    ImageRef applied = WebPImage::imageByApplyingAlpha(src, 0.5);
    ASSERT_TRUE(applied);
    EXPECT_TRUE(near(applied->pixel(0, 0), argb(128, 128, 0, 0), 1));
    EXPECT_THROW(WebPImage::imageByApplyingAlpha(src, 1.5), std::invalid_argument);
    EXPECT_THROW(WebPImage::imageByApplyingAlpha(src, -0.1), std::invalid_argument);
}

TEST_F(WebPImageTest, VersionText) {
    EXPECT_EQ(WebPImage::version(0x010203), "1.2.3");
    EXPECT_EQ(WebPImage::version(0x000605), "0.6.5");
    EXPECT_EQ(WebPImage::version(0x0a0102), "0.1.2");  // "0a" reads as 0
    EXPECT_EQ(WebPImage::version(0x1a0b00), "1.0.0");
}

// The asynchronous forms call exactly one block, on the main loop.
TEST_F(WebPImageTest, AsynchronousDecodeAndEncode) {
    sys::Clock::setVirtual(true);
    auto& loop = sys::RunLoop::main();
    std::string good = cwebp("-q 90", src_, "async.webp");

    int completions = 0, failures = 0;
    bool onMain = true;
    ImageRef got;
    WebPImage::imageWithWebPCompletionBlock(
        good,
        [&](ImageRef img) {
            onMain = onMain && sys::RunLoop::isMainThread();
            got = img;
            ++completions;
        },
        [&](const WebPImage::Error&) { ++failures; });
    WebPImage::Error failed;
    WebPImage::imageWithWebPCompletionBlock(
        dir_.file("missing.webp"), [&](ImageRef) { ++completions; },
        [&](const WebPImage::Error& e) {
            onMain = onMain && sys::RunLoop::isMainThread();
            failed = e;
            ++failures;
        });
    std::vector<uint8_t> encoded;
    WebPImage::imageToWebP(
        quadrants(64, 48), 80, 1.0, WEBP_PRESET_PHOTO,
        [&](std::vector<uint8_t> data) {
            onMain = onMain && sys::RunLoop::isMainThread();
            encoded = std::move(data);
        },
        [&](const WebPImage::Error&) { ++failures; });

    EXPECT_TRUE(loop.runUntil([&] { return completions + failures == 2 && !encoded.empty(); }, 30));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(onMain);
    expectQuadrants(got, 16);
    EXPECT_NE(failed.message.find("missing.webp"), std::string::npos);
    expectQuadrants(WebPImage::imageWithWebPData(encoded), 16);

    EXPECT_THROW(WebPImage::imageWithWebPCompletionBlock(good, nullptr, [](const WebPImage::Error&) {}),
                 std::invalid_argument);
    EXPECT_THROW(WebPImage::imageToWebP(quadrants(4, 4), 50, 2.0, WEBP_PRESET_DEFAULT,
                                        [](std::vector<uint8_t>) {}, [](const WebPImage::Error&) {}),
                 std::invalid_argument);
    sys::Clock::setVirtual(false);
}

namespace {

// 36 bytes of lossless WebP (as cwebp writes it): 4100 x 4100 pixels of red.
const std::vector<uint8_t> kRedSquare = {0x52, 0x49, 0x46, 0x46, 0x1c, 0x00, 0x00, 0x00, 0x57, 0x45, 0x42, 0x50,
                                         0x56, 0x50, 0x38, 0x4c, 0x0f, 0x00, 0x00, 0x00, 0x2f, 0x03, 0xd0, 0x00,
                                         0x04, 0x07, 0x10, 0xfd, 0x8f, 0xfe, 0x07, 0x22, 0xa2, 0xff, 0x01, 0x00};

// How much the peak resident memory grows while `data` is decoded, in a
// child process; UINT64_MAX when an image came back or the child failed.
uint64_t failedDecodePeakGrowth(const std::vector<uint8_t>& data) {
    return test::inChildProcess<uint64_t>(
        [&] {
            const uint64_t before = test::peakResident();
            WebPImage::Error error;
            return WebPImage::imageWithWebPDataError(data, &error) ? UINT64_MAX : test::peakResident() - before;
        },
        UINT64_MAX);
}

}  // namespace

// A few bytes may truly make a large picture; a few bytes that only claim
// one (cut short, or damaged after the header) cost little memory.
TEST(WebPImageMemoryTest, LargePicturesAreTakenOnlyAsTheyDecode) {
    WebPImage::Error error;
    gfx::ImageRef red = WebPImage::imageWithWebPDataError(kRedSquare, &error);
    ASSERT_TRUE(red) << error.message;
    EXPECT_EQ(red->width(), 4100);
    EXPECT_EQ(red->pixel(4099, 4099), kRed);

    // The size claimed becomes 16383 x 16383: a gigabyte of pixels.
    std::vector<uint8_t> huge = kRedSquare;
    huge[21] = 0xfe, huge[22] = 0xff, huge[23] = 0xff, huge[24] = 0x0f;
    std::vector<uint8_t> cut(huge.begin(), huge.begin() + 30);
    EXPECT_FALSE(WebPImage::imageWithWebPDataError(cut, &error));
    EXPECT_NE(error.message.find("NOT_ENOUGH_DATA"), std::string::npos) << error.message;
    const uint64_t allowed = uint64_t(16) << 20;
    EXPECT_LT(failedDecodePeakGrowth(cut), allowed) << "cut short";
    std::vector<uint8_t> damaged = huge;
    for (size_t i = 25; i < damaged.size(); ++i) damaged[i] = 0xff;
    EXPECT_LT(failedDecodePeakGrowth(damaged), allowed) << "damaged";
}
