// Downloading from the remote list into the library through the
// application's transfer queue, against nginx on loopback: one tapped row,
// and a whole folder into a new folder named after the list.
#include "remote/screens/RemoteFileListViewController.h"

#include "foundation/QNKeyChain.h"
#include "platform/core/RunLoop.h"
#include "remote/BookTransfer.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using librarytest::LibraryTest;
using Info = sys::PlistDictionary;

using test::readFile;

class QueueServices : public librarytest::TestServices {
public:
    QueueServices(std::shared_ptr<Settings> s, std::shared_ptr<BookTransfer> q)
        : TestServices(std::move(s)), queue_(std::move(q)) {}
    std::shared_ptr<BookTransfer> transferQueue() override { return queue_; }

private:
    std::shared_ptr<BookTransfer> queue_;
};

class RemoteListDownloadTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        ::unlink((HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName).c_str());
        ::unlink((HttpDownload::temporaryFolder() + "/" + HttpDownload::kSideFileName).c_str());
        queue = std::make_shared<BookTransfer>();
        queue->setSettings_(settings);
        AppDelegateServices::install(std::make_shared<QueueServices>(settings, queue));
        www = std::make_unique<test::TempDir>("dlwww");
        std::filesystem::create_directories(www->file("shelf"));
        touch(www->file("shelf/a.cbz"), std::string(150000, 'a'));
        touch(www->file("shelf/seven.zip"), std::string(90000, '7'));
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    }
    void TearDown() override {
        if (nav) nav->setViewControllers({}, false);
        list.reset();
        nav.reset();
        if (queue) queue->cancelCurrentTransferAll();
        queue.reset();
        LibraryTest::TearDown();
    }
    void show() {
        const std::string base = nginx.url("/shelf/");
        // The second entry's name lacks the extension its address has.
        show({base + "a.cbz", base + "seven.zip"},
             {Info{{"name", sys::PlistValue("a.cbz")}, {"booksize", sys::PlistValue(150000)}},
              Info{{"name", sys::PlistValue("Seven")}, {"isBook", sys::PlistValue(true)}}});
    }
    // The shelf folder listed as `files` with their `infos`, in download mode.
    void show(std::vector<std::string> files, std::vector<Info> infos) {
        list = std::make_shared<RemoteFileListViewController>();
        list->setTargetURL(nginx.url("/shelf/"));
        list->setListTitle("Shelf");
        list->setLists(std::move(files), std::move(infos));
        list->setDownloadPath(documents());
        nav = std::make_shared<ui::NavigationController>(list);
        window->setRootViewController(nav);
        driver->advance(0.6);
        list->selectStreamMode(0);
        driver->advance(0.3);
    }

    std::shared_ptr<BookTransfer> queue;
    std::unique_ptr<test::TempDir> www;
    test::NginxServer nginx;
    std::shared_ptr<RemoteFileListViewController> list;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(RemoteListDownloadTest, ATappedRowIsQueuedAndArrivesInTheLibrary) {
    // Without picking several rows, a tap queues its row at once.
    settings->setValueForKey("multipleSelectDownload", sys::PlistValue(false));
    show();
    ASSERT_TRUE(tapText("a.cbz"));
    driver->advance(0.5);
    ASSERT_TRUE(sys::RunLoop::main().runUntil([&] { return !queue->isActive(); }, 60));
    ASSERT_EQ(queue->getRecentCue().size(), 1u);
    EXPECT_EQ(queue->getRecentCue()[0]->status, TransferItem::kDone)
        << queue->getRecentCue()[0]->errorMessage.value_or("") << " " << queue->getRecentCue()[0]->source;
    EXPECT_EQ(queue->getRecentCue()[0]->savePath, documents());
    EXPECT_TRUE(readFile(documents() + "/a.cbz") == std::string(150000, 'a'));
}

TEST_F(RemoteListDownloadTest, AllFilesGoIntoANewFolderNamedAfterTheList) {
    show();
    list->downloadAll(true, false);
    driver->advance(0.5);
    ASSERT_TRUE(sys::RunLoop::main().runUntil([&] { return !queue->isActive(); }, 60));
    ASSERT_EQ(queue->getRecentCue().size(), 2u);
    for (const auto& item : queue->getRecentCue())
        EXPECT_EQ(item->status, TransferItem::kDone) << item->saveName << ": " << item->errorMessage.value_or("");
    EXPECT_TRUE(readFile(documents() + "/Shelf/a.cbz") == std::string(150000, 'a'));
    EXPECT_TRUE(readFile(documents() + "/Shelf/Seven.zip") == std::string(90000, '7'));
}

// Names a server gives keep no control character in the library: an
// escape sequence, a line break or a carriage return in a name would show it
// cut in the list and garble a terminal that lists the folder.
TEST_F(RemoteListDownloadTest, NamesFromTheServerLoseTheirControlCharacters) {
    touch(www->file("shelf/ctl\x01\x1b[31m.cbz"), "ctl");
    touch(www->file("shelf/new\nline\r.cbz"), "new");
    const std::string base = nginx.url("/shelf/");
    show({base + "ctl%01%1b%5b31m.cbz", base + "new%0Aline%0D.cbz"},
         {Info{{"name", sys::PlistValue("ctl\x01\x1b[31m.cbz")}}, Info{{"name", sys::PlistValue("new\nline\r.cbz")}}});
    list->downloadAll(false, false);
    driver->advance(0.5);
    ASSERT_TRUE(sys::RunLoop::main().runUntil([&] { return !queue->isActive(); }, 60));
    ASSERT_EQ(queue->getRecentCue().size(), 2u);
    for (const auto& item : queue->getRecentCue())
        EXPECT_EQ(item->status, TransferItem::kDone) << item->saveName << ": " << item->errorMessage.value_or("");
    EXPECT_EQ(readFile(documents() + "/ctl__[31m.cbz"), "ctl");
    EXPECT_EQ(readFile(documents() + "/new_line_.cbz"), "new");
}

}  // namespace
