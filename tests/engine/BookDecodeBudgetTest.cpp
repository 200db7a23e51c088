#include "engine/ImageLoader.h"
#include "foundation/FileDelayCloser.h"
#include "platform/graphics/ImageDecoder.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/platform/graphics/PixelChecks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LargePng.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace test;
using pixeltest::channelDistance;
using pixeltest::describe;

namespace {

// The same book twice: pages stored as BMP (which is always decoded whole)
// and as PNG, JPEG or WebP (decoded only as large as a view needs). Views of
// the two must agree: the same sizes, and pixels within what a lossy page
// and a different shrinking filter explain.
class BookDecodeBudgetTest : public BookSessionFixture {
protected:
    void SetUp() override {
        BookSessionFixture::SetUp();
        for (const char* tool : {pixeltest::kConvert, "cwebp"})
            if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    }

    // Three pages: smooth pictures of 1000 x 1500 (page 2 is wide, 1800 x
    // 1200) in a white margin of 80 pixels, as BMP in one book and as PNG,
    // JPEG and WebP in one book each.
    void makeBooks() {
        for (const char* ext : {"png", "jpg", "webp"}) ASSERT_EQ(shell("mkdir -p '" + testDir.file(ext) + "'"), 0);
        for (int i = 0; i < 3; ++i) {
            const int w = i == 2 ? 1800 : 1000, h = i == 2 ? 1200 : 1500;
            const std::string name = "p" + std::to_string(i);
            const std::string bmp = refDir.file(name + ".bmp");
            ASSERT_TRUE(writeBmp(bmp, w, h, [&](int x, int y) -> uint32_t {
                if (x < 80 || y < 80 || x >= w - 80 || y >= h - 80) return 0xFFFFFFFF;
                const double fx = double(x) / w, fy = double(y) / h;
                return gfx::argb(255, uint32_t(128 + 120 * std::sin(7 * fx + i)), uint32_t(128 + 120 * std::cos(5 * fy)),
                                 uint32_t(128 + 100 * std::sin(4 * (fx + fy))));
            }));
            const std::string png = testDir.file("png/" + name + ".png");
            pixeltest::run(std::string(pixeltest::kConvert) + " " + bmp + " " + png);
            pixeltest::run(std::string(pixeltest::kConvert) + " " + bmp + " -quality 95 " + testDir.file("jpg/" + name + ".jpg"));
            pixeltest::run("cwebp -quiet -q 95 " + png + " -o " + testDir.file("webp/" + name + ".webp"));
        }
    }

