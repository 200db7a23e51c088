// The reading screen's menu sheet, its jumps, the seek bar's page preview,
// the next-book button and the cover, on a real folder book.
#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/ui/BarButtonItem.h"

namespace viewertest {
namespace {

class BookViewMenuTest : public ViewerTest {
protected:
    void openReal(int page = 0) {
        open(page);
        viewer->realSheet = true;
    }
    void openSheet() {
        viewer->runFunction(1);
        pass(0.5);
        ASSERT_TRUE(viewer->isOpenBar());
    }
    // Writes the page cache's image of `page` (a flat picture).
    void writeCacheImage(int page) {
        const auto name = session->getPageFilename(page);
        ASSERT_TRUE(name);
        gfx::Canvas c(40, 60, 1.0);
        c.fillRect({0, 0, 40, 60}, gfx::Rgba{0.2, 0.6, 0.2, 1});
        const auto jpeg = gfx::JpegEncoder::encode(*c.image(), 0.8);
        ASSERT_FALSE(jpeg.empty());
        const std::string path = BookCommon::getBookCacheDir(bookPath(), true) + "/" +
                                 BookCommon::getFolderPathStringFromCString(name->c_str(), true) + ".jpg";
        ASSERT_TRUE(sys::FileManager::writeFile(path, std::string_view(reinterpret_cast<const char*>(jpeg.data()),
                                                                       jpeg.size())));
    }
};

TEST_F(BookViewMenuTest, TheMenuOpensOverThePageAndATapOutsideItsLabelClosesIt) {
    openReal(2);
    openSheet();
    EXPECT_EQ(viewer->labelPageJump()->text(), "Page 3/8");
    EXPECT_NE(viewer->labelFilename()->text().find("03.jpg"), std::string::npos);
    ASSERT_TRUE(viewer->viewSliderBG());
    EXPECT_EQ(viewer->sliderPage()->maximumValue(), kPages - 1);
    EXPECT_EQ(viewer->sliderPage()->value(), 2);
    // Read right to left, the slider runs from right to left.
    EXPECT_FALSE(viewer->sliderPage()->transform().isIdentity());
    // Single-page buttons only in landscape spreads.
    EXPECT_EQ(viewer->pageLeftBtn()->alpha(), 0);
    ui::View* sheet = viewer->viewSliderBG();
    ASSERT_TRUE(viewer->bvToolbar());
    EXPECT_TRUE(viewer->bvToolbar()->superview()) << "the tool bar is on screen";

    driver->tap(at(0.5, 0.5));
    pass(1);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_FALSE(viewer->invalidTap()) << "taps work again once the fade is over";
    EXPECT_EQ(sheet->superview(), nullptr) << "the sheet is gone";
    EXPECT_EQ(shownPage(), 2) << "closing only closes";
}

TEST_F(BookViewMenuTest, TheSliderJumpsWithinTheBookAndTheSamePageOnlyCloses) {
    set("isEnablePagePreview", false);
    openReal(0);
    openSheet();
    // A value past the end (a longer book's slider, a rounding) goes to the last page.
    viewer->sliderPage()->setMaximumValue(100);
    viewer->sliderPage()->setValue(100);
    viewer->pageJumpDrawStatus();
    EXPECT_EQ(viewer->labelPageJump()->text(), "Page 8/8");
    viewer->sliderJumpSelect();
    pass(2);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_EQ(viewer->page(), kPages - 1);

    openSheet();
    viewer->sliderPage()->setValue(kPages - 1 + 0.3);
    viewer->sliderJumpSelect();
    pass(2);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_EQ(viewer->page(), kPages - 1);
    EXPECT_EQ(viewer->sliderPageNumber(), kPages - 1) << "no slider left after closing: the page on screen";
}

TEST_F(BookViewMenuTest, ClosingTheSheetLeavesAMoveStillLoadingToFinishItself) {
    openReal(0);
    openSheet();
    ASSERT_TRUE(viewer->movePage(4, 5, 0));
    // The settings screen's way out: at once, while the move may still load.
    viewer->removePageJump(0);
    EXPECT_FALSE(viewer->isOpenBar());
    pass(2);
    EXPECT_EQ(viewer->page(), 5);
    EXPECT_EQ(shownPage(), 5);
    EXPECT_FALSE(viewer->nowMovePageDo());
    EXPECT_FALSE(viewer->isMovingPage());
    // And the screen still turns pages.
    EXPECT_TRUE(viewer->movePage(4, 1, 5));
    pass(2);
    EXPECT_EQ(viewer->page(), 1);
}

TEST_F(BookViewMenuTest, TheCloseButtonClosesTheBookOnce) {
    openReal(0);
    openSheet();
    driver->tap(*viewer->closeButton());
    // A second press while the sheet fades does nothing more.
    viewer->boolCloseButton();
    pass(2);
    EXPECT_TRUE(viewer->isGoingCloseBook());
    EXPECT_NE(nav->topViewController(), viewer.get());
    ASSERT_EQ(list.finished.size(), 1u);
}

TEST_F(BookViewMenuTest, TheToolBarFollowsTheDeviceAndWhatCanBeDone) {
    set("isEnablePagePreview", false);
    openReal(0);
    auto kinds = [](const std::vector<ui::BarButtonItem::Ref>& items) {
        std::string k;
        for (auto& i : items) {
            if (i->isFlexibleSpace()) k += 'F';
            else if (i->isFixedSpace()) k += 'X';
            else if (i->systemItem() == ui::BarButtonSystemItem::Bookmarks) k += 'K';
            else if (i->systemItem() == ui::BarButtonSystemItem::Add) k += i->isEnabled() ? 'A' : 'a';
            else k += 'I';
        }
        return k;
    };
    EXPECT_EQ(kinds(viewer->arrayBookViewToolbarButtonItems(false, false)), "KFaFIFIFI");
    EXPECT_EQ(kinds(viewer->arrayBookViewToolbarButtonItems(true, false)), "KFAFIFIFI");
    set("isEnablePagePreview", true);
    EXPECT_EQ(kinds(viewer->arrayBookViewToolbarButtonItems(true, false)), "KFAFIFIFIFI");
}

TEST_F(BookViewMenuTest, TheSeekBarPreviewShowsOtherPagesWithTheirCachedPicture) {
    openReal(2);
    viewer->bookToolViewPagePreview(2);
    EXPECT_EQ(viewer->bookToolViewPreview(), nullptr) << "never for the page on screen";
    viewer->bookToolViewPagePreview(99);
    EXPECT_EQ(viewer->bookToolViewPreview(), nullptr) << "nor for a page the book does not have";

    viewer->bookToolViewPagePreview(4);
    ASSERT_TRUE(viewer->bookToolViewPreview());
    EXPECT_EQ(viewer->labelPage()->text(), "5/8");
    EXPECT_EQ(viewer->bookToolViewPreviewImage()->image(), nullptr) << "no cached picture yet: the frame and number";

    writeCacheImage(5);
    viewer->bookToolViewPagePreview(5);
    EXPECT_EQ(viewer->labelPage()->text(), "6/8");
    ASSERT_TRUE(viewer->bookToolViewPreviewImage()->image());
    EXPECT_EQ(viewer->bookToolViewPreviewImage()->image()->size().width, 40);

    ui::View* preview = viewer->bookToolViewPreview();
    viewer->bookToolViewPagePreviewEnd();
    pass(1);
    EXPECT_EQ(viewer->bookToolViewPreview(), nullptr);
    EXPECT_EQ(preview->superview(), nullptr);
}

TEST_F(BookViewMenuTest, TheLastPageOffersTheNextBookOnTheSidePagesTurnTo) {
    list.nextIndex = 3;
    openReal(kPages - 1);
    // Read right to left: the next book waits on the left.
    viewer->movePageOnButton(0);
    pass(0.1);
    ui::Button* button = viewer->buttonNextBook();
    ASSERT_TRUE(button);
    EXPECT_FALSE(viewer->buttonNextBookIsPrevious());
    EXPECT_LT(button->center().x, viewer->view()->bounds().width() / 2);

    // The same move again goes on to that book.
    viewer->movePageOnButton(0);
    ASSERT_EQ(list.reopenAsked, std::vector<bool>{true});
    EXPECT_EQ(viewer->buttonNextBook(), nullptr);
}

TEST_F(BookViewMenuTest, TheNextBookButtonSideFollowsDirectionAndSwappedTaps) {
    list.nextIndex = 1;
    set("pageDirection", "right");
    openReal(kPages - 1);
    viewer->displayNextBookButton(true);
    ASSERT_TRUE(viewer->buttonNextBook());
    EXPECT_GT(viewer->buttonNextBook()->center().x, viewer->view()->bounds().width() / 2);
    set("isSwapTapLeftRight", true);
    viewer->displayNextBookButton(true);
    EXPECT_LT(viewer->buttonNextBook()->center().x, viewer->view()->bounds().width() / 2);

    // Shown twice: the first one's timer does not take away the second.
    driver->advance(1.5);
    viewer->displayNextBookButton(true);
    ui::Button* second = viewer->buttonNextBook();
    driver->advance(0.7);
    EXPECT_EQ(viewer->buttonNextBook(), second);
    driver->advance(2);
    EXPECT_EQ(viewer->buttonNextBook(), nullptr);
}

TEST_F(BookViewMenuTest, NoNeighbouringBookNoButton) {
    list.nextIndex = -1;
    openReal(0);
    viewer->movePageOnButton(1);
    pass(0.1);
    EXPECT_EQ(viewer->buttonNextBook(), nullptr);
    viewer->movePageOnButton(1);
    EXPECT_TRUE(list.reopenAsked.empty());
}

TEST_F(BookViewMenuTest, ACoverIsMadeOnlyWhenTheBookHasNone) {
    const std::string cover = BookCommon::getThumbsFilename(bookPath(), true);
    ASSERT_TRUE(sys::FileManager::writeFile(cover, "mine"));
    openReal(0);
    auto kept = sys::FileManager::contentsOfFile(cover);
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, "mine") << "a cover the user set is kept";
    EXPECT_FALSE(viewer->jacketCreated());

    // Set from the menu: the page on screen becomes the cover, and the user is told.
    openSheet();
    viewer->onSetJacketBtn();
    EXPECT_TRUE(viewer->jacketCreated());
    auto made = gfx::ImageDecoder::decodeFile(cover);
    ASSERT_TRUE(made) << "a real picture";
    EXPECT_LE(made->width(), 74 * BookCommon::getScreenScale() + 1);
    EXPECT_EQ(viewer->labelMessage()->text(), "Set Page as Cover Image.");
}

}  // namespace
}  // namespace viewertest
