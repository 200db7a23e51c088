#include "engine/BookReaderEx.h"

#include "engine/ImageCommon.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookSessionFixture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using test::colourNear;
using test::pageColour;
constexpr uint32_t kClear = 0x00000000;

class BookComposeTest : public test::BookSessionFixture {
protected:
    static uint32_t at(const std::shared_ptr<const BookPage>& p, int x, int y) { return p->image->pixel(x, y); }
    static uint32_t inverted(uint32_t c) { return gfx::argb(255, 255 - gfx::redOf(c), 255 - gfx::greenOf(c), 255 - gfx::blueOf(c)); }
};

TEST_F(BookComposeTest, SinglePageFitsTheAreaAndIsCentred) {
    openBook(2);
    EXPECT_EQ(session->getPageNum(), kPages);
    EXPECT_EQ(session->getSelectedImageNo(), 2);
    EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::ImageFolder);

    auto p = load(PageLoadRequest::kCompose, 0, {300, 600});
    ASSERT_TRUE(p && p->image);
    // 200 x 300 fitted into 300 x 600 is 300 x 450, centred on the area.
    EXPECT_EQ(p->image->width(), 300);
    EXPECT_EQ(p->image->height(), 600);
    EXPECT_EQ(p->offset, (gfx::Point{0, 75}));
    EXPECT_DOUBLE_EQ(p->zoomScale, 1.5);
    EXPECT_EQ(p->originalSize, (gfx::Size{200, 300}));
    EXPECT_EQ(p->targetSize, (gfx::Size{300, 600}));
    EXPECT_EQ(p->sourceImageSize1, (gfx::Size{200, 300}));
    EXPECT_TRUE(colourNear(at(p, 75, 300), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 225, 300), pageColour(0, true)));
    EXPECT_TRUE(colourNear(at(p, 150, 20), kClear, 0));
    EXPECT_TRUE(colourNear(at(p, 150, 590), kClear, 0));
    EXPECT_EQ(p->targetPage, 0);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kComposed);
    EXPECT_TRUE(p->isFirstPage);
    EXPECT_FALSE(p->isLastPage);
    EXPECT_FALSE(p->is2PageLoaded || p->isDividedPage || p->isSecondPage || p->isMoveHalfPage);
    EXPECT_FALSE(BookReaderEx::isPageComposing());

    // Forward and back by one view; the last page knows it is last.
    p = load(PageLoadRequest::kNext, 0, {300, 600});
    EXPECT_EQ(p->targetPage, 1);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kForward);
    EXPECT_FALSE(p->isFirstPage);
    p = load(PageLoadRequest::kPrevious, 0, {300, 600});
    EXPECT_EQ(p->targetPage, 0);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kBackward);
    p = load(PageLoadRequest::kJumpForward, kPages - 1, {300, 600});
    EXPECT_TRUE(p->isLastPage);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kJumpForward);
}

TEST_F(BookComposeTest, ScreenScaleMakesDevicePixelsAndPointOffsets) {
    useProfile("desktop", 2.0);
    openBook();
    auto p = load(PageLoadRequest::kCompose, 0, {300, 600});
    EXPECT_EQ(p->image->width(), 600);
    EXPECT_EQ(p->image->height(), 1200);
    EXPECT_EQ(p->offset, (gfx::Point{0, 75})) << "the offset stays in points";
    EXPECT_EQ(p->targetSize, (gfx::Size{300, 600}));
    EXPECT_TRUE(colourNear(at(p, 150, 600), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 450, 600), pageColour(0, true)));
}

TEST_F(BookComposeTest, WidePageIsDividedRightHalfFirstInARightBoundBook) {
    set("isDivisionPage", true);
    openBook();
    const gfx::Size area{300, 600};
    auto p = load(PageLoadRequest::kJumpForward, kWidePage, area);
    ASSERT_TRUE(p->image);
    EXPECT_TRUE(p->isDividedPage);
    EXPECT_FALSE(p->isSecondPage);
    EXPECT_EQ(p->originalSize, (gfx::Size{200, 300}));
    EXPECT_EQ(p->sourceImageSize1, (gfx::Size{400, 300}));
    EXPECT_EQ(p->image->width(), 300);
    EXPECT_EQ(p->image->height(), 600);
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, true)));

    // Next: the other half of the same page, then the next page's only view.
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage);
    EXPECT_TRUE(p->isDividedPage && p->isSecondPage);
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, false)));
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage + 1);
    EXPECT_FALSE(p->isDividedPage || p->isSecondPage);

    // Back onto the wide page: its second half first, then its first half.
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage);
    EXPECT_TRUE(p->isSecondPage);
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, false)));
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage);
    EXPECT_FALSE(p->isSecondPage);
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, true)));
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage - 1);
    EXPECT_FALSE(p->isDividedPage);
}

