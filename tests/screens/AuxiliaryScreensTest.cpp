#include "tests/library/LibraryTestSupport.h"

#include "foundation/StatisticsStore.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "library/LocalFilelistViewController.h"
#include "platform/graphics/Image.h"
#include "platform/ui/RecordingUserNotificationCenter.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Slider.h"
#include "screens/AuxiliaryScreenMaker.h"
#include "screens/JacketTrimController.h"
#include "screens/MicSettingViewController.h"
#include "screens/StatisticsInformationViewController.h"
#include "viewer/JacketTrimControllerDelegate.h"
#include "viewer/MicInput.h"
#include "viewer/MicSettingViewControllerDelegate.h"

using librarytest::LibraryTest;

namespace {

struct TrimRecorder : JacketTrimControllerDelegate {
    std::vector<std::string> events;
    ui::Rect rect;
    ui::ImageRef image;
    void endTrimJacket(const ui::Rect& r, const std::shared_ptr<const ui::Image>& i) override {
        events.push_back("end");
        rect = r;
        image = i;
    }
    void cancelTrimJacket() override { events.push_back("cancel"); }
};

struct FakeMic : MicInput {
    bool active = false, extended = false;
    int mode_ = 0;
    double threshold_ = -10;
    void startInput(bool ext) override { active = true; extended = ext; }
    void stopInput() override { active = false; }
    bool isActive() const override { return active; }
    bool extendMode() const override { return extended; }
    void setMode(int m) override { mode_ = m; }
    int mode() const override { return mode_; }
    void setThreshold(double t) override { threshold_ = t; }
    double threshold() const override { return threshold_; }
};

struct MicReturnRecorder : MicSettingViewControllerDelegate {
    std::vector<std::shared_ptr<MicInput>> returned;
    void returnMicInputObject(const std::shared_ptr<MicInput>& m) override { returned.push_back(m); }
};

class AuxiliaryScreensTest : public LibraryTest {
protected:
    void TearDown() override {
        AuxiliaryScreenFactory::install(nullptr);
        MicInput::setMaker(nullptr);
        StatisticsStore::releaseSharedStatisticsStore();
        LibraryTest::TearDown();
    }
    static ui::ImageRef pageImage(int w, int h) {
        return ui::Image::withBitmap(gfx::Image::make(w, h, std::vector<uint32_t>(size_t(w) * h, 0xff808080u)));
    }
};

TEST_F(AuxiliaryScreensTest, PopupOffersAboutAndStatisticsAndPushesThem) {
    auto root = std::make_shared<LocalFilelistViewController>();
    root->setIsRootViewController(true);
    root->setDontRestoreLastStatus(true);
    auto nav = showInNavigation(root);

    // Without the screens layer installed the statistics entry does nothing.
    root->onStatisticsBtn();
    driver->advance(0.6);
    EXPECT_EQ(nav->topViewController(), root.get());

    AuxiliaryScreenFactory::install(std::make_shared<AuxiliaryScreenMaker>());
    auto stats = StatisticsStore::sharedStatisticsStore();
    ASSERT_TRUE(stats);
    stats->resetStatistics();
    for (int i = 0; i < 1234; ++i) stats->incrementPageTotal();
    stats->incrementBookTotal();

    root->onPopupMenu();
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Statistics Information"));
    driver->advance(0.8);
    auto* screen = dynamic_cast<StatisticsInformationViewController*>(nav->topViewController());
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->tableViewStyle(), ui::TableViewStyle::Grouped);
    ASSERT_EQ(screen->rows().size(), 3u);
    EXPECT_EQ(screen->rows()[0].second, "Today");
    EXPECT_EQ(screen->rows()[1].second, "1");
    EXPECT_EQ(screen->rows()[2].second, "1,234");
    EXPECT_TRUE(driver->findByText("1,234"));
    EXPECT_TRUE(nav->isToolbarHidden()) << "the library's tool bar stays below the screen, empty";

