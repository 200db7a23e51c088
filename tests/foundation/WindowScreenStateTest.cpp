#include <gtest/gtest.h>

#include "foundation/BookCommon.h"
#include "foundation/WindowScreenState.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

namespace {

// The device facts follow the application's real key window.
class WindowScreenStateTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        saved_ = sys::DeviceProfile::current();
        sys::AppPaths::setHome(home_.path());
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
    }
    void TearDown() override {
        window_.reset();
        DeviceScreenState::setShared(nullptr);
        BookCommon::resetDeviceStateForTesting();
        sys::DeviceProfile::setCurrent(saved_);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        sys::AppPaths::setHome("");
        VirtualClockTest::TearDown();
    }
    void open(const char* preset) {
        window_.reset();
        sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named(preset));
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        window_ = std::make_shared<ui::Window>();
        window_->makeKeyAndVisible();
    }
    test::TempDir home_{"window-home"};
    sys::DeviceProfile saved_;
    std::shared_ptr<ui::Window> window_;
};

TEST_F(WindowScreenStateTest, PhoneWindowTurnedAndItsBar) {
    open("phone");
    EXPECT_EQ(BookCommon::getScreenHeight(), 844);
    EXPECT_EQ(BookCommon::getScreenWidth(), 390);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 47);
    EXPECT_EQ(BookCommon::getStatusbarHeightNew(), 47);
    EXPECT_TRUE(BookCommon::isDeviceType_Notch());
    EXPECT_TRUE(BookCommon::isDeviceType12());
    EXPECT_FALSE(BookCommon::isLandscapeSwitchOSVersionWithViewController());

    window_->setOrientation(ui::InterfaceOrientation::LandscapeRight);
    EXPECT_TRUE(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    EXPECT_EQ(BookCommon::getScreenRectNew(), gfx::Rect(0, 0, 844, 390));
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
    EXPECT_EQ(BookCommon::getScreenHeight(), 844);
    BookCommon::setSoftwareRotationLock(true);
    EXPECT_EQ(BookCommon::softwareRotationLockOrientation(), 4);
    EXPECT_EQ(BookCommon::supportedInterfaceOrientationsForLB(), 16);

    window_->setOrientation(ui::InterfaceOrientation::Portrait);
    // A square window reads as portrait, though below its status bar it is
    // wider than high.
    ASSERT_TRUE(window_->resize({320, 320}));
    EXPECT_FALSE(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    ui::Application::shared().setStatusBarHidden(true);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
}

TEST_F(WindowScreenStateTest, ViewsAndScreens) {
    open("phone");
    auto inner = std::make_shared<ui::View>(gfx::Rect(0, 100, 390, 100));
    window_->addSubview(inner);
    EXPECT_EQ(BookCommon::getScreentSafeRect(*inner), gfx::Rect(0, 47, 390, 797));
    EXPECT_EQ(BookCommon::getScreentSafeRect(ui::View(gfx::Rect(0, 0, 10, 10))), gfx::Rect(0, 0, 0, 0));
    BookCommon::checkSafeArea(*inner);  // in the middle: no bottom inset
    EXPECT_FALSE(BookCommon::hasSafeArea());
    BookCommon::checkSafeArea(*window_);
    EXPECT_TRUE(BookCommon::hasSafeArea());

    auto screen = std::make_shared<ui::ViewController>();
    EXPECT_NE(screen->edgesForExtendedLayout(), unsigned(ui::RectEdgeNone));
    BookCommon::setEdgeExtendLayoutForiOS7(*screen);
    EXPECT_EQ(screen->edgesForExtendedLayout(), unsigned(ui::RectEdgeNone));
}

TEST_F(WindowScreenStateTest, IdleTimerReachesTheApplication) {
    open("pad");
    EXPECT_EQ(BookCommon::getDeviceDisplayType(), 1);
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 24);
    BookCommon::globalIdleTimerDisabled(true);
    EXPECT_TRUE(ui::Application::shared().isIdleTimerDisabled());
    BookCommon::globalIdleTimerDisabled(false);
    EXPECT_FALSE(ui::Application::shared().isIdleTimerDisabled());
}

TEST_F(WindowScreenStateTest, NoWindowNoStatusBar) {
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("phone"));
    ui::Application::shared().reset();
    ui::Screen::main().reset();
    EXPECT_EQ(BookCommon::getScreenRectNew(), gfx::Rect());
    EXPECT_FALSE(BookCommon::isLeafbrightFullScreen());
    EXPECT_EQ(BookCommon::getStatusbarHeight(), 0);
    EXPECT_FALSE(BookCommon::isDeviceType_Notch());
}

}  // namespace