TEST_F(BookComposeTest, ASquarePageIsNeverDivided) {
    ASSERT_TRUE(test::writeHalvesPage(pagePath(2), 300, 300, pageColour(2, false), pageColour(2, true)));
    set("isDivisionPage", true);
    openBook();
    auto p = load(PageLoadRequest::kJumpForward, 2, {300, 600});
    EXPECT_FALSE(p->isDividedPage);
    EXPECT_EQ(p->originalSize, (gfx::Size{300, 300}));
    EXPECT_TRUE(colourNear(at(p, 75, 300), pageColour(2, false)));
    EXPECT_TRUE(colourNear(at(p, 225, 300), pageColour(2, true)));
    p = load(PageLoadRequest::kNext, 0, {300, 600});
    EXPECT_EQ(p->targetPage, 3) << "a square page has one view";
}

TEST_F(BookComposeTest, DividedHalvesFollowDirectionAndSwap) {
    set("isDivisionPage", true);
    set("pageDirection", "right");  // left-bound: the left half comes first
    openBook();
    auto p = load(PageLoadRequest::kJumpForward, kWidePage, {300, 600});
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, false)));
    set("isSwitchSplitLeftRight", true);
    p = load(PageLoadRequest::kJumpForward, kWidePage, {300, 600});
    EXPECT_TRUE(colourNear(at(p, 150, 300), pageColour(kWidePage, true)));
    // Division is a viewer setting, never a thumbnail's.
    session->closeBook();
    ASSERT_TRUE(session->openBookWithName(pagePath(0), {}, std::nullopt, std::nullopt, std::nullopt, false, true));
    p = load(PageLoadRequest::kCompose, kWidePage, {300, 600});
    EXPECT_FALSE(p->isDividedPage);
    EXPECT_EQ(p->originalSize, (gfx::Size{400, 300}));
}

TEST_F(BookComposeTest, SpreadPutsTheNextPageOnTheLeftOfARightBoundBook) {
    set("isDoubleTruck", true);
    set("isDivisionPage", true);  // never divides in a two-page view
    openBook();
    const gfx::Size area{800, 300};
    auto p = load(PageLoadRequest::kJumpForward, 0, area);
    ASSERT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 0);
    EXPECT_EQ(p->originalSize, (gfx::Size{400, 300}));
    EXPECT_EQ(p->sourceImageSize2, (gfx::Size{200, 300}));
    EXPECT_EQ(p->image->width(), 800);
    EXPECT_EQ(p->image->height(), 300);
    EXPECT_EQ(p->offset, (gfx::Point{200, 0}));
    // Page 1 on the left, page 0 on the right.
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(1, false)));
    EXPECT_TRUE(colourNear(at(p, 350, 150), pageColour(1, true)));
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 550, 150), pageColour(0, true)));
    EXPECT_TRUE(colourNear(at(p, 100, 150), kClear, 0));

    // The next view would pair 2 with the wide page 3: page 2 shows alone,
    // and the wide page after it whole.
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_EQ(p->targetPage, 2);
    EXPECT_FALSE(p->is2PageLoaded);
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_EQ(p->targetPage, kWidePage);
    EXPECT_FALSE(p->is2PageLoaded || p->isDividedPage);
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 4);
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_EQ(p->targetPage, 6);
    EXPECT_TRUE(p->isLastPage) << "a pair ending on the last page";

    // Backward from (6, 7): pages 4 and 5, still 5 on the left.
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kBackward);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(5, false)));
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(4, false)));

    // A one-page step moves the pair by one page.
    p = load(PageLoadRequest::kNextOnePage, 0, area);
    EXPECT_EQ(p->targetPage, 5);
    EXPECT_TRUE(p->is2PageLoaded && p->isMoveHalfPage);

    // A portrait area never pairs.
    p = load(PageLoadRequest::kCompose, 0, {300, 600});
    EXPECT_FALSE(p->is2PageLoaded);
}

TEST_F(BookComposeTest, APageFarTallerThanWideStandsAloneInASpread) {
    // Page 1 is a strip 200 x 4000: beside page 0 it would be a sliver and
    // page 0 a speck.
    ASSERT_TRUE(test::writeHalvesPage(pagePath(1), 200, 4000, pageColour(1, false), pageColour(1, true)));
    set("isDoubleTruck", true);
    openBook();
    const gfx::Size area{800, 300};
    auto p = load(PageLoadRequest::kJumpForward, 0, area);
    EXPECT_FALSE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 0);
    p = load(PageLoadRequest::kNext, 0, area);
    EXPECT_FALSE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 1);
    EXPECT_EQ(p->originalSize, (gfx::Size{200, 4000}));
    // Ordinary pages still pair.
    p = load(PageLoadRequest::kJumpForward, 4, area);
    EXPECT_TRUE(p->is2PageLoaded);
}

TEST_F(BookComposeTest, SpreadOrderFollowsDirectionAndExchange) {
    set("isDoubleTruck", true);
    set("pageDirection", "right");  // left-bound
    openBook();
    const gfx::Size area{800, 300};
    auto p = load(PageLoadRequest::kJumpForward, 0, area);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(1, false)));
    p = load(PageLoadRequest::kJumpForward, 6, area);
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(4, false)));
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(5, false)));

    set("pageDirection", "left");
    set("isExchangeDoublePage", true);
    p = load(PageLoadRequest::kJumpForward, 0, area);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(0, false))) << "exchanged: page 0 on the left";
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(1, false)));
}