    // Counts that change while another screen is on top show on return.
    auto cover = std::make_shared<ui::ViewController>();
    nav->pushViewController(cover, false);
    driver->advance(0.3);
    stats->incrementBookTotal();
    nav->popViewController(false);
    driver->advance(0.3);
    EXPECT_EQ(screen->rows()[1].second, "2");

    nav->popToRootViewController(false);
    driver->advance(0.5);
    root->onPopupMenu();
    driver->advance(0.5);
    ASSERT_TRUE(tapText("About"));
    driver->advance(0.8);
    EXPECT_TRUE(dynamic_cast<AboutViewControllerEx*>(nav->topViewController()));
}

TEST_F(AuxiliaryScreensTest, AlertNoticesAreAskedForOnlyWhileNotAllowed) {
    auto previous = ui::UserNotificationCenter::shared();
    auto centre = std::make_shared<ui::RecordingUserNotificationCenter>();
    ui::UserNotificationCenter::setShared(centre);
    BookCommon::setLocalNitificationSetting();
    driver->settle();
    ASSERT_EQ(centre->authorizationRequests.size(), 1u);
    EXPECT_EQ(centre->authorizationRequests[0],
              unsigned(ui::UserNotificationCenter::OptionBadge | ui::UserNotificationCenter::OptionAlert));
    BookCommon::setLocalNitificationSetting();  // granted now
    driver->settle();
    EXPECT_EQ(centre->authorizationRequests.size(), 1u);
    ui::UserNotificationCenter::setShared(previous);
}

