#include "foundation/BookCommon.h"
#include "foundation/DeviceScreenState.h"
#include "foundation/Settings.h"
#include "foundation/WindowScreenState.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/FixedTextEngine.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "viewer/BookToolView.h"

#include <gtest/gtest.h>

namespace {

class Listener : public BookToolViewDelegate {
public:
    std::vector<std::string> log;
    std::vector<int64_t> previews, moves;
    void bookToolViewPagePreview(int64_t p) override {
        previews.push_back(p);
        log.push_back("preview");
    }
    void bookToolViewPagePreviewEnd() override { log.push_back("previewEnd"); }
    void bookToolViewMovePage(int64_t p) override {
        moves.push_back(p);
        log.push_back("move");
    }
    void onBookToolViewGoNext() override { log.push_back("next"); }
    void onBookToolViewGoPrev() override { log.push_back("prev"); }
    void bookToolViewScrollLock(bool on) override { log.push_back(on ? "lock" : "unlock"); }
    size_t count(const std::string& what) const { return size_t(std::count(log.begin(), log.end(), what)); }
};

// A seek bar on the phone profile, in a window, for a right-bound book.
class BookToolViewTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        saved_ = sys::DeviceProfile::current();
        sys::AppPaths::setHome(home_.path());
        sys::UserDefaults::standard().reload();
        sys::DeviceProfile p = *sys::DeviceProfile::named("phone");
        p.darkMode = false;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        text_ = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::FixedTextEngine>());
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
        window_ = std::make_shared<ui::Window>();
        window_->makeKeyAndVisible();
        driver_ = std::make_unique<ui::test::Driver>(*window_);
        settings_ = std::make_shared<Settings>(settingsDir_.path(), &defaults_);
        settings_->readFromFile();
        settings_->setValueForKey("pageDirection", sys::PlistValue("left"));
        bar_ = std::make_shared<BookToolView>();
        bar_->setSettings(settings_);
        bar_->setDelegate(&listener_);
        window_->addSubview(bar_);
    }
    void TearDown() override {
        bar_->removeFromSuperview();
        bar_.reset();
        driver_.reset();
        window_.reset();
        DeviceScreenState::setShared(nullptr);
        BookCommon::resetDeviceStateForTesting();
        text_.reset();
        sys::DeviceProfile::setCurrent(saved_);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        sys::AppPaths::setHome("");
        sys::UserDefaults::standard().reload();
        VirtualClockTest::TearDown();
    }
    void portrait(int64_t pages) {
        bar_->setPage(0, pages);
        bar_->setPosition(ui::Rect(0, 0, 390, 760), {47, 0, 34, 0}, 3, false);
        bar_->onMovePage(0, false);
        driver_->settle();
    }
    // The label of the cell showing ribbon position q, or "" when none does.
    std::string labelAt(int64_t q) const {
        const double x = bar_->scrollMargin() + 45 * double(q) + 5;
        for (int i = 0; i < bar_->numPageIconView(); ++i) {
            auto& cell = bar_->pageIconView(i);
            const double along = bar_->isLandscape() ? cell.frame().y() : cell.frame().x();
            if (!cell.isHidden() && along == x) return bar_->pageIconLabel(i).text();
        }
        return "";
    }
    ui::Point centerOf(ui::View& v) const { return driver_->centerOf(v); }

    test::TempDir home_{"toolview-home"};
    test::TempDir settingsDir_{"toolview-settings"};
    test::TempDir prefsDir_{"toolview-prefs"};
    sys::UserDefaults defaults_{prefsDir_.file("d.plist")};
    sys::DeviceProfile saved_;
    std::unique_ptr<gfx::TextEngine::Scope> text_;
    std::shared_ptr<ui::Window> window_;
    std::unique_ptr<ui::test::Driver> driver_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookToolView> bar_;
    Listener listener_;
};

