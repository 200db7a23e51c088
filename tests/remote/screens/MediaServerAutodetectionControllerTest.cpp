// The server search screen: it honours the SSDP switch of "Browser Types",
// lists a real minidlna peer answering in a network namespace of the test's
// own, stops searching when it goes away, and a picked server opens the
// site list's editor filled with its address and name.
#include "remote/screens/MediaServerAutodetectionController.h"

#include "foundation/QNNetworkInfo.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "remote/BookTransfer.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/screens/BrowserSelectViewController.h"
#include "remote/screens/MediaServerAutodetectionControllerDelegate.h"
#include "remote/screens/WebBrowseController.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/MiniDlnaServer.h"
#include "tests/support/net/NetNamespacePair.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>

namespace {

class Picker : public MediaServerAutodetectionControllerDelegate {
public:
    void didSelectAutodetectedServer(const std::string& address, const std::string& name) override {
        picked.emplace_back(address, name);
    }
    std::vector<std::pair<std::string, std::string>> picked;
};

class MediaServerAutodetectionTest : public librarytest::LibraryTest {
protected:
    void TearDown() override {
        window->setRootViewController(nullptr);
        search.reset();
        navigation.reset();
        LibraryTest::TearDown();
    }
    void show(std::shared_ptr<const QNNetworkInfo> info = nullptr) {
        search = std::make_shared<MediaServerAutodetectionController>();
        search->setDelegate(picker);
        if (info) search->setNetworkInfo(info);
        navigation = showInNavigation(search);
    }
    static std::shared_ptr<const QNNetworkInfo> loopbackOnly() {
        return std::make_shared<QNNetworkInfo>(
            std::vector<QNNetworkInfo::RawAddress>{{"lo", htonl(INADDR_LOOPBACK), htonl(0xFF000000), true}});
    }
    // Real time: the answers come from a real peer.
    bool waitFor(const std::function<bool()>& pred, double seconds) { return test::drainUntil(pred, seconds); }

