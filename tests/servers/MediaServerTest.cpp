#include "tests/platform/ui/UITestSupport.h"

#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"

using uitest::UITest;

namespace {

TEST(MediaServerMain, TheSharedServerIsReleasedAtTheEnd) {
    auto a = MediaServerMain::sharedMediaServer();
    EXPECT_EQ(a, MediaServerMain::sharedMediaServer());
    EXPECT_FALSE(a->isRunning());
    MediaServerMain::releaseMediaServer();
    EXPECT_FALSE(MediaServerMain::hasSharedMediaServer());
    EXPECT_NE(a, MediaServerMain::sharedMediaServer());
    MediaServerMain::releaseMediaServer();
}

class MediaServerScreenTest : public UITest {};

TEST_F(MediaServerScreenTest, SaysTheServersAreNotAvailableAndFollowsTheStackState) {
    auto screen = std::make_shared<MediaServerViewController>();
    auto nav = std::make_shared<ui::NavigationController>(screen);
    window->setRootViewController(nav);
    ui::test::Driver driver(*window);
    driver.advance(0.5);
    EXPECT_TRUE(driver.findByText("The media servers are not available in this version."));
    EXPECT_TRUE(driver.findByText("SMB Server"));
    screen->didChangeServerStatus(3);
    driver.advance(0.1);
    EXPECT_EQ(screen->lastServerStatus(), 3);
    EXPECT_TRUE(driver.findByText("Running"));
    EXPECT_EQ(MediaServerViewController::statusText(4), "Stopping");
    EXPECT_EQ(MediaServerViewController::statusText(0), "Stopped");
}

}  // namespace
