#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/graphics/ImageScaler.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace gfx;
using namespace pixeltest;

namespace {

const uint32_t kRed = argb(255, 255, 0, 0);
const uint32_t kBlue = argb(255, 0, 0, 255);
const uint32_t kWhite = argb(255, 255, 255, 255);

// Every test starts from the same quadrants picture made by ImageMagick.
class ImageDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
        src_ = dir_.file("src.png");
        makeQuadrantsPicture(src_);
    }

    // Converts the source with extra ImageMagick options into `name`, which
    // may start with an ImageMagick format prefix ("BMP3:x.bmp").
    std::string make(const std::string& options, const std::string& name) {
        size_t colon = name.find(':');
        std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon + 1);
        std::string out = dir_.file(name.substr(prefix.size()));
        run(std::string(kConvert) + " " + src_ + " " + options + " " + prefix + out);
        return out;
    }

    ImageRef decode(const std::string& path, const DecodeOptions& opts = {}) {
        std::string err;
        ImageRef img = ImageDecoder::decodeFile(path, opts, &err);
        EXPECT_TRUE(img) << path << ": " << err;
        return img;
    }

    test::TempDir dir_{"decoder"};
    std::string src_;
};

// An EXIF block holding only an orientation, put right after the SOI marker.
std::vector<uint8_t> withExifOrientation(const std::vector<uint8_t>& jpeg, int orientation) {
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                                 'M', 'M', 0, 42, 0, 0, 0, 8,  // TIFF header, IFD at 8
                                 0, 1,                         // one entry
                                 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, uint8_t(orientation), 0, 0,
                                 0, 0, 0, 0};                  // no next IFD
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

}  // namespace

TEST_F(ImageDecoderTest, JpegVariantsFromImageMagick) {
    expectQuadrants(decode(make("-quality 95", "base.jpg")), 12);
    expectQuadrants(decode(make("-quality 95 -interlace JPEG", "progressive.jpg")), 12);
    // ImageMagick writes CMYK with Adobe's inverted convention.
    expectQuadrants(decode(make("-quality 95 -colorspace CMYK", "cmyk.jpg")), 24);

    ImageRef grey = decode(make("-quality 95 -colorspace Gray", "grey.jpg"));
    ASSERT_TRUE(grey);
    for (auto [x, y] : {std::pair{10, 10}, {50, 10}, {10, 40}, {50, 40}}) {
        uint32_t p = grey->pixel(x, y);
        EXPECT_EQ(redOf(p), greenOf(p));
        EXPECT_EQ(greenOf(p), blueOf(p));
        EXPECT_EQ(alphaOf(p), 255u);
    }
    EXPECT_LT(redOf(grey->pixel(10, 40)), redOf(grey->pixel(10, 10)));  // blue darker than red
    EXPECT_GT(redOf(grey->pixel(50, 40)), 245u);
}

TEST_F(ImageDecoderTest, JpegExifOrientationIsApplied) {
    auto base = readBytes(make("-quality 95", "base.jpg"));
    // For each EXIF value: where the stored top-left (red) quadrant ends up in
    // the upright picture, and the upright size.
    struct Case {
        int orientation;
        int width, height;
        int redX, redY;
    };
    const Case cases[] = {
        {1, 64, 48, 10, 10}, {2, 64, 48, 53, 10}, {3, 64, 48, 53, 37}, {4, 64, 48, 10, 37},
        {5, 48, 64, 10, 10}, {6, 48, 64, 37, 10}, {7, 48, 64, 37, 53}, {8, 48, 64, 10, 53},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation));
        auto bytes = withExifOrientation(base, c.orientation);
        EXPECT_EQ(JpegCodec::exifOrientation(bytes), Orientation(c.orientation));
        ImageInfo info;
        ASSERT_TRUE(ImageDecoder::probe(bytes, info));
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        ImageRef img = ImageDecoder::decode(bytes);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), c.width);
        EXPECT_EQ(img->height(), c.height);
        EXPECT_EQ(img->orientation(), Orientation::Up);
        EXPECT_TRUE(near(img->pixel(c.redX, c.redY), kRed, 12));
    }
    // White (stored bottom-right) for orientation 6 lands bottom-left.
    ImageRef six = ImageDecoder::decode(withExifOrientation(base, 6));
    ASSERT_TRUE(six);
    EXPECT_TRUE(near(six->pixel(10, 53), kWhite, 12));
}

