// The reading screen's floating panels in their two looks (the drawn
// backing before system version 26, glass from 26), the brightness panel's
// entrance on the clock, and the bookmark list across a turn of the screen.
#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "foundation/GlobalRotationEventNofityObjectDelegate.h"
#include "foundation/ui/LiquidGlassView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "tests/platform/graphics/PixelChecks.h"
#include "viewer/BookMarkViewController.h"
#include "viewer/BrightnessSetting.h"

#include <functional>

namespace viewertest {
namespace {

class PanelLooksTest : public ViewerTest {
protected:
    void TearDown() override {
        BrightnessSetting::getBrightnessSetting()->resetForTesting();
        ViewerTest::TearDown();
    }
    static void useSystemVersion(const std::string& version) {
        sys::DeviceProfile p = sys::DeviceProfile::current();
        p.systemVersion = version;
        sys::DeviceProfile::setCurrent(p);
    }
    void openReal(int page = 0) {
        open(page);
        viewer->realSheet = true;
    }
    ui::View* panel() const {
        ui::View* bg = viewer->subfunctionMenu();
        return bg && !bg->subviews().empty() ? bg->subviews()[0].get() : nullptr;
    }
    template <class T>
    static T* findIn(ui::View& root) {
        T* found = nullptr;
        std::function<void(ui::View&)> walk = [&](ui::View& v) {
            if (!found) found = dynamic_cast<T*>(&v);
            for (const auto& s : v.subviews()) walk(*s);
        };
        walk(root);
        return found;
    }
    ui::Button* button(const std::string& title) const { return dynamic_cast<ui::Button*>(driver->findByText(title)); }
};

TEST_F(PanelLooksTest, SlideshowPanelBeforeVersion26IsTheDrawnBackingWithFilledButtons) {
    useSystemVersion("18.0");
    openReal(0);
    viewer->startSlideShow();
    pass(0.5);
    ASSERT_TRUE(panel());
    auto* backing = dynamic_cast<ui::ImageView*>(panel());
    ASSERT_TRUE(backing) << "a picture, not glass";
    ASSERT_TRUE(backing->image());
    EXPECT_EQ(backing->image()->name(), "slideshowbg");
    EXPECT_EQ(backing->frame().size, (ui::Size{320, 284}));
    EXPECT_EQ(backing->center().x, window->bounds().width() / 2);

    // Filled buttons, the image after the title; pictured sliders.
    ui::Button* start = button("Start");
    ASSERT_TRUE(start);
    EXPECT_FALSE(start->backgroundColor().isClear());
    EXPECT_EQ(start->imagePlacement(), ui::ImagePlacement::Trailing);
    EXPECT_EQ(start->titleLabel()->font().size, 14);
    ASSERT_TRUE(viewer->slideshowSlider(1)->thumbImage(ui::ControlStateNormal));
    EXPECT_EQ(viewer->slideshowSlider(1)->thumbImage(ui::ControlStateNormal)->name(), "thumbimage");

    writeSnapshot("panel-slideshow-older.png");
    // The picture is drawn: the panel's middle is the light backing, not the dimmed page.
    const ui::Point mid = panel()->convertPointTo(ui::Point{160, 205}, nullptr);
    const double scale = window->windowTraits().displayScale;
    const uint32_t px = window->render().pixel(int(mid.x * scale), int(mid.y * scale));
    EXPECT_GT((px >> 16) & 0xFF, 200u) << pixeltest::describe(px);

    // The intervals' scroll view pages: a drag leaves it on its one page
    // (and, ending outside the controls, closes the panel).
    auto* found = findIn<ui::ScrollView>(*panel());
    ASSERT_TRUE(found);
    auto scroll = std::static_pointer_cast<ui::ScrollView>(found->shared_from_this());
    EXPECT_TRUE(scroll->isPagingEnabled());
    EXPECT_TRUE(scroll->showsVerticalScrollIndicator());
    EXPECT_EQ(scroll->contentSize(), scroll->bounds().size);
    const ui::Rect r = scroll->convertRectTo(scroll->bounds(), nullptr);
    driver->drag(ui::Point{r.x() + 140, r.y() + 130}, ui::Point{r.x() + 140, r.y() + 20});
    pass(1);
    EXPECT_EQ(scroll->contentOffset().y, 0);

    // Dark appearance: the dark backing.
    viewer->onStopSlideshowBtn();
    pass(1);
    window->setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    viewer->startSlideShow();
    pass(0.5);
    ASSERT_TRUE(dynamic_cast<ui::ImageView*>(panel()));
    EXPECT_EQ(static_cast<ui::ImageView*>(panel())->image()->name(), "slideshowbg_dark");
}

TEST_F(PanelLooksTest, FromVersion26ThePanelsAreGlassAndStillTakeTouches) {
    useSystemVersion("26.0");
    openReal(0);
    viewer->startSlideShow();
    pass(0.5);
    auto* glass = dynamic_cast<LiquidGlassView*>(panel());
    ASSERT_TRUE(glass) << "glass from version 26";
    EXPECT_EQ(glass->frame().size, (ui::Size{320, 284}));
    ui::Button* start = button("Start");
    ASSERT_TRUE(start);
    EXPECT_TRUE(start->isDescendantOfView(glass->contentView()));
    EXPECT_EQ(start->cornerRadius(), 20) << "a clear glass capsule";
    EXPECT_FALSE(viewer->slideshowSlider(1)->thumbImage(ui::ControlStateNormal)) << "the plain slider";
    writeSnapshot("panel-slideshow-glass.png");
    driver->tap(*start);
    settle();
    EXPECT_FALSE(viewer->isOpenSlidershowMenu()) << "Start reaches through the glass";
    viewer->onStopSlideshowBtn();
    pass(1);

    // The sound panel shares the glass.
    viewer->onMicPageBtn();
    pass(0.5);
    ASSERT_TRUE(dynamic_cast<LiquidGlassView*>(panel()));
    ASSERT_TRUE(button("Cancel"));
    driver->tap(*button("Cancel"));
    pass(1);
    EXPECT_FALSE(viewer->subfunctionMenu());
}

TEST_F(PanelLooksTest, TheBrightnessPanelSpringsInAsGlassAndFadesInOtherwise) {
    useSystemVersion("26.0");
    openReal(0);
    auto brightness = BrightnessSetting::getBrightnessSetting();
    viewer->onBrightnessControl();
    ASSERT_TRUE(brightness->panel());
    auto* glass = dynamic_cast<LiquidGlassView*>(brightness->panel());
    ASSERT_TRUE(glass);
    EXPECT_TRUE(brightness->slider()->isDescendantOfView(glass->contentView()));
    driver->advance(0.02);
    EXPECT_LT(brightness->panel()->presentationTransform().a, 0.5) << "it starts small";
    driver->advance(0.6);
    EXPECT_EQ(brightness->panel()->presentationTransform().a, 1);
    EXPECT_EQ(brightness->panel()->presentationAlpha(), 1);
    EXPECT_EQ(brightness->panel()->transform().a, 1);
    writeSnapshot("panel-brightness-glass.png");
    // The slider is used without closing the panel; a touch outside closes it.
    const ui::Rect s = brightness->slider()->convertRectTo(brightness->slider()->bounds(), nullptr);
    driver->drag(ui::Point{s.x() + s.width() - 12, s.y() + s.height() / 2}, ui::Point{s.x() + s.width() / 2, s.y() + s.height() / 2});
    pass(0.5);
    EXPECT_TRUE(brightness->brightnessSettingView());
    EXPECT_LT(brightness->slider()->value(), 100);
    driver->tap(ui::Point{5, 5});
    pass(0.5);
    EXPECT_FALSE(brightness->brightnessSettingView());

    useSystemVersion("18.0");
    viewer->onBrightnessControl();
    auto* backing = dynamic_cast<ui::ImageView*>(brightness->panel());
    ASSERT_TRUE(backing);
    EXPECT_EQ(backing->image()->name(), "bk_screenbright");
    EXPECT_EQ(backing->frame().size, (ui::Size{280, 90}));
    driver->advance(0.15);
    EXPECT_EQ(backing->presentationTransform().a, 1) << "no spring in the older look";
    EXPECT_GT(backing->presentationAlpha(), 0);
    EXPECT_LT(backing->presentationAlpha(), 1) << "it fades in";
    driver->advance(0.3);
    EXPECT_EQ(backing->presentationAlpha(), 1);
    writeSnapshot("panel-brightness-older.png");

    // A turn of the screen keeps the open panel in the middle of the window.
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass(1);
    ASSERT_TRUE(brightness->panel());
    const ui::Rect p = brightness->panel()->convertRectTo(brightness->panel()->bounds(), nullptr);
    EXPECT_NEAR(p.x() + p.width() / 2, window->bounds().width() / 2, 1);
    EXPECT_NEAR(p.y() + p.height() / 2, window->bounds().height() / 2, 1);
    EXPECT_EQ(p.size, (ui::Size{280, 90}));
}

struct RotationSeen : GlobalRotationEventNofityObjectDelegate {
    int told = 0;
    void willRotationnotify_iOS8() override { ++told; }
};

TEST_F(PanelLooksTest, TheBookmarkListFollowsATurnOfTheScreen) {
    openReal(2);
    viewer->addBookmark();
    auto seen = std::make_shared<RotationSeen>();
    BookCommon::addGlobalRotationNotifyObject(seen);
    // How often a turn is told with the reading screen alone.
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass(1);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::Portrait));
    pass(1);
    const int byTheScreen = seen->told / 2;

