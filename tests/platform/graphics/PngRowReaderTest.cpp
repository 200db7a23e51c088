#include "platform/graphics/PngRowReader.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/RowScaler.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>
#include <spng.h>
#include <zlib.h>

#include <cstring>

using namespace gfx;
using namespace pixeltest;

namespace {

constexpr int kW = 720, kH = 540;

// The pixels as libspng alone gives them (its own unfiltering and
// conversion to 8-bit RGBA, tRNS applied), premultiplied: what the decoder
// gave before the common kinds of page were read by PngRowReader.
ImageRef referenceDecode(const std::vector<uint8_t>& file) {
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return nullptr;
    spng_ihdr ihdr{};
    size_t size = 0;
    std::vector<uint32_t> px;
    bool ok = spng_set_png_buffer(ctx, file.data(), file.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
              spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (ok) {
        px.resize(size / 4);
        ok = spng_decode_image(ctx, px.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
    spng_ctx_free(ctx);
    if (!ok) return nullptr;
    for (uint32_t& p : px) {
        uint8_t b[4];
        std::memcpy(b, &p, 4);
        p = premultiply(b[3], b[0], b[1], b[2]);
    }
    return Image::make(int(ihdr.width), int(ihdr.height), std::move(px));
}

// The reference shrunk by the same area averaging the decoder uses.
ImageRef referenceShrunk(const Image& full, int w, int h) {
    RowScaler scaler(full.width(), full.height(), w, h);
    for (int y = 0; y < full.height(); ++y) scaler.push(full.pixels() + size_t(y) * size_t(full.width()));
    return Image::make(w, h, scaler.take());
}

int worstDistance(const Image& a, const Image& b) {
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) worst = std::max(worst, channelDistance(a.pixel(x, y), b.pixel(x, y)));
    return worst;
}

struct Header {
    int depth, colourType, interlace;
};
Header headerOf(const std::vector<uint8_t>& png) { return {png[24], png[25], png[28]}; }

// Sets a chunk's CRC to match its (altered) type and data; `at` is where
// the chunk's length begins.
void fixCrc(std::vector<uint8_t>& png, size_t at) {
    const uint32_t length = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
    const uint32_t crc = uint32_t(crc32(0L, png.data() + at + 4, uInt(length + 4)));
    for (int k = 0; k < 4; ++k) png[at + 8 + length + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void appendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    for (int k = 0; k < 4; ++k) png.push_back(uint8_t(data.size() >> (24 - 8 * k)));
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, data.data(), uInt(data.size()));
    for (int k = 0; k < 4; ++k) png.push_back(uint8_t(crc >> (24 - 8 * k)));
}

size_t firstIdat(const std::vector<uint8_t>& png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
        if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0) return at;
        at += 12 + size_t(length);
    }
    return 0;
}

class PngRowReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
        // Smooth colour with fine noise on top (so that every row filter
        // finds use), over an alpha that runs from opaque at the top to
        // transparent at the bottom.
        colour_ = dir_.file("colour.png");
        run(std::string(kConvert) + " -size " + std::to_string(kW) + "x" + std::to_string(kH) +
            " -seed 3 plasma:fractal -depth 16 -define png:compression-level=1 " + colour_);
        alpha_ = dir_.file("alpha.png");
        run(std::string(kConvert) + " " + colour_ + " \\( -size " + std::to_string(kW) + "x" + std::to_string(kH) +
            " gradient: \\) -alpha off -compose CopyOpacity -composite -depth 16 -define png:compression-level=1 " +
            alpha_);
    }

    std::vector<uint8_t> make(const std::string& from, const std::string& options, const std::string& name) {
        size_t colon = name.find(':');
        std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon + 1);
        std::string out = dir_.file(name.substr(prefix.size()));
        run(std::string(kConvert) + " " + from + " " + options + " " + prefix + out);
        return readBytes(out);
    }

    test::TempDir dir_{"pngrows"};
    std::string colour_, alpha_;
};

}  // namespace