TEST_F(ImageDecoderTest, JpegDctScalingByEighths) {
    std::string page = test::dataPath("pages/01.jpg");
    ImageRef full = decode(page);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->width(), 400);
    EXPECT_EQ(full->height(), 600);
    EXPECT_TRUE(near(full->pixel(200, 300), argb(255, 251, 248, 241), 3));

    struct Case {
        int minW, minH, w, h;
    };
    // The smallest number of eighths that still holds the size asked for.
    for (const Case& c : {Case{100, 150, 100, 150}, Case{101, 0, 150, 225}, Case{40, 40, 50, 75},
                          Case{200, 300, 200, 300}, Case{201, 300, 250, 375}, Case{0, 450, 300, 450},
                          Case{301, 0, 350, 525}, Case{351, 0, 400, 600}, Case{0, 0, 400, 600}}) {
        ImageRef img = decode(page, {c.minW, c.minH});
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), c.w) << c.minW << "x" << c.minH;
        EXPECT_EQ(img->height(), c.h) << c.minW << "x" << c.minH;
    }
    // Asked for exactly, the page comes at the size asked for (the picture's
    // proportions kept), shrunk the rest of the way from the eighths.
    for (const Case& c : {Case{101, 0, 101, 152}, Case{0, 450, 300, 450}, Case{301, 451, 301, 451},
                          Case{250, 370, 250, 375}, Case{0, 0, 400, 600}}) {
        DecodeOptions exact{c.minW, c.minH};
        exact.exact = true;
        ImageRef img = decode(page, exact);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), c.w) << c.minW << "x" << c.minH;
        EXPECT_EQ(img->height(), c.h) << c.minW << "x" << c.minH;
        ImageRef ref = ImageScaler::scale(*full, c.w, c.h);
        // Sharp lines differ between filters: on the whole, the same page.
        double total = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) total += channelDistance(img->pixel(x, y), ref->pixel(x, y));
        EXPECT_LE(total / (c.w * c.h), 3.0) << c.minW << "x" << c.minH;
    }
    // The reduced page still shows the page: paper in the margin, the frame dark.
    ImageRef quarter = decode(page, {100, 150});
    ASSERT_TRUE(quarter);
    EXPECT_TRUE(near(quarter->pixel(2, 2), argb(255, 251, 248, 241), 6));
    EXPECT_LT(redOf(quarter->pixel(8, 75)), 80u);

    // A turned JPEG asks for its minimum in upright terms.
    auto small = readBytes(make("-resize 640x480! -quality 90", "big.jpg"));
    ImageRef turned = ImageDecoder::decode(withExifOrientation(small, 6), {120, 160});
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width(), 120);
    EXPECT_EQ(turned->height(), 160);
    DecodeOptions exact{101, 0};
    exact.exact = true;
    turned = ImageDecoder::decode(withExifOrientation(small, 6), exact);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width(), 101);
    EXPECT_EQ(turned->height(), 135);
}

