// The reading screen's bookmarks, slideshow and brightness panel, on a real
// folder book driven on the virtual clock.
#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "viewer/BookMarkIndex.h"
#include "viewer/BrightnessSetting.h"

#include <set>

namespace viewertest {
namespace {

class PageTurnToolsTest : public ViewerTest {
protected:
    void TearDown() override {
        BrightnessSetting::getBrightnessSetting()->resetForTesting();
        ViewerTest::TearDown();
    }
    void openReal(int page = 0) {
        open(page);
        viewer->realSheet = true;
    }
    std::string indexFile() const { return BookCommon::getBookMarkIndexFile(bookPath(), false); }
    // Drops the screen and opens the book again in a new one, as after a restart.
    void reopen(int page) {
        viewer->setDelegate(nullptr);
        nav.reset();
        window->setRootViewController(nullptr);
        viewer.reset();
        session->closeBook();
        session.reset();
        settle();
        openReal(page);
    }
};

TEST_F(PageTurnToolsTest, BookmarksAreAddedListedJumpedToAndSurviveANewScreen) {
    openReal(2);
    EXPECT_TRUE(viewer->canAddBookmark(2)) << "no index file yet";
    viewer->addBookmark();
    EXPECT_FALSE(viewer->canAddBookmarkNow()) << "the add button goes off after adding";
    EXPECT_FALSE(viewer->canAddBookmark(2));
    EXPECT_TRUE(viewer->canAddBookmark(5));
    ASSERT_TRUE(sys::FileManager::fileExists(indexFile()));
    const auto items = BookMarkIndex::read(indexFile());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(sys::FileManager::fileExists(BookCommon::getBookSettingDir(bookPath(), false) + "/" +
                                             BookMarkIndex::thumbnailName(items[0].id)))
        << "a small picture of the page goes with it";

    // A new screen on another page still knows the bookmark, and jumps to it.
    reopen(6);
    ASSERT_EQ(shownPage(), 6);
    EXPECT_FALSE(viewer->canAddBookmark(2));
    viewer->showBookmarkList();
    pass(0.5);
    auto list = viewer->bookMarkViewController();
    ASSERT_TRUE(list);
    ASSERT_TRUE(list->tableView());
    ASSERT_EQ(list->pageNoListArray(), std::vector<int32_t>{2});
    EXPECT_EQ(list->pageFilenameListArray(), std::vector<std::string>{"03.jpg"});
    EXPECT_TRUE(driver->findByText("[Page 3]"));
    list->tableViewDidSelectRowAtIndexPath(*list->tableView(), ui::IndexPath::forRow(0, 2));
    EXPECT_FALSE(viewer->bookMarkViewController()) << "the screen forgets the list";
    pass(1.5);
    EXPECT_EQ(viewer->page(), 2);
    EXPECT_EQ(shownPage(), 2);
}

TEST_F(PageTurnToolsTest, TheListsDoneRowShowsAsAButtonAndATapOnItClosesTheList) {
    openReal(1);
    viewer->addBookmark();
    viewer->showBookmarkList();
    pass(0.5);
    auto list = viewer->bookMarkViewController();
    ASSERT_TRUE(list && list->tableView());
    list->tableView()->layoutIfNeeded();
    auto* done = list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 0));
    ASSERT_TRUE(done);
    // The list fills the window: its way out is in sight, in a button's colour.
    EXPECT_EQ(done->presentationAlpha(), 1);
    EXPECT_TRUE(ui::test::Driver::isVisible(*done));
    EXPECT_EQ(ui::test::Driver(*done->window()).findByText("Done"), static_cast<ui::View*>(done->textLabel()));
    EXPECT_TRUE(done->textLabel()->textColor().light() == ui::Color::systemBlue().light());
    EXPECT_TRUE(ui::test::Driver::isVisible(*list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 1))));
    driver->tap(*done);
    pass(1);
    EXPECT_FALSE(viewer->bookMarkViewController()) << "the screen forgets the list";
    EXPECT_FALSE(list->tableView()->window()) << "the list is gone";
    EXPECT_EQ(shownPage(), 1);
}

TEST_F(PageTurnToolsTest, ManyBookmarksInOneSecondAreAllKeptWithTheirOwnIds) {
    // Ids once came from a generator seeded with the time on every add and
    // gave up past 1000: bookmarks made in one second were lost silently.
    test::TempDir dir{"bookmarks"};
    const std::string file = dir.file("bookmark.lbs");
    std::set<uint32_t> ids;
    for (int i = 0; i < 40; ++i) {
        const auto id = BookMarkIndex::add(file, "page" + std::to_string(i) + ".jpg" + std::string(1, '\0'));
        ASSERT_TRUE(id) << i;
        ids.insert(*id);
    }
    EXPECT_EQ(ids.size(), 40u);
    EXPECT_EQ(BookMarkIndex::read(file).size(), 40u);

    // Ids near the top of the range wrap instead of running out.
    std::vector<std::vector<uint8_t>> full;
    for (uint32_t id = 0xFFFFFFF0u; id != 0; ++id) full.push_back(BookMarkIndex::makeItem(id, "x"));
    for (int i = 0; i < 200; ++i) {
        const auto id = BookMarkIndex::newId(full);
        ASSERT_TRUE(id);
        EXPECT_FALSE(BookMarkIndex::isExistBookMarkID(full, *id));
    }
    // Items of 8 bytes or less never count as taken, nor are they listed.
    std::vector<std::vector<uint8_t>> shortItems{std::vector<uint8_t>(8, 0)};
    EXPECT_FALSE(BookMarkIndex::isExistBookMarkID(shortItems, 0));
    EXPECT_FALSE(BookMarkIndex::parseItem(shortItems[0]));
}

