#include "servers/IPAddressViewController.h"

#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "tests/foundation/ui/ToolkitTestSupport.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/ReservedPort.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <fstream>

namespace {

uint32_t ip(const char* dotted) {
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

class IPAddressViewControllerTest : public toolkittest::ToolkitTest {
protected:
    void TearDown() override {
        MediaServerMain::releaseMediaServer();
        sys::UserDefaults::standard().removeObjectForKey(MediaServerViewController::kFolderKey);
        sys::UserDefaults::standard().removeObjectForKey(MediaServerViewController::kListenKey);
        ToolkitTest::TearDown();
    }
};

TEST_F(IPAddressViewControllerTest, RowsRunPrefixAddressAndSuffixTogetherAndSayWhenNotConnected) {
    auto screen = std::make_shared<IPAddressViewController>();
    screen->setPrefix("http://");
    screen->setSuffix(":8080/");
    screen->setNetworkInfo(QNNetworkInfo(std::vector<QNNetworkInfo::RawAddress>{
        {"lo", ip("127.0.0.1"), ip("255.0.0.0"), true},
        {"eth0", ip("192.168.7.20"), ip("255.255.255.0"), false},
        {"ppp0", ip("10.8.0.2"), ip("255.255.255.255"), false},
    }));
    window->setRootViewController(std::make_shared<ui::NavigationController>(screen));
    driver->advance(0.5);
    EXPECT_TRUE(driver->findByText("Wifi"));
    EXPECT_TRUE(driver->findByText("http://192.168.7.20:8080/"));
    EXPECT_TRUE(driver->findByText("http://10.8.0.2:8080/"));
    EXPECT_TRUE(driver->findByText("Cellular"));
    EXPECT_TRUE(driver->findByText("Bridge"));
    EXPECT_EQ(driver->findAll([](ui::View& v) { return ui::test::Driver::textOf(v) == "Not connected"; }).size(), 2u);
    EXPECT_EQ(screen->getDisplayString(std::nullopt), "Not connected");
    EXPECT_TRUE(driver->snapshot(snapshotPath("ip_addresses.png")));
}

TEST_F(IPAddressViewControllerTest, AnUnreadableInterfaceListShowsEveryRowNotConnected) {
    auto screen = std::make_shared<IPAddressViewController>();
    screen->setPrefix("\\\\");
    screen->setSuffix("");
    screen->setNetworkInfo(QNNetworkInfo(std::nullopt));
    window->setRootViewController(std::make_shared<ui::NavigationController>(screen));
    driver->advance(0.5);
    EXPECT_EQ(driver->findAll([](ui::View& v) { return ui::test::Driver::textOf(v) == "Not connected"; }).size(), 4u);
    EXPECT_EQ(screen->getDisplayString(std::string("10.0.0.1")), "\\\\10.0.0.1");
}

TEST_F(IPAddressViewControllerTest, TheMediaServerScreenOpensItWithTheServersSchemeAndPort) {
    test::TempDir dir("share");
    std::ofstream(dir.file("a.cbz")) << "a";
    // Held until the test ends, so that no other test takes it first.
    test::ReservedPort reservedPort;
    ASSERT_NE(reservedPort.port(), 0);
    const auto port = static_cast<uint16_t>(reservedPort.port());
    auto& d = sys::UserDefaults::standard();
    d.setObject(sys::PlistValue(dir.path()), MediaServerViewController::kFolderKey);
    d.setObject(sys::PlistValue("127.0.0.1:" + std::to_string(port)), MediaServerViewController::kListenKey);

    auto screen = std::make_shared<MediaServerViewController>();
    auto nav = std::make_shared<ui::NavigationController>(screen);
    window->setRootViewController(nav);
    driver->advance(0.5);

    // Stopped: the addresses name the port the server will listen on.
    auto* row = driver->findByText("IP Address");
    ASSERT_TRUE(row);
    driver->tap(*row);
    driver->advance(1);
    auto* list = dynamic_cast<IPAddressViewController*>(nav->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->prefix(), "http://");
    EXPECT_EQ(list->suffix(), ":" + std::to_string(port) + "/");
    EXPECT_TRUE(list->networkInfo().has_value());
    // Listening on one address, that address alone is listed.
    const std::string own = "http://127.0.0.1:" + std::to_string(port) + "/";
    EXPECT_TRUE(driver->findByText(own));
    EXPECT_TRUE(driver->findAll([&own](ui::View& v) {
        const std::string text = ui::test::Driver::textOf(v);
        return text.rfind("http://", 0) == 0 && text != own;
    }).empty());
    nav->popViewController(false);
    driver->advance(1);

    // Running: the port it really listens on.
    screen->toggleHttpServer();
    driver->advance(0.5);
    ASSERT_TRUE(MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning());
    screen->openAddressList();
    driver->advance(1);
    list = dynamic_cast<IPAddressViewController*>(nav->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->suffix(), ":" + std::to_string(MediaServerMain::sharedMediaServer()->port()) + "/");
}

}  // namespace