TEST_F(ImageDecoderTest, PngVariantsFromImageMagick) {
    expectQuadrants(decode(make("", "plain.png")), 0);
    expectQuadrants(decode(make("-interlace PNG", "interlaced.png")), 0);
    expectQuadrants(decode(make("-depth 16", "deep.png")), 0);
    expectQuadrants(decode(make("-interlace PNG -depth 16", "deep-interlaced.png")), 0);
    expectQuadrants(decode(make("", "PNG8:palette.png")), 0);

    // Half-transparent: stored straight, read back premultiplied.
    ImageRef half = decode(make("-alpha on -channel A -evaluate set 50% +channel", "half.png"));
    ASSERT_TRUE(half);
    EXPECT_TRUE(near(half->pixel(10, 10), argb(128, 128, 0, 0), 1));
    EXPECT_TRUE(validPremultiplied(*half));

    // A palette entry made transparent through tRNS.
    ImageRef trns = decode(make("-transparent white", "PNG8:trns.png"));
    ASSERT_TRUE(trns);
    EXPECT_EQ(trns->pixel(50, 40), 0u);
    EXPECT_TRUE(near(trns->pixel(10, 10), kRed, 0));

    ImageRef grey = decode(make("-colorspace Gray -depth 16", "grey16.png"));
    ASSERT_TRUE(grey);
    EXPECT_EQ(redOf(grey->pixel(10, 10)), blueOf(grey->pixel(10, 10)));

    ImageRef page = decode(test::dataPath("pages/06.png"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->width(), 800);
    EXPECT_EQ(page->height(), 600);
}

// Asked for a smaller picture, a PNG is shrunk row by row as it decodes:
// the size asked for (within a pixel, its proportions kept), and the same
// picture as the whole decode scaled afterwards, transparency included.
TEST_F(ImageDecoderTest, PngShrinksRowByRowWhileDecoding) {
    const std::string page = make("-resize 640x480! -blur 0x4", "big.png");
    ImageRef full = decode(page);
    ASSERT_TRUE(full);
    struct Case {
        int minW, minH, w, h;
    };
    for (const Case& c : {Case{320, 240, 320, 240}, Case{321, 240, 321, 240}, Case{100, 0, 100, 75},
                          Case{0, 100, 134, 100}, Case{640, 480, 640, 480}, Case{700, 0, 640, 480}}) {
        ImageRef img = decode(page, {c.minW, c.minH});
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), c.w) << c.minW << "x" << c.minH;
        EXPECT_EQ(img->height(), c.h) << c.minW << "x" << c.minH;
    }
    ImageRef small = decode(page, {160, 120});
    ImageRef ref = ImageScaler::scale(*full, 160, 120);
    ASSERT_TRUE(small && ref);
    int worst = 0;
    for (int y = 2; y < 118; ++y)
        for (int x = 2; x < 158; ++x) worst = std::max(worst, channelDistance(small->pixel(x, y), ref->pixel(x, y)));
    EXPECT_LE(worst, 6);

    // Deep, grey and half-transparent pictures shrink as well (the
    // picture's top-left quarter is red).
    struct Variant {
        const char* options;
        uint32_t topLeft;
    };
    for (const Variant& v : {Variant{"-depth 16", kRed}, Variant{"-colorspace Gray", argb(255, 54, 54, 54)},
                             Variant{"-alpha on -channel A -evaluate set 50% +channel", argb(128, 128, 0, 0)}}) {
        ImageRef q = decode(make(std::string("-resize 640x480! ") + v.options, "variant.png"), {32, 24});
        ASSERT_TRUE(q) << v.options;
        EXPECT_EQ(q->width(), 32) << v.options;
        EXPECT_EQ(q->height(), 24) << v.options;
        EXPECT_TRUE(validPremultiplied(*q)) << v.options;
        EXPECT_TRUE(near(q->pixel(5, 5), v.topLeft, 20)) << v.options << " " << describe(q->pixel(5, 5));
    }

    // Interlaced rows come pass by pass: such a picture is decoded whole.
    ImageRef interlaced = decode(make("-interlace PNG", "interlaced.png"), {16, 12});
    expectQuadrants(interlaced, 0);
}

TEST_F(ImageDecoderTest, GifFirstFrameOnly) {
    std::string red = dir_.file("red.png"), blue = dir_.file("blue.png");
    run(std::string(kConvert) + " -size 40x30 xc:red " + red);
    run(std::string(kConvert) + " -size 40x30 xc:blue " + blue);
    std::string anim = dir_.file("anim.gif");
    run(std::string(kConvert) + " -delay 10 " + red + " " + blue + " " + blue + " -loop 0 " + anim);
    ImageRef img = decode(anim);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 40);
    EXPECT_EQ(img->height(), 30);
    for (auto [x, y] : {std::pair{0, 0}, {39, 29}, {20, 15}}) EXPECT_TRUE(near(img->pixel(x, y), kRed, 0));

    expectQuadrants(decode(make("", "plain.gif")), 0);
    expectQuadrants(decode(make("-interlace GIF", "interlaced.gif")), 0);
    ImageRef clear = decode(make("-transparent white", "clear.gif"));
    ASSERT_TRUE(clear);
    EXPECT_EQ(clear->pixel(50, 40), 0u);
    EXPECT_TRUE(near(clear->pixel(10, 40), kBlue, 0));
}