TEST_F(AuxiliaryScreensTest, CoverCropFollowsDragsStaysInsideTheImageAndAnswersOnce) {
    auto base = std::make_shared<ui::ViewController>();
    showInNavigation(base);
    auto rec = std::make_shared<TrimRecorder>();
    auto trim = std::make_shared<JacketTrimController>();
    auto image = pageImage(200, 300);
    trim->setInputImage_(image);
    trim->setDelegate(rec);
    EXPECT_EQ(trim->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    base->present(trim, false);
    driver->advance(0.5);
    EXPECT_EQ(trim->cropRect(), (ui::Rect{0, 0, 200, 300}));

    const ui::Rect img = trim->imageFrame();
    ASSERT_GT(img.size.width, 0);
    const double scale = 200 / img.size.width;  // image units per point
    auto toWindow = [&](ui::Point p) { return trim->view()->convertPointTo(p, nullptr); };
    // Bottom-right corner pulled in by 50 points.
    // (just inside: the tool bar starts where a tall page ends)
    const ui::Point br{img.origin.x + img.size.width - 4, img.origin.y + img.size.height - 4};
    driver->drag(toWindow(br), toWindow({br.x - 50, br.y - 50}));
    driver->advance(0.3);
    EXPECT_NEAR(trim->cropRect().size.width, 200 - 50 * scale, 0.5);
    EXPECT_NEAR(trim->cropRect().size.height, 300 - 50 * scale, 0.5);
    EXPECT_EQ(trim->cropRect().origin, (ui::Point{0, 0}));

    // Moving the whole rectangle far out stops at the image's edge, size kept.
    const ui::Rect cf = trim->cropFrame();
    const ui::Point mid{cf.origin.x + cf.size.width / 2, cf.origin.y + cf.size.height / 2};
    const ui::Size before = trim->cropRect().size;
    driver->drag(toWindow(mid), toWindow({mid.x + 400, mid.y + 600}));
    driver->advance(0.3);
    EXPECT_EQ(trim->cropRect().size, before);
    EXPECT_NEAR(trim->cropRect().origin.x + trim->cropRect().size.width, 200, 0.01);
    EXPECT_NEAR(trim->cropRect().origin.y + trim->cropRect().size.height, 300, 0.01);

    // A corner dragged past the opposite one leaves the smallest rectangle, not a negative one.
    const ui::Rect cf2 = trim->cropFrame();
    driver->drag(toWindow(cf2.origin), toWindow({cf2.origin.x + 1000, cf2.origin.y + 1000}));
    driver->advance(0.3);
    EXPECT_EQ(trim->cropRect().size, (ui::Size{JacketTrimController::kMinCropSide, JacketTrimController::kMinCropSide}));
    // Rectangles set from outside are confined too.
    trim->setCropRect({-20, 250, 500, 100});
    EXPECT_EQ(trim->cropRect(), (ui::Rect{0, 200, 200, 100}));

    ASSERT_TRUE(tapText("Done"));
    trim->onCancel();  // a second press while closing gives no second answer
    driver->advance(0.8);
    EXPECT_EQ(rec->events, std::vector<std::string>{"end"});
    EXPECT_EQ(rec->rect, (ui::Rect{0, 200, 200, 100}));
    EXPECT_EQ(rec->image, image);
    EXPECT_FALSE(base->presentedViewController());

    auto cancelled = std::make_shared<JacketTrimController>();
    cancelled->setInputImage_(image);
    cancelled->setDelegate(rec);
    base->present(cancelled, false);
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Cancel"));
    driver->advance(0.8);
    EXPECT_EQ(rec->events, (std::vector<std::string>{"end", "cancel"}));
    EXPECT_FALSE(base->presentedViewController());
}

TEST_F(AuxiliaryScreensTest, LentMicMonitorIsUsedAndHandedBackOwnOneIsStopped) {
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto lent = std::make_shared<FakeMic>();
    lent->startInput(true);
    auto viewerSide = std::make_shared<MicReturnRecorder>();
    auto screen = std::make_shared<MicSettingViewController>();
    screen->setSettings(settings);
    screen->setDelegate(viewerSide);
    screen->setMicInput(lent);
    nav->pushViewController(screen, false);
    driver->advance(0.5);
    EXPECT_EQ(lent->delegate().get(), static_cast<MicInputDelegate*>(screen.get()));
    lent->delegate()->onUpdateMicLevel(-30, -12);
    EXPECT_EQ(screen->lastPeak(), -12);

    // Mode and threshold go to the store the reader's "Start" reads.
    screen->modeControl()->setSelectedSegmentIndex(2);
    screen->modeControl()->sendActions(ui::ControlEventValueChanged);
    EXPECT_EQ(settings->micDetectMode(), 3);
    screen->changeThreshold(-200);  // out of range: kept at the slider's end
    EXPECT_EQ(settings->micThreshold(), MicSettingViewController::kMinThreshold);
    screen->thresholdSlider()->setValue(-20);
    screen->thresholdSlider()->sendActions(ui::ControlEventValueChanged);
    EXPECT_EQ(settings->micThreshold(), -20);
    EXPECT_FALSE(screen->ownMicInput());

    nav->popViewController(false);
    driver->advance(0.5);
    ASSERT_EQ(viewerSide->returned.size(), 1u);
    EXPECT_EQ(viewerSide->returned[0], lent);
    EXPECT_FALSE(lent->delegate());
    EXPECT_TRUE(lent->isActive());  // stopping it is the reader's business
    EXPECT_FALSE(screen->micInput());

    // Without a lent one the screen runs its own and stops it on leaving.
    std::shared_ptr<FakeMic> own;
    MicInput::setMaker([&own] { return own = std::make_shared<FakeMic>(); });
    auto second = std::make_shared<MicSettingViewController>();
    second->setSettings(settings);
    second->setDelegate(viewerSide);
    nav->pushViewController(second, false);
    driver->advance(0.5);
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->isActive());
    EXPECT_TRUE(own->extendMode());
    EXPECT_EQ(second->modeControl()->selectedSegmentIndex(), 2);
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_FALSE(own->isActive());
    EXPECT_FALSE(own->delegate());
    EXPECT_EQ(viewerSide->returned.size(), 1u);  // its own monitor is not handed to the reader
}

}  // namespace