// Every kind of PNG page decodes to the pixels libspng gives, whole and
// shrunk while decoding: those PngRowReader reads (grey and truecolour, with
// and without alpha, 8 and 16 bits, each row filter, small pictures on one
// thread and large ones on two) and those it leaves to libspng (palettes,
// tRNS, fewer than 8 bits, interlaced).
TEST_F(PngRowReaderTest, EveryKindDecodesAsLibspngDecodesIt) {
    struct Kind {
        const std::string* from;
        std::string options;
        std::string name;
        Header header;
        bool rowReader;
    };
    const std::string& c = colour_;
    const std::string& a = alpha_;
    const std::vector<Kind> kinds = {
        {&c, "-depth 8", "PNG24:rgb8.png", {8, 2, 0}, true},
        {&a, "-depth 8", "PNG32:rgba8.png", {8, 6, 0}, true},
        {&c, "-depth 16", "PNG48:rgb16.png", {16, 2, 0}, true},
        {&a, "-depth 16", "PNG64:rgba16.png", {16, 6, 0}, true},
        {&c, "-colorspace Gray -depth 8 -define png:color-type=0", "grey8.png", {8, 0, 0}, true},
        {&c, "-colorspace Gray -depth 16 -define png:color-type=0", "grey16.png", {16, 0, 0}, true},
        {&a, "-colorspace Gray -depth 8 -define png:color-type=4", "greya8.png", {8, 4, 0}, true},
        {&a, "-colorspace Gray -depth 16 -define png:color-type=4", "greya16.png", {16, 4, 0}, true},
        // One row filter throughout, for each of the five (none, sub, up,
        // average, Paeth), at three and eight bytes a pixel.
        {&c, "-depth 8 -define png:compression-filter=0", "PNG24:f0.png", {8, 2, 0}, true},
        {&c, "-depth 8 -define png:compression-filter=1", "PNG24:f1.png", {8, 2, 0}, true},
        {&c, "-depth 8 -define png:compression-filter=2", "PNG24:f2.png", {8, 2, 0}, true},
        {&c, "-depth 8 -define png:compression-filter=3", "PNG24:f3.png", {8, 2, 0}, true},
        {&c, "-depth 8 -define png:compression-filter=4", "PNG24:f4.png", {8, 2, 0}, true},
        {&a, "-depth 16 -define png:compression-filter=1", "PNG64:g1.png", {16, 6, 0}, true},
        {&a, "-depth 16 -define png:compression-filter=3", "PNG64:g3.png", {16, 6, 0}, true},
        {&a, "-depth 16 -define png:compression-filter=4", "PNG64:g4.png", {16, 6, 0}, true},
        {&a, "-colorspace Gray -depth 8 -define png:color-type=4 -define png:compression-filter=4", "ga4.png",
         {8, 4, 0}, true},
        // Left to libspng.
        {&a, "-colors 200", "PNG8:palette.png", {8, 3, 0}, false},
        {&c, "-depth 8 -fill white -opaque 'rgb(128,128,128)' -transparent white", "PNG24:trns.png", {8, 2, 0}, false},
        {&c, "-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4", "grey4.png", {4, 0, 0}, false},
        {&a, "-depth 16 -interlace PNG", "PNG64:interlaced16.png", {16, 6, 1}, false},
        {&c, "-depth 8 -interlace PNG", "PNG24:interlaced8.png", {8, 2, 1}, false},
    };
    // ImageMagick makes them all at once.
    std::string script;
    for (const Kind& k : kinds) {
        const size_t colon = k.name.find(':');
        script += std::string(kConvert) + " " + *k.from + " " + k.options + " -define png:compression-level=1 " +
                  k.name.substr(0, colon + 1) +
                  dir_.file(k.name.substr(colon + 1)) + " & ";
    }
    run("{ " + script + "wait; }");
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::vector<uint8_t> png = readBytes(dir_.file(k.name.substr(k.name.find(':') + 1)));
        ASSERT_GT(png.size(), 29u);
        const Header h = headerOf(png);
        ASSERT_EQ(h.depth, k.header.depth);
        ASSERT_EQ(h.colourType, k.header.colourType);
        ASSERT_EQ(h.interlace, k.header.interlace);
        EXPECT_EQ(PngRowReader::handles(h.colourType, h.depth, h.interlace) && k.name.find("trns") == std::string::npos,
                  k.rowReader);
        ImageRef ref = referenceDecode(png);
        ASSERT_TRUE(ref);
        std::string err;
        ImageRef whole = ImageDecoder::decode(png, {}, &err);
        ASSERT_TRUE(whole) << err;
        ASSERT_EQ(whole->width(), kW);
        ASSERT_EQ(whole->height(), kH);
        EXPECT_LE(worstDistance(*whole, *ref), 1);
        EXPECT_TRUE(validPremultiplied(*whole));

        // Interlaced rows come pass by pass: such pictures are decoded
        // whole, and shrunk by the caller.
        ImageRef small = ImageDecoder::decode(png, {301, 0}, &err);
        ASSERT_TRUE(small) << err;
        if (h.interlace) {
            EXPECT_LE(worstDistance(*small, *ref), 1);
            continue;
        }
        ASSERT_EQ(small->width(), 301);
        ASSERT_LT(small->height(), kH);
        EXPECT_LE(worstDistance(*small, *referenceShrunk(*ref, 301, small->height())), 1);
    }
}