TEST_F(BookComposeTest, SpreadLeavesTheCentreSpaceBetweenThePages) {
    set("isDoubleTruck", true);
    set("centerSpace", "10");
    openBook();
    auto p = load(PageLoadRequest::kJumpForward, 0, {800, 300});
    ASSERT_TRUE(p->is2PageLoaded);
    // 2 x 200 / 0.9 wide; the pages stand 45 points apart in the middle.
    EXPECT_NEAR(p->originalSize.width, 444.44, 0.01);
    EXPECT_EQ(p->offset, (gfx::Point{178, 0}));
    EXPECT_TRUE(colourNear(at(p, 400, 150), kClear, 0));
    EXPECT_TRUE(colourNear(at(p, 300, 150), pageColour(1, true)));
    EXPECT_TRUE(colourNear(at(p, 500, 150), pageColour(0, false)));
}

TEST_F(BookComposeTest, FirstPageAloneWhenAsked) {
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    openBook();
    auto p = load(PageLoadRequest::kJumpForward, 0, {800, 300});
    EXPECT_FALSE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 0);
    p = load(PageLoadRequest::kNext, 0, {800, 300});
    EXPECT_TRUE(p->is2PageLoaded) << "only page 0 stands alone";
    EXPECT_EQ(p->targetPage, 1);

    // However a view is reached, the pairs are those paging from the start
    // shows, (0) (1, 2) [3] (4, 5) (6, 7): a jump back to page 0 shows it
    // alone, and a jump or a fresh view shows the pair holding the page.
    p = load(PageLoadRequest::kJumpForward, 6, {800, 300});
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 6);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(7, false))) << "the later page on the left";
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(6, false)));
    p = load(PageLoadRequest::kJumpBackward, 0, {800, 300});
    EXPECT_FALSE(p->is2PageLoaded) << "a jump back to the first page paired it";
    EXPECT_EQ(p->targetPage, 0);
    p = load(PageLoadRequest::kCompose, 2, {800, 300});
    EXPECT_TRUE(p->is2PageLoaded);
    EXPECT_EQ(p->targetPage, 1);
    p = load(PageLoadRequest::kJumpBackward, 5, {800, 300});
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_TRUE(p->is2PageLoaded);
    // One page back from (1, 2) still leaves page 0 alone.
    load(PageLoadRequest::kJumpBackward, 1, {800, 300});
    p = load(PageLoadRequest::kPreviousOnePage, 0, {800, 300});
    EXPECT_EQ(p->targetPage, 0);
    EXPECT_FALSE(p->is2PageLoaded);
}

// With the first page alone, a one-page step moves the pair by one page,
// and the view before that one never pairs the first page.
TEST_F(BookComposeTest, FirstPageAloneOnePageStepAndBack) {
    ASSERT_TRUE(test::writeHalvesPage(pagePath(kWidePage), 200, 300, pageColour(kWidePage, false),
                                      pageColour(kWidePage, true)));
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    openBook();
    const gfx::Size area{800, 300};
    auto p = load(PageLoadRequest::kJumpForward, 1, area);
    ASSERT_TRUE(p->is2PageLoaded);
    ASSERT_EQ(p->targetPage, 1);
    p = load(PageLoadRequest::kNextOnePage, 0, area);
    EXPECT_EQ(p->targetPage, 2);
    EXPECT_TRUE(p->is2PageLoaded && p->isMoveHalfPage);
    EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(3, false)));
    EXPECT_TRUE(colourNear(at(p, 450, 150), pageColour(2, false)));
    p = load(PageLoadRequest::kPrevious, 0, area);
    EXPECT_EQ(p->targetPage, 1);
    EXPECT_FALSE(p->is2PageLoaded) << "page 2 is on the screen still: page 1 shows alone, never beside page 0";
    EXPECT_TRUE(colourNear(at(p, 350, 150), pageColour(1, false)));
}

// Puts an EXIF block of `bytes` bytes (a TIFF header, no entries, then
// padding) right after a JPEG's start: its size (the SOF marker) then
// comes only after it, as in a camera's picture with a large preview.
bool addExifBlock(const std::string& path, size_t bytes) {
    std::string jpeg = test::readFile(path);
    if (jpeg.size() < 4 || uint8_t(jpeg[0]) != 0xFF || uint8_t(jpeg[1]) != 0xD8 || bytes + 2 > 0xFFFF) return false;
    std::string body = std::string("Exif\0\0II*\0\x08\0\0\0\0\0\0\0\0\0", 20);
    body.resize(bytes, '\0');
    const size_t length = body.size() + 2;
    jpeg.insert(2, std::string{char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)} + body);
    test::writeFile(path, jpeg);
    return true;
}