    std::shared_ptr<const BookPage> view(const std::string& first, int op, int page, gfx::Size area) {
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        EXPECT_TRUE(session->openBookWithName(first, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
        auto v = load(op, page, area);
        session->closeBook();
        session.reset();
        return v;
    }

    // The view of `ext` pages against the view of BMP pages.
    void expectSameView(const std::string& ext, int op, int page, gfx::Size area, int tolerance) {
        SCOPED_TRACE(ext + " page " + std::to_string(page));
        auto ref = view(refDir.file("p0.bmp"), op, page, area);
        auto got = view(testDir.file(ext + "/p0." + ext), op, page, area);
        ASSERT_TRUE(ref && got && ref->image && got->image);
        EXPECT_EQ(got->originalSize, ref->originalSize);
        EXPECT_EQ(got->sourceImageSize1, ref->sourceImageSize1);
        EXPECT_EQ(got->targetSize, ref->targetSize);
        EXPECT_EQ(got->is2PageLoaded, ref->is2PageLoaded);
        EXPECT_EQ(got->isDividedPage, ref->isDividedPage);
        ASSERT_EQ(got->image->width(), ref->image->width());
        ASSERT_EQ(got->image->height(), ref->image->height());
        int worst = 0;
        double sum = 0;
        const int w = got->image->width(), h = got->image->height();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int d = channelDistance(got->image->pixel(x, y), ref->image->pixel(x, y));
                sum += d;
                if (x > 1 && y > 1 && x < w - 2 && y < h - 2) worst = std::max(worst, d);
            }
        EXPECT_LE(worst, tolerance);
        EXPECT_LT(sum / (double(w) * h), 2.0);
    }

    TempDir refDir{"budgetref"};
    TempDir testDir{"budgettest"};
};

}  // namespace

TEST_F(BookDecodeBudgetTest, ReducedPagesComposeLikeWholeOnes) {
    makeBooks();
    for (const char* ext : {"png", "jpg", "webp"}) {
        // JPEG and WebP differ most along the sharp edge of the margin.
        const int tolerance = std::string(ext) == "png" ? 8 : 80;
        // One page fitted into a small display, and zoomed to its width.
        expectSameView(ext, PageLoadRequest::kCompose, 0, {300, 400}, tolerance);
        // A wide page divided: each half from the reduced page.
        set("isDivisionPage", true);
        expectSameView(ext, PageLoadRequest::kCompose, 2, {300, 400}, tolerance);
        set("isDivisionPage", false);
        // Two pages side by side; a wide partner leaves the page alone.
        set("isDoubleTruck", true);
        expectSameView(ext, PageLoadRequest::kCompose, 0, {800, 500}, tolerance);
        expectSameView(ext, PageLoadRequest::kCompose, 1, {800, 500}, tolerance);
        set("isDoubleTruck", false);
    }
}

// Clipping keeps less of the page and shows it larger; the part kept is
// found on the reduced page and the view is as sharp as from the whole.
TEST_F(BookDecodeBudgetTest, ClippedReducedPagesKeepTheSamePart) {
    makeBooks();
    set("clipBlankSpace", "normal");
    auto ref = view(refDir.file("p0.bmp"), PageLoadRequest::kCompose, 0, {300, 400});
    auto got = view(testDir.file("png/p0.png"), PageLoadRequest::kCompose, 0, {300, 400});
    ASSERT_TRUE(ref && got);
    EXPECT_NEAR(got->originalSize.width, ref->originalSize.width, 3);
    EXPECT_NEAR(got->originalSize.height, ref->originalSize.height, 3);
    EXPECT_LT(ref->originalSize.width, 900) << "the margin was clipped";
    EXPECT_EQ(got->sourceImageSize1, (gfx::Size{1000, 1500}));
    // No white margin is left in the view.
    const gfx::Image& img = *got->image;
    EXPECT_LT(channelDistance(img.pixel(img.width() / 2, 3), gfx::argb(255, 255, 255, 255)), 250)
        << describe(img.pixel(img.width() / 2, 3));
}

// A page is decoded no larger than its view needs: a 6000 x 6000 PNG page
// (144 MB whole) shown in a small display costs a few megabytes.
TEST_F(BookDecodeBudgetTest, APageIsDecodedOnlyAsLargeAsItsView) {
    const std::string png = testDir.file("large.png");
    ASSERT_TRUE(writeLargePng(png, 6000, 6000, 1500));
    const uint64_t growth = inChildProcess<uint64_t>(
        [&] {
            session = std::make_shared<BookReaderEx>();
            session->setSettings(settings);
            if (!session->openBookWithName(png, {}, std::nullopt, std::nullopt, std::nullopt, false, false))
                return UINT64_MAX;
            const uint64_t before = peakResident();
            auto v = load(PageLoadRequest::kCompose, 0, {300, 400});
            if (!v || v->image->width() != 300 || v->sourceImageSize1 != gfx::Size{6000, 6000}) return UINT64_MAX;
            return peakResident() - before;
        },
        UINT64_MAX);
    EXPECT_LT(growth, uint64_t(24) << 20) << (growth >> 20) << " MB";
}

// Pages far larger than any display are decoded reduced, row by row: a book
// of 16384 x 16384 PNG pages (a gigabyte each, whole) is read, its next page
// preloaded each time, in a few hundred megabytes.
TEST_F(BookDecodeBudgetTest, AHugePngBookIsReadInLittleMemory) {
    if (!haveProgram("zip")) GTEST_SKIP() << "zip is not installed";
    constexpr int kSide = 16384, kBlock = 4096;
    const std::string png = testDir.file("huge.png");
    ASSERT_TRUE(writeLargePng(png, kSide, kSide, kBlock));
    for (const char* n : {"a", "b", "c"})
        ASSERT_EQ(shell("cp '" + png + "' '" + testDir.file(std::string(n) + ".png") + "'"), 0);
    const std::string book = testDir.file("huge.cbz");
    ASSERT_EQ(shell("cd '" + testDir.path() + "' && zip -q -0 huge.cbz a.png b.png c.png"), 0);
    set("isPreRead", true);

    struct Outcome {
        uint64_t peak;
        int pages;
        uint32_t corner;  // top-left pixel of the last view
        uint32_t far;     // a pixel in the second block across
        int width;
    };
    const Outcome o = inChildProcess<Outcome>(
        [&] {
            Outcome out{0, 0, 0, 0, 0};
            session = std::make_shared<BookReaderEx>();
            session->setSettings(settings);
            if (!session->openBookWithName(book, {}, std::nullopt, std::nullopt, std::nullopt, false, false)) return out;
            const gfx::Size area{1024, 768};
            auto pageRequest = [&](int op, int page) {
                PageLoadRequest r = request(op, page, area);
                r.isPreloadPages = true;
                return r;
            };
            if (session->loadPage(pageRequest(PageLoadRequest::kCompose, 0)) != 0) return out;
            ++out.pages;
            session->waitPreloadThread();
            for (int i = 0; i < 2; ++i) {
                if (session->loadPage(pageRequest(PageLoadRequest::kNext, 0)) != 0) return out;
                ++out.pages;
                session->waitPreloadThread();
            }
            auto v = session->loadedPage();
            // The page, 768 wide, sits in the middle of the 1024 display.
            out.corner = v->image->pixel(130, 2);
            out.far = v->image->pixel(128 + 192 + 20, 2);
            out.width = v->image->width();
            session->closeBook();
            // The child ends as the program does: after the book's file is closed.
            FileDelayCloser::waitForCloseAll();
            out.peak = peakResident();
            return out;
        },
        Outcome{0, -1, 0, 0, 0});
    ASSERT_EQ(o.pages, 3);
    EXPECT_LT(o.peak, uint64_t(400) << 20) << "peak " << (o.peak >> 20) << " MB";
    // Fitted into 1024 x 768: the page comes out 768 x 768 in the middle,
    // its blocks of 192 in place.
    EXPECT_EQ(o.width, 1024);
    const auto c0 = largePngColour(0, 0, kBlock), c1 = largePngColour(kBlock + 1, 0, kBlock);
    EXPECT_TRUE(colourNear(o.corner, gfx::argb(255, c0[0], c0[1], c0[2]), 2)) << describe(o.corner);
    EXPECT_TRUE(colourNear(o.far, gfx::argb(255, c1[0], c1[1], c1[2]), 2)) << describe(o.far);
}

// No decode makes a picture past the budget, and decodes on several threads
// hold no more than the budget between them: the second waits its turn.
TEST(DecodeBudgetTest, DecodesStayWithinTheBudgetTogether) {
    TempDir dir("decodebudget");
    const std::string big = dir.file("big.png"), mid = dir.file("mid.png");
    ASSERT_TRUE(writeLargePng(big, 8192, 8192, 1024));  // 256 MB whole
    ASSERT_TRUE(writeLargePng(mid, 6800, 6800, 850));    // 176 MB whole
    const auto bigBytes = pixeltest::readBytes(big), midBytes = pixeltest::readBytes(mid);

    gfx::ImageRef reduced = ImageLoader::imageWithAnyData(bigBytes);
    ASSERT_TRUE(reduced);
    EXPECT_LE(uint64_t(reduced->width()) * reduced->height() * 4, ImageLoader::kMaxDecodedBytes);
    EXPECT_GT(reduced->width(), 6000);
    EXPECT_EQ(reduced->width(), reduced->height());
    EXPECT_EQ(ImageLoader::decodingBytes(), 0u);

    // Two pictures of 176 MB decoded at once on two threads: one after the
    // other, the peak is one decode's (its pixels, and the copy made while
    // they grow with the rows read).
    const uint64_t growth = inChildProcess<uint64_t>(
        [&] {
            const uint64_t before = peakResident();
            bool ok[2] = {false, false};
            std::thread a([&] { ok[0] = bool(ImageLoader::imageWithAnyData(midBytes)); });
            std::thread b([&] { ok[1] = bool(ImageLoader::imageWithAnyData(midBytes)); });
            a.join();
            b.join();
            return ok[0] && ok[1] ? peakResident() - before : UINT64_MAX;
        },
        UINT64_MAX);
    EXPECT_LT(growth, uint64_t(315) << 20) << (growth >> 20) << " MB";
}