// Damaged or cut image data fails with a message, on one thread and on
// two, whether the picture is kept whole or shrunk; nothing is left running.
// Image data that stops without its checksum or runs on past the picture
// is taken as it stands, as libspng takes it.
TEST_F(PngRowReaderTest, DamagedImageDataFailsCleanly) {
    for (const char* name : {"PNG24:small.png", "PNG64:large.png"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> png = make(name[3] == '6' ? alpha_ : colour_, "-define png:compression-level=1", name);
        const Header h = headerOf(png);
        ASSERT_TRUE(PngRowReader::handles(h.colourType, h.depth, h.interlace));
        const size_t raw = (size_t(kW) * size_t(h.depth / 8) * (h.colourType == 6 ? 4 : 3) + 1) * size_t(kH);
        EXPECT_EQ(raw >= PngRowReader::kThreadedBytes, std::string(name) == "PNG64:large.png");
        ImageRef ref = referenceDecode(png);
        ASSERT_TRUE(ref);

        // The image data, and the file around it.
        std::vector<uint8_t> data, before, after;
        for (size_t at = 8; at + 12 <= png.size();) {
            const size_t length = be32(png.data() + at);
            const auto chunk = png.begin() + long(at);
            if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0)
                data.insert(data.end(), chunk + 8, chunk + 8 + long(length));
            else
                (data.empty() ? before : after).insert((data.empty() ? before : after).end(), chunk, chunk + 12 + long(length));
            at += 12 + length;
        }
        before.insert(before.begin(), png.begin(), png.begin() + 8);
        ASSERT_GT(data.size(), 40000u);
        // A file with the image data in chunks of 4 KiB (the last four
        // bytes, the stream's checksum, in one of their own), the first
        // `chunks` of them (all when negative), and what follows them
        // unless `cut`.
        auto build = [&](const std::vector<uint8_t>& d, int chunks, bool cut) {
            std::vector<uint8_t> out = before;
            for (size_t at = 0; at < d.size() && chunks-- != 0;) {
                const size_t end = at < d.size() - 4 ? std::min(d.size() - 4, at + 4096) : d.size();
                appendChunk(out, "IDAT", std::vector<uint8_t>(d.begin() + long(at), d.begin() + long(end)));
                at = end;
            }
            if (!cut) out.insert(out.end(), after.begin(), after.end());
            return out;
        };
        std::vector<uint8_t> garbled = data, badSum = data, noSum(data.begin(), data.end() - 4), runOn = data;
        for (size_t i = 0; i < 64; ++i) garbled[data.size() / 2 + i] = uint8_t(0x5A ^ i);
        badSum.back() ^= 1;
        runOn.insert(runOn.end(), {1, 2, 3, 4, 5});
        const int half = int(data.size() / 4096 / 2);
        std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
            {"cut", build(data, half, true)},
            {"IEND early", build(data, half, false)},
            {"garbled", build(garbled, -1, false)},
            {"checksum", build(badSum, -1, false)},
        };
        bad.push_back({"flipped", build(data, -1, false)});
        bad.back().second[before.size() + size_t(half) * (4096 + 12) + 100] ^= 0x40;
        for (const DecodeOptions& opts : {DecodeOptions{}, DecodeOptions{200, 0}}) {
            for (const auto& [what, file] : bad) {
                std::string err;
                EXPECT_FALSE(ImageDecoder::decode(file, opts, &err)) << what;
                EXPECT_FALSE(err.empty()) << what;
            }
        }
        for (const auto& [what, file] : {std::pair{"no checksum", build(noSum, -1, false)}, {"run on", build(runOn, -1, false)}}) {
            std::string err;
            ImageRef img = ImageDecoder::decode(file, {}, &err);
            ASSERT_TRUE(img) << what << ": " << err;
            EXPECT_EQ(worstDistance(*img, *ref), 0) << what;
        }
    }
}