TEST_F(ImageDecoderTest, TiffVariantsAndOrientation) {
    expectQuadrants(decode(make("", "plain.tif")), 0);
    expectQuadrants(decode(make("-compress LZW", "lzw.tif")), 0);
    expectQuadrants(decode(make("-colorspace CMYK", "cmyk.tif")), 2);
    ImageRef grey = decode(make("-colorspace Gray", "grey.tif"));
    ASSERT_TRUE(grey);
    EXPECT_EQ(redOf(grey->pixel(10, 40)), greenOf(grey->pixel(10, 40)));

    // right-top (6): stored rows are the upright picture's right column.
    ImageRef turned = decode(make("-orient right-top", "turned.tif"));
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width(), 48);
    EXPECT_EQ(turned->height(), 64);
    EXPECT_TRUE(near(turned->pixel(37, 10), kRed, 0));
    EXPECT_TRUE(near(turned->pixel(10, 53), kWhite, 0));
    ImageRef flipped = decode(make("-orient bottom-left", "flipped.tif"));
    ASSERT_TRUE(flipped);
    EXPECT_TRUE(near(flipped->pixel(10, 37), kRed, 0));

    ImageRef half = decode(make("-alpha on -channel A -evaluate set 50% +channel", "half.tif"));
    ASSERT_TRUE(half);
    EXPECT_TRUE(near(half->pixel(10, 10), argb(128, 128, 0, 0), 1));
}

TEST_F(ImageDecoderTest, BmpVariants) {
    expectQuadrants(decode(make("-type truecolor", "BMP3:b24.bmp")), 0);
    expectQuadrants(decode(make("-type palette", "BMP3:b8.bmp")), 0);
    expectQuadrants(decode(make("-colors 16", "BMP3:b4.bmp")), 0);
    expectQuadrants(decode(make("-type palette -compress RLE", "BMP3:rle8.bmp")), 0);
    expectQuadrants(decode(make("-type truecolor -define bmp:subtype=RGB565", "BMP:b565.bmp")), 0);
    expectQuadrants(decode(make("-type truecolor -define bmp:subtype=RGB555", "BMP:b555.bmp")), 0);
    ImageRef mono = decode(make("-monochrome", "BMP3:mono.bmp"));
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->pixel(50, 40), kWhite);
    EXPECT_EQ(mono->pixel(10, 40), argb(255, 0, 0, 0));

    ImageRef half = decode(make("-alpha on -channel A -evaluate set 50% +channel", "BMP:a32.bmp"));
    ASSERT_TRUE(half);
    EXPECT_TRUE(near(half->pixel(10, 10), argb(128, 128, 0, 0), 1));
    EXPECT_TRUE(validPremultiplied(*half));
}

TEST_F(ImageDecoderTest, BmpTopDownAndRle4ByHand) {
    // Top-down: the 24-bit file with its height negated and rows reversed.
    auto bytes = readBytes(make("-type truecolor", "BMP3:b24.bmp"));
    ASSERT_GT(bytes.size(), 54u);
    uint32_t offset = bytes[10] | bytes[11] << 8;
    size_t stride = 64 * 3;
    std::vector<uint8_t> flipped(bytes.begin(), bytes.begin() + offset);
    for (int r = 47; r >= 0; --r) {
        auto row = bytes.begin() + offset + long(size_t(r) * stride);
        flipped.insert(flipped.end(), row, row + long(stride));
    }
    int32_t negative = -48;
    std::memcpy(&flipped[22], &negative, 4);
    expectQuadrants(ImageDecoder::decode(flipped), 0);

    // A 4 x 2 RLE4 bitmap: bottom row "0 1 0 1" as a run, top row "2 2" as a
    // literal then a jump to the end.
    std::vector<uint8_t> rle = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 4, 0,
                                2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                3, 0, 0, 0, 0, 0, 0, 0,
                                0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};  // black, red, blue
    uint32_t pixelsAt = uint32_t(rle.size());
    std::memcpy(&rle[10], &pixelsAt, 4);
    for (uint8_t b : {4, 0x01, 0, 0, 0, 3, 0x22, 0x20, 0, 0, 0, 1}) rle.push_back(b);
    std::string err;
    ImageRef img = ImageDecoder::decode(rle, {}, &err);
    ASSERT_TRUE(img) << err;
    ASSERT_EQ(img->width(), 4);
    ASSERT_EQ(img->height(), 2);
    EXPECT_EQ(img->pixel(0, 1), argb(255, 0, 0, 0));
    EXPECT_EQ(img->pixel(1, 1), kRed);
    EXPECT_EQ(img->pixel(3, 1), kRed);
    EXPECT_EQ(img->pixel(0, 0), kBlue);
    EXPECT_EQ(img->pixel(2, 0), kBlue);
    EXPECT_EQ(img->pixel(3, 0), 0u);  // never painted
}

