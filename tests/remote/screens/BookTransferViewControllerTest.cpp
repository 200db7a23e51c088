// The file transfer screen over a real queue downloading from nginx: the
// progress panel, the waiting and recent lists and what their buttons and
// rows do, kept current through the queue's observer callbacks.
#include "remote/BookTransferViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/Settings.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RecordingUserNotificationCenter.h"
#include "remote/BookTransfer.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/foundation/ui/ToolkitTestSupport.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/QNProgressView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, size_t n, int seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < n; ++i) out.put(char((i * 7 + seed) & 0xFF));
}

class BookTransferViewControllerTest : public toolkittest::ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        fs::remove(HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName);
        fs::remove(HttpDownload::temporaryFolder() + "/" + HttpDownload::kSideFileName);
        settings = std::make_shared<Settings>(settingsDir.path());
        settings->setValueForKey("overWriteMode", sys::PlistValue("rename"));
        notices = std::make_shared<ui::RecordingUserNotificationCenter>();
        ui::UserNotificationCenter::setShared(notices);
        queue = std::make_shared<BookTransfer>();
        queue->setSettings_(settings);
        queue->setStateFilePath(stateDir.file("queue.plist"));
        queue->setStallTimeout(5);
    }
    void TearDown() override {
        queue->cancelCurrentTransferAll();
        window->setRootViewController(nullptr);
        screen.reset();
        nav.reset();
        queue.reset();
        ui::UserNotificationCenter::setShared(nullptr);
        ToolkitTest::TearDown();
    }
    void show() {
        screen = std::make_shared<BookTransferViewController>();
        screen->setSettings_(settings);
        screen->setBookTransfer_(queue);
        nav = std::make_shared<ui::NavigationController>(screen);
        window->setRootViewController(nav);
        driver->advance(0.6);
    }
    void add(const std::string& url) {
        queue->addNewItem(0, url, out.path(), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                          {}, {}, 0);
    }
    bool runIdle() {
        const bool idle = loop().runUntil([&] { return !queue->isActive(); }, 60);
        driver->advance(0.6);
        return idle;
    }
    bool shown(int tag) {
        auto* v = driver->findByTag(tag);
        return v && ui::test::Driver::isVisible(*v);
    }
    std::string text(int tag) {
        auto* v = driver->findByTag(tag);
        return v ? ui::test::Driver::textOf(*v) : "";
    }
    bool tapText(const std::string& t) {
        auto* v = driver->findByText(t);
        if (!v) return false;
        driver->tap(*v);
        driver->advance(0.6);
        return true;
    }
    // A tap that does not wait for busy workers.
    bool tapNow(const std::string& t) {
        auto* v = driver->findByText(t);
        if (!v) return false;
        driver->tap(*v);
        driver->settle();
        window->layoutIfNeeded();
        return true;
    }
    bool hasText(const std::string& t) { return driver->findByText(t) != nullptr; }

    test::TempDir www{"www"};
    test::TempDir out{"out"};
    test::TempDir stateDir{"state"};
    test::TempDir settingsDir{"settings"};
    std::shared_ptr<Settings> settings;
    std::shared_ptr<ui::RecordingUserNotificationCenter> notices;
    std::shared_ptr<BookTransfer> queue;
    std::shared_ptr<BookTransferViewController> screen;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST(BookTransferViewTexts, NamesAndTheRecentTabCaption) {
    EXPECT_EQ(BookTransferViewController::filenameFromURL("http://h/dir/my%20book.cbz"), "my book.cbz");
    EXPECT_EQ(BookTransferViewController::filenameFromURL("plain.cbz"), "plain.cbz");
    // Bytes that are not UTF-8 are read in another character set, never shown raw.
    const std::string sjis = BookTransferViewController::filenameFromURL("http://h/%82%A0.zip");
    EXPECT_TRUE(sjis == "あ.zip" || sjis == "(Unknown character set)") << sjis;

    BookTransferDelegate::Items recent;
    const std::string base = BookCommon::localizedStringWithOnOff("Recent Downloads");
    EXPECT_EQ(BookTransferViewController::recentTabTitle(recent), base);
    for (int status : {TransferItem::kFailed, TransferItem::kDone, TransferItem::kFailed}) {
        auto item = std::make_shared<TransferItem>();
        item->status = status;
        recent.push_back(item);
    }
    EXPECT_EQ(BookTransferViewController::recentTabTitle(recent), base + "(2)");
}