    viewer->showBookmarkList();
    pass(1);
    auto list = viewer->bookMarkViewController();
    ASSERT_TRUE(list);
    ASSERT_TRUE(list->tableView());
    seen->told = 0;
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass(1);
    EXPECT_EQ(seen->told, byTheScreen + 1) << "the list tells the rotation observers too";
    EXPECT_EQ(list->view()->convertRectTo(list->view()->bounds(), nullptr), window->bounds());
    EXPECT_EQ(window->bounds().size, (ui::Size{844, 390}));
    ui::TableViewCell* row = list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 2));
    ASSERT_TRUE(row);
    EXPECT_GT(row->bounds().width(), 600) << "the rows take the landscape width";
    writeSnapshot("bookmarks-landscape.png");

    // Turned back, and the row still jumps to its page.
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::Portrait));
    pass(1);
    EXPECT_EQ(list->view()->convertRectTo(list->view()->bounds(), nullptr), window->bounds());
    row = list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 2));
    ASSERT_TRUE(row);
    EXPECT_LE(row->bounds().width(), 390);
    viewer->movePage(4, 5, viewer->page());
    pass(1);
    ui::View* entry = driver->findByText("[Page 3]");
    ASSERT_TRUE(entry);
    driver->tap(*entry);
    pass(1.5);
    EXPECT_EQ(viewer->page(), 2);
    BookCommon::removeGlobalRotationNotifyObject(seen);
}

}  // namespace
}  // namespace viewertest