// A PNG whose first row names filter 7 is refused rather than shown.
TEST_F(PngRowReaderTest, UnknownRowFilterIsRefused) {
    // A 4 x 2 truecolour picture, its rows stored uncompressed so that the
    // filter bytes can be set by hand.
    const std::vector<uint8_t> good = make(colour_, "-resize 4x2! -depth 8 -define png:compression-level=0", "PNG24:tiny.png");
    for (int filter : {0, 7}) {
        std::vector<uint8_t> png = good;
        const size_t idat = firstIdat(png);
        ASSERT_GT(idat, 0u);
        const uint32_t length = uint32_t(png[idat]) << 24 | uint32_t(png[idat + 1]) << 16 |
                                uint32_t(png[idat + 2]) << 8 | png[idat + 3];
        // Rebuild the chunk's data: zlib header, one stored block, Adler-32.
        std::vector<uint8_t> rows(2 * (1 + 4 * 3), 0x80);
        rows[0] = uint8_t(filter);
        rows[13] = 0;
        std::vector<uint8_t> z = {0x78, 0x01, 0x01, uint8_t(rows.size()), 0, uint8_t(~rows.size()), 0xFF};
        z.insert(z.end(), rows.begin(), rows.end());
        const uint32_t adler = uint32_t(adler32(1L, rows.data(), uInt(rows.size())));
        for (int k = 0; k < 4; ++k) z.push_back(uint8_t(adler >> (24 - 8 * k)));
        std::vector<uint8_t> out(png.begin(), png.begin() + long(idat));
        for (int k = 0; k < 4; ++k) out.push_back(uint8_t(z.size() >> (24 - 8 * k)));
        out.insert(out.end(), {'I', 'D', 'A', 'T'});
        out.insert(out.end(), z.begin(), z.end());
        out.insert(out.end(), 4, 0);
        fixCrc(out, idat);
        out.insert(out.end(), png.begin() + long(idat + 12 + length), png.end());
        std::string err;
        ImageRef img = ImageDecoder::decode(out, {}, &err);
        if (filter == 0) {
            ASSERT_TRUE(img) << err;
            EXPECT_EQ(img->pixel(3, 1), argb(255, 128, 128, 128));
        } else {
            EXPECT_FALSE(img);
            EXPECT_NE(err.find("filter"), std::string::npos) << err;
        }
    }
}