TEST_F(PageTurnToolsTest, TheListSortsByPageSkipsLostPagesAndDeletingTheLastRemovesTheFile) {
    openReal(0);
    const std::string file = BookCommon::getBookMarkIndexFile(bookPath(), true);
    // Made out of order, twice for one page, and one for a page since renamed.
    const auto n5 = *session->getPageFilename(5), n1 = *session->getPageFilename(1);
    ASSERT_TRUE(BookMarkIndex::writeRaw(
        file, {BookMarkIndex::makeItem(7, n5), BookMarkIndex::makeItem(3, n1), BookMarkIndex::makeItem(9, "gone.jpg"),
               BookMarkIndex::makeItem(4, n1)}));
    viewer->showBookmarkList();
    pass(0.5);
    auto list = viewer->bookMarkViewController();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->pageNoListArray(), (std::vector<int32_t>{1, 1, 5}));
    EXPECT_EQ(list->pageIDListArray(), (std::vector<uint32_t>{3, 4, 7})) << "one page's bookmarks keep file order";

    auto* tv = list->tableView();
    ASSERT_TRUE(tv);
    list->tableViewCommitEditingStyle(*tv, ui::TableViewCellEditingStyle::Delete, ui::IndexPath::forRow(0, 2));
    EXPECT_EQ(list->pageIDListArray(), (std::vector<uint32_t>{4, 7}));
    EXPECT_EQ(BookMarkIndex::read(file).size(), 3u) << "the lost page's bookmark stays in the file";
    list->deleteAll();
    EXPECT_FALSE(sys::FileManager::fileExists(file));
    EXPECT_TRUE(list->pageNoListArray().empty());

    // Swiping away the only bookmark takes the file with it.
    ASSERT_TRUE(BookMarkIndex::add(file, n5));
    list->loadBookmarks();
    tv->reloadData();
    ASSERT_EQ(list->pageNoListArray().size(), 1u);
    list->tableViewCommitEditingStyle(*tv, ui::TableViewCellEditingStyle::Delete, ui::IndexPath::forRow(0, 2));
    EXPECT_FALSE(sys::FileManager::fileExists(file));
}

TEST_F(PageTurnToolsTest, SlideshowScrollsWaitsAndTurnsPagesOnTheClock) {
    set("defaultZoomMode", "fitWidth");
    openReal(0);
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToScroll");
    sys::UserDefaults::standard().setDouble(1.0, "SlideShowTimeToPage");
    sys::UserDefaults::standard().setBool(false, "SlideShowRepeat");
    viewer->startSlideShow();
    ASSERT_TRUE(viewer->isSlidershowMode());
    ASSERT_TRUE(viewer->isOpenSlidershowMenu());
    EXPECT_EQ(viewer->slideshowSlider(1)->value(), 1) << "half a second sits at the slider's start";
    EXPECT_EQ(viewer->slideshowSlider(2)->value(), 2);
    EXPECT_TRUE(driver->findByText("0.5 sec."));
    EXPECT_TRUE(driver->findByText("Cancel"));
    ui::View* start = driver->findByText("Start");
    ASSERT_TRUE(start);
    driver->tap(*start);
    settle();
    EXPECT_FALSE(viewer->isOpenSlidershowMenu());
    EXPECT_EQ(shownPage(), 0);

    // Each page: wait, scroll to its foot, wait, turn. A few pages in ten seconds.
    for (int i = 0; i < 40; ++i) pass(0.25);
    EXPECT_GE(shownPage(), 2);
    EXPECT_TRUE(viewer->isSlidershowMode());

    // The menu function reopens the panel, which pauses the show.
    viewer->runFunction(1);
    settle();
    ASSERT_TRUE(viewer->isOpenSlidershowMenu());
    EXPECT_TRUE(driver->findByText("Continue"));
    const int paused = shownPage();
    pass(5);
    EXPECT_EQ(shownPage(), paused);
    ui::View* stop = driver->findByText("Stop");
    ASSERT_TRUE(stop);
    driver->tap(*stop);
    settle();
    EXPECT_FALSE(viewer->isSlidershowMode());
    EXPECT_EQ(viewer->slideshowStep(), 0);
    pass(5);
    EXPECT_EQ(shownPage(), paused);
}