TEST(BookTransferViewPanel, ProgressFiguresAndTheTimeLeftCap) {
    QNProgressView bar({0, 0, 300, 20});
    ui::Label name, rate, time, message;
    ui::Button cancel, cancelAll;
    ui::ImageView icon;
    TransferItem item;
    item.source = "http://h/x/some%20book.cbz";
    item.startTime = 1000;
    // Connected, nothing received yet: no rate, the time left is the cap.
    BookTransferViewController::drawProgress(&item, &bar, &name, &rate, &time, &message, &cancel, &cancelAll, &icon,
                                             1010);
    EXPECT_EQ(name.text(), "some book.cbz");
    EXPECT_EQ(bar.progress(), 0);
    EXPECT_EQ(time.text(), BookCommon::strLeftTimeFromInt(86400));
    EXPECT_TRUE(message.isHidden());
    EXPECT_FALSE(cancel.isHidden());

    // A resumed download counts what it already had.
    item.saveName = "kept.cbz";
    item.startOffset = 500;
    item.size = 1500;
    item.sizeTransfer = 500;
    BookTransferViewController::drawProgress(&item, &bar, &name, &rate, &time, &message, &cancel, &cancelAll, &icon,
                                             1010);
    EXPECT_EQ(name.text(), "kept.cbz");
    EXPECT_DOUBLE_EQ(bar.progress(), 0.5);
    EXPECT_EQ(rate.text(), BookCommon::strSizeRateFormatFromValue(50));
    // A quarter of the whole in 10 s: 30 s to go.
    EXPECT_EQ(time.text(), BookCommon::strLeftTimeFromInt(30));

    BookTransferViewController::drawProgress(nullptr, &bar, &name, &rate, &time, &message, &cancel, &cancelAll,
                                             &icon, 1010);
    EXPECT_EQ(name.text(), "");
    EXPECT_TRUE(bar.isHidden());
    EXPECT_TRUE(cancel.isHidden());
    EXPECT_TRUE(cancelAll.isHidden());
    EXPECT_TRUE(icon.isHidden());
    EXPECT_FALSE(message.isHidden());
}

TEST_F(BookTransferViewControllerTest, FollowsTheQueueAndActsOnItsLists) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    writeFile(www.file("a.cbz"), 300000, 1);
    writeFile(www.file("b.cbz"), 200000, 2);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();

    show();
    // Idle: only the message, no buttons.
    EXPECT_TRUE(shown(1005));
    EXPECT_FALSE(shown(1006));
    EXPECT_FALSE(shown(1007));
    EXPECT_TRUE(hasText(BookCommon::localizedStringWithOnOff("Downloads in Progress")));

    // A book of that name is already there: the download is kept beside it.
    writeFile(out.file("a.cbz"), 10, 9);
    add(nginx.url("/a.cbz"));
    add(nginx.url("/missing.cbz"));
    add(nginx.url("/b.cbz"));
    add(nginx.url("/gone.cbz"));
    // Loopback is fast: look before the loop runs again.
    window->layoutIfNeeded();
    // One runs, three wait; the waiting rows name their addresses.
    EXPECT_EQ(screen->tableView()->numberOfRowsInSection(1), 3);
    EXPECT_TRUE(hasText("missing.cbz"));
    // Swiping the first waiting row away takes it out of the queue.
    screen->tableViewCommitEditingStyle(*screen->tableView(), ui::TableViewCellEditingStyle::Delete,
                                        ui::IndexPath::forRow(0, 1));
    window->layoutIfNeeded();
    EXPECT_EQ(queue->getCue().size(), 2u);
    EXPECT_EQ(screen->tableView()->numberOfRowsInSection(1), 2);
    EXPECT_FALSE(hasText("missing.cbz"));

    ASSERT_TRUE(runIdle());
    EXPECT_TRUE(shown(1005));
    EXPECT_FALSE(shown(1006));
    // The progress panel does nothing when tapped, and does not stay marked.
    ASSERT_TRUE(tapText(BookCommon::localizedStringWithOnOff("No Transfer in Progress.")));
    EXPECT_FALSE(screen->tableView()->indexPathForSelectedRow());
    const std::string recentTitle = BookCommon::localizedStringWithOnOff("Recent Downloads");
    EXPECT_TRUE(hasText(recentTitle + "(1)"));

    EXPECT_TRUE(driver->snapshot(snapshotPath("book_transfer_idle.png")));
    ASSERT_TRUE(tapText(recentTitle + "(1)"));
    EXPECT_EQ(screen->mode(), 1);
    ASSERT_EQ(screen->tableView()->numberOfRowsInSection(1), 3);
    EXPECT_TRUE(hasText("HTTP File Not Found."));
    EXPECT_TRUE(hasText(BookCommon::localizedStringWithOnOff("Done")));
    EXPECT_TRUE(driver->snapshot(snapshotPath("book_transfer_recent.png")));

    // Tapping the failed entry queues it again at once, without a question.
    writeFile(www.file("gone.cbz"), 1000, 3);
    ASSERT_TRUE(tapText("gone.cbz"));
    EXPECT_FALSE(hasText(recentTitle + "(1)"));
    ASSERT_TRUE(runIdle());
    EXPECT_EQ(fs::file_size(out.file("gone.cbz")), 1000u);
    ASSERT_EQ(queue->getRecentCue().size(), 3u);
    EXPECT_EQ(queue->getRecentCue()[0]->status, TransferItem::kDone);

    // Tapping a finished entry tells the library to open it: the file it
    // was put in, not the one of that name it found.
    LastStatusRestore::setJumpMode(false);
    ASSERT_TRUE(tapText("a.cbz"));
    EXPECT_TRUE(LastStatusRestore::getJumpMode());
    EXPECT_EQ(LastStatusRestore::getJumpBook(), "a 2.cbz");
    EXPECT_EQ(fs::file_size(out.file("a 2.cbz")), 300000u);
    LastStatusRestore::setJumpMode(false);
    LastStatusRestore::setJumpBook(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(queue->getRecentCue().size(), 3u);

    ASSERT_TRUE(tapText(BookCommon::localizedStringWithOnOff("Clear Download History")));
    EXPECT_TRUE(queue->getRecentCue().empty());
    EXPECT_EQ(screen->tableView()->numberOfRowsInSection(1), 0);
}

