#include "foundation/EncodeASCIIStringElements.h"
#include "foundation/Settings.h"
#include "foundation/ui/QNMultiViewController.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/BookTransfer.h"
#include "remote/BookTransferViewController.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/ServerListOtherSettingViewController.h"
#include "remote/ServerListViewControllerEx.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

namespace {

class TransferScreensTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteTransferScreenFactory::install();
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);
        opener = std::make_shared<ui::ViewController>();
        window->setRootViewController(opener);
        driver->settle();
    }
    void TearDown() override {
        TransferScreenFactory::install(nullptr);
        window->setRootViewController(nullptr);
        driver.reset();
        window.reset();
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<ui::Window> window;
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<ui::ViewController> opener;
};

TEST_F(TransferScreensTest, TheContainerHostsTheRemoteScreensWithOneQueue) {
    auto settings = std::make_shared<Settings>();
    auto queue = std::make_shared<BookTransfer>();
    auto container =
        TransferMultiViewPush::pushMultiTransferViewWithViewController(*opener, 0, settings, queue, "/books/dl");
    driver->advance(0.6);
    auto* list = dynamic_cast<ServerListViewControllerEx*>(container->viewControllerAt(0));
    auto* progress = dynamic_cast<BookTransferViewController*>(container->viewControllerAt(1));
    auto* configuration = dynamic_cast<ServerListOtherSettingViewController*>(container->viewControllerAt(3));
    ASSERT_TRUE(list && progress && configuration);
    EXPECT_EQ(list->bookTransfer(), queue);
    EXPECT_EQ(progress->bookTransfer(), queue);
    EXPECT_EQ(configuration->bookTransfer(), queue);
    EXPECT_EQ(list->settings(), settings);
    EXPECT_EQ(list->downloadPath(), "/books/dl");
    EXPECT_EQ(list->tableView()->style(), ui::TableViewStyle::Grouped);
    // The backup tab is not ours: the container shows its own empty screen.
    EXPECT_NE(container->viewControllerAt(2), nullptr);
}

TEST_F(TransferScreensTest, ASharedLinkFromTheAboutPageIsKeptScrambledAndTheAboutPageCloses) {
    auto container = TransferMultiViewPush::pushMultiTransferViewWithViewController(
        *opener, 0, std::make_shared<Settings>(), std::make_shared<BookTransfer>(), "");
    driver->advance(0.6);
    auto* list = dynamic_cast<ServerListViewControllerEx*>(container->viewControllerAt(0));
    ASSERT_NE(list, nullptr);
    auto nav = list->qnNavigationController();
    ASSERT_NE(nav, nullptr);
    auto about = std::make_shared<ui::ViewController>();
    nav->pushViewController(about, false);
    ASSERT_EQ(nav->topViewController(), about.get());

    const std::string link = "https://drive.google.com/drive/folders/1AbC-xyz_09";
    list->receiveQuery({{"name", "Shared comics"}, {"link", link}});
    ASSERT_EQ(list->googleDriveList().size(), 1u);
    const auto& entry = list->googleDriveList().front();
    EXPECT_EQ(entry.getString("name"), "Shared comics");
    EXPECT_NE(entry.getString("link"), link) << "links are not kept in the clear";
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(entry.getString("link")), link);
    driver->advance(1.0);
    EXPECT_EQ(nav->topViewController(), container.get());

    // A query without both texts is not a link, and closes nothing.
    list->receiveQuery({{"name", "no link"}});
    EXPECT_EQ(list->googleDriveList().size(), 1u);
    driver->advance(1.0);
    EXPECT_EQ(nav->topViewController(), container.get());
}

}  // namespace