    std::shared_ptr<Picker> picker = std::make_shared<Picker>();
    std::shared_ptr<MediaServerAutodetectionController> search;
    std::shared_ptr<ui::NavigationController> navigation;
};

TEST_F(MediaServerAutodetectionTest, TheSsdpSwitchDecidesWhetherAnythingIsSearched) {
    auto& defaults = sys::UserDefaults::standard();
    defaults.setBool(true, BrowserSelectViewController::kDisableSSDPKey);
    show(loopbackOnly());
    EXPECT_EQ(search->state(), MediaServerAutodetectionController::State::NoMethod);
    EXPECT_TRUE(driver->findByText("SSDP(UPnP) is switched off in Browser Types."));
    EXPECT_EQ(search->title(), "Server Search");

    // The other three switches have no searcher of their own: with them off
    // and SSDP on, SSDP searches. The switches are read at each start.
    defaults.setBool(false, BrowserSelectViewController::kDisableSSDPKey);
    defaults.setBool(true, BrowserSelectViewController::kDisableBonjourKey);
    defaults.setBool(true, BrowserSelectViewController::kDisableLBSyncKey);
    defaults.setBool(true, BrowserSelectViewController::kDisableMSBrowsingKey);
    search->navigationItem()->rightBarButtonItem()->action()(*search->navigationItem()->rightBarButtonItem());
    driver->advance(0.1);
    EXPECT_EQ(search->state(), MediaServerAutodetectionController::State::Searching);
    EXPECT_TRUE(driver->findByText("Searching..."));
    // With no Wi-Fi network nothing answers; the search ends with its time.
    driver->advance(10.5);
    EXPECT_EQ(search->state(), MediaServerAutodetectionController::State::Finished);
    EXPECT_TRUE(driver->findByText("No servers found."));

    // Reports are listed once each, and only while the list is not full.
    search->didFindDevice("10.0.0.5", "Den");
    search->didFindDevice("10.0.0.5", "Den");
    search->didFindDevice("10.0.0.6", "Attic");
    driver->advance(0.1);
    ASSERT_EQ(search->foundServers().size(), 2u);
    EXPECT_FALSE(driver->findByText("No servers found."));
    ASSERT_TRUE(tapText("Attic"));
    driver->advance(0.5);
    EXPECT_EQ(picker->picked, (std::vector<std::pair<std::string, std::string>>{{"10.0.0.6", "Attic"}}));
}

TEST_F(MediaServerAutodetectionTest, AMinidlnaPeerInANamespaceIsListedAndLeavingStopsTheSearch) {
    if (!test::MiniDlnaServer::installed()) GTEST_SKIP() << "minidlna is not installed";
    test::NetNamespacePair pair;
    if (!pair.create()) GTEST_SKIP() << pair.lastError();
    test::MiniDlnaServer dlna;
    ASSERT_TRUE(dlna.start(pair, 1, "LB Search Media")) << dlna.lastError();

    // The screen searches from side 0, whose veth plays the Wi-Fi interface.
    test::NetNamespacePair::Enter in(pair, 0);
    ASSERT_TRUE(in.ok());
    show();
    EXPECT_EQ(search->state(), MediaServerAutodetectionController::State::Searching);
    ASSERT_TRUE(waitFor([&] { return !search->foundServers().empty(); }, 9)) << dlna.log();
    EXPECT_EQ(search->foundServers()[0].address, "10.77.0.2");
    EXPECT_EQ(search->foundServers()[0].name, "LB Search Media");
    driver->advance(0.2);
    EXPECT_TRUE(driver->findByText("LB Search Media"));
    EXPECT_TRUE(driver->findByText("10.77.0.2"));
    EXPECT_TRUE(driver->snapshot(snapshotPath("server_search.png")));

    // Going away ends the search at once.
    auto start = std::chrono::steady_clock::now();
    navigation->pushViewController(std::make_shared<ui::ViewController>(), false);
    driver->advance(0.5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(search->state(), MediaServerAutodetectionController::State::Finished);
    EXPECT_EQ(search->foundServers().size(), 1u);
}

TEST_F(MediaServerAutodetectionTest, TheSiteListOpensTheSearchAndTheBrowser) {
    auto queue = std::make_shared<BookTransfer>();
    auto list = std::make_shared<ServerListViewControllerEx>(1);
    list->setBookTransfer(queue);
    list->setDownloadPath(std::string("/books/dl"));
    navigation = std::make_shared<ui::NavigationController>(list);
    window->setRootViewController(navigation);
    driver->advance(0.6);

    sys::UserDefaults::standard().setBool(true, BrowserSelectViewController::kDisableSSDPKey);
    ASSERT_TRUE(tapText("Server Search"));
    driver->advance(1);
    auto* found = dynamic_cast<MediaServerAutodetectionController*>(navigation->topViewController());
    ASSERT_TRUE(found);
    found->didFindDevice("10.0.0.9", "Den Server");
    driver->advance(0.1);
    ASSERT_TRUE(tapText("Den Server"));
    driver->advance(1);
    auto* editor = dynamic_cast<MediaServerHostConfigViewController*>(navigation->topViewController());
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->value("url"), "http://10.0.0.9/");
    EXPECT_EQ(editor->value("name"), "Den Server");
    ASSERT_TRUE(editor->onSaveBtn());
    driver->advance(1);
    auto sites = ServerListViewControllerEx::readSites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].getString("url"), "http://10.0.0.9/");
    EXPECT_EQ(sites[0].getString("title"), "Den Server");

    navigation->popToRootViewController(false);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Web Browser"));
    driver->advance(1);
    auto* browser = dynamic_cast<WebBrowseController*>(navigation->topViewController());
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->bookTransfer_ptr(), queue);
    EXPECT_EQ(browser->downloadPath_str(), "/books/dl");
    EXPECT_EQ(browser->rootWebPage(), WebBrowseController::kBlankPage);
    EXPECT_TRUE(browser->isUseHomePageFunction());
    EXPECT_TRUE(browser->canAccessOtherSite());
    EXPECT_FALSE(navigation->isToolbarHidden());
}

}  // namespace