TEST_F(PageTurnToolsTest, SlideshowEndsAtTheLastPageUnlessItRepeats) {
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToScroll");
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToPage");
    sys::UserDefaults::standard().setBool(true, "SlideShowRepeat");
    openReal(kPages - 1);
    viewer->startSlideShow();
    viewer->btnCloseSlideshowMenu();
    for (int i = 0; i < 20 && shownPage() != 0; ++i) pass(0.5);
    EXPECT_EQ(shownPage(), 0) << "with repeat the show starts again at the first page";
    EXPECT_TRUE(viewer->isSlidershowMode());
    viewer->onStopSlideshowBtn();

    viewer->onSlideshowRepeatBtn();  // repeat off, kept for the next show
    viewer->saveSlideshowConfig();
    EXPECT_FALSE(sys::UserDefaults::standard().boolForKey("SlideShowRepeat"));
    viewer->movePage(4, kPages - 1, viewer->page());
    pass(1);
    ASSERT_EQ(shownPage(), kPages - 1);
    viewer->startSlideShow();
    viewer->btnCloseSlideshowMenu();
    pass(5);
    EXPECT_FALSE(viewer->isSlidershowMode());
    EXPECT_EQ(shownPage(), kPages - 1);
}

TEST_F(PageTurnToolsTest, GoingToTheBackgroundEndsTheSlideshowAndKeepingAwake) {
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToScroll");
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToPage");
    openReal(0);
    viewer->startSlideShow();
    viewer->btnCloseSlideshowMenu();
    viewer->onDontSleepBtn();
    EXPECT_TRUE(viewer->isDontSleep());
    EXPECT_TRUE(ui::Application::shared().isIdleTimerDisabled());
    viewer->onEnterBackground();
    EXPECT_FALSE(viewer->isSlidershowMode());
    EXPECT_FALSE(viewer->isDontSleep());
    EXPECT_FALSE(ui::Application::shared().isIdleTimerDisabled()) << "both switches were given back";
    pass(5);
    EXPECT_EQ(shownPage(), 0);
}

TEST_F(PageTurnToolsTest, SlideshowSliderTimes) {
    EXPECT_EQ(BookViewController::slideshowTimeFromSlider(1), 0.5);
    EXPECT_EQ(BookViewController::slideshowTimeFromSlider(2.9), 1);
    EXPECT_EQ(BookViewController::slideshowTimeFromSlider(3), 2);
    EXPECT_EQ(BookViewController::slideshowSliderFromTime(0.5), 1);
    EXPECT_EQ(BookViewController::slideshowSliderFromTime(3), 4);
    EXPECT_EQ(BookViewController::slideshowTimeText(0.5), "0.5 sec.");
    EXPECT_EQ(BookViewController::slideshowTimeText(12), "12 sec.");
}

TEST_F(PageTurnToolsTest, TheBrightnessPanelDimsThePageAndTheLevelIsKept) {
    openReal(0);
    auto brightness = BrightnessSetting::getBrightnessSetting();
    auto dimming = brightness->createBrightnessSettingView();
    window->addSubview(dimming);
    dimming->setFrame(window->bounds());
    EXPECT_TRUE(dimming->isHidden()) << "full brightness by default";

    viewer->onBrightnessControl();
    pass(0.5);
    ASSERT_TRUE(brightness->slider());
    ui::View* back = brightness->brightnessSettingView();
    EXPECT_EQ(brightness->slider()->value(), 100);
    viewer->onBrightnessControl();  // a second request while open does nothing
    EXPECT_EQ(brightness->brightnessSettingView(), back);

    // The lower 30 % of the travel all mean the darkest screen.
    brightness->slider()->setValue(20);
    brightness->setBrightness();
    EXPECT_EQ(ui::Screen::main().brightness(), 0);
    EXPECT_FALSE(dimming->isHidden());
    EXPECT_GT(dimming->alpha(), 0.5);
    EXPECT_LT(dimming->alpha(), 1) << "the page still shows";
    EXPECT_TRUE(brightness->brightnessSettingView()) << "the slider does not close the panel";
    driver->tap(ui::Point(5, 5));
    pass(0.5);
    EXPECT_FALSE(brightness->brightnessSettingView()) << "a touch outside the panel closes it";

    // At start-up the last level comes back, and opens the slider at its minimum.
    brightness->resetForTesting();
    ui::Screen::main().setBrightness(1);
    auto again = brightness->createBrightnessSettingView();
    EXPECT_EQ(ui::Screen::main().brightness(), 0);
    EXPECT_FALSE(again->isHidden());
    brightness->showBrightnessSettingView(*window, 0);
    ASSERT_TRUE(brightness->slider());
    EXPECT_EQ(brightness->slider()->value(), 0);
    brightness->slider()->setValue(100);
    brightness->setBrightness();
    EXPECT_EQ(ui::Screen::main().brightness(), 1);
    EXPECT_TRUE(again->isHidden());
}

}  // namespace
}  // namespace viewertest