TEST_F(BookTransferViewControllerTest, CancelAllAsksFirstAndTheScreenStopsWatchingWhenGone) {
    writeFile(www.file("a.cbz"), 100000, 1);
    writeFile(www.file("b.cbz"), 100000, 2);
    // A server that never answers keeps the first download running.
    test::FaultHttpServer server(www.path());
    ASSERT_TRUE(server.start());

    show();
    add(server.url("/a.cbz?stall_from=1"));
    add(server.url("/b.cbz"));
    ASSERT_TRUE(server.waitForStalled(1, 10));
    // The clock stays put while the worker is stuck; layout and taps suffice.
    window->layoutIfNeeded();
    ASSERT_TRUE(queue->isActive());
    EXPECT_TRUE(shown(1006));
    EXPECT_TRUE(shown(1007));
    EXPECT_FALSE(shown(1005));
    EXPECT_EQ(text(1001), "a.cbz");

    // Turned and back, the panel spans the new width: the bar ends ten points
    // before the right edge and "Cancel" stays on the screen.
    auto frameOf = [&](int tag) {
        ui::View* v = driver->findByTag(tag);
        return v ? v->convertRectTo(v->bounds(), window.get()) : ui::Rect{};
    };
    for (auto turn : {ui::InterfaceOrientation::LandscapeLeft, ui::InterfaceOrientation::Portrait}) {
        ASSERT_TRUE(window->rotate(turn));
        window->layoutIfNeeded();
        const double right = window->bounds().width() - window->safeAreaInsets().right;
        EXPECT_NEAR(frameOf(1002).maxX(), right - 10, 0.5);
        EXPECT_LE(frameOf(1006).maxX(), right);
        EXPECT_GT(frameOf(1006).minX(), window->bounds().width() / 2);
    }

    // The main loop waits for busy workers, so the question is answered
    // through its actions rather than by taps while the download is stuck.
    screen->onCancelTransferAll();
    auto* alert = dynamic_cast<ui::AlertController*>(nav->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), BookCommon::localizedStringWithOnOff("Are you sure you want to remove all items?"));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[1]->style(), ui::AlertActionStyle::Cancel);
    auto answer = [&](const std::string& title) {
        for (auto& action : alert->actions())
            if (action->title() == title && action->handler()) action->handler()(*action);
    };
    answer("No");
    EXPECT_TRUE(queue->isActive());
    EXPECT_EQ(queue->getCue().size(), 1u);
    answer("Yes");
    EXPECT_FALSE(queue->isActive());
    EXPECT_TRUE(queue->getCue().empty());
    window->layoutIfNeeded();
    EXPECT_TRUE(shown(1005));
    EXPECT_FALSE(shown(1006));
    driver->advance(0.6);

    // Once gone, the screen no longer watches, and the queue does not keep it.
    window->setRootViewController(nullptr);
    driver->advance(0.6);
    EXPECT_EQ(queue->delegate(), nullptr);
    std::weak_ptr<BookTransferViewController> weak = screen;
    nav.reset();
    screen.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(BookTransferViewControllerTest, TheTabLabelsShrinkToFitTheirTabs) {
    show();
    for (const char* key : {"Downloads in Progress", "Recent Downloads"}) {
        auto* label = dynamic_cast<ui::Label*>(driver->findByText(BookCommon::localizedStringWithOnOff(key)));
        ASSERT_TRUE(label) << key;
        EXPECT_TRUE(label->adjustsFontSizeToFitWidth());
        EXPECT_DOUBLE_EQ(label->minimumScaleFactor(), 8.0 / 17.0);
        gfx::TextOptions one;
        one.numberOfLines = 1;
        const double width = gfx::Canvas::measureText(label->text(), label->drawnFont(), 0, one).width;
        // Whole, unless even the smallest size is too wide.
        if (label->drawnFont().size > label->font().size * 8.0 / 17.0 + 1e-9) {
            EXPECT_LE(width, label->bounds().width()) << key;
        }
    }
}