TEST_F(BookToolViewTest, PortraitLayoutSitsUnderThePageArea) {
    portrait(200);
    EXPECT_EQ(bar_->frame(), ui::Rect(0, 760, 390, 84));
    EXPECT_EQ(bar_->leftOrTopButton().frame(), ui::Rect(0, 0, 50, 50));
    EXPECT_EQ(bar_->rightOrBottomButton().frame(), ui::Rect(340, 0, 50, 50));
    EXPECT_EQ(bar_->pageScrollView().frame(), ui::Rect(50, 0, 290, 50));
    EXPECT_EQ(bar_->progressView().frame(), ui::Rect(60, 40, 270, 5));
    EXPECT_TRUE(bar_->progressView().pageToLeft());
    EXPECT_EQ(bar_->numPageIconView(), 7);
    EXPECT_DOUBLE_EQ(bar_->pageScrollView().contentSize().width, 2 * bar_->scrollMargin() + 5 + 45 * 200);
}

TEST_F(BookToolViewTest, RightBoundBookRunsFromTheRightAndDraggingLeftPreviewsTheLastPage) {
    portrait(200);
    // Page 1 sits at the right-hand end of the ribbon, under the middle.
    EXPECT_EQ(bar_->getPageFromScroll(), 199);
    EXPECT_EQ(labelAt(199), "1");
    EXPECT_EQ(labelAt(198), "2");
    EXPECT_EQ(labelAt(200), "");
    EXPECT_DOUBLE_EQ(bar_->progressView().progress(), 0);

    // Near the left end, then a drag to the right brings position 0 under
    // the middle: that is the book's last page.
    auto& ribbon = bar_->pageScrollView();
    const double half = ribbon.bounds().width() / 2;
    ribbon.setContentOffset({bar_->scrollMargin() + 5 + 45 * 3 - half + 20, 0}, false);
    EXPECT_EQ(bar_->getPageFromScroll(), 3);
    EXPECT_TRUE(listener_.previews.empty()) << "a programmatic move previews nothing";
    const ui::Point mid = centerOf(ribbon);
    driver_->drag({mid.x - 100, mid.y}, {mid.x + 140, mid.y}, 0.3);
    ASSERT_FALSE(listener_.previews.empty());
    EXPECT_EQ(listener_.previews.back(), 199);
    EXPECT_EQ(labelAt(0), "200");
    driver_->advance(1.0);
    ASSERT_FALSE(listener_.moves.empty());
    EXPECT_EQ(listener_.moves.back(), 199);
    EXPECT_EQ(listener_.log.back(), "previewEnd");
    // A layout afterwards keeps the ribbon where the user left it.
    bar_->setPosition(ui::Rect(0, 0, 390, 760), {47, 0, 34, 0}, 3, false);
    EXPECT_EQ(bar_->nowPage(), 199);
    EXPECT_EQ(bar_->getPageFromScroll(), 0);
    EXPECT_DOUBLE_EQ(bar_->progressView().progress(), 1.0);
}

TEST_F(BookToolViewTest, AProgrammaticAnimatedMoveIsNotReportedBack) {
    portrait(200);
    bar_->onMovePage(30, true);
    driver_->advance(1.0);
    EXPECT_EQ(listener_.count("move"), 0u);
    EXPECT_EQ(listener_.count("preview"), 0u);
    EXPECT_EQ(bar_->nowPage(), 30);
    EXPECT_EQ(bar_->getPageFromScroll(), 169);
    EXPECT_EQ(labelAt(169), "31");
    // A page beyond the book is held to the last one.
    bar_->onMovePage(900, false);
    EXPECT_EQ(bar_->nowPage(), 199);
    EXPECT_EQ(bar_->getPageFromScroll(), 0);
}

TEST_F(BookToolViewTest, AOnePageBookShowsFullProgress) {
    portrait(1);
    EXPECT_EQ(labelAt(0), "1");
    EXPECT_DOUBLE_EQ(bar_->progressView().progress(), 1.0);
}

