// The whole program and its download queue against nginx on loopback: web
// addresses handed to the program are asked about, each question keeping its
// own address, and "Yes" downloads into the library's download folder; files
// queued from a site's list show the file transfer screen.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/BookshelfBookButton.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "platform/ui/NavigationController.h"
#include "remote/BookTransfer.h"
#include "remote/BookTransferViewController.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/app/DownloadProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using test::readFile;

class TransferProgramTest : public DownloadProgramRun {
protected:
    void SetUp() override {
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        www = std::make_unique<test::TempDir>("transferwww");
        programtest::registerRemoteServices();
        makeDownloadHome("transferhome");
    }
    void TearDown() override {
        keepShots("transfer-");
        DownloadProgramRun::TearDown();
        programtest::unregisterRemoteServices();
    }
    // The library's shortcut "Shelf" to a folder of two books on the server.
    void serveShelf() {
        fs::create_directories(www->file("shelf"));
        std::ofstream(www->file("shelf/One.cbz"), std::ios::binary) << test::patternBytes(200000, 3);
        // A book that opens (zipped into the library, then moved to the server).
        fs::create_directories(docs());
        makeFlatBook(www->path(), "Two.cbz", 2, 40, 60, [](int i) { return gfx::Rgba{0.2, 0.4 + 0.2 * i, 0.6, 1}; });
        fs::rename(docs() + "/Two.cbz", www->file("shelf/Two.cbz"));
        nginx.setLocationConfig("autoindex on;");
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
        ASSERT_TRUE(sys::PropertyList::writeFile(
            sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(nginx.url("/shelf/"))},
                                                 {"title", sys::PlistValue("Shelf")}}),
            docs() + "/Shelf.shortcut"));
    }
    // A tap on what shows `text`, the loop not let run after it: the screen
    // as it is when the tap has been handled, before a download it started
    // can end.
    void tapAndLook(const std::string& text) {
        ui::test::Driver driver(window());
        ui::View* v = driver.findByText(text);
        ASSERT_TRUE(v) << text;
        const ui::Point p = driver.centerOf(*v);
        window().sendTouch(0, ui::TouchPhase::Began, p);
        window().sendTouch(0, ui::TouchPhase::Ended, p);
        window().layoutIfNeeded();
    }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    // The file name in the transfer screen's progress panel.
    std::string runningName() {
        ui::View* label = ui::test::Driver(*app().window()).findByTag(1001);
        return label ? ui::test::Driver::textOf(*label) : "";
    }
    // The address of the question on screen, "" when none.
    std::string question() {
        ui::test::Driver driver(*app().window());
        for (const std::string& url : asked)
            if (driver.findByText(url)) return url;
        return "";
    }
    std::vector<std::string> asked;
    bool runUntilIdle(double seconds) {
        return sys::RunLoop::main().runUntil(
            [&] { return app().bookTransfer() && !app().bookTransfer()->isActive(); }, seconds);
    }
};

TEST_F(TransferProgramTest, AWebAddressIsAskedAboutAndDownloadedEachQuestionWithItsOwnAddress) {
    const std::string book = test::patternBytes(200000, 1), other = test::patternBytes(100000, 2);
    std::ofstream(www->file("book.cbz"), std::ios::binary) << book;
    std::ofstream(www->file("other.cbz"), std::ios::binary) << other;
    ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    asked = {nginx.url("/book.cbz"), nginx.url("/other.cbz")};

    // As "leafbright http://127.0.0.1:PORT/book.cbz" hands it over.
    ASSERT_TRUE(launch(nginx.url("/book.cbz")));
    std::string error;
    ASSERT_TRUE(program->openTarget(&error)) << error;
    play("wait 0.5\n");
    EXPECT_EQ(question(), nginx.url("/book.cbz"));
    play("tap \"Yes\"\nwait 1\n");
    ASSERT_TRUE(runUntilIdle(60));
    const std::string downloads = BookCommon::getBooksTempRoot();
    EXPECT_TRUE(readFile(downloads + "/book.cbz") == book);

    // Two questions at once, the later in front: "No" to it does not take
    // the other's address, and "Yes" downloads the address of its own question.
    ASSERT_TRUE(app().openURL("lbhttp://" + nginx.url("/other.cbz").substr(7)));
    ASSERT_TRUE(app().openURL(nginx.url("/book.cbz")));
    play("wait 0.5\ntap \"No\"\nwait 1\n");
    EXPECT_EQ(question(), nginx.url("/other.cbz"));
    play("tap \"Yes\"\nwait 1\n");
    ASSERT_TRUE(runUntilIdle(60));
    const auto& recent = app().bookTransfer()->getRecentCue();
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0]->source, nginx.url("/other.cbz"));
    EXPECT_TRUE(readFile(downloads + "/other.cbz") == other);
    EXPECT_FALSE(fs::exists(downloads + "/book 2.cbz"));
    EXPECT_EQ(question(), "");
    // An address without a path asks nothing.
    ASSERT_TRUE(app().openURL("lbhttp://127.0.0.1"));
    EXPECT_EQ(question(), "");
}