// A book of twelve pages made by the real tools whose pages 3 and 7 are
// wide (their sizes behind an EXIF block of 10 kB): with the first page
// alone, paging from the start shows (0) (1, 2) [3] (4, 5) (6) [7] (8, 9)
// (10, 11). Paging back, a resumed book, a jump from the slider, the strip
// or the seek bar, the last page and the first show the same views; the
// page sizes come from the pictures' headers. The same pictures as a zip,
// a 7z of one entry a block, and a solid 7z (whose pages are decoded in
// order).
TEST_F(BookComposeTest, SpreadsAreTheSameWhicheverWayAPageIsReached) {
    if (!test::haveProgram("zip") || !test::haveProgram("convert") || !test::haveProgram("7z"))
        GTEST_SKIP() << "no zip, 7z or convert";
    test::TempDir dir{"spreadbook"};
    constexpr int kCount = 12;
    for (int i = 0; i < kCount; ++i) {
        const std::string name = (i < 10 ? "p0" : "p") + std::to_string(i);
        const bool wide = i == 3 || i == 7;
        ASSERT_TRUE(test::writeHalvesPage(dir.file(name + ".bmp"), wide ? 400 : 200, 300, pageColour(i, false),
                                          pageColour(i, true)));
        ASSERT_EQ(test::shell("convert '" + dir.file(name + ".bmp") + "' -quality 95 '" + dir.file(name + ".jpg") +
                              "'"),
                  0);
        if (wide) {
            ASSERT_TRUE(addExifBlock(dir.file(name + ".jpg"), 10 << 10));
        }
    }
    ASSERT_EQ(test::shell("cd '" + dir.path() + "' && zip -q book.cbz p*.jpg && 7z a -bd -ms=off plain.cb7 p*.jpg "
                          ">/dev/null && 7z a -bd solid.cb7 p*.jpg >/dev/null"),
              0);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    const gfx::Size area{800, 300};
    for (const char* book : {"book.cbz", "plain.cb7", "solid.cb7"}) {
        SCOPED_TRACE(book);
        auto open = [&] {
            ASSERT_TRUE(openBookFile(dir.file(book)));
            ASSERT_EQ(session->getPageNum(), kCount);
        };
        const std::vector<std::pair<int, int>> views = {{0, 0}, {1, 2}, {3, 3},  {4, 5},
                                                        {6, 6}, {7, 7}, {8, 9}, {10, 11}};
        auto viewOf = [&](int page) {
            for (auto v : views)
                if (page >= v.first && page <= v.second) return v;
            return std::pair{-1, -1};
        };
        auto expectView = [&](const std::shared_ptr<const BookPage>& p, std::pair<int, int> v, const std::string& how) {
            EXPECT_EQ(p->targetPage, v.first) << how;
            EXPECT_EQ(p->is2PageLoaded, v.first != v.second) << how;
            // Right-bound: the later page on the left.
            if (v.first != v.second) {
                EXPECT_TRUE(colourNear(at(p, 250, 150), pageColour(v.second, false), 24)) << how;
            }
        };

        open();
        expectView(load(PageLoadRequest::kJumpForward, 0, area), views[0], "first page");
        for (size_t k = 1; k < views.size(); ++k)
            expectView(load(PageLoadRequest::kNext, 0, area), views[k], "paging forward to " + std::to_string(k));
        EXPECT_TRUE(session->loadedPage()->isLastPage);
        for (size_t k = views.size() - 1; k-- > 0;)
            expectView(load(PageLoadRequest::kPrevious, 0, area), views[k], "paging back to " + std::to_string(k));

        // Each page reached at once in a book just opened: the pages before it
        // were never shown.
        for (int page = 0; page < kCount; ++page) {
            for (int op : {PageLoadRequest::kJumpForward, PageLoadRequest::kJumpBackward, PageLoadRequest::kCompose}) {
                open();
                const std::string how = "page " + std::to_string(page) + " by operation " + std::to_string(op);
                expectView(load(op, page, area), viewOf(page), how);
                const auto at = viewOf(page);
                if (at.second + 1 < kCount)
                    expectView(load(PageLoadRequest::kNext, 0, area), viewOf(at.second + 1), how + ", then next");
                if (at.first > 0) {
                    load(op, page, area);
                    expectView(load(PageLoadRequest::kPrevious, 0, area), viewOf(at.first - 1), how + ", then back");
                }
            }
        }

        // What the screen asks of the pairs as it names the view shown: the
        // whole book is measured (a solid one as the preload decodes it).
        set("isPreRead", true);
        open();
        PageLoadRequest jump = request(PageLoadRequest::kJumpForward, 9, area);
        jump.isPreloadPages = true;
        ASSERT_EQ(session->loadPage(jump), 0);
        session->waitPreloadThread();
        set("isPreRead", false);
        EXPECT_EQ(session->spreadStart(9), 8);
        EXPECT_EQ(session->spreadStart(5), 4);
        EXPECT_EQ(session->spreadStart(4), 4);
        EXPECT_EQ(session->spreadStart(6), 6);
        EXPECT_EQ(session->spreadStart(7), 7);
        EXPECT_EQ(session->spreadStart(0), 0);
        EXPECT_EQ(session->spreadStart(11), 10) << "the whole book is measured";

        // The view on the screen composed again (after a zoom) stays the pages
        // it shows, even where paging from the start pairs them otherwise.
        load(PageLoadRequest::kJumpForward, 1, area);
        auto p = load(PageLoadRequest::kNextOnePage, 0, area);
        ASSERT_EQ(p->targetPage, 2);
        ASSERT_FALSE(p->is2PageLoaded) << "page 3 is wide";
        load(PageLoadRequest::kJumpForward, 4, area);
        p = load(PageLoadRequest::kNextOnePage, 0, area);
        ASSERT_TRUE(p->is2PageLoaded);
        ASSERT_EQ(p->targetPage, 5);
        PageLoadRequest again = request(PageLoadRequest::kCompose, 5, area);
        again.isNow2PageLoaded = true;
        again.isSameView = true;
        ASSERT_EQ(session->loadPage(again), 0);
        EXPECT_EQ(session->loadedPage()->targetPage, 5);
        EXPECT_TRUE(session->loadedPage()->is2PageLoaded);
        // Page 8 alone: one page on from (8, 9), then back.
        load(PageLoadRequest::kJumpForward, 8, area);
        load(PageLoadRequest::kNextOnePage, 0, area);
        p = load(PageLoadRequest::kPrevious, 0, area);
        ASSERT_EQ(p->targetPage, 8);
        ASSERT_FALSE(p->is2PageLoaded);
        again = request(PageLoadRequest::kCompose, 8, area);
        again.isSameView = true;
        ASSERT_EQ(session->loadPage(again), 0);
        EXPECT_EQ(session->loadedPage()->targetPage, 8);
        EXPECT_FALSE(session->loadedPage()->is2PageLoaded) << "zoomed, page 8 alone stays alone";
        // Laid out anew, the pair holding the page.
        again.isSameView = false;
        ASSERT_EQ(session->loadPage(again), 0);
        EXPECT_TRUE(session->loadedPage()->is2PageLoaded);
    }
}

