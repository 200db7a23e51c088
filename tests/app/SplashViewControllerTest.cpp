// The plain launch-picture screen: the picture by device and orientation,
// laid at its own size from the top left corner, and drawn.
#include "app/SplashViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "tests/platform/ui/UITestSupport.h"

#include <gtest/gtest.h>

namespace {

class SplashViewControllerTest : public uitest::UITest {
protected:
    std::shared_ptr<SplashViewController> show() {
        auto splash = std::make_shared<SplashViewController>();
        window->setRootViewController(splash);
        loop().advance(0.1);
        window->render();
        return splash;
    }
};

TEST_F(SplashViewControllerTest, APhoneShowsItsPictureFromTheTopLeftCorner) {
    auto splash = show();
    auto image = splash->mainImageView();
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->image());
    EXPECT_EQ(image->image()->name(), "Default.png") << "the picture is missing from the resources";
    // A phone's picture lies under the status bar too.
    const double bar = BookCommon::getStatusbarHeight();
    EXPECT_GT(bar, 0);
    EXPECT_EQ(image->frame(), ui::Rect(0, -bar, 390, 844));
    EXPECT_EQ(image->superview(), splash->view());
    // The brand colour with the launch icon in the middle.
    EXPECT_TRUE(near(pixelAt(20, 200), 47, 188, 234));
    EXPECT_TRUE(near(pixelAt(150, 422 - bar), 255, 255, 255));
    // Appearing again lays one picture, not a second one over it.
    splash->viewWillAppear(false);
    int pictures = 0;
    for (const auto& v : splash->view()->subviews())
        if (std::dynamic_pointer_cast<ui::ImageView>(v)) ++pictures;
    EXPECT_EQ(pictures, 1);
}

TEST_F(SplashViewControllerTest, APadTakesThePictureOfItsOrientation) {
    setProfile("pad");
    window = std::make_shared<ui::Window>();
    window->makeKeyAndVisible();
    auto splash = show();
    ASSERT_TRUE(splash->mainImageView()->image());
    EXPECT_EQ(splash->mainImageView()->image()->name(), "Default_iPad-Portrait~ipad");
    EXPECT_EQ(splash->mainImageView()->frame(), ui::Rect(0, 0, 1024, 1366));
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    loop().advance(1);
    splash->viewWillAppear(false);
    EXPECT_EQ(splash->mainImageView()->image()->name(), "Default_iPad-Landscape~ipad");
    EXPECT_EQ(splash->mainImageView()->frame(), ui::Rect(0, 0, 1366, 1024));
    EXPECT_EQ(SplashViewController::launchImageName(false, false, true), "Default-568h.png");
    EXPECT_EQ(SplashViewController::launchImageName(false, true, false), "Default.png");
    EXPECT_TRUE(ui::Image::named("Default-568h.png")->name() == "Default-568h.png");
}

}  // namespace