TEST_F(ImageDecoderTest, FormatComesFromTheBytesNotTheName) {
    std::string png = make("", "plain.png");
    std::string misnamed = dir_.file("really-a-png.jpg");
    writeBytes(misnamed, readBytes(png));
    EXPECT_EQ(ImageDecoder::sniff(readBytes(misnamed)), ImageFormat::Png);
    expectQuadrants(decode(misnamed), 0);
    EXPECT_EQ(ImageDecoder::sniff(readBytes(make("", "x.gif"))), ImageFormat::Gif);
    EXPECT_EQ(ImageDecoder::sniff(readBytes(make("", "x.tif"))), ImageFormat::Tiff);
    EXPECT_EQ(ImageDecoder::sniff(readBytes(make("", "BMP3:x.bmp"))), ImageFormat::Bmp);
    std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(ImageDecoder::sniff(text), ImageFormat::Unknown);
    EXPECT_FALSE(ImageDecoder::decode(text));
    EXPECT_FALSE(ImageDecoder::decode(std::span<const uint8_t>()));
    std::string err;
    EXPECT_FALSE(ImageDecoder::decodeFile(dir_.file("missing.png"), {}, &err));
    EXPECT_FALSE(err.empty());
}

// Every decoder, fed the first part of a real file, answers with no image
// and a message: never a half-grey picture, never a crash.
TEST_F(ImageDecoderTest, TruncatedAndDamagedDataFailCleanly) {
    const std::pair<const char*, const char*> files[] = {
        {"-quality 95", "t.jpg"},   {"-interlace JPEG", "tp.jpg"}, {"", "t.png"},
        {"-interlace PNG", "ti.png"}, {"", "t.gif"},                {"", "t.tif"},
        {"-type truecolor", "BMP3:t.bmp"}, {"-type palette -compress RLE", "BMP3:trle.bmp"},
    };
    for (auto [opts, name] : files) {
        std::string path = make(opts, name);
        auto bytes = readBytes(path);
        ASSERT_GT(bytes.size(), 100u) << name;
        for (double keep : {0.6, 0.3}) {
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(bytes.size() * keep));
            std::string err;
            EXPECT_FALSE(ImageDecoder::decode(cut, {}, &err)) << name << " cut to " << keep;
            EXPECT_FALSE(err.empty()) << name;
        }
        std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 12);
        EXPECT_FALSE(ImageDecoder::decode(header)) << name;
    }
    // Stray bytes before the end marker are only a warning: the picture is whole.
    auto jpeg = readBytes(make("-quality 95", "stray.jpg"));
    ASSERT_GE(jpeg.size(), 4u);
    jpeg.insert(jpeg.end() - 2, {0x00, 0x01, 0x02});
    expectQuadrants(ImageDecoder::decode(jpeg), 12);
    // Garbage after a JPEG signature.
    std::vector<uint8_t> junk = {0xFF, 0xD8, 0xFF, 0xE0, 0, 3, 1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(ImageDecoder::decode(junk));
}