// A page that holds no picture is shown alone (its placeholder), and so it
// stands alone by every way to the pages after it: with pages 3 and 7 wide
// and page 5 broken, (0) (1, 2) [3] (4) {5} (6) [7] (8, 9) (10, 11).
TEST_F(BookComposeTest, ABrokenPageStandsAloneWhicheverWayAPageIsReached) {
    if (!test::haveProgram("zip") || !test::haveProgram("convert") || !test::haveProgram("7z"))
        GTEST_SKIP() << "no zip, 7z or convert";
    test::TempDir dir{"brokenspread"};
    constexpr int kCount = 12, kBroken = 5;
    for (int i = 0; i < kCount; ++i) {
        const std::string name = dir.file((i < 10 ? "p0" : "p") + std::to_string(i));
        if (i == kBroken) {
            ASSERT_TRUE(sys::FileManager::writeFile(name + ".jpg", std::string(3000, 'x')));
            continue;
        }
        ASSERT_TRUE(test::writeHalvesPage(name + ".bmp", i == 3 || i == 7 ? 400 : 200, 300, pageColour(i, false),
                                          pageColour(i, true)));
        ASSERT_EQ(test::shell("convert '" + name + ".bmp' '" + name + ".jpg'"), 0);
    }
    ASSERT_EQ(test::shell("cd '" + dir.path() + "' && zip -q book.cbz p*.jpg && 7z a -bd solid.cb7 p*.jpg >/dev/null"),
              0);
    // A page whose header is sound and the rest not (a PNG cut short): seen
    // not to load, it stands alone from then on.
    test::TempDir cut{"brokenspreadcut"};
    for (int i = 0; i < kCount; ++i) {
        const std::string name = (i < 10 ? "p0" : "p") + std::to_string(i);
        if (i != kBroken) {
            std::filesystem::copy_file(dir.file(name + ".jpg"), cut.file(name + ".jpg"));
            continue;
        }
        ASSERT_TRUE(test::writeHalvesPage(cut.file("whole.bmp"), 200, 300, pageColour(i, false), pageColour(i, true)));
        ASSERT_EQ(test::shell("convert '" + cut.file("whole.bmp") + "' '" + cut.file("whole.png") + "' && head -c 200 '" +
                              cut.file("whole.png") + "' > '" + cut.file(name + ".png") + "'"),
                  0);
    }
    ASSERT_EQ(test::shell("cd '" + cut.path() + "' && zip -q book.cbz p*.jpg p*.png"), 0);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    const gfx::Size area{800, 300};
    const std::vector<std::pair<int, int>> views = {{0, 0}, {1, 2}, {3, 3}, {4, 4},   {5, 5},
                                                    {6, 6}, {7, 7}, {8, 9}, {10, 11}};
    auto viewOf = [&](int page) {
        for (auto v : views)
            if (page >= v.first && page <= v.second) return v;
        return std::pair{-1, -1};
    };
    auto expectView = [&](std::pair<int, int> v, const std::string& how) {
        auto p = session->loadedPage();
        ASSERT_TRUE(p) << how;
        EXPECT_EQ(p->targetPage, v.first) << how;
        EXPECT_EQ(p->is2PageLoaded, v.first != v.second) << how;
    };
    // A broken page's view is its placeholder, with the load's error.
    auto go = [&](int op, int page) { session->loadPage(request(op, page, area)); };
    const std::string cutBook = cut.file("book.cbz");
    for (const std::string& book : {dir.file("book.cbz"), dir.file("solid.cb7"), cutBook}) {
        SCOPED_TRACE(book);
        ASSERT_TRUE(openBookFile(book));
        go(PageLoadRequest::kJumpForward, 0);
        for (size_t k = 1; k < views.size(); ++k) {
            go(PageLoadRequest::kNext, 0);
            expectView(views[k], "paging forward to " + std::to_string(k));
        }
        for (size_t k = views.size() - 1; k-- > 0;) {
            go(PageLoadRequest::kPrevious, 0);
            expectView(views[k], "paging back to " + std::to_string(k));
        }
        if (book == cutBook) {
            // Once seen, by every way.
            for (int page = kBroken - 1; page < kCount; ++page) {
                go(PageLoadRequest::kJumpForward, page);
                expectView(viewOf(page), "a jump to " + std::to_string(page));
                EXPECT_EQ(session->spreadStart(page), viewOf(page).first) << page;
            }
            continue;
        }
        for (int page = kBroken + 1; page < kCount; ++page) {
            ASSERT_TRUE(openBookFile(book));
            go(PageLoadRequest::kJumpForward, page);
            expectView(viewOf(page), "a jump to " + std::to_string(page));
            EXPECT_EQ(session->spreadStart(page), viewOf(page).first) << page;
        }
    }
}