// Files queued from a site's list: the file transfer screen by itself
// shows the running download and the waiting ones, and its "Back" leads to
// the library screen the site was opened from.
TEST_F(TransferProgramTest, QueueingFromASiteShowsTheTransferScreenWhoseBackLeadsToTheLibrary) {
    serveShelf();
    ASSERT_TRUE(launch());
    play("tap \"Shelf\"\nwait 2\ntap \"Download\"\nwait 0.5\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    auto& queue = *app().bookTransfer();

    // One file picked, then the floating button.
    play("tap \"One.cbz\"\nwait 0.5\n");
    tapAndLook("Download Selected File");
    auto* screen = top<BookTransferViewController>();
    ASSERT_TRUE(screen) << "the transfer screen is pushed over the list";
    EXPECT_EQ(screen->title(), "File transfer");
    EXPECT_FALSE(presentedNav()) << "not the transfer tabs";
    ASSERT_TRUE(queue.getTransferInProgress());
    EXPECT_EQ(queue.getTransferInProgress()->source, nginx.url("/shelf/One.cbz"));
    EXPECT_EQ(runningName(), "One.cbz");
    play("wait 1\nshot transfer-one\n");
    // The list's tool bar does not stay below the screen, empty.
    EXPECT_TRUE(nav()->isToolbarHidden());
    ui::Toolbar& bar = *nav()->toolbar();
    EXPECT_TRUE(!ui::test::Driver::isVisible(bar) || bar.convertPointToWindow({0, 0}).y >= window().bounds().height());
    play("tap \"Back\"\nwait 1\n");
    EXPECT_TRUE(top<LocalFilelistViewController>());
    EXPECT_FALSE(nav()->isToolbarHidden()) << "the library's tool bar is back";

    // The whole folder: the first book under way, the other one waiting.
    play("tap \"Shelf\"\nwait 2\n");
    ASSERT_TRUE(runUntilIdle(30));
    // The list pulled down to its header's buttons.
    ui::test::Driver(window()).drag({200, 400}, {200, 700});
    play("wait 1\nshot list-header\n");
    tapAndLook("Download all files");
    ASSERT_TRUE(top<BookTransferViewController>());
    ASSERT_TRUE(queue.getTransferInProgress());
    EXPECT_EQ(runningName(), "One.cbz");
    ui::test::Driver driver(window());
    EXPECT_TRUE(driver.findByText("Waiting for Transfer"));
    EXPECT_TRUE(driver.findByText("Two.cbz"));
    play("wait 1\nshot transfer-all\n");
    ASSERT_TRUE(runUntilIdle(30));
    EXPECT_TRUE(readFile(docs() + "/Two.cbz") == readFile(www->file("shelf/Two.cbz")));

    // A row among the recent downloads opens its book, over the library.
    play("tap \"Recent Downloads\"\nwait 0.5\n");
    play("tap \"Two.cbz\"\nwait 2\n");
    auto* reader = top<BookViewController>();
    ASSERT_TRUE(reader) << "the downloaded book did not open";
    EXPECT_EQ(reader->fileName(), docs() + "/Two.cbz");
    play("key escape\nwait 1\n");
    EXPECT_TRUE(top<LocalFilelistViewController>());
}

// A row or a cover held down queues that one file whatever the mode: in
// download mode, where a tap picks files, in streaming mode, where a tap
// reads the book, and on the shelf.
TEST_F(TransferProgramTest, AHeldRowOrCoverQueuesThatOneFileInEveryModeAndPresentation) {
    serveShelf();
    ASSERT_TRUE(launch());
    play("tap \"Shelf\"\nwait 2\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    const std::string two = nginx.url("/shelf/Two.cbz");
    ui::test::Driver driver(*app().window());
    size_t held = 0;
    auto hold = [&](const std::string& where, ui::View* target) {
        ASSERT_TRUE(target) << where;
        driver.longPress(driver.centerOf(*target), 1.2);
        play("wait 1\nshot held-" + where + "\n");
        ASSERT_TRUE(top<BookTransferViewController>()) << where;
        EXPECT_FALSE(nav()->presentedViewController()) << where << ": the release did nothing more";
        ASSERT_TRUE(runUntilIdle(30)) << where;
        const auto& recent = app().bookTransfer()->getRecentCue();
        ASSERT_EQ(recent.size(), ++held) << where;
        EXPECT_EQ(recent[0]->source, two) << where;
        play("back\nwait 1\n");
        ASSERT_EQ(top<RemoteFileListViewController>(), remote) << where;
    };

    play("tap \"Download\"\nwait 0.5\n");
    hold("download", driver.findByText("Two.cbz"));
    for (const auto& item : remote->itemList()) EXPECT_FALSE(item->isSelected()) << "held, not picked";

    play("tap \"Streaming\"\nwait 0.5\n");
    hold("streaming", driver.findByText("Two.cbz"));

    play("tap \"Bookshelf\"\nwait 1\n");
    ASSERT_EQ(remote->fileListViewMode(), 1);
    int64_t index = -1;
    for (size_t i = 0; i < remote->itemList().size(); ++i)
        if (remote->itemList()[i]->remoteURL() == two) index = int64_t(i);
    hold("bookshelf", driver.find([&](ui::View& v) {
        auto* cover = dynamic_cast<BookshelfBookButton*>(&v);
        return cover && cover->indexNo() == index;
    }));
    EXPECT_TRUE(readFile(docs() + "/Two.cbz") == readFile(www->file("shelf/Two.cbz")));
}

}  // namespace
