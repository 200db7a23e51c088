// The reading screen's menu sheet, its jumps, the seek bar's page preview,
// the next-book button and the cover, on a real folder book.
#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/ui/BarButtonItem.h"
#include "viewer/StreamBlockMapOverlay.h"

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
    // Held here: the screen lets go of the sheet as it closes it.
    const std::shared_ptr<ui::View> sheet = viewer->viewSliderBG()->shared_from_this();
    ASSERT_TRUE(viewer->bvToolbar());
    EXPECT_TRUE(viewer->bvToolbar()->superview()) << "the tool bar is on screen";

    driver->tap(at(0.5, 0.5));
    pass(1);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_FALSE(viewer->invalidTap()) << "taps work again once the fade is over";
    EXPECT_EQ(sheet->superview(), nullptr) << "the sheet is gone";
    EXPECT_EQ(shownPage(), 2) << "closing only closes";
}

TEST_F(BookViewMenuTest, EscapeClosesTheMenuThenTheBook) {
    openReal(2);
    openSheet();
    driver->key(ui::KeyInput::escape);
    pass(1);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_EQ(nav->viewControllers().size(), 2u) << "only the menu closed";
    EXPECT_EQ(shownPage(), 2);
    driver->key(ui::KeyInput::escape);
    pass(1);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(list.finished, std::vector<std::string>{bookPath()});
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

TEST_F(BookViewMenuTest, WithTheFirstPageAloneTheSliderReachesEachPairAndTheFirstPage) {
    set("isEnablePagePreview", false);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    window->setOrientation(ui::InterfaceOrientation::LandscapeLeft);
    openReal(3);
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    ASSERT_EQ(viewer->page(), 3);
    // From the pair (4, 5) to the first page: alone.
    openSheet();
    viewer->sliderPage()->setValue(0);
    EXPECT_EQ(viewer->sliderPageNumber(), 0);
    viewer->sliderJumpSelect();
    pass(2);
    EXPECT_EQ(viewer->page(), 0);
    EXPECT_FALSE(viewer->displayBookPage()->is2PageLoaded);
    // To page 4: the pair (4, 5).
    openSheet();
    viewer->sliderPage()->setValue(3);
    viewer->sliderJumpSelect();
    pass(2);
    EXPECT_EQ(viewer->page(), 3);
    EXPECT_EQ(shownPage(), 3);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    // Page 3 lies in the pair (2, 3).
    openSheet();
    viewer->sliderPage()->setValue(2);
    viewer->pageJumpDrawStatus();
    EXPECT_EQ(viewer->labelPageJump()->text(), "Page 2/8");
    viewer->sliderJumpSelect();
    pass(2);
    EXPECT_EQ(viewer->page(), 1);
    EXPECT_EQ(shownPage(), 1);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
}

// The pages are (1) (2, 3) (4, 5) [6] (7, 8) with the first page alone and
// the wide page 6: a book resumed at page 7 shows (7, 8), and the menu, the
// slider and the strip name page 7, as they do paging there.
TEST_F(BookViewMenuTest, AfterAWidePageTheMenuAndTheStripNameTheFirstPageOfThePairShown) {
    set("isEnablePagePreview", true);
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    window->setOrientation(ui::InterfaceOrientation::LandscapeLeft);
    openReal(6);
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    ASSERT_EQ(viewer->page(), 6);
    openSheet();
    EXPECT_EQ(viewer->labelPageJump()->text(), "Page 7/8");
    EXPECT_NE(viewer->labelFilename()->text().find("07.jpg"), std::string::npos);
    EXPECT_EQ(viewer->sliderPageNumber(), 6);
    viewer->onSliderTouch();
    ASSERT_TRUE(viewer->pagePreView());
    EXPECT_EQ(viewer->pagePreView()->getTargetPage(), 6);
    // Page 8 is in the pair shown; page 5 goes with page 4 before it.
    viewer->sliderPage()->setValue(7);
    viewer->onSliderValueChange();
    EXPECT_EQ(viewer->pagePreView()->getTargetPage(), 6);
    viewer->sliderPage()->setValue(5);
    EXPECT_EQ(viewer->sliderPageNumber(), 5);
    viewer->sliderPage()->setValue(4);
    viewer->onSliderValueChange();
    EXPECT_EQ(viewer->sliderPageNumber(), 3);
    EXPECT_EQ(viewer->pagePreView()->getTargetPage(), 3);
    viewer->removePageJump(1);
    pass(1);

    // Paging back: the wide page alone, then (4, 5).
    ASSERT_TRUE(viewer->movePage(1, 0, 0));
    pass(1);
    EXPECT_EQ(shownPage(), 5);
    EXPECT_FALSE(viewer->displayBookPage()->is2PageLoaded);
    ASSERT_TRUE(viewer->movePage(1, 0, 0));
    pass(1);
    EXPECT_EQ(shownPage(), 3);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);

    // End shows the last pair; End again, or a jump to its second page, has
    // nothing to do.
    driver->key(ui::KeyInput::end);
    pass(1);
    EXPECT_EQ(shownPage(), 6);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    const auto shown = viewer->displayBookPage();
    driver->key(ui::KeyInput::end);
    pass(1);
    EXPECT_EQ(viewer->displayBookPage(), shown);
    EXPECT_FALSE(viewer->movePage(4, 7, 6));

    // With the first page alone on the screen, the slider names pairs too.
    driver->key(ui::KeyInput::home);
    pass(1);
    ASSERT_EQ(shownPage(), 0);
    openSheet();
    viewer->sliderPage()->setValue(4);
    viewer->pageJumpDrawStatus();
    EXPECT_EQ(viewer->labelPageJump()->text(), "Page 4/8");
    viewer->sliderPage()->setValue(2);
    EXPECT_EQ(viewer->sliderPageNumber(), 1);
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

    const std::shared_ptr<ui::View> preview = viewer->bookToolViewPreview()->shared_from_this();
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

TEST_F(BookViewMenuTest, TheNextBookButtonStandsBesideASidePageBar) {
    list.nextIndex = 1;
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    for (const char* side : {"bottom_left", "bottom_right"}) {
        set("bookToolView", side);
        // The button on the bar's side.
        set("isSwapTapLeftRight", std::string(side) == "bottom_right");
        openReal(kPages - 1);
        pass(0.3);
        ASSERT_TRUE(viewer->bookToolView()) << side;
        viewer->displayNextBookButton(true);
        ASSERT_TRUE(viewer->buttonNextBook()) << side;
        const ui::Rect bar = viewer->bookToolView()->frame();
        const ui::Rect button = viewer->buttonNextBook()->frame();
        EXPECT_TRUE(button.minX() >= bar.maxX() || button.maxX() <= bar.minX())
            << side << ": button " << button.minX() << "-" << button.maxX() << ", bar " << bar.minX() << "-"
            << bar.maxX();
        EXPECT_EQ(button.minX() < viewer->view()->bounds().width() / 2, std::string(side) == "bottom_left") << side;
    }
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

// The detail menu: centred on the page area over the sheet, its close
// button and three entries, one menu however often it is asked for, and
// gone with the sheet or when its cover entry is used.
TEST_F(BookViewMenuTest, TheDetailMenuOffersItsEntriesAndGoesWithTheSheet) {
    openReal(0);
    viewer->onDetailMenuBtn();
    EXPECT_EQ(viewer->detailMenu(), nullptr) << "only over the sheet";

    openSheet();
    viewer->onDetailMenuBtn();
    pass(0.5);
    ASSERT_TRUE(viewer->detailMenu());
    const std::shared_ptr<ui::View> menu = viewer->detailMenu()->shared_from_this();
    EXPECT_EQ(menu->superview(), viewer->viewSliderBG());
    EXPECT_EQ(menu->frame().size, (ui::Size{270, 200}));
    EXPECT_EQ(menu->alpha(), 1);
    const ui::Rect r = menu->convertRectTo(menu->bounds(), nullptr);
    const ui::Rect a = viewer->view()->convertRectTo(viewer->getScreenRectWithoutBookToolView(), nullptr);
    EXPECT_NEAR(r.x() + r.width() / 2, a.x() + a.width() / 2, 0.5);
    EXPECT_NEAR(r.y() + r.height() / 2, a.y() + a.height() / 2, 0.5);
    ASSERT_EQ(menu->subviews().size(), 4u);
    EXPECT_EQ(menu->subviews()[0]->frame().origin, (ui::Point{10, 10}));
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(menu->subviews()[size_t(i)]->frame(), ui::Rect(10 + 50 * (i - 1), 70, 50, 50));
    viewer->onDetailMenuBtn();
    EXPECT_EQ(viewer->detailMenu(), menu.get()) << "a second press adds no second menu";

    // Its close button fades it out and removes it; the sheet stays.
    driver->tap(*menu->subviews()[0]);
    pass(0.5);
    EXPECT_EQ(viewer->detailMenu(), nullptr);
    EXPECT_EQ(menu->superview(), nullptr);
    EXPECT_TRUE(viewer->isOpenBar());

    // Closing the sheet takes it along.
    viewer->onDetailMenuBtn();
    pass(0.5);
    ASSERT_TRUE(viewer->detailMenu());
    viewer->removePageJump(1);
    pass(0.5);
    EXPECT_EQ(viewer->detailMenu(), nullptr);

    // The cover entry (no crop screen installed: the page as shown) closes
    // the menu and the sheet and sets the cover.
    openSheet();
    viewer->onDetailMenuBtn();
    pass(0.5);
    driver->tap(*viewer->detailMenu()->subviews()[1]);
    pass(0.5);
    EXPECT_EQ(viewer->detailMenu(), nullptr);
    EXPECT_FALSE(viewer->isOpenBar());
    EXPECT_EQ(viewer->labelMessage()->text(), "Set Page as Cover Image.");
    EXPECT_TRUE(sys::FileManager::fileExists(BookCommon::getThumbsFilename(bookPath(), false)));
}

// What the remote sources would install: a plain view that keeps every map it is given.
class FakeBlockMap : public StreamBlockMapOverlay {
public:
    explicit FakeBlockMap(const ui::Rect& frame) : view_(std::make_shared<ui::View>(frame)) {}
    std::shared_ptr<ui::View> view() override { return view_; }
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override {
        maps.emplace_back(map, map + count);
        pages = isPage;
    }
    std::vector<std::vector<uint16_t>> maps;
    bool pages = false;

private:
    std::shared_ptr<ui::View> view_;
};

class BookViewBlockMapTest : public BookViewMenuTest {
protected:
    void SetUp() override {
        BookViewMenuTest::SetUp();
        BookViewController::setBlockMapViewFactory([this](const ui::Rect& frame) {
            made.push_back(std::make_shared<FakeBlockMap>(frame));
            return made.back();
        });
    }
    void TearDown() override {
        BookViewController::setBlockMapViewFactory(nullptr);
        BookViewMenuTest::TearDown();
    }
    std::vector<std::shared_ptr<FakeBlockMap>> made;
};

TEST_F(BookViewBlockMapTest, AStreamedBookShowsTheBlocksAlreadyLoadedAboveTheToolBar) {
    openReal(0);
    openSheet();
    EXPECT_TRUE(made.empty()) << "a book on this machine has no block map";
    viewer->removePageJump(0);

    viewer->setIsStreamingMode(true);
    const uint16_t first[] = {1, 0, 1, 0, 0};
    viewer->updateCacheStatus(5, first, false);
    openSheet();
    ASSERT_EQ(made.size(), 1u);
    FakeBlockMap& map = *made[0];
    ASSERT_EQ(viewer->blockMapView(), &map);
    ASSERT_EQ(map.maps.size(), 1u) << "the sheet starts with the map the stream last reported";
    EXPECT_EQ(map.maps[0], (std::vector<uint16_t>{1, 0, 1, 0, 0}));
    ui::View& v = *map.view();
    EXPECT_EQ(v.superview(), viewer->viewSliderBG());
    EXPECT_EQ(v.alpha(), 1);
    const ui::Rect strip = v.convertRectTo(v.bounds(), nullptr);
    const ui::Rect bar = viewer->bvToolbar()->convertRectTo(viewer->bvToolbar()->bounds(), nullptr);
    EXPECT_NEAR(strip.height(), 5, 0.01);
    EXPECT_NEAR(strip.maxY(), bar.y(), 0.5) << "just above the tool bar";
    EXPECT_NEAR(strip.width(), window->bounds().width(), 0.5);
    // Read right to left, the map runs from the right like the slider.
    EXPECT_FALSE(v.transform().isIdentity());

    // Blocks arriving while the sheet is open reach the map.
    const uint16_t later[] = {1, 1, 1, 0, 1};
    viewer->updateCacheStatus(5, later, true);
    ASSERT_EQ(map.maps.size(), 2u);
    EXPECT_EQ(map.maps[1], (std::vector<uint16_t>{1, 1, 1, 0, 1}));
    EXPECT_TRUE(map.pages);

    // Closed, the sheet forgets it; the next sheet starts from the latest map.
    viewer->removePageJump(1);
    pass(0.5);
    EXPECT_EQ(viewer->blockMapView(), nullptr);
    EXPECT_EQ(v.superview(), nullptr);
    viewer->updateCacheStatus(5, first, false);
    EXPECT_EQ(map.maps.size(), 2u);
    viewer->updateCacheStatus(5, later, false);
    openSheet();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[1]->maps.at(0), (std::vector<uint16_t>{1, 1, 1, 0, 1}));
}

// Blocks that arrived before the screen watched the stream (a small book is
// often whole by then) still show: the session keeps the last map.
TEST_F(BookViewBlockMapTest, BlocksReportedBeforeTheScreenWatchedStillShow) {
    openReal(0);
    viewer->setIsStreamingMode(true);
    session->setTargetForOnlineStatus({});
    const uint16_t whole[] = {1, 2, 3, 4};
    session->updateCacheStatus(4, whole, false);
    openSheet();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->maps.at(0), (std::vector<uint16_t>{1, 2, 3, 4}));

    // Another book on the same session starts with no map of its own.
    viewer->removePageJump(0);
    ASSERT_TRUE(session->openBookWithName(bookPath(), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    bool isPage = true;
    EXPECT_TRUE(session->lastCacheStatus(&isPage).empty());
    EXPECT_FALSE(isPage);
}

TEST_F(BookViewBlockMapTest, ABookReadLeftToRightHasItsMapUnturned) {
    set("pageDirection", "right");
    openReal(0);
    viewer->setIsStreamingMode(true);
    openSheet();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(made[0]->view()->transform().isIdentity());
    EXPECT_EQ(made[0]->maps.at(0).size(), 0u) << "nothing reported yet: an empty map";
}

// Left half red, right half blue.
gfx::ImageRef halvesImage() {
    gfx::Canvas c(200, 100, 1.0);
    c.fillRect({0, 0, 100, 100}, gfx::Rgba{1, 0, 0, 1});
    c.fillRect({100, 0, 100, 100}, gfx::Rgba{0, 0, 1, 1});
    return c.image();
}

class BookViewCoverTrimTest : public BookViewMenuTest {
protected:
    void SetUp() override {
        BookViewMenuTest::SetUp();
        BookViewController::setJacketTrimScreenFactory(
            [this](std::shared_ptr<const ui::Image> image, std::weak_ptr<JacketTrimControllerDelegate> d) {
                given = std::move(image);
                answer = std::move(d);
                screen = std::make_shared<ui::ViewController>();
                return screen;
            });
        cover = BookCommon::getThumbsFilename(bookPath(), true);
        ASSERT_TRUE(sys::FileManager::writeFile(cover, "mine"));
        openReal(0);
        openSheet();
        viewer->onSetJacketBtn();
        pass(0.5);
    }
    void TearDown() override {
        BookViewController::setJacketTrimScreenFactory(nullptr);
        BookViewMenuTest::TearDown();
    }
    std::string coverText() const { return sys::FileManager::contentsOfFile(cover).value_or(""); }

    std::shared_ptr<const ui::Image> given;
    std::weak_ptr<JacketTrimControllerDelegate> answer;
    std::shared_ptr<ui::ViewController> screen;
    std::string cover;
};

TEST_F(BookViewCoverTrimTest, TheCropScreenIsShownWithThePageAndNothingIsWrittenBeforeItAnswers) {
    ASSERT_TRUE(screen);
    EXPECT_TRUE(screen->presentingViewController()) << "presented over the reading screen";
    ASSERT_TRUE(given);
    auto shown = given->bitmap();
    ASSERT_TRUE(shown);
    EXPECT_GT(shown->width(), 0);
    EXPECT_EQ(answer.lock().get(), static_cast<JacketTrimControllerDelegate*>(viewer.get()));
    EXPECT_FALSE(viewer->isOpenBar()) << "the sheet closes under the crop screen";
    EXPECT_EQ(coverText(), "mine");
    EXPECT_FALSE(viewer->jacketCreated());
}

TEST_F(BookViewCoverTrimTest, DoneWritesTheCroppedPartAsTheCover) {
    auto d = answer.lock();
    ASSERT_TRUE(d);
    d->endTrimJacket(ui::Rect(100, 0, 100, 100), ui::Image::withBitmap(halvesImage()));
    EXPECT_TRUE(viewer->jacketCreated());
    EXPECT_EQ(viewer->labelMessage()->text(), "Set Page as Cover Image.");
    auto made = gfx::ImageDecoder::decodeFile(cover);
    ASSERT_TRUE(made) << "a real picture";
    EXPECT_NEAR(made->width(), made->height(), 2) << "the square that was chosen, not the whole page";
    EXPECT_LE(made->width(), 74 * BookCommon::getScreenScale() + 1);
    for (auto [x, y] : {std::pair{0, 0}, {made->width() / 2, made->height() / 2}, {made->width() - 1, 0}}) {
        const uint32_t p = made->pixel(x, y);
        EXPECT_LT(gfx::redOf(p), 60) << x << "," << y;
        EXPECT_GT(gfx::blueOf(p), 190) << x << "," << y;
    }
}

TEST_F(BookViewCoverTrimTest, DoneWithTheWholeImageKeepsItsShape) {
    answer.lock()->endTrimJacket(ui::Rect(0, 0, 200, 100), ui::Image::withBitmap(halvesImage()));
    auto made = gfx::ImageDecoder::decodeFile(cover);
    ASSERT_TRUE(made);
    EXPECT_NEAR(made->width(), 2 * made->height(), 3);
    EXPECT_GT(gfx::redOf(made->pixel(2, made->height() / 2)), 190);
    EXPECT_GT(gfx::blueOf(made->pixel(made->width() - 3, made->height() / 2)), 190);
}

TEST_F(BookViewCoverTrimTest, CancelWritesNothing) {
    answer.lock()->cancelTrimJacket();
    pass(0.5);
    EXPECT_EQ(coverText(), "mine");
    EXPECT_FALSE(viewer->jacketCreated());
}

TEST_F(BookViewCoverTrimTest, NoImageOrARectangleOutsideTheImageKeepsTheOldCover) {
    auto d = answer.lock();
    d->endTrimJacket(ui::Rect(0, 0, 10, 10), nullptr);
    EXPECT_EQ(viewer->labelMessage()->text(), "Error Creating Cover Image.");
    d->endTrimJacket(ui::Rect(150, 0, 100, 100), ui::Image::withBitmap(halvesImage()));
    EXPECT_EQ(viewer->labelMessage()->text(), "Error Creating Cover Image.");
    EXPECT_EQ(coverText(), "mine");
    EXPECT_FALSE(viewer->jacketCreated());
}

}  // namespace
}  // namespace viewertest