TEST_F(BookComposeTest, StretchedPageFillsTheArea) {
    set("isNoAspectFill", true);
    openBook();
    auto p = load(PageLoadRequest::kCompose, 0, {300, 300});
    EXPECT_EQ(p->originalSize, (gfx::Size{300, 300}));
    EXPECT_EQ(p->image->width(), 300);
    EXPECT_EQ(p->image->height(), 300);
    EXPECT_EQ(p->offset, (gfx::Point{0, 0}));
    EXPECT_TRUE(colourNear(at(p, 10, 150), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 290, 150), pageColour(0, true)));
    EXPECT_TRUE(colourNear(at(p, 2, 2), pageColour(0, false)));
    EXPECT_TRUE(colourNear(at(p, 297, 297), pageColour(0, true)));

    // A divided wide page gives each half the area's proportions.
    set("isDivisionPage", true);
    p = load(PageLoadRequest::kJumpForward, kWidePage, {300, 300});
    EXPECT_TRUE(p->isDividedPage);
    EXPECT_EQ(p->originalSize, (gfx::Size{400, 400}));
    EXPECT_TRUE(colourNear(at(p, 2, 2), pageColour(kWidePage, true)));
    EXPECT_TRUE(colourNear(at(p, 297, 297), pageColour(kWidePage, true)));

    // A zero area holds no page: the view fails, without dividing by zero.
    p = load(PageLoadRequest::kCompose, 0, {0, 0}, BookReaderEx::kLoadError);
    EXPECT_TRUE(p->image);
}

TEST_F(BookComposeTest, BlankMarginsAreClipped) {
    const uint32_t white = 0xFFFFFFFF;
    // A 120 x 220 picture inside a 40-pixel white margin.
    ASSERT_TRUE(test::writeBmp(pagePath(1), 200, 300, [&](int x, int y) {
        if (x < 40 || x >= 160 || y < 40 || y >= 260) return white;
        return x < 100 ? pageColour(1, false) : pageColour(1, true);
    }));
    set("clipBlankSpace", "normal");
    openBook();
    auto natural = [&] {
        PageLoadRequest r = request(PageLoadRequest::kCompose, 1, {1, 1});
        r.targetSize = {ImageSizeLoad::kModeZoom, 1, 1, 1.0};
        EXPECT_EQ(session->loadPage(r), 0);
        return session->loadedPage();
    };
    auto p = natural();
    EXPECT_NEAR(p->originalSize.width, 120, 3);
    EXPECT_NEAR(p->originalSize.height, 220, 3);
    EXPECT_EQ(p->sourceImageSize1, (gfx::Size{200, 300}));
    EXPECT_TRUE(colourNear(at(p, 1, 1), pageColour(1, false)));
    EXPECT_TRUE(colourNear(at(p, 110, 200), pageColour(1, true)));

    set("clipBlankSpace", "white");
    p = natural();
    EXPECT_GE(p->originalSize.width, 120);
    EXPECT_LE(p->originalSize.width, 140);
    EXPECT_GE(p->originalSize.height, 220);
    EXPECT_LE(p->originalSize.height, 240);

    set("clipBlankSpace", "none");
    p = natural();
    EXPECT_EQ(p->originalSize, (gfx::Size{200, 300}));
}