// Straight under a navigation bar, or inside a container whose view already
// starts below it: the tab strip sits right under the bar either way.
TEST_F(BookTransferViewControllerTest, TheTabStripSitsRightUnderTheNavigationBar) {
    auto labelTop = [&] {
        auto* label = driver->findByText(BookCommon::localizedStringWithOnOff("Downloads in Progress"));
        return label ? label->convertPointToWindow({0, 0}).y : -1.0;
    };
    show();
    const double barBottom = nav->navigationBar()->convertPointToWindow({0, nav->navigationBar()->bounds().height()}).y;
    EXPECT_NEAR(labelTop(), barBottom + 22, 0.5);

    window->setRootViewController(nullptr);
    auto container = std::make_shared<ui::ViewController>();
    nav = std::make_shared<ui::NavigationController>(container);
    window->setRootViewController(nav);
    driver->advance(0.6);
    screen = std::make_shared<BookTransferViewController>();
    screen->setSettings_(settings);
    screen->setBookTransfer_(queue);
    container->addChildViewController(screen);
    const auto b = container->view()->bounds();
    screen->view()->setFrame({0, barBottom, b.width(), b.height() - barBottom});
    container->view()->addSubview(screen->viewRef());
    driver->advance(0.6);
    EXPECT_NEAR(labelTop(), barBottom + 22, 0.5);
}

TEST_F(BookTransferViewControllerTest, TheChosenTabIsPlainAndTheOtherEmbossed) {
    show();
    auto label = [&](const char* key) {
        return dynamic_cast<ui::Label*>(driver->findByText(BookCommon::localizedStringWithOnOff(key)));
    };
    auto* downloads = label("Downloads in Progress");
    auto* recent = label("Recent Downloads");
    ASSERT_TRUE(downloads && recent);
    auto expectChosen = [](ui::Label* chosen, ui::Label* other) {
        EXPECT_EQ(chosen->textColor(), ui::Color::label());
        EXPECT_FALSE(chosen->shadowColor());
        EXPECT_EQ(other->textColor(), ui::Color::systemBackground());
        ASSERT_TRUE(other->shadowColor());
        EXPECT_EQ(*other->shadowColor(), ui::Color::gray());
        EXPECT_EQ(other->shadowOffset(), (ui::Size{-1, -1}));
    };
    expectChosen(downloads, recent);
    screen->onTab2();
    expectChosen(recent, downloads);
    screen->onTab1();
    expectChosen(downloads, recent);

    // The embossed label reads on the strip in both looks: the contrast
    // between its letters and the strip behind them.
    auto contrast = [&](ui::Label* l, const std::string& shot) {
        EXPECT_TRUE(driver->snapshot(snapshotPath(shot)));
        window->render();
        const ui::Rect r = l->convertRectTo(l->bounds(), nullptr);
        auto lum = [](const RGB& p) {
            auto lin = [](int c) {
                const double v = c / 255.0;
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * lin(p.r) + 0.7152 * lin(p.g) + 0.0722 * lin(p.b);
        };
        // The strip: a corner of the label, where no letter is.
        const double strip = lum(pixelAt(r.x() + 1, r.y() + 1));
        const gfx::Rgba ink = l->resolve(l->textColor());
        const double letters = lum({int(ink.r * 255), int(ink.g * 255), int(ink.b * 255), 255});
        return (std::max(letters, strip) + 0.05) / (std::min(letters, strip) + 0.05);
    };
    EXPECT_GE(contrast(recent, "book_transfer_tabs_light.png"), 4.5);
    window->setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    driver->advance(0.1);
    EXPECT_GE(contrast(recent, "book_transfer_tabs_dark.png"), 4.5) << "dark";
}

}  // namespace
