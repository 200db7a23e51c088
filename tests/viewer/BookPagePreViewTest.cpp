// The thumbnail strip on its own: which buttons show which pages, where the
// row stands, pictures read from real page-cache files on its worker, the
// bounded memory cache, pages arriving later, and taps.
#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/JpegEncoder.h"
#include "viewer/BookPagePreView.h"

#include <algorithm>
#include <set>

namespace viewertest {
namespace {

class Pages : public BookPagePreViewDelegate {
public:
    std::vector<int32_t> selected, previewed;
    std::set<int32_t> unnamed;
    void selectPage(int32_t page) override { selected.push_back(page); }
    void previewPage(int32_t page) override { previewed.push_back(page); }
    std::optional<std::string> getNameFromPage(int32_t page) override {
        if (unnamed.count(page)) return std::nullopt;
        return "dir/p" + std::to_string(page) + ".png";
    }
};

class BookPagePreViewTest : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        file = bookDir() + "/strip.cbz";
        cacheDir = BookCommon::getBookCacheDir(file, true);
    }
    void TearDown() override {
        if (strip) strip->removeFromSuperview();
        strip.reset();
        ViewerTest::TearDown();
    }
    void make(int32_t page, int32_t count, bool toRight = true) {
        strip = std::make_shared<BookPagePreView>(ui::Rect(0, 100, 390, 300), file);
        strip->setPreviewDelegate(&pages);
        strip->setPageDirectionRight(toRight);
        window->addSubview(strip);
        strip->setPage(page, count);
    }
    // The page cache's picture of `page`, 20 + page points wide.
    void writeCache(int32_t page) {
        gfx::Canvas c(20 + page, 30, 1.0);
        c.fillRect({0, 0, double(20 + page), 30}, gfx::Rgba{0.8, 0.2, 0.2, 1});
        const auto jpeg = gfx::JpegEncoder::encode(*c.image(), 0.8);
        ASSERT_TRUE(sys::FileManager::writeFile(
            cacheDir + "/dir%2Fp" + std::to_string(page) + ".png.jpg",
            std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size())));
    }
    // Lets the strip's reader finish and its pictures land.
    void settleStrip() {
        for (int i = 0; i < 200 && strip->isLoading(); ++i) driver->advance(0.01);
        driver->advance(0.05);
    }
    ui::Button* buttonFor(int32_t page) const {
        for (int i = 0; i < strip->numPageView(); ++i)
            if (strip->pageButton(i)->tag() == page && !strip->pageButton(i)->isHidden()) return strip->pageButton(i);
        return nullptr;
    }
    bool showsPicture(int32_t page) const {
        ui::Button* b = buttonFor(page);
        auto image = b ? b->backgroundImage(ui::ControlStateNormal) : nullptr;
        return image && !image->isVector() && int(image->size().width) == 20 + page;
    }

    std::string file, cacheDir;
    Pages pages;
    std::shared_ptr<BookPagePreView> strip;
};

TEST_F(BookPagePreViewTest, AShortBookFillsTheLastButtonsAndHidesTheOthers) {
    make(0, 3);
    ASSERT_EQ(strip->numPageView(), 7);
    EXPECT_EQ(strip->firstPage(), -4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(strip->pageButton(i)->isHidden()) << i;
        EXPECT_EQ(strip->pageButton(i)->tag(), -1) << i;
        EXPECT_TRUE(strip->pageLabel(i)->isHidden()) << i;
    }
    for (int i = 4; i < 7; ++i) {
        EXPECT_FALSE(strip->pageButton(i)->isHidden()) << i;
        EXPECT_EQ(strip->pageButton(i)->tag(), i - 4);
        EXPECT_EQ(strip->pageLabel(i)->text(), std::to_string(i - 3));
    }
    EXPECT_EQ(pages.previewed, std::vector<int32_t>{0});
}

TEST_F(BookPagePreViewTest, TheRowRunsBothWaysAndPagesStayWithinTheBook) {
    // Page 0 at the right end when the row runs right to left.
    make(0, 30, false);
    const double end = strip->contentSize().width - strip->bounds().width();
    EXPECT_NEAR(strip->contentOffset().x, end, 0.5);
    EXPECT_GT(strip->cellCenterX(0), strip->cellCenterX(1));

    make(0, 30, true);
    EXPECT_NEAR(strip->contentOffset().x, 0, 0.5);
    EXPECT_LT(strip->cellCenterX(0), strip->cellCenterX(1));

    // The last page stays chosen though it cannot stand in the middle.
    strip->setPage(99, 30);
    EXPECT_EQ(strip->getTargetPage(), 29);
    EXPECT_EQ(pages.previewed.back(), 29);
    strip->setPage(-5, 30);
    EXPECT_EQ(strip->getTargetPage(), 0);
    // Pulled far past either end the row still names a page of the book.
    strip->setContentOffset({strip->contentSize().width + 500, 0});
    EXPECT_EQ(strip->getTargetPage(), 29);
    strip->setContentOffset({-800, 0});
    EXPECT_EQ(strip->getTargetPage(), 0);
    EXPECT_EQ(pages.previewed.back(), 0);
}