// Headers that claim more pixels than the cap are refused before any pixel
// memory is taken.
TEST_F(ImageDecoderTest, OversizedHeadersAreRefused) {
    auto jpeg = readBytes(make("-quality 90", "big.jpg"));
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: height, width at +5, +7
            jpeg[i + 5] = 0xFF; jpeg[i + 6] = 0xD0;
            jpeg[i + 7] = 0xFF; jpeg[i + 8] = 0xD0;
            break;
        }
    }
    std::string err;
    EXPECT_FALSE(ImageDecoder::decode(jpeg, {}, &err));
    EXPECT_NE(err.find("too large"), std::string::npos) << err;

    auto bmp = readBytes(make("-type truecolor", "BMP3:big.bmp"));
    int32_t huge = 60000;
    std::memcpy(&bmp[18], &huge, 4);
    std::memcpy(&bmp[22], &huge, 4);
    err.clear();
    EXPECT_FALSE(ImageDecoder::decode(bmp, {}, &err));
    EXPECT_NE(err.find("too large"), std::string::npos) << err;

    // PNG: a real header chunk claiming 60000 x 60000, with a correct CRC.
    auto png = readBytes(make("", "big.png"));
    ASSERT_GT(png.size(), 33u);
    for (int i : {16, 20}) {  // width, height (big-endian) inside IHDR
        png[size_t(i)] = 0;
        png[size_t(i) + 1] = 0;
        png[size_t(i) + 2] = 0xEA;
        png[size_t(i) + 3] = 0x60;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; ++i) {  // "IHDR" and its 13 bytes
        crc ^= png[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    for (int k = 0; k < 4; ++k) png[29 + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
    err.clear();
    EXPECT_FALSE(ImageDecoder::decode(png, {}, &err));
    EXPECT_NE(err.find("too large"), std::string::npos) << err;

    // TIFF: ImageWidth and ImageLength of the first directory raised to 60000.
    auto tif = readBytes(make("-compress none", "big.tif"));
    ASSERT_EQ(tif[0], 'I');  // ImageMagick writes little-endian here
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int k = n - 1; k >= 0; --k) v = v << 8 | tif[at + size_t(k)];
        return v;
    };
    uint32_t ifd = le(4, 4);
    int patched = 0;
    for (uint32_t e = 0; e < le(ifd, 2); ++e) {
        size_t at = ifd + 2 + e * 12;
        uint32_t tag = le(at, 2), type = le(at + 2, 2);
        if (tag != 0x100 && tag != 0x101) continue;
        uint32_t v = 60000;
        for (int k = 0; k < (type == 3 ? 2 : 4); ++k) tif[at + 8 + size_t(k)] = uint8_t(v >> (8 * k));
        ++patched;
    }
    ASSERT_EQ(patched, 2);
    err.clear();
    EXPECT_FALSE(ImageDecoder::decode(tif, {}, &err));
    EXPECT_FALSE(err.empty());

    auto gif = readBytes(make("", "big.gif"));
    // Logical screen 65535 x 65535 (the first frame stays small).
    gif[6] = gif[7] = gif[8] = gif[9] = 0xFF;
    err.clear();
    EXPECT_FALSE(ImageDecoder::decode(gif, {}, &err));
    EXPECT_NE(err.find("too large"), std::string::npos) << err;
}

TEST_F(ImageDecoderTest, JpegEncoderRoundTrip) {
    EXPECT_EQ(JpegEncoder::libjpegQuality(0.0), 1);
    EXPECT_EQ(JpegEncoder::libjpegQuality(0.5), 50);
    EXPECT_EQ(JpegEncoder::libjpegQuality(0.8), 80);
    EXPECT_EQ(JpegEncoder::libjpegQuality(1.0), 100);
    EXPECT_EQ(JpegEncoder::libjpegQuality(7.0), 100);
    EXPECT_EQ(JpegEncoder::libjpegQuality(-1.0), 1);

    ImageRef src = quadrants(64, 48);
    auto good = JpegEncoder::encode(*src, 0.95);
    auto poor = JpegEncoder::encode(*src, 0.1);
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(poor.empty());
    EXPECT_LT(poor.size(), good.size());
    EXPECT_EQ(ImageDecoder::sniff(good), ImageFormat::Jpeg);
    expectQuadrants(ImageDecoder::decode(good), 12);

    // A transparent picture comes out as if on black.
    auto clear = JpegEncoder::encode(*solid(16, 16, argb(128, 128, 0, 0)), 1.0);
    ImageRef back = ImageDecoder::decode(clear);
    ASSERT_TRUE(back);
    EXPECT_TRUE(near(back->pixel(8, 8), argb(255, 128, 0, 0), 6));
}