TEST_F(BookToolViewTest, HoldingBothButtonsTogglesTheLockAndTheReleasesTurnNoPage) {
    portrait(50);
    const ui::Point left = centerOf(bar_->leftOrTopButton()), right = centerOf(bar_->rightOrBottomButton());
    driver_->touchDown(left, 0);
    driver_->advance(0.2);
    driver_->touchDown(right, 1);
    driver_->advance(1.6);
    EXPECT_EQ(listener_.log, std::vector<std::string>{"lock"});
    EXPECT_TRUE(bar_->isScrollLocked());
    EXPECT_TRUE(sys::UserDefaults::standard().boolForKey("bookToolViewScrollLock"));
    EXPECT_FALSE(bar_->pageScrollView().isUserInteractionEnabled());
    driver_->touchUp(left, 0);
    driver_->touchUp(right, 1);
    driver_->advance(2.0);
    EXPECT_EQ(listener_.log, std::vector<std::string>{"lock"});

    // A new bar reads the lock back; a release inside the 1.5 s does nothing.
    auto again = std::make_shared<BookToolView>();
    EXPECT_TRUE(again->isScrollLocked());
    driver_->touchDown(left, 0);
    driver_->advance(0.2);
    driver_->touchDown(right, 1);
    driver_->advance(0.5);
    driver_->touchUp(left, 0);
    driver_->advance(1.5);
    driver_->touchUp(right, 1);
    EXPECT_EQ(listener_.log, std::vector<std::string>{"lock"});
}

TEST_F(BookToolViewTest, ButtonsPageByBindingAndOrientationAndALongPressKeepsGoing) {
    portrait(50);
    // Portrait, right-bound: the left button goes forward.
    driver_->tap(bar_->leftOrTopButton());
    driver_->tap(bar_->rightOrBottomButton());
    EXPECT_EQ(listener_.log, (std::vector<std::string>{"next", "prev"}));

    // A long press pages once when it starts and keeps its flag while held.
    listener_.log.clear();
    const ui::Point left = centerOf(bar_->leftOrTopButton());
    driver_->touchDown(left);
    driver_->advance(1.1);
    EXPECT_EQ(listener_.log, std::vector<std::string>{"next"});
    EXPECT_TRUE(bar_->isLongPressContinue());
    driver_->touchUp(left);
    EXPECT_FALSE(bar_->isLongPressContinue());
    EXPECT_EQ(listener_.log, std::vector<std::string>{"next"});

    // Left-bound in portrait: the left button goes back.
    listener_.log.clear();
    settings_->setValueForKey("pageDirection", sys::PlistValue("right"));
    driver_->tap(bar_->leftOrTopButton());
    EXPECT_EQ(listener_.log, std::vector<std::string>{"prev"});

    // Landscape: the top button goes forward whatever the binding.
    listener_.log.clear();
    window_->setOrientation(ui::InterfaceOrientation::LandscapeLeft);
    bar_->setPosition(ui::Rect(0, 0, 747, 390), {0, 47, 21, 47}, 2, true);
    driver_->settle();
    EXPECT_EQ(bar_->frame(), ui::Rect(747, 0, 97, 390));
    EXPECT_EQ(bar_->pageScrollView().frame(), ui::Rect(0, 50, 50, 290));
    driver_->tap(bar_->leftOrTopButton());
    driver_->tap(bar_->rightOrBottomButton());
    EXPECT_EQ(listener_.log, (std::vector<std::string>{"next", "prev"}));
    // The ribbon runs top to bottom from page 1 there.
    bar_->onMovePage(0, false);
    EXPECT_EQ(bar_->getPageFromScroll(), 0);
    EXPECT_EQ(labelAt(0), "1");
}

TEST(BookToolViewNames, LightBarImagesTakeTheirSuffixBeforeTheExtension) {
    EXPECT_EQ(BookToolView::imageFileName("booktoolview_bg_f", 0), "booktoolview_bg_f");
    EXPECT_EQ(BookToolView::imageFileName("booktoolview_bg_f", 1), "booktoolview_bg_f_w");
    EXPECT_EQ(BookToolView::imageFileName("nextbook.png", 2), "nextbook_w.png");
    EXPECT_EQ(BookToolView::imageFileName("dir.v2/arrow", 1), "dir.v2/arrow_w");
}

}  // namespace
