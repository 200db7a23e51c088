// The whole program lists one dated book over each protocol a site can
// speak, as a user opens a shortcut to it: the companion web server, WebDAV
// (Apache's mod_dav), FTP (pyftpdlib), SMB (smbd) and a cloud drive (the
// drives' emulator). The row shows the book's real day, never 1 January
// 1970, and its size, however the listing learnt it.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "servers/MediaServerMain.h"
#include "smb/CIFSStackClient.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "cloud/CloudTokenStore.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/net/CloudApiEmulator.h"
#include "tests/support/net/DavTestServer.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/SmbPeer.h"

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// 4 March 2021, 12:00 UTC: the same day wherever the test runs.
constexpr int64_t kBookDate = 1614859200;
// A size no listing could show by accident ("4.88KB").
constexpr size_t kBookSize = 5000;

std::string bookBytes() { return "PK\x05\x06" + std::string(kBookSize - 4, '\0'); }

void dated(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    test::writeFile(path, bookBytes());
    struct utimbuf t {};
    t.actime = t.modtime = time_t(kBookDate);
    ASSERT_EQ(::utime(path.c_str(), &t), 0);
}

class RemoteDatesProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        programtest::registerRemoteServices();
        CIFSStackClient::registerWithRemote();
        makeHome("remotedates");
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots("dates-");
        ProgramRun::TearDown();
        MediaServerMain::releaseMediaServer();
        programtest::unregisterRemoteServices();
    }
    void writeShortcut(const std::string& title, sys::PlistDictionary record) {
        record.set("title", sys::PlistValue(title));
        ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(record), docs() + "/" + title + ".shortcut"));
    }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }

    // Opens the shortcut `title` and checks the row of Book.cbz: its date
    // and its size.
    void checkRow(const std::string& title) {
        SCOPED_TRACE(title);
        play("tap \"" + title + "\"\nwait 3\n");
        auto* list = top<RemoteFileListViewController>();
        if (!list) play("shot " + title + "-failed\n");
        ASSERT_TRUE(list) << "the site is listed";
        play("shot " + title + "\n");
        const FilelistItem* book = nullptr;
        for (const auto& item : list->itemList())
            if (item->filename() == "Book.cbz") book = item.get();
        ASSERT_TRUE(book) << "the book is a row";
        ASSERT_TRUE(book->creationDate()) << "the row has a date";
        const int64_t shown = int64_t(book->creationDate()->timeIntervalSince1970());
        EXPECT_LE(std::llabs(shown - kBookDate), 12 * 3600) << "the book's own day, not " << shown;
        EXPECT_TRUE(ui::test::Driver(window()).findByText(BookCommon::getLocalDateStringToday(*book->creationDate())));
        EXPECT_FALSE(ui::test::Driver(window()).findByText(BookCommon::getLocalDateStringToday(sys::Date(0.0))));
        ASSERT_TRUE(book->remoteInfo());
        EXPECT_EQ(book->remoteInfo()->get("booksize"), sys::PlistValue(int64_t(kBookSize)));
        // Shown on the row while the list offers downloads.
        play("tap \"Download\"\nwait 0.5\nshot " + title + "-size\n");
        EXPECT_TRUE(ui::test::Driver(window()).findByText(BookCommon::strSizeFormatFromValue(kBookSize)));
        play("back\nwait 1\n");
    }
};

TEST_F(RemoteDatesProgramTest, ABooksRowShowsItsRealDateAndSizeOverEveryProtocol) {
    test::TempDir root("remotedateswww");
    dated(root.file("Book.cbz"));
    std::vector<std::string> titles;

    MediaServerMain companion;
    ASSERT_TRUE(companion.start(root.path(), "127.0.0.1", 0));
    writeShortcut("Web", {{"url", sys::PlistValue("http://127.0.0.1:" + std::to_string(companion.port()) + "/")}});
    titles.push_back("Web");

    test::DavTestServer dav;
    if (test::DavTestServer::haveApache()) {
        ASSERT_TRUE(dav.startApache(root.path())) << dav.lastError();
        writeShortcut("WebDAV", {{"url", sys::PlistValue(dav.url("/dav/"))},
                                 {"other", sys::PlistValue(sys::PlistDictionary{{"isWebDav", sys::PlistValue(true)}})}});
        titles.push_back("WebDAV");
    }
    test::FtpTestServer ftp;
    if (test::FtpTestServer::havePyftpdlib()) {
        ASSERT_TRUE(ftp.startPyftpdlib(root.path(), {})) << ftp.lastError();
        writeShortcut("FTP", {{"url", sys::PlistValue(ftp.url("/"))}});
        titles.push_back("FTP");
    }
    std::unique_ptr<test::SmbPeer> smb;
    if (test::SmbPeer::skipReason().empty()) {
        smb = std::make_unique<test::SmbPeer>();
        dated(smb->booksDir() + "/Book.cbz");
        ASSERT_TRUE(smb->start("")) << smb->error();
        QNKeyChain::addOrUpdatePassword(test::SmbPeer::kPassword, "smb-site",
                                        RemoteFileListViewController::kSiteKeychainService);
        writeShortcut("SMB", {{"url", sys::PlistValue("smb://" + smb->server() + "/books/")},
                              {"username", sys::PlistValue(test::SmbPeer::kUser)},
                              {"id", sys::PlistValue("smb-site")},
                              // The SMB2/3 client.
                              {"other", sys::PlistValue(sys::PlistDictionary{{"smblib", sys::PlistValue(int64_t(1))}})}});
        titles.push_back("SMB");
    }
    test::CloudApiEmulator drive;
    ASSERT_TRUE(drive.start());
    drive.useForAllServices();
    sys::UserDefaults::standard().synchronize();
    drive.addFile("root", "b1", "Book.cbz", bookBytes(), "2021-03-04T12:00:00Z");
    drive.addTokens("g-access", "g-refresh");
    ASSERT_TRUE(CloudTokenStore::save(CloudService::GoogleDrive, "acct",
                                      CloudToken{"g-access", "g-refresh", int64_t(std::time(nullptr)) + 3600}));
    writeShortcut("Drive", {{"url", sys::PlistValue("googledrive://acct/")}});
    titles.push_back("Drive");

    ASSERT_TRUE(launch());
    for (const auto& title : titles) checkRow(title);
    EXPECT_EQ(titles.size(), 5u) << "some peers are not installed";
}

}  // namespace