TEST_F(BookComposeTest, ThreeFilterSlotsApplyInOrder) {
    set("imageFilter", "invert_colors");
    openBook();
    auto p = load(PageLoadRequest::kCompose, 0, {300, 600});
    EXPECT_TRUE(colourNear(at(p, 75, 300), inverted(pageColour(0, false))));
    EXPECT_TRUE(colourNear(at(p, 150, 20), kClear, 0)) << "the centring margin stays clear";

    set("imageFilter2", "mirror");
    set("imageFilter3", "no_such_filter");
    p = load(PageLoadRequest::kCompose, 0, {300, 600});
    EXPECT_TRUE(colourNear(at(p, 75, 300), inverted(pageColour(0, true))));
    EXPECT_TRUE(colourNear(at(p, 225, 300), inverted(pageColour(0, false))));

    // The same filters on any image.
    auto plain = gfx::Image::make(2, 1, {pageColour(2, false), pageColour(2, true)});
    auto filtered = session->newCreateFilterImage(plain);
    ASSERT_TRUE(filtered);
    EXPECT_TRUE(colourNear(filtered->pixel(0, 0), inverted(pageColour(2, true))));
    // The original image is neither composed nor filtered.
    auto original = session->getOriginalImage(0);
    ASSERT_TRUE(original);
    EXPECT_EQ(original->width(), 200);
    EXPECT_TRUE(colourNear(original->pixel(10, 10), pageColour(0, false), 0));
    EXPECT_FALSE(session->getOriginalImage(kPages));
}

TEST_F(BookComposeTest, ComposedViewsStayWithinThePixelBudget) {
    useProfile("phone-se");  // scale 2, 2,250,000 pixels
    ASSERT_TRUE(test::writeHalvesPage(pagePath(0), 1000, 750, pageColour(0, false), pageColour(0, true)));
    openBook();
    EXPECT_EQ(session->maxImageLength(), 2'250'000);
    PageLoadRequest r = request(PageLoadRequest::kCompose, 0, {100, 100});
    r.targetSize = {ImageSizeLoad::kModeZoom, 100, 100, 3.0};
    ASSERT_EQ(session->loadPage(r), 0);
    auto p = session->loadedPage();
    EXPECT_LE(int64_t(p->image->width()) * p->image->height(), 2'250'000);
    EXPECT_EQ(p->image->width(), 1732);
    EXPECT_EQ(p->image->height(), 1298);
    EXPECT_EQ(p->targetSize, (gfx::Size{3000, 2250})) << "the uncapped size";
    EXPECT_EQ(p->offset, (gfx::Point{0, 0})) << "a capped view is not centred";
    EXPECT_DOUBLE_EQ(p->zoomScale, 3.0);
}

TEST_F(BookComposeTest, UnreadablePageGivesThePlaceholder) {
    ASSERT_TRUE(sys::FileManager::writeFile(pagePath(4), "broken"));
    openBook();
    auto p = load(PageLoadRequest::kJumpForward, 4, {300, 600}, BookReaderEx::kLoadError);
    ASSERT_TRUE(p && p->image);
    EXPECT_EQ(p->targetPage, 4);
    EXPECT_EQ(p->originalSize, (gfx::Size{300, 600}));
    EXPECT_EQ(p->targetSize, (gfx::Size{300, 600}));
    EXPECT_DOUBLE_EQ(p->zoomScale, 1.0);
    EXPECT_EQ(p->pageMoveDirection, BookPage::kJumpForward);
    // Before the first and past the last page the reader refuses.
    load(PageLoadRequest::kJumpBackward, 0, {300, 600});
    load(PageLoadRequest::kPrevious, 0, {300, 600}, BookReaderEx::kLoadError);
    load(PageLoadRequest::kCompose, kPages, {300, 600}, BookReaderEx::kLoadError);
    EXPECT_FALSE(BookReaderEx::isPageComposing());
}