TEST_F(BookPagePreViewTest, PicturesComeFromThePageCacheAndAreNotReadTwice) {
    for (int p = 0; p < 12; ++p)
        if (p != 5) writeCache(p);
    pages.unnamed.insert(6);
    make(4, 12);
    // The chosen page is put up at once; the others arrive from the worker.
    EXPECT_TRUE(showsPicture(4));
    settleStrip();
    for (int p = 1; p <= 7; ++p) {
        ASSERT_TRUE(buttonFor(p)) << p;
        if (p == 5 || p == 6)
            EXPECT_TRUE(buttonFor(p)->backgroundImage(ui::ControlStateNormal)->isVector()) << "placeholder for " << p;
        else
            EXPECT_TRUE(showsPicture(p)) << p;
    }
    const int64_t reads = strip->fileReads();

    // Back and forth over the same pages: everything comes from memory.
    for (int round = 0; round < 3; ++round) {
        strip->setPage(6, 12);
        settleStrip();
        strip->setPage(4, 12);
        settleStrip();
    }
    const int64_t afterRounds = strip->fileReads();
    EXPECT_LE(afterRounds - reads, 2) << "only pages 8 and 9, new at the edge, are read";

    // The missing page is written later by the cache builder.
    writeCache(5);
    strip->cachedPage(5);
    EXPECT_TRUE(strip->checkReload());
    EXPECT_FALSE(strip->checkReload()) << "cleared by reading";
    EXPECT_TRUE(showsPicture(5));
}

TEST_F(BookPagePreViewTest, TheMemoryCacheKeepsTwentyPicturesNearestTheChosenPage) {
    for (int p = 0; p < 40; ++p) writeCache(p);
    make(0, 40);
    settleStrip();
    for (int p = 1; p < 40; ++p) {
        strip->setPage(p, 40);
        settleStrip();
    }
    auto held = strip->memoryCachePages();
    ASSERT_EQ(held.size(), size_t(BookPagePreView::kMemoryCacheSize));
    EXPECT_EQ(std::count(held.begin(), held.end(), -1), 0);
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held.front(), 20) << "the pages farthest from page 39 went first";
    EXPECT_EQ(held.back(), 39);
}

// A wide page's picture is letterboxed in its cell: the bands above and
// below it are the cell's own, and nothing behind the strip shows there.
TEST_F(BookPagePreViewTest, AWidePageSitsInAnOpaqueCell) {
    gfx::Canvas c(90, 30, 1.0);
    c.fillRect({0, 0, 90, 30}, gfx::Rgba{0.8, 0.2, 0.2, 1});
    const auto jpeg = gfx::JpegEncoder::encode(*c.image(), 0.8);
    ASSERT_TRUE(sys::FileManager::writeFile(cacheDir + "/dir%2Fp1.png.jpg",
                                            std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size())));
    auto page = std::make_shared<ui::View>(window->bounds());
    page->setBackgroundColor(ui::Color::white(1));
    window->addSubview(page);
    make(1, 3);
    strip->setBackgroundColor(ui::Color::white(0, 0.5));
    settleStrip();
    ui::Button* b = buttonFor(1);
    ASSERT_TRUE(b);
    const ui::Rect r = b->convertRectTo(b->bounds(), nullptr);
    ASSERT_GT(r.width(), r.height() * 2) << "the button takes the picture's shape";
    gfx::Canvas& shot = window->render();
    const double scale = shot.scale();
    auto green = [&](double x, double y) { return gfx::greenOf(shot.pixel(int(x * scale), int(y * scale))); };
    const double middle = r.x() + r.width() / 2;
    EXPECT_LT(green(middle, r.y() - 4), 30u) << "the page behind shows through the letterbox band";
    EXPECT_GT(green(middle - strip->cellSize().width / 2 - 2, r.y() + r.height() / 2), 100u)
        << "between the cells the strip stays see-through";
    // The bands above and below the picture are the page's too, to the
    // cell's edges.
    const double top = r.y() + r.height() / 2 - strip->cellSize().height / 2;
    driver->tap({middle, top + 2});
    driver->tap({middle, top + strip->cellSize().height - 3});
    EXPECT_EQ(pages.selected, (std::vector<int32_t>{1, 1}));
}

TEST_F(BookPagePreViewTest, TappingAThumbnailChoosesItsPageEvenBeforeItsPicture) {
    make(2, 10);
    ui::Button* b = buttonFor(3);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->backgroundImage(ui::ControlStateNormal)->isVector()) << "still the placeholder";
    driver->tap(*b);
    EXPECT_EQ(pages.selected, std::vector<int32_t>{3});
}

}  // namespace
}  // namespace viewertest