TEST_F(BookComposeTest, FixturePagesOpenAsAFolder) {
    test::TempDir pages{"fixturepages"};
    for (const char* n : {"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "06.png", "07.jpg", "08.jpg"})
        std::filesystem::copy_file(test::dataPath(std::string("pages/") + n), pages.file(n));
    set("isDivisionPage", true);
    ASSERT_TRUE(openBookFile(pages.file("03.jpg")));
    EXPECT_EQ(session->getPageNum(), 8);
    EXPECT_EQ(session->getSelectedImageNo(), 2);
    EXPECT_EQ(session->getBookName(), "03.jpg");

    auto light = [](uint32_t c) { return gfx::redOf(c) > 200 && gfx::greenOf(c) > 200 && gfx::blueOf(c) > 200; };
    auto dark = [](uint32_t c) { return gfx::redOf(c) < 80 && gfx::greenOf(c) < 80 && gfx::blueOf(c) < 80; };
    auto p = load(PageLoadRequest::kCompose, 0, {400, 600});
    ASSERT_EQ(p->image->width(), 400);
    ASSERT_EQ(p->image->height(), 600);
    EXPECT_TRUE(light(at(p, 10, 10)));
    EXPECT_TRUE(dark(at(p, 33, 300)));
    EXPECT_TRUE(dark(at(p, 200, 567)));

    // 06.png is a wide page: its right half comes first.
    p = load(PageLoadRequest::kJumpForward, 5, {400, 600});
    ASSERT_TRUE(p->isDividedPage);
    EXPECT_EQ(p->originalSize, (gfx::Size{400, 600}));
    EXPECT_TRUE(light(at(p, 33, 450)));
    EXPECT_TRUE(dark(at(p, 366, 450)));
    p = load(PageLoadRequest::kNext, 0, {400, 600});
    EXPECT_TRUE(p->isSecondPage);
    EXPECT_TRUE(dark(at(p, 33, 450)));
    EXPECT_TRUE(light(at(p, 366, 450)));
}

TEST_F(BookComposeTest, ReaderIsChosenByFileType) {
    using K = BookReaderEx::ReaderKind;
    test::TempDir dir{"kinds"};
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("zip.rar"), std::string("PK\x03\x04rest", 8)));
    ASSERT_TRUE(sys::FileManager::writeFile(dir.file("real.cbr"), "Rar!\x1a\x07"));
    EXPECT_EQ(BookReaderEx::readerKindForFile(dir.file("zip.rar"), false), K::Zip);
    EXPECT_EQ(BookReaderEx::readerKindForFile(dir.file("real.cbr"), false), K::Rar);
    EXPECT_EQ(BookReaderEx::readerKindForFile(dir.file("missing.rar"), false), K::Rar);
    EXPECT_EQ(BookReaderEx::readerKindForFile("/b/x.cb7", false), K::SevenZip);
    EXPECT_EQ(BookReaderEx::readerKindForFile("/b/x.PDF", false), K::Pdf);
    EXPECT_EQ(BookReaderEx::readerKindForFile("/b/x.cbz", false), K::Zip);
    EXPECT_EQ(BookReaderEx::readerKindForFile("/b/unknown.bin", false), K::Zip);
    EXPECT_EQ(BookReaderEx::readerKindForFile("/b/x.JPG", false), K::ImageFolder);
    EXPECT_EQ(BookReaderEx::readerKindForFile("http://h/b/x.zip", true), K::ImageFolder);
    EXPECT_TRUE(BookReaderEx::isZipFileFromHeader(dir.file("zip.rar")));
    EXPECT_FALSE(BookReaderEx::isZipFileFromHeader(dir.file("real.cbr")));

    // Formats without a reader in this build refuse to open, cleanly.
    openBook();
    for (const char* name : {"zip.rar", "real.cbr", "a.7z", "a.pdf", "a.zip"}) {
        EXPECT_FALSE(session->openBookWithName(dir.file(name), {}, std::nullopt, std::nullopt, std::nullopt,
                                               false, false))
            << name;
        EXPECT_EQ(session->getPageNum(), 0);
        EXPECT_FALSE(session->isNoPage() || session->isExpandError() || session->isUnsupportedServer());
        EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {100, 100})), BookReaderEx::kLoadError);
        EXPECT_TRUE(session->loadedPage() && session->loadedPage()->image);
    }
    EXPECT_EQ(BookReaderEx::extractFile(dir.file("a.zip"), {}, std::nullopt, "x", "", ""), 2);
    EXPECT_FALSE(BookReaderEx::getArchiveList(dir.file("a.zip"), false, {}, "", "", nullptr, {}).has_value());
    EXPECT_FALSE(BookReaderEx::getFolderList(dir.file("a.txt"), false, {}, "", "", nullptr, {}).has_value());
}

// A pipe in the place of a book is refused at once by every reader: its open
// never waits for a writer (which a pipe in a library never gets). Should an
// open wait all the same, a writer comes after a while and goes again, so the
// test fails instead of hanging.
TEST_F(BookComposeTest, APipeInPlaceOfABookNeverHoldsTheOpenUp) {
    test::TempDir dir{"pipes"};
    const std::vector<std::string> names{"Pipe.cbz", "Pipe.cbr", "Pipe.cb7", "Pipe.pdf", "Pipe.jpg"};
    for (const auto& name : names) ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0) << name;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<int> waited{0};
    std::thread writer([&] {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::seconds(10), [&] { return done; })) {
            for (const auto& name : names) {
                const int fd = ::open(dir.file(name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ++waited;
                    ::close(fd);
                }
            }
        }
    });
    openBook();
    for (const auto& name : names) {
        const bool opened = session->openBookWithName(dir.file(name), {}, std::nullopt, std::nullopt, std::nullopt,
                                                      false, false);
        // A picture book lists its folder; its page is what cannot be read.
        if (name == "Pipe.jpg" && opened)
            EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {100, 100})), BookReaderEx::kLoadError);
        else
            EXPECT_FALSE(opened) << name;
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    writer.join();
    EXPECT_EQ(waited.load(), 0) << "an open waited for the pipe's writer";
}

TEST_F(BookComposeTest, ReopeningForgetsTheViewsOfThePreviousBook) {
    set("isPreRead", true);
    openBook();
    auto first = load(PageLoadRequest::kCompose, 0, {300, 600});
    session->addCache(first);
    test::TempDir other{"otherbook"};
    ASSERT_TRUE(test::writeHalvesPage(other.file("a.bmp"), 200, 300, pageColour(9, false), pageColour(9, true)));
    ASSERT_TRUE(session->openBookWithName(other.file("a.bmp"), {}, std::nullopt, std::nullopt, std::nullopt,
                                          false, false));
    EXPECT_FALSE(session->loadedPage());
    auto p = load(PageLoadRequest::kJumpForward, 0, {300, 600});
    EXPECT_TRUE(colourNear(at(p, 75, 300), pageColour(9, false))) << "not page 0 of the old book";
}

}  // namespace
